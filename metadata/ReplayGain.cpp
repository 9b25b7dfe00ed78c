#include "metadata/ReplayGain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "metadata/Id3Tag.h"
#include "metadata/TextCodec.h"
#include "platform/io/ReadAt.h"

namespace tunara {
namespace {

// Enough for the tags of any ordinary file; cover art beyond it is not needed.
constexpr size_t kHeadBytes = 512 * 1024;

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The leading number of `text` (spaces before it allowed), or NaN.
float Number(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    float v = NAN;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() && std::isfinite(v) ? v : NAN;
}

// A Vorbis comment block: vendor, then "NAME=value" entries.
// `r128Track`, when given, tells whether an R128_TRACK_GAIN was taken.
void TakeVorbisComments(const uint8_t* p, size_t size, ReplayGainValues& v,
                        bool* r128Track = nullptr) {
    if (size < 8) return;
    size_t at = 4 + size_t(Le32(p));
    if (at < 4 || at + 4 > size) return;
    uint32_t count = Le32(p + at);
    at += 4;
    for (; count > 0 && at + 4 <= size; --count) {
        const size_t length = Le32(p + at);
        at += 4;
        if (length > size - at) return;
        std::string_view entry(reinterpret_cast<const char*>(p + at), length);
        at += length;
        const size_t eq = entry.find('=');
        if (eq != std::string_view::npos &&
            TakeReplayGainField(entry.substr(0, eq), entry.substr(eq + 1), v) && r128Track &&
            text::SameLetters(entry.substr(0, eq), "R128_TRACK_GAIN"))
            *r128Track = true;
    }
}

ReplayGainValues ParseFlac(const uint8_t* p, size_t size) {
    ReplayGainValues v;
    for (size_t at = 4; at + 4 <= size;) {
        const uint8_t type = p[at] & 0x7F;
        const bool last = (p[at] & 0x80) != 0;
        const size_t length = size_t(p[at + 1]) << 16 | size_t(p[at + 2]) << 8 | p[at + 3];
        at += 4;
        if (length > size - at) break;
        if (type == 4) TakeVorbisComments(p + at, length, v);
        at += length;
        if (last) break;
    }
    return v;
}

// The first packets of the first logical stream, put together across pages.
std::vector<std::vector<uint8_t>> OggPackets(const uint8_t* p, size_t size, size_t wanted) {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint8_t> partial;
    uint32_t serial = 0;
    bool first = true;
    for (size_t at = 0; at + 27 <= size && packets.size() < wanted;) {
        if (std::memcmp(p + at, "OggS", 4) != 0) break;
        const uint32_t pageSerial = Le32(p + at + 14);
        const size_t segments = p[at + 26];
        if (at + 27 + segments > size) break;
        const uint8_t* lacing = p + at + 27;
        size_t body = at + 27 + segments;
        size_t bodyBytes = 0;
        for (size_t i = 0; i < segments; ++i) bodyBytes += lacing[i];
        if (body + bodyBytes > size) bodyBytes = size - body;  // a cut-off head: what there is
        if (first) serial = pageSerial, first = false;
        if (pageSerial == serial) {
            size_t used = 0;
            for (size_t i = 0; i < segments && packets.size() < wanted; ++i) {
                const size_t n = std::min<size_t>(lacing[i], bodyBytes - used);
                partial.insert(partial.end(), p + body + used, p + body + used + n);
                used += n;
                if (lacing[i] < 255) packets.push_back(std::move(partial)), partial.clear();
                if (partial.size() > kHeadBytes) return packets;
            }
        }
        at = body + bodyBytes;
    }
    return packets;
}

ReplayGainValues ParseOgg(const uint8_t* p, size_t size) {
    ReplayGainValues v;
    const auto packets = OggPackets(p, size, 2);
    if (packets.size() < 2) return v;
    const auto& tags = packets[1];
    if (tags.size() >= 8 && std::memcmp(tags.data(), "OpusTags", 8) == 0) {
        bool r128Track = false;
        TakeVorbisComments(tags.data() + 8, tags.size() - 8, v, &r128Track);
        const auto& head = packets[0];
        if (head.size() >= 19 && std::memcmp(head.data(), "OpusHead", 8) == 0)
            v.outputGain = float(int16_t(uint16_t(head[16] | head[17] << 8))) / 256.0f;
        // A tool that normalised the album into the output gain leaves out
        // R128_ALBUM_GAIN: the album then needs nothing beyond the reference shift.
        if (r128Track && std::isnan(v.albumGain) && !std::isnan(v.outputGain) &&
            v.outputGain != 0.0f)
            v.albumGain = 5.0f;
    } else if (tags.size() >= 7 && std::memcmp(tags.data(), "\x03vorbis", 7) == 0)
        TakeVorbisComments(tags.data() + 7, tags.size() - 7, v);
    return v;
}

ssize_t ReadWhole(int fd, uint8_t* dst, size_t count, off_t at) {
    return io::ReadAt(fd, dst, count, at);
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// One 16-bit gain field of the LAME extension: a name code (1 track, 2 album),
// an originator, a sign and tenths of a dB. NaN when not set or not `name`.
float LameGain(const uint8_t* p, int name) {
    const unsigned word = unsigned(p[0]) << 8 | p[1];
    if (int(word >> 13) != name || ((word >> 10) & 7) == 0) return NAN;
    const float db = float(word & 0x1FF) / 10.0f;
    return word & 0x200 ? -db : db;
}

// The children of an MP4 box's body, as (type, body) pairs.
template <typename Fn>
void EachBox(const uint8_t* p, size_t size, Fn&& fn) {
    for (size_t at = 0; at + 8 <= size;) {
        uint64_t length = Be32(p + at);
        size_t header = 8;
        if (length == 1) {
            if (at + 16 > size) return;
            length = uint64_t(Be32(p + at + 8)) << 32 | Be32(p + at + 12);
            header = 16;
        } else if (length == 0) {
            length = size - at;
        }
        if (length < header || length > size - at) return;
        fn(std::string_view(reinterpret_cast<const char*>(p + at + 4), 4), p + at + header,
           size_t(length) - header);
        at += size_t(length);
    }
}

// A "----" item: mean, name and data boxes; data is 8 bytes of type and locale, then the text.
void TakeFreeformItem(const uint8_t* p, size_t size, ReplayGainValues& v) {
    std::string_view mean, name, value;
    EachBox(p, size, [&](std::string_view type, const uint8_t* body, size_t n) {
        const std::string_view text(reinterpret_cast<const char*>(body), n);
        if (type == "mean" && n >= 4) mean = text.substr(4);
        if (type == "name" && n >= 4) name = text.substr(4);
        if (type == "data" && n >= 8) value = text.substr(8);
    });
    if (mean == "com.apple.iTunes") TakeReplayGainField(name, value, v);
}

void TakeMeta(const uint8_t* p, size_t size, ReplayGainValues& v) {
    if (size < 4) return;
    // A full box: version and flags come first.
    EachBox(p + 4, size - 4, [&v](std::string_view type, const uint8_t* body, size_t n) {
        if (type != "ilst") return;
        EachBox(body, n, [&v](std::string_view item, const uint8_t* b, size_t m) {
            if (item == "----") TakeFreeformItem(b, m, v);
        });
    });
}

}  // namespace

ReplayGainValues ParseLameReplayGain(const uint8_t* frame, size_t size) {
    ReplayGainValues v;
    if (!frame || size < 4 || frame[0] != 0xFF || (frame[1] & 0xE6) != 0xE2) return v;
    const bool mpeg1 = (frame[1] >> 3 & 3) == 3;
    const bool mono = frame[3] >> 6 == 3;
    const size_t at = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (at + 8 > size ||
        (std::memcmp(frame + at, "Xing", 4) != 0 && std::memcmp(frame + at, "Info", 4) != 0))
        return v;
    const uint32_t flags = Be32(frame + at + 4);
    const size_t lame = at + 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) +
                        (flags & 8 ? 4 : 0);
    // The extension: 9 bytes naming the encoder, revision, low-pass, peak, two gains.
    if (lame + 19 > size || !std::isalpha(frame[lame])) return v;
    const uint8_t* e = frame + lame;
    v.trackGain = LameGain(e + 15, 1);
    v.albumGain = LameGain(e + 17, 2);
    // The peak is fixed point with 23 fraction bits; zero means not measured.
    const uint32_t peak = Be32(e + 11);
    if (peak != 0 && !std::isnan(v.trackGain)) v.trackPeak = float(peak) / float(1 << 23);
    return v;
}

ReplayGainValues ParseMp4ReplayGain(const uint8_t* moov, size_t size) {
    ReplayGainValues v;
    if (!moov) return v;
    // iTunes puts meta in udta; some writers put it in moov itself.
    EachBox(moov, size, [&v](std::string_view type, const uint8_t* body, size_t n) {
        if (type == "meta") TakeMeta(body, n, v);
        if (type == "udta")
            EachBox(body, n, [&v](std::string_view t, const uint8_t* b, size_t m) {
                if (t == "meta") TakeMeta(b, m, v);
            });
    });
    return v;
}

bool TakeReplayGainField(std::string_view name, std::string_view value, ReplayGainValues& v) {
    struct Field {
        const char* name;
        float ReplayGainValues::*member;
    };
    static constexpr Field kFields[] = {
        {"REPLAYGAIN_TRACK_GAIN", &ReplayGainValues::trackGain},
        {"REPLAYGAIN_TRACK_PEAK", &ReplayGainValues::trackPeak},
        {"REPLAYGAIN_ALBUM_GAIN", &ReplayGainValues::albumGain},
        {"REPLAYGAIN_ALBUM_PEAK", &ReplayGainValues::albumPeak},
    };
    for (const Field& f : kFields) {
        if (!text::SameLetters(name, f.name)) continue;
        const float n = Number(value);
        if (std::isnan(n)) return false;
        v.*f.member = n;
        return true;
    }
    // Opus: Q7.8 dB against -23 LUFS; the reference here is 5 dB louder.
    const bool track = text::SameLetters(name, "R128_TRACK_GAIN");
    if (track || text::SameLetters(name, "R128_ALBUM_GAIN")) {
        int q = 0;
        const auto r = std::from_chars(value.data(), value.data() + value.size(), q);
        if (r.ec != std::errc() || q < -32768 || q > 32767) return false;
        (track ? v.trackGain : v.albumGain) = q / 256.0f + 5.0f;
        return true;
    }
    return false;
}

ReplayGainValues ParseStreamReplayGain(const uint8_t* data, size_t size) {
    if (!data || size < 4) return {};
    if (std::memcmp(data, "fLaC", 4) == 0) return ParseFlac(data, size);
    if (std::memcmp(data, "OggS", 4) == 0) {
        // FLAC in Ogg carries its comment block in the second packet too.
        const auto packets = OggPackets(data, size, 2);
        if (packets.size() == 2 && packets[0].size() >= 5 &&
            std::memcmp(packets[0].data(),
                        "\x7F"
                        "FLAC",
                        5) == 0 &&
            packets[1].size() >= 4 && (packets[1][0] & 0x7F) == 4) {
            ReplayGainValues v;
            TakeVorbisComments(packets[1].data() + 4, packets[1].size() - 4, v);
            return v;
        }
        return ParseOgg(data, size);
    }
    return {};
}

ReplayGainValues ParseApeReplayGain(const uint8_t* data, size_t size) {
    ReplayGainValues v;
    if (!data || size < 32) return v;
    const uint8_t* footer = data + size - 32;
    if (std::memcmp(footer, "APETAGEX", 8) != 0) return v;
    const size_t tagSize = Le32(footer + 12);  // items and footer
    uint32_t count = Le32(footer + 16);
    if (tagSize < 32 || tagSize > size) return v;
    size_t at = size - tagSize;
    const size_t end = size - 32;
    for (; count > 0 && at + 8 < end; --count) {
        const size_t length = Le32(data + at);
        at += 8;  // value size, flags
        const auto* nul = static_cast<const uint8_t*>(std::memchr(data + at, 0, end - at));
        if (!nul) break;
        std::string_view key(reinterpret_cast<const char*>(data + at), size_t(nul - (data + at)));
        at = size_t(nul - data) + 1;
        if (length > end - at) break;
        TakeReplayGainField(key, std::string_view(reinterpret_cast<const char*>(data + at), length),
                            v);
        at += length;
    }
    return v;
}

namespace {

// The values in an MP4 file's movie box, wherever it lies among the top-level boxes.
ReplayGainValues ReadMp4(int fd, off_t fileSize) {
    constexpr uint64_t kMoovLimit = 64u << 20;
    for (off_t at = 0; at + 8 <= fileSize;) {
        uint8_t h[16];
        if (ReadWhole(fd, h, 16, at) < 8) break;
        uint64_t length = Be32(h);
        uint64_t header = 8;
        if (length == 1) {
            length = uint64_t(Be32(h + 8)) << 32 | Be32(h + 12);
            header = 16;
        } else if (length == 0) {
            length = uint64_t(fileSize - at);
        }
        if (length < header || length > uint64_t(fileSize - at)) break;
        if (std::memcmp(h + 4, "moov", 4) == 0) {
            if (length - header > kMoovLimit) break;
            std::vector<uint8_t> moov(size_t(length - header));
            if (ReadWhole(fd, moov.data(), moov.size(), at + off_t(header)) != ssize_t(moov.size()))
                break;
            return ParseMp4ReplayGain(moov.data(), moov.size());
        }
        at += off_t(length);
    }
    return {};
}

}  // namespace

ReplayGainValues ReadReplayGain(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    std::vector<uint8_t> head;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        head.resize(std::min<size_t>(kHeadBytes, static_cast<size_t>(st.st_size)));
        const ssize_t n = ReadWhole(fd, head.data(), head.size(), 0);
        head.resize(n > 0 ? size_t(n) : 0);
    }
    ReplayGainValues v;
    int64_t audioStart = -1;  // MP3: where its first frame is looked for
    if (head.size() >= 4 && std::memcmp(head.data(), "ID3", 3) == 0) {
        Id3Tag tag;
        if (tag.readV2(path, 0, audioStart) == kId3Ok) {
            for (const auto& [name, value] : tag.userTexts()) TakeReplayGainField(name, value, v);
            if (!v.Any()) {
                const auto& adj = tag.volumeAdjustments();
                if (auto t = adj.find("track"); t != adj.end())
                    v.trackGain = t->second.gainDb, v.trackPeak = t->second.peak;
                if (auto a = adj.find("album"); a != adj.end())
                    v.albumGain = a->second.gainDb, v.albumPeak = a->second.peak;
            }
        }
    } else if (head.size() >= 8 && std::memcmp(head.data() + 4, "ftyp", 4) == 0) {
        v = ReadMp4(fd, st.st_size);
    } else {
        v = ParseStreamReplayGain(head.data(), head.size());
        if (head.size() < 4 ||
            (std::memcmp(head.data(), "OggS", 4) != 0 && std::memcmp(head.data(), "fLaC", 4) != 0))
            audioStart = 0;
    }
    // An APEv2 tag at the end, before an ID3v1 record if there is one.
    if (!v.Any() && S_ISREG(st.st_mode) && st.st_size >= 32) {
        const size_t tail = std::min<size_t>(64 * 1024, static_cast<size_t>(st.st_size));
        std::vector<uint8_t> end(tail);
        if (ReadWhole(fd, end.data(), tail, st.st_size - off_t(tail)) == ssize_t(tail)) {
            size_t size = tail;
            if (size >= 128 + 32 && std::memcmp(end.data() + size - 128, "TAG", 3) == 0)
                size -= 128;
            const float outputGain = v.outputGain;
            v = ParseApeReplayGain(end.data(), size);
            v.outputGain = outputGain;
        }
    }
    // Last, what the encoder measured, in its LAME extension.
    if (!v.Any() && audioStart >= 0 && size_t(audioStart) < head.size()) {
        const uint8_t* p = head.data() + audioStart;
        const size_t n = head.size() - size_t(audioStart);
        // The first frame: the first sync of Layer III within a short stretch of junk.
        for (size_t i = 0; i + 4 <= n && i < 4096; ++i) {
            if (p[i] == 0xFF && (p[i + 1] & 0xE6) == 0xE2) {
                v = ParseLameReplayGain(p + i, n - i);
                break;
            }
        }
    }
    ::close(fd);
    return v;
}

std::string GainText(float db) {
    if (std::isnan(db)) return "-";
    char b[32];
    std::snprintf(b, sizeof b, "%+.2f dB", static_cast<double>(db));
    return b;
}

std::string PeakText(float peak) {
    if (std::isnan(peak)) return "-";
    char b[32];
    std::snprintf(b, sizeof b, "%.6f", static_cast<double>(peak));
    return b;
}

}  // namespace tunara
