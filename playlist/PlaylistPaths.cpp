#include "playlist/PlaylistPaths.h"

#include <cctype>
#include <cstdint>

namespace tunara {

namespace {

bool HasUriScheme(const std::string& entry) {
    // A scheme is a letter followed by letters, digits, "+", "-" or "."; one
    // letter alone is a drive letter, not a scheme.
    auto colon = entry.find(':');
    if (colon == std::string::npos || colon < 2) return false;
    if (!std::isalpha(static_cast<unsigned char>(entry[0]))) return false;
    for (size_t i = 1; i < colon; ++i) {
        char c = entry[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

bool HasDriveLetter(const std::string& entry) {
    return entry.size() >= 2 && std::isalpha(static_cast<unsigned char>(entry[0])) &&
           entry[1] == ':';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size()) return false;
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// What the playlist reader would not give back unchanged.
bool NeedsUri(const std::string& name) {
    if (name.empty()) return false;
    if (IsBlank(name.front()) || IsBlank(name.back())) return true;
    if (name.find_first_of("\r\n") != std::string::npos) return true;
    return !IsValidUtf8(name);
}

std::string FileUri(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = code << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string AsUtf8(std::string_view text) {
    return IsValidUtf8(text) ? std::string(text) : Latin1ToUtf8(text);
}

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsAbsoluteEntry(const std::string& entry) {
    if (entry.empty()) return false;
    if (entry[0] == '/') return true;
    if (entry.rfind("\\\\", 0) == 0) return true;
    return HasDriveLetter(entry) || HasUriScheme(entry);
}

std::string ResolveEntry(const std::string& entry, const std::string& listFolder) {
    if (StartsWithNoCase(entry, "file://")) {
        // file:///path and file://localhost/path name local files; the host
        // part is dropped.
        std::string rest = entry.substr(7);
        auto slash = rest.find('/');
        rest = slash == std::string::npos ? std::string() : rest.substr(slash);
        return PercentDecode(rest);
    }
    if (IsAbsoluteEntry(entry)) return entry;
    std::string relative = entry;
    for (auto& c : relative)
        if (c == '\\') c = '/';
    return listFolder + relative;
}

std::string StoredEntry(const std::string& fileName, const std::string& listFolder) {
    if (NeedsUri(fileName)) return fileName[0] == '/' ? FileUri(fileName) : fileName;
    if (listFolder.empty() || fileName.size() <= listFolder.size() ||
        fileName.compare(0, listFolder.size(), listFolder) != 0)
        return fileName;
    std::string relative = fileName.substr(listFolder.size());
    // A relative name that would read back as something else ("a\b.mp3",
    // "http:x.mp3", "#1.mp3", a comment in an .m3u list, or " a.mp3", whose
    // blank the reader trims) is stored in full.
    if (IsAbsoluteEntry(relative) || relative.find('\\') != std::string::npos ||
        relative[0] == '#' || IsBlank(relative[0]))
        return fileName;
    return relative;
}

}  // namespace tunara
