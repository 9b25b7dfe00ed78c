// The ID3v2.4 tag of the files we write.
#include <string>
#include <vector>

#include "metadata/Id3Tag.h"

namespace tunara {

namespace {

void SevenBits(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 21; shift >= 0; shift -= 7) out.push_back(uint8_t(v >> shift & 0x7F));
}

// Length of the UTF-8 sequence at s[i], 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto c = uint8_t(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// A text frame claims UTF-8; stray Latin-1 bytes must not make it invalid.
std::string AsUtf8(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const size_t n = Utf8Length(s, i);
        if (n > 0) {
            out.append(s, i, n);
            i += n;
        } else {
            const auto c = uint8_t(s[i++]);
            out.push_back(char(0xC0 | c >> 6));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

void TextFrame(std::vector<uint8_t>& out, const char* id, const std::string& text) {
    if (text.empty()) return;
    const std::string utf8 = AsUtf8(text);
    out.insert(out.end(), id, id + 4);
    SevenBits(out, uint32_t(utf8.size() + 1));
    out.push_back(0);
    out.push_back(0);
    out.push_back(3);  // UTF-8
    out.insert(out.end(), utf8.begin(), utf8.end());
}

}  // namespace

std::vector<uint8_t> BuildId3v24Tag(const Id3v2Fields& f) {
    std::vector<uint8_t> frames;
    TextFrame(frames, "TIT2", f.title);
    TextFrame(frames, "TPE1", f.artist);
    TextFrame(frames, "TALB", f.album);
    if (f.track > 0)
        TextFrame(
            frames, "TRCK",
            std::to_string(f.track) + (f.trackTotal > 0 ? "/" + std::to_string(f.trackTotal) : ""));
    TextFrame(frames, "TDRC", f.year);
    TextFrame(frames, "TCON", f.genre);
    TextFrame(frames, "TSSE", f.encoder);
    if (frames.empty()) return {};
    std::vector<uint8_t> tag{'I', 'D', '3', 4, 0, 0};
    SevenBits(tag, uint32_t(frames.size()));
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

}  // namespace tunara
