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
                // Two digits, so that track 10 sorts after track 9.
                text =
                    (trackNumber >= 0 && trackNumber < 10 ? "0" : "") + std::to_string(trackNumber);
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
                clean += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
        }
    }

    auto strip = [](std::string& s) {
        size_t from = s.find_first_not_of(". ");
        s.erase(0, from == std::string::npos ? s.size() : from);
        while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
    };
    strip(clean);
    if (clean.size() <= kRecordNameMaxBytes) return clean;

    size_t at = 0;
    while (at < clean.size()) {
        size_t next = at + SequenceLength(clean, at);
        if (next > kRecordNameMaxBytes) break;
        at = next;
    }
    // Within the last few words' worth, a blank makes the better end.
    constexpr size_t kWordReach = 24;
    size_t blank = clean.rfind(' ', at);
    if (blank != std::string::npos && blank > 0 && at - blank <= kWordReach && clean[at] != ' ')
        at = blank;
    clean.resize(at);
    strip(clean);
    while (clean.size() >= 2 && clean.ends_with(" -")) {  // a separator left dangling
        clean.resize(clean.size() - 2);
        strip(clean);
    }
    return clean;
}

}  // namespace tunara
