#include "platform/ui/Strings.h"

namespace tunara::strings {

const char* Text(int id) {
    switch (id) {
        case kFailedToAllocateMemory:
            return "Failed to allocate memory.";
        case kFailedToInitMedia:
            return "Failed to initialize QuickTime.";
        case kMediaFailedToOpen:
        case kWavFailedToOpen:
        case kMp3FailedToOpen:
            return "Failed to open the file %1.";
        case kMediaUnknownFormat:
            return "%1 is in a format the player cannot decode.";
        case kWavNotValid:
            return "%1 is not a valid WAVE file.";
        case kMp3DecodeError:
            return "MP3 decode error.";
        case kRecordComponent:
            return "Can't initialize record component.";
        case kPlaylistEntriesUnavailable:
            return "Some entries of the playlist %1 cannot be opened now. They stay in the list, "
                   "marked, and are skipped when their turn comes.";
        default:
            return "";
    }
}

}  // namespace tunara::strings
