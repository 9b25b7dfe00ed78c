#pragma once
// The program's user-visible texts, by string id. "%1" stands for the argument
// (usually a path). Texts are used as they stand.
namespace tunara::strings {

inline constexpr int kFailedToAllocateMemory = 100;  // "Failed to allocate memory."
inline constexpr int kFailedToInitMedia = 200;       // "Failed to initialize QuickTime."
inline constexpr int kMediaFailedToOpen = 201;       // "Failed to open the file %1."
inline constexpr int kMediaUnknownFormat = 202;      // "%1 is in a format the player cannot decode."
inline constexpr int kWavFailedToOpen = 400;         // "Failed to open the file %1."
inline constexpr int kWavNotValid = 401;             // "%1 is not a valid WAVE file."
inline constexpr int kMp3FailedToOpen = 500;         // "Failed to open the file %1."
inline constexpr int kMp3DecodeError = 502;          // "MP3 decode error."
inline constexpr int kRecordComponent = 550;         // "Can't initialize record component."

// Said once after a playlist loads with entries whose files do not open.
inline constexpr int kPlaylistEntriesUnavailable = 600;

// The text of a string id, or an empty view for an unknown id.
const char* Text(int id);

}  // namespace tunara::strings
