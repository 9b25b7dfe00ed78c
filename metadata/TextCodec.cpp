#include "metadata/TextCodec.h"

#include <cctype>

namespace tunara::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at `i`; returns its length, 0 when invalid
// (overlong forms, surrogates and values past U+10FFFF are invalid).
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& c) {
    const auto b0 = uint8_t(s[i]);
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    size_t len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = uint8_t(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        char32_t c;
        const size_t len = DecodeUtf8(bytes, i, c);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string Utf8OrLatin1(std::string_view bytes) {
    return IsValidUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes);
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char ch : latin1) AppendUtf8(out, uint8_t(ch));
    return out;
}

std::string Utf16ToUtf8(const uint8_t* data, size_t bytes, bool bigEndian) {
    std::string out;
    const size_t units = bytes / 2;
    auto unit = [&](size_t k) -> char32_t {
        const uint8_t a = data[2 * k], b = data[2 * k + 1];
        return bigEndian ? char32_t(a << 8 | b) : char32_t(b << 8 | a);
    };
    for (size_t k = 0; k < units; ++k) {
        char32_t c = unit(k);
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < units) {
            const char32_t lo = unit(k + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
                ++k;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
        AppendUtf8(out, c);
    }
    return out;
}

std::string SanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        char32_t c;
        const size_t len = DecodeUtf8(bytes, i, c);
        if (len == 0) {
            AppendUtf8(out, kReplacement);
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c;
        const size_t len = DecodeUtf8(utf8, i, c);
        if (len == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.push_back(c <= 0xFF ? char(uint8_t(c)) : '?');
        i += len;
    }
    return out;
}

std::string DropControls(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c;
        size_t len = DecodeUtf8(utf8, i, c);
        if (len == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no character
            ++i;
            continue;
        }
        if (c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            out += ' ';
        else if (c >= 0x20 && (c < 0x7F || c > 0x9F))
            out.append(utf8.substr(i, len));
        i += len;
    }
    return out;
}

std::string Utf8Prefix(std::string_view utf8, size_t maxChars) {
    size_t i = 0;
    for (size_t n = 0; n < maxChars && i < utf8.size(); ++n) {
        char32_t c;
        const size_t len = DecodeUtf8(utf8, i, c);
        i += len == 0 ? 1 : len;
    }
    return std::string(utf8.substr(0, i));
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace tunara::text
