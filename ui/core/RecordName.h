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

// Longest record name, in characters (UTF-8 sequences are never split).
inline constexpr size_t kRecordNameMaxChars = 59;

// Joins the chosen parts with " - ", turns \ / : | into '-', drops * ? " < >
// and keeps the first 59 characters. Choices outside 0..5 add nothing.
std::string BuildRecordName(std::string_view album, std::string_view artist, std::string_view title,
                            int trackNumber, int bitRateKbps, const std::array<int, 4>& parts);

}  // namespace tunara
