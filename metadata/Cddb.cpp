#include "metadata/Cddb.h"

#include <cstdio>

#include "metadata/TextCodec.h"
#include "platform/http/Http.h"

#ifndef TUNARA_VERSION
#define TUNARA_VERSION ""
#endif

namespace tunara::cddb {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string Unescape(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char n = v[i + 1];
            if (n == 'n' || n == 't') {
                out += ' ';
                ++i;
                continue;
            }
            if (n == '\\') {
                out += '\\';
                ++i;
                continue;
            }
        }
        out += v[i];
    }
    return out;
}

}  // namespace

std::string_view ErrorTextFor(int code) {
    switch (code) {
        case kEntryCorrupt:
            return kTextCorrupt;
        case kNoHandshake:
            return kTextNoHandshake;
        default:
            return kTextUnknownCode;
    }
}

std::string ClientVersion() {
    const std::string_view v = TUNARA_VERSION;
    return v.empty() ? std::string(kDefaultClientVersion) : std::string(v);
}

std::string QueryCommand(uint32_t discId, int trackCount,
                         const std::vector<uint32_t>& offsetsFrames, int discLengthSeconds) {
    char id[16];
    std::snprintf(id, sizeof id, "%08x", discId);
    std::string offsets;
    for (uint32_t o : offsetsFrames) offsets += std::to_string(o) + "+";
    return "cddb+query+" + std::string(id) + "+" + std::to_string(trackCount) + "+" + offsets +
           std::to_string(discLengthSeconds);
}

std::string ReadCommand(std::string_view category, std::string_view discId) {
    return "cddb+read+" + http::UrlEncode(category) + "+" + http::UrlEncode(discId);
}

std::string Hello(std::string_view user, std::string_view host, std::string_view client,
                  std::string_view version) {
    const std::string v = version.empty() ? ClientVersion() : std::string(version);
    return http::UrlEncode(user) + "+" + http::UrlEncode(host) + "+" + http::UrlEncode(client) +
           "+" + http::UrlEncode(v);
}

std::string RequestObject(std::string_view command, std::string_view hello,
                          std::string_view cgiPath) {
    return std::string(cgiPath) + "?cmd=" + std::string(command) + "&hello=" + std::string(hello) +
           "&proto=" + std::to_string(kProtocolLevel);
}

StatusLine ParseStatusLine(std::string_view line) {
    StatusLine s;
    const size_t space = line.find(' ');
    const std::string_view head = line.substr(0, space);
    for (char c : head) {
        if (c < '0' || c > '9') break;
        s.code = s.code * 10 + (c - '0');
        if (s.code > 99999) break;  // no such reply code; stop before it overflows
    }
    if (space != std::string_view::npos) s.rest = DecodeLine(line.substr(space + 1));
    return s;
}

bool ParseMatch(std::string_view text, Match& match) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    const size_t space = text.find(' ');
    if (space == std::string_view::npos || space == 0) return false;
    std::string_view rest = text.substr(space + 1);
    while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
    const size_t end = rest.find(' ');
    const std::string_view id = rest.substr(0, end);
    if (id.empty()) return false;
    match.category = text::DropControls(text.substr(0, space));
    match.discId = text::DropControls(id);
    return !match.category.empty() && !match.discId.empty();
}

std::string DecodeLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return text::Utf8OrLatin1(line);
}

void SplitDiscTitle(std::string_view value, std::string& artist, std::string& album) {
    // "AC/DC / Back in Black": the spaced slash is the separator servers
    // write; a bare one only when there is none.
    size_t slash = value.find(" / ");
    size_t skip = 3;
    if (slash == std::string_view::npos) {
        slash = value.find('/');
        skip = 1;
    }
    std::string_view a = value.substr(0, slash);
    std::string_view b = slash == std::string_view::npos ? value : value.substr(slash + skip);
    while (!a.empty() && IsSpace(a.back())) a.remove_suffix(1);
    while (!b.empty() && IsSpace(b.front())) b.remove_prefix(1);
    artist.assign(a);
    album.assign(b);
}

bool ReadReplyParser::Feed(std::string_view rawLine) {
    if (ended_) return false;
    if (!rawLine.empty() && rawLine.front() == '.') {
        ended_ = true;
        return false;
    }
    if (!rawLine.empty() && rawLine.front() == '#') return true;
    const std::string line = DecodeLine(rawLine);
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return true;
    const std::string_view key = std::string_view(line).substr(0, eq);
    const std::string_view value = std::string_view(line).substr(eq + 1);
    if (key == "DTITLE") {
        hasDiscTitle_ = true;
        discTitle_.append(value);
    } else if (key == "DYEAR") {
        year_.append(value);
    } else if (key == "DGENRE") {
        genre_.append(value);
    } else if (key.size() > 6 && key.substr(0, 6) == "TTITLE") {
        int n = 0;
        for (char c : key.substr(6)) {
            if (c < '0' || c > '9') return true;  // not a track number: ignored
            n = n * 10 + (c - '0');
            if (n >= trackCount_) return true;  // beyond the disc (and no overflow)
        }
        titles_[n].append(value);
    }
    return true;
}

DiscText ReadReplyParser::Result() const {
    DiscText t;
    t.hasDiscTitle = hasDiscTitle_;
    if (hasDiscTitle_) {
        SplitDiscTitle(text::DropControls(Unescape(discTitle_)), t.artist, t.album);
    }
    t.year = text::DropControls(Unescape(year_));
    t.genre = text::DropControls(Unescape(genre_));
    for (const auto& [n, title] : titles_) t.titles[n] = text::DropControls(Unescape(title));
    return t;
}

}  // namespace tunara::cddb
