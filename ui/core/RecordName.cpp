#include "ui/core/RecordName.h"

namespace tunara {

namespace {

// Length of the UTF-8 sequence that starts with `lead`, when the bytes that
// follow continue it; a stray byte counts as one character.
size_t SequenceLength(std::string_view s, size_t at) {
    unsigned char lead = static_cast<unsigned char>(s[at]);
    size_t n = lead < 0x80         ? 1
               : (lead >> 5) == 6  ? 2
               : (lead >> 4) == 14 ? 3
               : (lead >> 3) == 30 ? 4
                                   : 1;
    if (at + n > s.size()) return 1;
    for (size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80) return 1;
    return n;
}

}  // namespace

std::string BuildRecordName(std::string_view album, std::string_view artist, std::string_view title,
                            int trackNumber, int bitRateKbps, const std::array<int, 4>& parts) {
    std::string name;
    for (int part : parts) {
        std::string text;
        switch (part) {
            case kNameAlbum:
                text = album;
                break;
            case kNameArtist:
                text = artist;
                break;
            case kNameTitle:
                text = title;
                break;
            case kNameTrack:
                text = std::to_string(trackNumber);
                break;
            case kNameBitRate:
                text = std::to_string(bitRateKbps);
                break;
            default:
                continue;
        }
        if (!name.empty()) name += " - ";
        name += text;
    }

    std::string clean;
    clean.reserve(name.size());
    for (char c : name) {
        switch (c) {
            case '\\':
            case '/':
            case ':':
            case '|':
                clean += '-';
                break;
            case '*':
            case '?':
            case '"':
            case '<':
            case '>':
                break;
            default:
                clean += c;
        }
    }

    size_t at = 0;
    for (size_t chars = 0; at < clean.size() && chars < kRecordNameMaxChars; ++chars)
        at += SequenceLength(clean, at);
    clean.resize(at);
    return clean;
}

}  // namespace tunara
