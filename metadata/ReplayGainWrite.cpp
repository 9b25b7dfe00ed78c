// Writing measured ReplayGain values into MP3 (ID3v2 user texts) and FLAC
// (Vorbis comments) files. A file is never changed where it lies: a complete
// new file is written beside it and renamed over it.
#include <FLAC/metadata.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "metadata/ReplayGain.h"
#include "metadata/TextCodec.h"
#include "platform/io/ReadAt.h"

namespace tunara {
namespace {

struct Field {
    const char* name;
    float ReplayGainValues::*member;
    bool gain;
};
constexpr Field kFields[] = {
    {"REPLAYGAIN_TRACK_GAIN", &ReplayGainValues::trackGain, true},
    {"REPLAYGAIN_TRACK_PEAK", &ReplayGainValues::trackPeak, false},
    {"REPLAYGAIN_ALBUM_GAIN", &ReplayGainValues::albumGain, true},
    {"REPLAYGAIN_ALBUM_PEAK", &ReplayGainValues::albumPeak, false},
};

// The fields to write, as name and text.
std::vector<std::pair<std::string, std::string>> Texts(const ReplayGainValues& v) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const Field& f : kFields) {
        const float x = v.*f.member;
        if (!std::isnan(x)) out.emplace_back(f.name, f.gain ? GainText(x) : PeakText(x));
    }
    return out;
}

uint32_t SyncSafe(const uint8_t* p) {
    return uint32_t(p[0] & 0x7F) << 21 | uint32_t(p[1] & 0x7F) << 14 | uint32_t(p[2] & 0x7F) << 7 |
           (p[3] & 0x7F);
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutSize(std::vector<uint8_t>& out, uint32_t v, bool syncSafe) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(syncSafe ? uint8_t(v >> (shift / 8 * 7) & 0x7F) : uint8_t(v >> shift));
}

// The description of a TXXX frame's data in ASCII, or empty when it is in
// another script or the frame is coded (compressed, encrypted, unsynchronised).
std::string TxxxDescription(const uint8_t* d, size_t n) {
    if (n < 2) return {};
    std::string out;
    if (d[0] == 0 || d[0] == 3) {
        for (size_t i = 1; i < n && d[i] != 0; ++i) out.push_back(char(d[i]));
        return out;
    }
    // UTF-16, with a byte-order mark (1) or big-endian (2).
    size_t i = 1;
    bool little = false;
    if (d[0] == 1 && n >= 3) {
        little = d[1] == 0xFF && d[2] == 0xFE;
        i = 3;
    }
    for (; i + 1 < n; i += 2) {
        const unsigned unit = little ? d[i] | d[i + 1] << 8 : d[i] << 8 | d[i + 1];
        if (unit == 0) break;
        if (unit >= 0x80) return {};
        out.push_back(char(unit));
    }
    return out;
}

bool Replaced(const std::string& description,
              const std::vector<std::pair<std::string, std::string>>& texts) {
    for (const auto& t : texts)
        if (text::SameLetters(description, t.first)) return true;
    return false;
}

// Writes `head` and then the bytes of `fd` from `from` to its end into a new
// hidden file beside `path`'s target (`target`), with the old file's mode and
// owner where allowed; `temp` names it. Empty on success, else a sentence.
std::string CopyBeside(const std::string& path, const std::vector<uint8_t>& head, int fd,
                       off_t from, std::string& target, std::string& temp) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return path + ": " + std::strerror(errno);
    target = resolved;
    const size_t slash = target.rfind('/');
    temp = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
    struct stat st {};
    if (::fstat(fd, &st) != 0) return path + ": " + std::strerror(errno);
    const int out = ::mkstemp(temp.data());
    if (out < 0) return "Cannot write beside " + path + ": " + std::strerror(errno);
    auto fail = [&](const std::string& what) {
        const int e = errno;
        ::close(out);
        ::unlink(temp.c_str());
        return what + (e ? std::string(": ") + std::strerror(e) : "");
    };
    auto writeAll = [out](const uint8_t* p, size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(out, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            p += w, n -= size_t(w);
        }
        return true;
    };
    errno = 0;
    if (!writeAll(head.data(), head.size())) return fail("Cannot write " + temp);
    std::vector<uint8_t> buffer(1 << 16);
    for (off_t at = from;;) {
        const ssize_t n = io::ReadAt(fd, buffer.data(), buffer.size(), at);
        if (n < 0) return fail("Cannot read " + path);
        if (n == 0) break;
        if (!writeAll(buffer.data(), size_t(n))) return fail("Cannot write " + temp);
        at += n;
    }
    ::fchmod(out, st.st_mode & 07777);
    if (::fchown(out, st.st_uid, st.st_gid) != 0) errno = 0;
    if (::close(out) != 0) {
        ::unlink(temp.c_str());
        return "Cannot write " + temp;
    }
    return {};
}

// Makes `temp` durable and gives it `target`'s name; removes it on failure.
std::string Commit(const std::string& temp, const std::string& target, const std::string& path) {
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!synced || ::rename(temp.c_str(), target.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        return "Cannot replace " + path + ": " + std::strerror(e);
    }
    return {};
}

}  // namespace

bool RewriteId3ReplayGain(const uint8_t* tag, size_t size, const ReplayGainValues& values,
                          std::vector<uint8_t>& out, std::string& why) {
    const auto texts = Texts(values);
    out.clear();
    int major = 4;
    std::vector<uint8_t> frames;
    uint32_t padding = 0;
    if (tag && size >= 10 && std::memcmp(tag, "ID3", 3) == 0) {
        major = tag[3];
        const uint8_t flags = tag[5];
        if (major != 3 && major != 4) {
            why = "an ID3v2." + std::to_string(major) + " tag is not rewritten";
            return false;
        }
        // Unsynchronisation and extended headers are rare and change how the
        // frames read; keeping them exact is not worth the risk of damage.
        if (flags & 0xD0 || (flags & 0x40)) {
            why = "the ID3v2 tag is unsynchronised or has an extended header or footer";
            return false;
        }
        const uint32_t body = SyncSafe(tag + 6);
        if (size_t(body) + 10 > size) {
            why = "the ID3v2 tag is cut short";
            return false;
        }
        const uint8_t* p = tag + 10;
        size_t at = 0;
        while (at < body) {
            if (p[at] == 0) {  // padding: zeros up to the end
                padding = uint32_t(body - at);
                break;
            }
            if (body - at < 10) {
                why = "the ID3v2 tag's frames are malformed";
                return false;
            }
            const uint32_t length = major == 4 ? SyncSafe(p + at + 4) : Be32(p + at + 4);
            if (length > body - at - 10) {
                why = "the ID3v2 tag's frames are malformed";
                return false;
            }
            const bool coded = major == 4 ? (p[at + 9] & 0x0E) != 0 : (p[at + 9] & 0xC0) != 0;
            const bool ours = std::memcmp(p + at, "TXXX", 4) == 0 && !coded &&
                              Replaced(TxxxDescription(p + at + 10, length), texts);
            if (!ours) frames.insert(frames.end(), p + at, p + at + 10 + length);
            at += 10 + length;
        }
    } else {
        why.clear();
    }
    // Ours go first: a reader that gives up at a kept frame it finds odd still sees them.
    std::vector<uint8_t> ours;
    for (const auto& [name, text] : texts) {
        ours.insert(ours.end(), {'T', 'X', 'X', 'X'});
        PutSize(ours, uint32_t(1 + name.size() + 1 + text.size()), major == 4);
        ours.insert(ours.end(), {0, 0, 0});  // flags; ISO-8859-1
        ours.insert(ours.end(), name.begin(), name.end());
        ours.push_back(0);
        ours.insert(ours.end(), text.begin(), text.end());
    }
    frames.insert(frames.begin(), ours.begin(), ours.end());
    const uint32_t body = uint32_t(frames.size()) + padding;
    if (body >= 1u << 28) {
        why = "the ID3v2 tag would be too large";
        return false;
    }
    out = {'I', 'D', '3', uint8_t(major), 0, 0};
    PutSize(out, body, true);
    out.insert(out.end(), frames.begin(), frames.end());
    out.resize(out.size() + padding, 0);
    return true;
}

std::string WriteMp3ReplayGain(const std::string& path, const ReplayGainValues& values) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return path + ": " + std::strerror(errno);
    struct stat st {};
    std::string why;
    std::vector<uint8_t> tag(10), head;
    off_t audio = 0;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = path + ": not a regular file";
    } else if (io::ReadAt(fd, tag.data(), 10, 0) == 10 && std::memcmp(tag.data(), "ID3", 3) == 0) {
        const uint32_t body = SyncSafe(tag.data() + 6);
        tag.resize(10 + size_t(body));
        if (io::ReadAt(fd, tag.data() + 10, body, 10) != ssize_t(body)) tag.resize(10);
        audio = off_t(10 + body);
    } else {
        tag.clear();
    }
    if (why.empty() && !RewriteId3ReplayGain(tag.data(), tag.size(), values, head, why))
        why = path + ": " + why;
    std::string target, temp;
    if (why.empty()) why = CopyBeside(path, head, fd, audio, target, temp);
    ::close(fd);
    return why.empty() ? Commit(temp, target, path) : why;
}

std::string WriteFlacReplayGain(const std::string& path, const ReplayGainValues& values) {
    // libFLAC would edit in place when the padding allows; it works on a copy instead.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return path + ": " + std::strerror(errno);
    uint8_t magic[4] = {};
    std::string why, target, copy;
    if (io::ReadAt(fd, magic, 4, 0) != 4 || std::memcmp(magic, "fLaC", 4) != 0)
        why = path + ": not a FLAC file";
    else
        why = CopyBeside(path, {}, fd, 0, target, copy);
    ::close(fd);
    if (!why.empty()) return why;
    FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
    bool ok = chain && FLAC__metadata_chain_read(chain, copy.c_str());
    FLAC__Metadata_Iterator* it = ok ? FLAC__metadata_iterator_new() : nullptr;
    ok = ok && it;
    FLAC__StreamMetadata* comments = nullptr;
    if (ok) {
        FLAC__metadata_iterator_init(it, chain);
        do {
            if (FLAC__metadata_iterator_get_block_type(it) == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
                comments = FLAC__metadata_iterator_get_block(it);
                break;
            }
        } while (FLAC__metadata_iterator_next(it));
        if (!comments) {
            FLAC__metadata_iterator_init(it, chain);  // after STREAMINFO
            comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
            ok = comments && FLAC__metadata_iterator_insert_block_after(it, comments);
            if (!ok && comments) FLAC__metadata_object_delete(comments);
        }
    }
    for (const auto& [name, text] : Texts(values)) {
        if (!ok) break;
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        ok = FLAC__metadata_object_vorbiscomment_remove_entries_matching(comments, name.c_str()) >=
                 0 &&
             FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                            text.c_str()) &&
             FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, false);
    }
    if (ok) {
        FLAC__metadata_chain_sort_padding(chain);
        ok = FLAC__metadata_chain_write(chain, true, true);
    }
    if (!ok)
        why =
            path + ": the FLAC tags cannot be written" +
            (chain ? std::string(" (") +
                         FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(chain)] + ")"
                   : "");
    if (it) FLAC__metadata_iterator_delete(it);
    if (chain) FLAC__metadata_chain_delete(chain);
    if (!ok) {
        ::unlink(copy.c_str());
        return why;
    }
    return Commit(copy, target, path);
}

}  // namespace tunara
