#pragma once
// The naming rule of recorded files, and the record options that go with it.
#include <array>
#include <string>
#include <string_view>

namespace tunara {

// Part choices of "RecordName1".."RecordName4".
enum RecordNamePart {
    kNameAlbum = 0,
    kNameArtist,
    kNameTitle,
    kNameTrack,
    kNameBitRate,
    kNameNone
};

// Longest record name in bytes: with " (9999)", the extension and the hidden
// partial file's prefix and tag it stays within the 255 bytes a file name
// may have.
inline constexpr size_t kRecordNameMaxBytes = 230;

// Joins the chosen parts with " - " (the track number with two digits at
// least), turns \ / : | into '-' and control characters into spaces, drops
// * ? " < >, and strips leading dots and blanks and trailing dots and blanks
// (so no name is hidden, ".." or unusable elsewhere). A longer name is cut
// after a whole character, at a blank when one is near the limit. Choices
// outside 0..5 add nothing.
std::string BuildRecordName(std::string_view album, std::string_view artist, std::string_view title,
                            int trackNumber, int bitRateKbps, const std::array<int, 4>& parts);

}  // namespace tunara
