#include "metadata/AccurateRip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tunara::accuraterip {

namespace {

constexpr uint64_t kSkippedFrames = 5 * 588;

uint32_t Le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

ChecksumAccumulator::ChecksumAccumulator(int64_t totalFrames, bool firstTrack, bool lastTrack)
    : first_(firstTrack ? kSkippedFrames : 1),
      last_(lastTrack ? uint64_t(std::max<int64_t>(totalFrames, 0)) -
                            std::min<uint64_t>(kSkippedFrames,
                                               uint64_t(std::max<int64_t>(totalFrames, 0)))
                      : uint64_t(std::max<int64_t>(totalFrames, 0))) {}

void ChecksumAccumulator::Add(const int16_t* samples, size_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t m = ++position_;
        if (m < first_ || m > last_) continue;
        const uint32_t value =
            uint32_t(uint16_t(samples[2 * i])) | uint32_t(uint16_t(samples[2 * i + 1])) << 16;
        const uint64_t product = uint64_t(value) * m;
        v1_ += uint32_t(product);
        v2_ += uint32_t(product) + uint32_t(product >> 32);
    }
}

bool FileChecksums(const std::string& wavPath, bool firstTrack, bool lastTrack, Checksums& out) {
    FILE* f = std::fopen(wavPath.c_str(), "rb");
    if (!f) return false;
    struct Closer {
        FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{f};
    unsigned char head[12];
    if (std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    bool format = false;
    for (;;) {
        unsigned char chunk[8];
        if (std::fread(chunk, 1, 8, f) != 8) return false;
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < 16 || std::fread(fmt, 1, 16, f) != 16) return false;
            // PCM, two channels, 16 bits: what a CD track is.
            if (fmt[0] != 1 || fmt[1] != 0 || fmt[2] != 2 || fmt[14] != 16) return false;
            format = true;
            if (std::fseek(f, long(size - 16 + (size & 1)), SEEK_CUR) != 0) return false;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!format) return false;
            const int64_t frames = size / 4;
            ChecksumAccumulator sums(frames, firstTrack, lastTrack);
            std::vector<int16_t> buffer(2 * 65536);
            int64_t left = frames;
            while (left > 0) {
                const size_t want = size_t(std::min<int64_t>(left, 65536));
                const size_t got = std::fread(buffer.data(), 4, want, f);
                if (got == 0) return false;
                sums.Add(buffer.data(), got);
                left -= int64_t(got);
            }
            out = sums.Result();
            return true;
        } else if (std::fseek(f, long(size + (size & 1)), SEEK_CUR) != 0) {
            return false;
        }
    }
}

DiscIds ComputeDiscIds(const std::vector<uint32_t>& trackOffsets, uint32_t leadout) {
    DiscIds ids;
    ids.tracks = int(trackOffsets.size());
    uint32_t digits = 0;
    for (size_t i = 0; i < trackOffsets.size(); ++i) {
        const uint32_t lba = trackOffsets[i] >= 150 ? trackOffsets[i] - 150 : 0;
        ids.id1 += lba;
        ids.id2 += std::max<uint32_t>(lba, 1) * uint32_t(i + 1);
        for (uint32_t s = trackOffsets[i] / 75; s > 0; s /= 10) digits += s % 10;
    }
    const uint32_t end = leadout >= 150 ? leadout - 150 : 0;
    ids.id1 += end;
    ids.id2 += end * uint32_t(trackOffsets.size() + 1);
    const uint32_t first = trackOffsets.empty() ? 0 : trackOffsets[0];
    const uint32_t seconds = leadout / 75 - first / 75;
    ids.cddb =
        (digits % 255) << 24 | (seconds & 0xFFFF) << 8 | uint32_t(trackOffsets.size() & 0xFF);
    return ids;
}

std::string Hex(uint32_t id) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", id);
    return text;
}

std::string RecordObject(const DiscIds& ids) {
    char text[96];
    std::snprintf(text, sizeof text, "/accuraterip/%x/%x/%x/dBAR-%03d-%08x-%08x-%08x.bin",
                  ids.id1 & 0xF, ids.id1 >> 4 & 0xF, ids.id1 >> 8 & 0xF, ids.tracks, ids.id1,
                  ids.id2, ids.cddb);
    return text;
}

bool ParseRecord(std::string_view bytes, std::vector<Response>& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t left = bytes.size();
    while (left > 0) {
        if (left < 13) return false;
        Response r;
        r.ids.tracks = p[0];
        r.ids.id1 = Le32(p + 1);
        r.ids.id2 = Le32(p + 5);
        r.ids.cddb = Le32(p + 9);
        p += 13, left -= 13;
        if (left < size_t(r.ids.tracks) * 9) return false;
        for (int t = 0; t < r.ids.tracks; ++t, p += 9, left -= 9)
            r.tracks.push_back({p[0], Le32(p + 1), Le32(p + 5)});
        out.push_back(std::move(r));
    }
    return true;
}

TrackVerdict Verify(const std::vector<Response>& responses, const DiscIds& ids, int track,
                    const Checksums& sums) {
    TrackVerdict v;
    bool listed = false;
    for (const Response& r : responses) {
        if (r.ids.id1 != ids.id1 || r.ids.id2 != ids.id2 || r.ids.cddb != ids.cddb) continue;
        if (track < 1 || track > int(r.tracks.size())) continue;
        const TrackEntry& e = r.tracks[size_t(track - 1)];
        // An entry nobody confirmed says nothing about the track.
        if (e.confidence == 0) continue;
        listed = true;
        v.submissions += e.confidence;
        if (e.crc == sums.v1 || e.crc == sums.v2) {
            v.verdict = Verdict::Accurate;
            v.confidence = std::max(v.confidence, e.confidence);
        }
    }
    if (v.verdict != Verdict::Accurate)
        v.verdict = listed ? Verdict::Mismatch : Verdict::NotInDatabase;
    return v;
}

std::string VerdictText(const TrackVerdict& v) {
    switch (v.verdict) {
        case Verdict::Accurate:
            return "accurate (confidence " + std::to_string(v.confidence) + ")";
        case Verdict::Mismatch:
            return "does not match (" + std::to_string(v.submissions) +
                   (v.submissions == 1 ? " submission)" : " submissions)");
        case Verdict::NotInDatabase:
            break;
    }
    return "not in the database";
}

http::Status Fetch(http::Session& session, const std::string& host, int port, const DiscIds& ids,
                   std::vector<Response>& out) {
    out.clear();
    http::Connection connection(session, host, port);
    http::Request request;
    const http::Status status = connection.Get(RecordObject(ids), request);
    if (status == http::Status::BadResponse && request.HttpStatus() == 404) return http::Status::Ok;
    if (status != http::Status::Ok) return status;
    std::string body;
    if (!request.ReadBody(body)) return request.Error();
    if (!ParseRecord(body, out)) {
        out.clear();
        return http::Status::BadResponse;
    }
    return http::Status::Ok;
}

}  // namespace tunara::accuraterip
