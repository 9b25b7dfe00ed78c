// QuickTime movie writer: samples go straight into mdat; the sample tables are kept in memory
// and written as moov when the movie resource is added.
#include "platform/movie/MovieWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/io/WriteAll.h"

namespace tunara::movie {

const char* MovieStatusText(MovieStatus status) {
    switch (status) {
        case MovieStatus::kOk:
            return "ok";
        case MovieStatus::kCannotCreate:
            return "cannot create the movie file";
        case MovieStatus::kWriteFailed:
            return "writing the movie file failed";
        case MovieStatus::kBadCall:
            return "movie call out of order or with bad values";
    }
    return "unknown";
}

namespace {

constexpr uint32_t kMovieTimeScale = 600;
constexpr uint32_t kSamplesPerChunk = 16;
constexpr int64_t kWideOffset = 20;  // after ftyp
constexpr int64_t kMdatOffset = 28;  // after wide
constexpr int64_t kDataStart = 36;

class Atom {
public:
    explicit Atom(std::vector<uint8_t>& out, const char* type) : out_(out), start_(out.size()) {
        U32(0);
        out_.insert(out_.end(), type, type + 4);
    }
    ~Atom() {
        const uint32_t size = uint32_t(out_.size() - start_);
        for (int i = 0; i < 4; ++i) out_[start_ + i] = uint8_t(size >> (24 - 8 * i));
    }
    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v) {
        U8(uint8_t(v >> 8));
        U8(uint8_t(v));
    }
    void U32(uint32_t v) {
        U16(uint16_t(v >> 16));
        U16(uint16_t(v));
    }
    void U64(uint64_t v) {
        U32(uint32_t(v >> 32));
        U32(uint32_t(v));
    }
    void Zero(size_t n) { out_.insert(out_.end(), n, 0); }
    void Bytes(const std::vector<uint8_t>& b) { out_.insert(out_.end(), b.begin(), b.end()); }
    void Matrix() {
        const uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
        for (uint32_t v : m) U32(v);
    }

private:
    std::vector<uint8_t>& out_;
    size_t start_;
};

}  // namespace

std::vector<uint8_t> SoundDescriptionBytes(const SoundDescription& d) {
    std::vector<uint8_t> out;
    {
        char format[5] = {char(d.dataFormat >> 24), char(d.dataFormat >> 16),
                          char(d.dataFormat >> 8), char(d.dataFormat), 0};
        Atom a(out, format);
        a.Zero(6);
        a.U16(d.dataReferenceIndex);
        a.U16(1);  // version 1: the four packet fields follow
        a.U16(0);  // revision
        a.U32(0);  // vendor
        a.U16(d.channels);
        a.U16(d.sampleSize);
        a.U16(0xFFFE);  // compression id -2: a compressed format
        a.U16(0);       // packet size
        a.U32(d.sampleRateFixed);
        a.U32(d.samplesPerPacket);
        a.U32(d.bytesPerPacket);
        a.U32(d.bytesPerFrame);
        a.U32(d.bytesPerSample);
        if (!d.waveExtension.empty()) {
            Atom wave(out, "wave");
            wave.Bytes(d.waveExtension);
        }
    }
    return out;
}

struct MovieWriter::State {
    std::string path, tempPath;
    int fd = -1;
    MovieStatus failure = MovieStatus::kOk;
    bool created = false, trackAdded = false, mediaAdded = false, described = false;
    bool editing = false, inserted = false, resourceAdded = false, closed = false;
    std::vector<std::pair<std::string, std::string>> texts;  // user-data type, UTF-8 text
    int track = 0, trackTotal = 0;
    int32_t width = 0, height = 0, volume = 256;
    uint32_t mediaType = 0;
    int32_t timeScale = 0;
    std::vector<uint8_t> description;
    int64_t end = kDataStart;  // end of the sample data
    std::vector<uint32_t> sizes;
    std::vector<uint32_t> durations;
    std::vector<uint64_t> chunkOffsets;
    std::vector<uint32_t> chunkSamples;
    int64_t mediaDuration = 0;
    int64_t trackStart = 0, editMediaTime = 0, editDuration = 0;
    int32_t editRate = 0x10000;

    MovieStatus Fail(MovieStatus s) {
        if (failure == MovieStatus::kOk) failure = s;
        return failure;
    }
};

MovieWriter::MovieWriter() : state_(std::make_unique<State>()) {}

MovieWriter::~MovieWriter() {
    if (!state_->closed) Discard();
}

const std::string& MovieWriter::TemporaryPath() const {
    return state_->tempPath;
}

MovieStatus MovieWriter::Create(const std::string& path) {
    State& s = *state_;
    if (s.created) return s.Fail(MovieStatus::kBadCall);
    s.path = path;
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return s.Fail(MovieStatus::kCannotCreate);
    std::string temp = folder + "/." + name + ".XXXXXX";
    s.fd = ::mkstemp(temp.data());
    if (s.fd < 0) return s.Fail(MovieStatus::kCannotCreate);
    // mkstemp makes the file private; a finished movie gets the usual mode for new files.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(s.fd, 0666 & ~mask);
    s.tempPath = temp;
    s.created = true;
    std::vector<uint8_t> head;
    {
        Atom ftyp(head, "ftyp");
        ftyp.U32(FourCc("qt  "));
        ftyp.U32(0x00000200);
        ftyp.U32(FourCc("qt  "));
    }
    { Atom wide(head, "wide"); }
    {
        Atom mdat(head, "mdat");  // size set when the movie resource is added
    }
    if (io::WriteAllAt(s.fd, head.data(), head.size(), 0) != 0)
        return s.Fail(MovieStatus::kWriteFailed);
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::AddTrack(int32_t width, int32_t height, int32_t volume) {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.created || s.trackAdded) return s.Fail(MovieStatus::kBadCall);
    s.width = width;
    s.height = height;
    s.volume = volume;
    s.trackAdded = true;
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::AddMedia(uint32_t mediaType, int32_t timeScale) {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.trackAdded || s.mediaAdded || mediaType != FourCc("soun") || timeScale <= 0)
        return s.Fail(MovieStatus::kBadCall);
    s.mediaType = mediaType;
    s.timeScale = timeScale;
    s.mediaAdded = true;
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::SetSoundDescription(const SoundDescription& description) {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.mediaAdded || !s.sizes.empty()) return s.Fail(MovieStatus::kBadCall);
    s.description = SoundDescriptionBytes(description);
    s.described = true;
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::BeginMediaEdits() {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.mediaAdded || s.editing) return s.Fail(MovieStatus::kBadCall);
    s.editing = true;
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::AddMediaSample(const uint8_t* data, uint32_t byteCount,
                                        int32_t durationPerSample, int32_t numberOfSamples,
                                        int32_t flags) {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.editing || !s.described || (!data && byteCount) || durationPerSample <= 0 ||
        numberOfSamples <= 0 || flags != 0)
        return s.Fail(MovieStatus::kBadCall);
    if (io::WriteAllAt(s.fd, data, byteCount, s.end) != 0) return s.Fail(MovieStatus::kWriteFailed);
    if (s.chunkSamples.empty() || s.chunkSamples.back() >= kSamplesPerChunk) {
        s.chunkOffsets.push_back(uint64_t(s.end));
        s.chunkSamples.push_back(0);
    }
    ++s.chunkSamples.back();
    s.end += byteCount;
    s.sizes.push_back(byteCount);
    const int64_t duration = int64_t(durationPerSample) * numberOfSamples;
    s.durations.push_back(uint32_t(duration));
    s.mediaDuration += duration;
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::EndMediaEdits() {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.editing) return s.Fail(MovieStatus::kBadCall);
    s.editing = false;
    return MovieStatus::kOk;
}

int64_t MovieWriter::MediaDuration() const {
    return state_->mediaDuration;
}
int64_t MovieWriter::SampleCount() const {
    return int64_t(state_->sizes.size());
}

MovieStatus MovieWriter::InsertMediaIntoTrack(int64_t trackStart, int64_t mediaTime,
                                              int64_t duration, int32_t rate) {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.mediaAdded || s.editing || s.inserted || trackStart < 0 || mediaTime < 0 ||
        duration < 0 || mediaTime + duration > s.mediaDuration)
        return s.Fail(MovieStatus::kBadCall);
    s.trackStart = trackStart;
    s.editMediaTime = mediaTime;
    s.editDuration = duration;
    s.editRate = rate;
    s.inserted = true;
    return MovieStatus::kOk;
}

namespace {

// The movie keeps its media's time scale: in the customary 1/600 s the track's length would be
// rounded by up to half a unit, letting the codec's tail play or cutting the last samples.
uint32_t MovieTimeScale(int32_t mediaScale) {
    return mediaScale > 0 ? uint32_t(mediaScale) : kMovieTimeScale;
}

uint64_t ToMovieTime(int64_t t, int32_t scale) {
    const int64_t movieScale = MovieTimeScale(scale);
    return uint64_t((t * movieScale + scale / 2) / scale);
}

// The movie's user data: QuickTime text items (length, language, text) and the track number.
std::vector<uint8_t> UserData(const std::vector<std::pair<std::string, std::string>>& texts,
                              int track, int trackTotal) {
    std::vector<uint8_t> out;
    if (texts.empty() && track <= 0) return out;
    Atom udta(out, "udta");
    for (const auto& [type, text] : texts) {
        Atom a(out, type.c_str());
        a.U16(uint16_t(text.size()));
        a.U16(0x55C4);  // language "und": the text is UTF-8
        out.insert(out.end(), text.begin(), text.end());
    }
    if (track > 0) {
        Atom a(out, "trkn");
        a.U16(6);
        a.U16(0);
        a.U16(0);
        a.U16(uint16_t(track));
        a.U16(uint16_t(trackTotal));
    }
    return out;
}

}  // namespace

MovieStatus MovieWriter::AddMovieResource() {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (!s.described || s.editing || s.resourceAdded) return s.Fail(MovieStatus::kBadCall);

    // mdat: a 32-bit size, or beyond 4 GiB a 64-bit size written over the "wide" atom.
    const uint64_t mdatSize = uint64_t(s.end - kMdatOffset);
    std::vector<uint8_t> head;
    if (mdatSize > 0xFFFFFFFFull) {
        const uint64_t size = uint64_t(s.end - kWideOffset);
        const uint8_t h[16] = {0,
                               0,
                               0,
                               1,
                               'm',
                               'd',
                               'a',
                               't',
                               uint8_t(size >> 56),
                               uint8_t(size >> 48),
                               uint8_t(size >> 40),
                               uint8_t(size >> 32),
                               uint8_t(size >> 24),
                               uint8_t(size >> 16),
                               uint8_t(size >> 8),
                               uint8_t(size)};
        if (io::WriteAllAt(s.fd, h, 16, kWideOffset) != 0) return s.Fail(MovieStatus::kWriteFailed);
    } else {
        const uint8_t h[4] = {uint8_t(mdatSize >> 24), uint8_t(mdatSize >> 16),
                              uint8_t(mdatSize >> 8), uint8_t(mdatSize)};
        if (io::WriteAllAt(s.fd, h, 4, kMdatOffset) != 0) return s.Fail(MovieStatus::kWriteFailed);
    }

    const int64_t editEnd = s.inserted ? s.trackStart + s.editDuration : s.mediaDuration;
    const uint64_t movieDuration = ToMovieTime(editEnd, s.timeScale);
    const bool wideOffsets = !s.chunkOffsets.empty() && s.chunkOffsets.back() > 0xFFFFFFFFull;
    std::vector<uint8_t> moov;
    {
        Atom m(moov, "moov");
        {
            Atom a(moov, "mvhd");
            a.U32(0);
            a.U32(0);
            a.U32(0);
            a.U32(MovieTimeScale(s.timeScale));
            a.U32(uint32_t(movieDuration));
            a.U32(0x10000);  // rate
            a.U16(0x100);    // volume
            a.Zero(10);
            a.Matrix();
            a.Zero(24);  // preview, poster, selection, current time
            a.U32(2);    // next track id
        }
        Atom trak(moov, "trak");
        {
            Atom a(moov, "tkhd");
            a.U32(0x0000000F);  // enabled, in movie, in preview, in poster
            a.U32(0);
            a.U32(0);
            a.U32(1);  // track id
            a.U32(0);
            a.U32(uint32_t(movieDuration));
            a.Zero(8);
            a.U16(0);  // layer
            a.U16(0);  // alternate group
            a.U16(uint16_t(s.volume));
            a.U16(0);
            a.Matrix();
            a.U32(uint32_t(s.width) << 16);
            a.U32(uint32_t(s.height) << 16);
        }
        if (s.inserted) {
            Atom edts(moov, "edts");
            Atom a(moov, "elst");
            a.U32(0);
            a.U32(s.trackStart > 0 ? 2 : 1);
            if (s.trackStart > 0) {
                a.U32(uint32_t(ToMovieTime(s.trackStart, s.timeScale)));
                a.U32(0xFFFFFFFF);  // empty edit
                a.U32(0x10000);
            }
            a.U32(uint32_t(ToMovieTime(s.editDuration, s.timeScale)));
            a.U32(uint32_t(s.editMediaTime));
            a.U32(uint32_t(s.editRate));
        }
        Atom mdia(moov, "mdia");
        {
            Atom a(moov, "mdhd");
            a.U32(0);
            a.U32(0);
            a.U32(0);
            a.U32(uint32_t(s.timeScale));
            a.U32(uint32_t(s.mediaDuration));
            a.U16(0);  // language
            a.U16(0);  // quality
        }
        {
            Atom a(moov, "hdlr");
            a.U32(0);
            a.U32(FourCc("mhlr"));
            a.U32(s.mediaType);
            a.Zero(12);
            a.U8(12);
            for (char c : std::string("SoundHandler")) a.U8(uint8_t(c));
        }
        Atom minf(moov, "minf");
        {
            Atom a(moov, "smhd");
            a.U32(0);
            a.U16(0);  // balance
            a.U16(0);
        }
        {
            Atom a(moov, "hdlr");
            a.U32(0);
            a.U32(FourCc("dhlr"));
            a.U32(FourCc("alis"));
            a.Zero(12);
            a.U8(11);
            for (char c : std::string("DataHandler")) a.U8(uint8_t(c));
        }
        {
            Atom dinf(moov, "dinf");
            Atom dref(moov, "dref");
            dref.U32(0);
            dref.U32(1);
            Atom alis(moov, "alis");
            alis.U32(1);  // the data is in this file
        }
        Atom stbl(moov, "stbl");
        {
            Atom a(moov, "stsd");
            a.U32(0);
            a.U32(1);
            a.Bytes(s.description);
        }
        {
            Atom a(moov, "stts");
            a.U32(0);
            std::vector<std::pair<uint32_t, uint32_t>> runs;
            for (uint32_t d : s.durations) {
                if (!runs.empty() && runs.back().second == d)
                    ++runs.back().first;
                else
                    runs.push_back({1, d});
            }
            a.U32(uint32_t(runs.size()));
            for (auto& r : runs) {
                a.U32(r.first);
                a.U32(r.second);
            }
        }
        {
            Atom a(moov, "stsc");
            a.U32(0);
            std::vector<std::pair<uint32_t, uint32_t>> runs;  // first chunk, samples per chunk
            for (size_t c = 0; c < s.chunkSamples.size(); ++c)
                if (runs.empty() || runs.back().second != s.chunkSamples[c])
                    runs.push_back({uint32_t(c + 1), s.chunkSamples[c]});
            a.U32(uint32_t(runs.size()));
            for (auto& r : runs) {
                a.U32(r.first);
                a.U32(r.second);
                a.U32(1);  // description index
            }
        }
        {
            Atom a(moov, "stsz");
            a.U32(0);
            bool same = true;
            for (uint32_t v : s.sizes) same = same && v == s.sizes.front();
            if (same && !s.sizes.empty()) {
                a.U32(s.sizes.front());
                a.U32(uint32_t(s.sizes.size()));
            } else {
                a.U32(0);
                a.U32(uint32_t(s.sizes.size()));
                for (uint32_t v : s.sizes) a.U32(v);
            }
        }
        {
            Atom a(moov, wideOffsets ? "co64" : "stco");
            a.U32(0);
            a.U32(uint32_t(s.chunkOffsets.size()));
            for (uint64_t o : s.chunkOffsets) {
                if (wideOffsets)
                    a.U64(o);
                else
                    a.U32(uint32_t(o));
            }
        }
    }
    // The user data follows the track inside moov.
    const std::vector<uint8_t> udta = UserData(s.texts, s.track, s.trackTotal);
    moov.insert(moov.end(), udta.begin(), udta.end());
    const auto moovSize = uint32_t(moov.size());
    for (int i = 0; i < 4; ++i) moov[size_t(i)] = uint8_t(moovSize >> (24 - 8 * i));
    if (io::WriteAllAt(s.fd, moov.data(), moov.size(), s.end) != 0)
        return s.Fail(MovieStatus::kWriteFailed);
    s.resourceAdded = true;
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::SetTexts(const MovieTexts& texts) {
    State& s = *state_;
    if (s.failure != MovieStatus::kOk) return s.failure;
    if (s.resourceAdded) return MovieStatus::kBadCall;
    s.texts.clear();
    const std::pair<const char*, const std::string*> items[] = {{"\xA9nam", &texts.title},
                                                                {"\xA9"
                                                                 "ART",
                                                                 &texts.artist},
                                                                {"\xA9"
                                                                 "alb",
                                                                 &texts.album},
                                                                {"\xA9"
                                                                 "day",
                                                                 &texts.year},
                                                                {"\xA9"
                                                                 "gen",
                                                                 &texts.genre},
                                                                {"\xA9"
                                                                 "swr",
                                                                 &texts.encoder}};
    for (const auto& [type, text] : items)
        if (!text->empty()) s.texts.emplace_back(type, text->substr(0, 0xFFFF));
    s.track = texts.track > 0 && texts.track <= 0xFFFF ? texts.track : 0;
    s.trackTotal = texts.trackTotal > 0 && texts.trackTotal <= 0xFFFF ? texts.trackTotal : 0;
    return MovieStatus::kOk;
}

MovieStatus MovieWriter::Close() {
    State& s = *state_;
    if (s.failure == MovieStatus::kOk && !s.resourceAdded) s.Fail(MovieStatus::kBadCall);
    if (s.failure == MovieStatus::kOk && ::fsync(s.fd) != 0) s.Fail(MovieStatus::kWriteFailed);
    if (s.fd >= 0 && ::close(s.fd) != 0) s.Fail(MovieStatus::kWriteFailed);
    s.fd = -1;
    if (s.failure == MovieStatus::kOk && ::rename(s.tempPath.c_str(), s.path.c_str()) != 0)
        s.Fail(MovieStatus::kWriteFailed);
    if (s.failure != MovieStatus::kOk) {
        Discard();
        return s.failure;
    }
    // The rename itself lasts once the folder is synced.
    const auto slash = s.path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : s.path.substr(0, slash + 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    s.closed = true;
    return MovieStatus::kOk;
}

void MovieWriter::Discard() {
    State& s = *state_;
    if (s.fd >= 0) ::close(s.fd);
    s.fd = -1;
    if (!s.tempPath.empty()) ::unlink(s.tempPath.c_str());
    s.tempPath.clear();
    s.closed = true;
    s.Fail(MovieStatus::kBadCall);
}

}  // namespace tunara::movie
