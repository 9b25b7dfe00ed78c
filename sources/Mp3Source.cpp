#include "sources/Mp3Source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "metadata/Id3Tag.h"
#include "mpeg/Header.h"
#include "mpegdec/mpegstream.h"
#include "platform/io/OpenRegular.h"
#include "platform/io/Paths.h"
#include "platform/io/ReadAt.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/SourceSettings.h"

namespace tunara {
namespace {

// What the source hands mpegDecOpen; the decoder validates and keeps them.
constexpr uint8_t kDecoderOptions[4] = {1, 0, 0, 0};
constexpr uint16_t kDecoderFlags = 0x008D;
constexpr int kMaxBlockFrames = 1152;

// Junk before the first frame is searched this far (mpg123 goes as far).
constexpr int64_t kJunkBytes = 64 * 1024;
// Room after a candidate header for the two headers that confirm it.
constexpr int64_t kConfirmBytes = 8 * 1024;
constexpr int64_t kProbeBytes = kJunkBytes + kConfirmBytes;
// More than the largest frame.
constexpr int64_t kZeroSlack = 4096;

using io::ReadAt;

// Sequential reads through one large window, so that the frame scan costs a
// system call per window rather than per frame. Never past `end`.
class WindowReader {
public:
    WindowReader(int fd, int64_t end) : fd_(fd), end_(end), window_(kWindowBytes) {}
    // The bytes from `offset` on: at least kConfirmBytes of them unless the
    // end comes first. Returns their count; *p points at them.
    size_t Span(int64_t offset, const uint8_t** p) {
        const int64_t want = std::min<int64_t>(kConfirmBytes, end_ - offset);
        if (want <= 0) return 0;
        if (offset < start_ || offset + want > start_ + valid_) {
            const int64_t n = std::min<int64_t>(int64_t(window_.size()), end_ - offset);
            const ssize_t got = ReadAt(fd_, window_.data(), size_t(n), offset);
            start_ = offset;
            valid_ = got > 0 ? got : 0;
        }
        if (offset >= start_ + valid_) return 0;
        *p = window_.data() + (offset - start_);
        return size_t(start_ + valid_ - offset);
    }
    int64_t end() const { return end_; }

private:
    static constexpr size_t kWindowBytes = 256 * 1024;
    int fd_;
    int64_t end_;
    std::vector<uint8_t> window_;
    int64_t start_ = 0;
    int64_t valid_ = 0;
};

// The first confirmed frame at `from` or at most `limit` bytes later; -1 when none. *freeBytes
// (may be null) gets a free-format stream's frame length.
int64_t FindFrame(WindowReader& reader, int64_t from, int64_t limit, MpegHeaderWord* w,
                  int32_t* freeBytes = nullptr) {
    int64_t pos = from;
    while (pos < reader.end() && pos - from <= limit) {
        const uint8_t* p = nullptr;
        const size_t n = reader.Span(pos, &p);
        if (n < 4) return -1;
        const bool complete = pos + int64_t(n) >= reader.end();
        int64_t search = complete ? int64_t(n) : int64_t(n) - kConfirmBytes;
        search = std::clamp<int64_t>(search, 0, limit - (pos - from));
        const int64_t at =
            mpegStreamFindFrameFree(p, n, 0, size_t(search), complete ? 1 : 0, w, freeBytes);
        if (at >= 0) return pos + at;
        if (complete) return -1;
        pos += search + 1;
    }
    return -1;
}

// Where the audio really ends: zeros after the last frame (a file padded out, a disk image
// carved too long) are not audio. Holes of a sparse file are skipped without reading them.
int64_t EndOfNonZero(int fd, int64_t begin, int64_t end) {
    int64_t dataEnd = end;
    int64_t at = begin;
    for (int extents = 0; extents < 4096; ++extents) {
        const off_t data = ::lseek(fd, off_t(at), SEEK_DATA);
        if (data < 0 || data >= end) {
            if (data < 0 && errno != ENXIO) dataEnd = end;  // no hole support: read it all
            break;
        }
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) break;
        dataEnd = std::min<int64_t>(end, hole);
        at = hole;
    }
    std::vector<uint8_t> block(64 * 1024);
    int64_t pos = dataEnd;
    while (pos > begin) {
        const int64_t n = std::min<int64_t>(int64_t(block.size()), pos - begin);
        if (ReadAt(fd, block.data(), size_t(n), pos - n) != n) return pos;
        for (int64_t i = n; i > 0; --i)
            if (block[size_t(i - 1)] != 0) return pos - n + i;
        pos -= n;
    }
    return begin;
}

int32_t ClampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace

bool IsMpegLayer12File(const std::string& path, MpegHeaderWord* header) {
    const int fd = io::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return false;
    Id3Tag tag;
    int64_t start = 0;
    if (tag.readV2(path, 0, start) != kId3Ok) start = 0;
    std::vector<uint8_t> probe(static_cast<size_t>(kProbeBytes));
    const ssize_t got = ReadAt(fd, probe.data(), probe.size(), start);
    ::close(fd);
    if (got < 4) return false;
    const int32_t complete = got < ssize_t(probe.size()) ? 1 : 0;
    const int64_t layer12 = mpegStreamFindLayer12(probe.data(), size_t(got), complete, header);
    if (layer12 < 0) return false;
    const int64_t layer3 = mpegStreamFindFrameFree(probe.data(), size_t(got), 0, kJunkBytes,
                                                   complete, nullptr, nullptr);
    return layer3 < 0 || layer3 > layer12;
}

Mp3Source::Mp3Source(OutputEngine& engine) : PcmSource(engine) {}

Mp3Source::~Mp3Source() {
    // A feeder thread still reading this object must end before the decoder goes.
    LeaveEngine();
    if (PcmSource::IsPlaying()) PcmSource::Stop();
    CloseStream();
}

std::string Mp3Source::GetTitle() const {
    if (UseId3Title() && !tagTitle_.empty()) return tagTitle_;
    return io::FileTitle(location_);
}

bool Mp3Source::LocateAudio(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    audioBegin_ = 0;
    audioEnd_ = st.st_size;
    tagTitle_.clear();
    smpbDelay_ = smpbPadding_ = -1;

    Id3Tag v1;
    if (v1.readV1(location_) == kId3Ok) {
        tagTitle_ = v1.title();
        artist_ = v1.artist();
        album_ = v1.album();
        category_ = v1.genreName();
        audioEnd_ -= 128;
    }
    Id3Tag v2;
    int64_t audioStart = 0;
    if (v2.readV2(location_, 0, audioStart) == kId3Ok) {
        // A v2 tag without a field does not wipe what the v1 record said.
        if (!v2.title().empty()) tagTitle_ = v2.title();
        if (!v2.artist().empty()) artist_ = v2.artist();
        if (!v2.album().empty()) album_ = v2.album();
        if (!v2.genreName().empty()) category_ = v2.genreName();
        audioBegin_ = audioStart;
        int32_t delay = -1, padding = -1;
        if (mpegStreamParseSmpb(v2.smpb().c_str(), &delay, &padding)) {
            smpbDelay_ = delay;
            smpbPadding_ = padding;
        }
    }
    // A frame may end in zero bytes of its own: keep a frame's worth of them.
    audioEnd_ = std::min(audioEnd_, EndOfNonZero(fd, audioBegin_, audioEnd_) + kZeroSlack);
    audioLocated_ = true;
    return true;
}

bool Mp3Source::QuickScan(int fd) {
    const int64_t audioBytes = std::max<int64_t>(audioEnd_ - audioBegin_, 0);
    std::vector<uint8_t> probe(size_t(std::min<int64_t>(kProbeBytes, audioBytes)));
    const ssize_t got = probe.empty() ? 0 : ReadAt(fd, probe.data(), probe.size(), audioBegin_);
    if (got < 4) return false;
    MpegHeaderWord w = 0;
    int32_t freeBytes = 0;
    const int64_t at = mpegStreamFindFrameFree(probe.data(), size_t(got), 0, kJunkBytes,
                                               got == audioBytes ? 1 : 0, &w, &freeBytes);
    if (at < 0) return false;
    frameSamples_ = mpegHeaderSamplesPerFrame(w);
    sampleRate_ = mpegHeaderSampleRate(w);
    channels_ = mpegHeaderChannels(w);
    bitRate_ = mpegHeaderBitrate(w);
    bitsPerSample_ = 16;
    formatName_ = "MP3";

    // The first frame's header says nothing about the rest of a VBR stream;
    // an encoder's summary in that frame does, and costs no extra read.
    MpegStreamSummary summary;
    const bool summarised = mpegStreamReadSummary(probe.data() + at, size_t(got - at), &summary);
    const int64_t firstAudio = audioBegin_ + at + (summarised ? mpegHeaderFrameBytes(w) : 0);
    const int64_t bytes = std::max<int64_t>(audioEnd_ - firstAudio, 0);
    const int64_t summarisedBytes = summary.bytes - (firstAudio - (audioBegin_ + at));
    // More bytes than the summary covers: another stream joined on, say.
    const bool longer =
        summary.bytes > 0 && bytes > summarisedBytes + 2 * mpegHeaderFrameBytes(w) + 128;
    if (summary.frames <= 0 || freeBytes > 0 || longer) {
        // Without a frame count every frame is counted (as opening does), so that the length
        // and the average rate are those the player will show.
        const bool scanned = FullScan(fd);
        frameIndex_.clear();
        frameIndex_.shrink_to_fit();
        return scanned;
    }
    TakeEncoderGap(summary);
    // At low bit rates the summary frame takes a higher rate than the audio to hold its block.
    if (summarised && !summary.variable) {
        const int64_t next = at + mpegHeaderFrameBytes(w);
        if (next + 4 <= got && mpegStreamFrameBytesAt(probe.data() + next, w) > 0)
            bitRate_ =
                mpegHeaderBitrate(mpegHeaderFromStream(mpeg::StreamBits(probe.data() + next), 0));
    }
    int64_t frames = summary.frames;
    // A cut-off file keeps the summary of the whole stream; the bytes that are left
    // tell how much of it remains (the full scan on opening counts exactly).
    const bool cut = summary.bytes > 0 && bytes + 2 * mpegHeaderFrameBytes(w) < summarisedBytes;
    if (cut)
        frames =
            std::max<int64_t>(1, int64_t(double(frames) * double(bytes) / double(summarisedBytes)));
    const MpegStreamTrim trim =
        mpegStreamTrim(frames, frameSamples_, encoderDelay_, encoderPadding_);
    durationMs_ = ClampToInt32(trim.keep * 1000 / sampleRate_);
    if (summary.variable) {
        formatName_ = "MP3 VBR";
        const int64_t b = summary.bytes > 0 && !cut ? summary.bytes : bytes;
        bitRate_ = ClampToInt32(b * 8 * sampleRate_ / (frames * frameSamples_));
    }
    return true;
}

void Mp3Source::TakeEncoderGap(const MpegStreamSummary& summary) {
    encoderDelay_ = summary.encoderDelay;
    encoderPadding_ = summary.encoderPadding;
    if (encoderDelay_ < 0 || encoderPadding_ < 0) {
        encoderDelay_ = smpbDelay_;
        encoderPadding_ = smpbPadding_;
    }
}

int Mp3Source::LoadInfo() {
    const int fd = io::OpenRegularFile(location_, O_RDONLY);
    if (fd < 0) {
        SetError(strings::kMp3FailedToOpen, errno);
        return 0;
    }
    const bool ok = LocateAudio(fd) && QuickScan(fd);
    ::close(fd);
    part_ = 0;
    title_ = GetTitle();
    if (!ok) {
        SetError(strings::kMp3FailedToOpen);
        return 0;
    }
    return 1;
}

bool Mp3Source::FullScan(int fd) {
    WindowReader reader(fd, audioEnd_);
    MpegHeaderWord first = 0;
    int32_t freeBytes = 0;
    int64_t offset = FindFrame(reader, audioBegin_, kJunkBytes, &first, &freeBytes);
    if (offset < 0) return false;

    const uint8_t* p = nullptr;
    size_t n = reader.Span(offset, &p);
    MpegStreamSummary summary;
    if (mpegStreamReadSummary(p, n, &summary)) offset += mpegStreamFrameBytesLike(p, 0, freeBytes);

    std::vector<int64_t> index;
    const int64_t firstBytes = std::max(mpegStreamFrameBytesLike(p, 0, freeBytes), 1);
    index.reserve(size_t(std::max<int64_t>(audioEnd_ - offset, 0) / firstBytes + 16));
    std::vector<Part> parts;
    MpegHeaderWord current = first;
    auto startPart = [&](MpegHeaderWord w) {
        parts.push_back(Part{int64_t(index.size()), mpegHeaderSampleRate(w), mpegHeaderChannels(w),
                             mpegHeaderSamplesPerFrame(w), 0, 0});
    };
    startPart(first);
    int lastRate = -1;
    bool variable = false;
    int64_t audioBytes = 0;
    // Later frames must keep the current version and sampling rate; where the chain breaks,
    // the scan searches on for a confirmed frame, so a damaged stretch costs only its own
    // length. A confirmed frame of another rate begins a new part.
    while (offset + 4 <= audioEnd_) {
        n = reader.Span(offset, &p);
        const int32_t len = n >= 4 ? mpegStreamFrameBytesLike(p, current, freeBytes) : 0;
        if (len <= 0) {
            MpegHeaderWord w = 0;
            int32_t free = 0;
            const int64_t next = FindFrame(reader, offset + 1, audioEnd_, &w, &free);
            if (next < 0) break;
            if (mpegHeaderSampleRate(w) != mpegHeaderSampleRate(current)) {
                if (parts.back().firstFrame == int64_t(index.size())) parts.pop_back();
                startPart(w);
            }
            current = w;
            freeBytes = free;
            offset = next;
            continue;
        }
        const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(p), 0);
        // The channel count a part reports is that of most of its frames' start.
        if (int64_t(index.size()) == parts.back().firstFrame)
            parts.back().channels = mpegHeaderChannels(w);
        const int bitrate =
            freeBytes > 0
                ? int(int64_t(len) * 8 * mpegHeaderSampleRate(w) / mpegHeaderSamplesPerFrame(w))
                : mpegHeaderBitrate(w);
        if (lastRate >= 0 && bitrate != lastRate && freeBytes == 0) variable = true;
        lastRate = bitrate;
        index.push_back(offset);
        audioBytes += std::min<int64_t>(len, audioEnd_ - offset);
        offset += len;
    }
    if (index.empty()) return false;
    if (parts.back().firstFrame >= int64_t(index.size())) parts.pop_back();

    TakeEncoderGap(summary);
    int64_t totalSamples = 0, totalMs = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        Part& part = parts[i];
        const int64_t end = i + 1 < parts.size() ? parts[i + 1].firstFrame : int64_t(index.size());
        const int64_t frames = end - part.firstFrame;
        if (parts.size() == 1) {
            const MpegStreamTrim trim =
                mpegStreamTrim(frames, part.frameSamples, encoderDelay_, encoderPadding_);
            part.skip = trim.skip;
            part.keep = trim.keep;
        } else {
            // The encoder's summary describes the first of the joined streams only: its delay
            // is trimmed, nothing else.
            const MpegStreamTrim trim =
                i == 0 ? mpegStreamTrim(frames, part.frameSamples, encoderDelay_, 0)
                       : MpegStreamTrim{0, frames * part.frameSamples};
            part.skip = trim.skip;
            part.keep = frames * part.frameSamples - trim.skip;
            if (part.keep <= 0) part.skip = 0, part.keep = frames * part.frameSamples;
        }
        totalSamples += frames * part.frameSamples;
        totalMs += part.keep * 1000 / part.rate;
    }

    frameIndex_ = std::move(index);
    parts_ = std::move(parts);
    freeBytes_ = mpegHeaderBitrateIndex(first) == 0 ? freeBytes : 0;
    bitsPerSample_ = 16;
    durationMs_ = ClampToInt32(totalMs);
    const int rate = parts_.front().rate;
    if (variable || parts_.size() > 1) {
        formatName_ = variable ? "MP3 VBR" : "MP3";
        // Audio bytes only: a large tag (cover art) must not inflate the average.
        bitRate_ =
            totalMs > 0 ? ClampToInt32(audioBytes * 8 * 1000 / std::max<int64_t>(totalMs, 1)) : 0;
        if (parts_.size() == 1)
            bitRate_ = ClampToInt32(int64_t(rate) * audioBytes * 8 / totalSamples);
    } else {
        formatName_ = "MP3";
        bitRate_ = lastRate;
    }
    EnterPart(0);
    return true;
}

void Mp3Source::EnterPart(size_t part) {
    part_ = std::min(part, parts_.size() - 1);
    const Part& p = parts_[part_];
    sampleRate_ = p.rate;
    channels_ = p.channels;
    frameSamples_ = p.frameSamples;
    skip_ = p.skip;
    keep_ = p.keep;
    partEnd_ =
        part_ + 1 < parts_.size() ? parts_[part_ + 1].firstFrame : int64_t(frameIndex_.size());
}

int64_t Mp3Source::PartStartMs(size_t part) const {
    int64_t ms = 0;
    for (size_t i = 0; i < part && i < parts_.size(); ++i)
        ms += parts_[i].keep * 1000 / parts_[i].rate;
    return ms;
}

int Mp3Source::FailOpen(int errorNumber) {
    SetError(strings::kMp3FailedToOpen, errorNumber);
    CloseStream();
    return 0;
}

int Mp3Source::OpenStream() {
    CloseStream();
    const size_t part = openPart_;
    openPart_ = 0;
    partEnded_ = false;
    fd_ = io::OpenRegularFile(location_, O_RDONLY);
    if (fd_ < 0) return FailOpen(errno);
    if (!audioLocated_ && !LocateAudio(fd_)) return FailOpen();
    if (frameIndex_.empty() && !FullScan(fd_)) return FailOpen();
    EnterPart(part);

    const int64_t first = parts_[part_].firstFrame;
    filePos_ = frameIndex_[size_t(first)];
    inputBase_ = filePos_;
    maxReadEnd_ = filePos_;
    decoderLocated_ = false;
    nextFrameNo_ = first;
    blockFrameNo_ = -1;
    pendingFrameNo_ = -1;
    if (mpegDecOpen(kDecoderOptions, kDecoderFlags, &Mp3Source::ReadCallback, this, &decoder_) !=
        kMpegDecOk) {
        decoder_ = nullptr;
        return FailOpen();
    }
    try {
        pcm_.assign(size_t(kMaxBlockFrames) * 2, 0);
        pendingPcm_.assign(size_t(kMaxBlockFrames) * 2, 0);
    } catch (const std::bad_alloc&) {
        SetError(strings::kFailedToAllocateMemory, ENOMEM);
        CloseStream();
        return 0;
    }
    blockChannels_ = channels_;
    blockFrames_ = 0;
    readFrames_ = 0;
    return 1;
}

int Mp3Source::CloseStream() {
    if (decoder_ != nullptr) mpegDecClose(&decoder_);
    decoder_ = nullptr;
    pcm_.clear();
    pcm_.shrink_to_fit();
    pendingPcm_.clear();
    pendingPcm_.shrink_to_fit();
    pendingFrameNo_ = -1;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    blockFrameNo_ = -1;
    return 1;
}

int32_t Mp3Source::ReadCallback(uint8_t* dst, int32_t* count, void* user) {
    auto* self = static_cast<Mp3Source*>(user);
    const int64_t asked = std::max<int32_t>(*count, 0);
    // Never past the audio: the ID3v1 record behind it is not MPEG data.
    const int64_t want = std::clamp<int64_t>(self->audioEnd_ - self->filePos_, 0, asked);
    ssize_t got = want > 0 ? ReadAt(self->fd_, dst, size_t(want), self->filePos_) : 0;
    if (got < 0) got = 0;
    self->filePos_ += got;
    self->maxReadEnd_ = std::max(self->maxReadEnd_, self->filePos_);
    *count = int32_t(got);
    return got == want ? 0 : -13;
}

void Mp3Source::ReportDecodeError() {
    // Once per run: a damaged file must not bury the user in boxes.
    if (!decodeErrorShown_.exchange(true)) SetError(strings::kMp3DecodeError);
}

bool Mp3Source::DecodeNext() {
    if (decoder_ == nullptr) return false;
    blockFrameNo_ = -1;
    const int64_t count = int64_t(frameIndex_.size());
    // A lost frame, or one whose main data lies before what the decoder holds,
    // keeps its time as silence so that positions stay true.
    auto hold = [&](int n, int channels) {
        n = std::clamp(n, 0, frameSamples_);
        blockChannels_ = n > 0 ? (channels == 1 ? 1 : 2) : channels_;
        std::fill(pcm_.begin() + ptrdiff_t(n) * blockChannels_, pcm_.end(), int16_t(0));
        blockFrames_ = frameSamples_;
        blockFrameNo_ = nextFrameNo_++;
        return true;
    };
    if (pendingFrameNo_ >= 0) {
        if (pendingFrameNo_ > nextFrameNo_) return hold(0, channels_);
        if (pendingFrameNo_ == nextFrameNo_) {
            pendingFrameNo_ = -1;
            pcm_.swap(pendingPcm_);
            return hold(pendingSamples_, pendingChannels_);
        }
        pendingFrameNo_ = -1;
    }
    for (;;) {
        MpegHeaderWord word = 0;
        MpegPcmBlock block{0, 0, pcm_.data()};
        const int32_t rc = mpegDecDecodeFrame(&word, &block, nullptr, decoder_);
        if (rc == kMpegDecOk && !decoderLocated_ && block.samplesPerChannel == 0) {
            decoderLocated_ = true;  // the locating call reads no frame
            continue;
        }
        decoderLocated_ = true;
        if (rc == kMpegDecOk || rc == kMpegDecBadSideInfo) {
            // Which indexed frame this was: the decoder searches past damage on its own, so
            // frames may have been skipped, and a false frame in the damage is no frame of ours.
            const int64_t at = inputBase_ + mpegDecFrameOffset(decoder_);
            const auto it = std::lower_bound(frameIndex_.begin(), frameIndex_.end(), at);
            if (it == frameIndex_.end() || *it != at) continue;
            const int64_t k = it - frameIndex_.begin();
            if (k < nextFrameNo_) continue;
            const int n = rc == kMpegDecOk ? block.samplesPerChannel : 0;
            if (k == nextFrameNo_) return hold(n, block.channels);
            ReportDecodeError();  // once per run: frames were lost to damage
            pcm_.swap(pendingPcm_);
            pendingFrameNo_ = k;
            pendingSamples_ = n;
            pendingChannels_ = block.channels;
            return hold(0, channels_);
        }
        if (rc == kMpegDecReadError) {
            ReportDecodeError();
            return false;
        }
        // The decoder gave up (or ran out of data) where the index still knows frames: go on
        // from the next one it knows, the one that failed kept as silence.
        if (nextFrameNo_ >= count) return false;
        if (rc != kMpegDecEndOfData && rc != kMpegDecNoFrameFound) ReportDecodeError();
        if (nextFrameNo_ + 1 < count) {
            filePos_ = frameIndex_[size_t(nextFrameNo_ + 1)];
            inputBase_ = filePos_;
            mpegDecReset(decoder_);
        }
        return hold(0, channels_);
    }
}

int64_t Mp3Source::WarmUpStart(int64_t frameNo) const {
    // The target frame's first samples overlap the granule before it, and the synthesis filter
    // remembers about as much: the frame before (two before for the one-granule MPEG-2 frames)
    // must decode whole. Its main data can begin up to 511 (255) bytes earlier, so start as many
    // frames back as hold that much main data.
    const bool mpeg1 = frameSamples_ == 1152;
    // Frames of another rate before this part would only disturb it.
    const int64_t partFirst = parts_[part_].firstFrame;
    const int64_t needed = std::max<int64_t>(frameNo - (mpeg1 ? 1 : 2), partFirst);
    const int64_t reach = mpeg1 ? 511 : 255;
    const int64_t overhead = 4 + 2 + mpeg::SideInfoBytes(mpeg1 ? 1 : 0, 2);  // at most
    int64_t start = needed;
    for (int64_t held = 0; start > partFirst && held < reach;) {
        --start;
        held += std::max<int64_t>(
            frameIndex_[size_t(start + 1)] - frameIndex_[size_t(start)] - overhead, 1);
    }
    return start;
}

void Mp3Source::PositionDecoder(int64_t frameNo) {
    const int64_t count = int64_t(frameIndex_.size());
    const int64_t k = std::clamp<int64_t>(frameNo, 0, count - 1);
    const int64_t start = WarmUpStart(k);
    filePos_ = frameIndex_[size_t(start)];
    inputBase_ = filePos_;
    pendingFrameNo_ = -1;
    mpegDecReset(decoder_);
    nextFrameNo_ = start;
    while (nextFrameNo_ < k && DecodeNext()) {
    }
    blockFrameNo_ = -1;
}

void Mp3Source::CopyFrames(uint8_t* dst, int64_t fromPos, int count) const {
    if (count <= 0) return;
    const int64_t first =
        fromPos + skip_ - (blockFrameNo_ - parts_[part_].firstFrame) * frameSamples_;
    auto* out = reinterpret_cast<int16_t*>(dst);
    const int16_t* in = pcm_.data() + size_t(first) * blockChannels_;
    if (blockChannels_ == channels_) {
        std::memcpy(out, in, size_t(count) * channels_ * sizeof(int16_t));
    } else if (channels_ == 1) {  // a stereo frame in a mono stream
        for (int i = 0; i < count; ++i) out[i] = int16_t((in[2 * i] + in[2 * i + 1]) / 2);
    } else {  // a mono frame in a stereo stream
        for (int i = 0; i < count; ++i) out[2 * i] = out[2 * i + 1] = in[i];
    }
}

bool Mp3Source::HoldFrame(int64_t frameNo) {
    if (blockFrameNo_ == frameNo) return true;
    if (frameNo >= int64_t(frameIndex_.size())) return false;
    if (nextFrameNo_ != frameNo) PositionDecoder(frameNo);
    return DecodeNext() && blockFrameNo_ == frameNo;
}

int Mp3Source::ReadFrames(void* buffer, int frames) {
    if (decoder_ == nullptr || frames <= 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    const int frameBytes = channels_ * 2;
    const int n = frames;
    const int64_t L = frameSamples_;
    const int64_t P = parts_[part_].firstFrame;
    int gathered = 0;

    if (GetState() != PlayState::Rewind) {
        while (gathered < n && readFrames_ < keep_) {
            if (!HoldFrame(P + (readFrames_ + skip_) / L)) break;
            const int64_t blockEnd =
                std::min((blockFrameNo_ - P) * L + blockFrames_ - skip_, keep_);
            const int c = int(std::min<int64_t>(n - gathered, blockEnd - readFrames_));
            if (c <= 0) break;
            CopyFrames(out + size_t(gathered) * frameBytes, readFrames_, c);
            gathered += c;
            readFrames_ += c;
        }
        if (gathered == 0 && readFrames_ >= keep_ && part_ + 1 < parts_.size() &&
            GetState() != PlayState::Stopped)
            partEnded_ = true;
        return gathered;
    }

    // Rewind: the positions before readFrames_, gathered backwards from the
    // buffer's end, each block in forward order.
    while (gathered < n && readFrames_ > 0) {
        if (!HoldFrame(P + (std::min(readFrames_, keep_) - 1 + skip_) / L)) break;
        const int64_t blockBegin = std::max<int64_t>((blockFrameNo_ - P) * L - skip_, 0);
        const int c = int(std::min<int64_t>(n - gathered, readFrames_ - blockBegin));
        if (c <= 0) break;
        readFrames_ -= c;
        CopyFrames(out + size_t(n - gathered - c) * frameBytes, readFrames_, c);
        gathered += c;
    }
    if (gathered < n)  // what was gathered sits at the end: the caller reads from the start
        std::memmove(out, out + size_t(n - gathered) * frameBytes, size_t(gathered) * frameBytes);
    return gathered;
}

uint32_t Mp3Source::SeekFrame(uint32_t frame) {
    blockFrameNo_ = -1;
    partEnded_ = false;  // stopped or moved: the next part is not due
    if (decoder_ == nullptr || frameIndex_.empty()) {
        readFrames_ = 0;
        return 0;
    }
    // Past the end there is nothing to decode: stop at the end.
    readFrames_ = std::min<int64_t>(frame, keep_);
    if (readFrames_ < keep_)
        PositionDecoder(parts_[part_].firstFrame + (readFrames_ + skip_) / frameSamples_);
    return uint32_t(std::min<int64_t>(readFrames_, UINT32_MAX));
}

bool Mp3Source::ContinuesInNewFormat() const {
    return partEnded_.load();
}

int Mp3Source::IsPlaying() {
    if (PcmSource::IsPlaying()) return 1;
    if (!partEnded_.exchange(false) || part_ + 1 >= parts_.size()) return 0;
    // The next part has another format: the device reopens for it as for a new item.
    const PlayState was = GetState() == PlayState::FastForward ? PlayState::FastForward : Playing;
    openPart_ = part_ + 1;
    if (!Open()) return 0;
    if (was == PlayState::FastForward)
        FastForward();
    else
        Play();
    return 1;
}

int32_t Mp3Source::GetPosition() {
    return ClampToInt32(PartStartMs(part_) + PcmSource::GetPosition());
}

void Mp3Source::Seek(int32_t positionMs) {
    size_t part = 0;
    while (part + 1 < parts_.size() && positionMs >= PartStartMs(part + 1)) ++part;
    if (part != part_ && decoder_ != nullptr) {
        const PlayState was = GetState();
        openPart_ = part;
        if (!Open()) return;
        PcmSource::Seek(int32_t(positionMs - PartStartMs(part)));
        if (was == Playing) Play();
        if (was == PlayState::FastForward) FastForward();
        if (was == PlayState::Rewind) Rewind();
        return;
    }
    PcmSource::Seek(int32_t(std::max<int64_t>(positionMs - PartStartMs(part_), 0)));
}

int64_t Mp3Source::FormatChangeAt() const {
    if (parts_.empty() || part_ + 1 >= parts_.size()) return -1;
    return keep_;
}

bool Mp3Source::NextPart() {
    if (decoder_ == nullptr || part_ + 1 >= parts_.size()) return false;
    EnterPart(part_ + 1);
    readFrames_ = 0;
    blockFrameNo_ = -1;
    partEnded_ = false;
    if (keep_ > 0) PositionDecoder(parts_[part_].firstFrame + skip_ / frameSamples_);
    return true;
}

void Mp3Source::Play() {
    PcmSource::Stop();
    decodeErrorShown_ = false;
    PcmSource::Play();
}

void Mp3Source::FastForward() {
    PcmSource::Stop();
    decodeErrorShown_ = false;
    PcmSource::FastForward();
}

void Mp3Source::Rewind() {
    PcmSource::Stop();
    decodeErrorShown_ = false;
    PcmSource::Rewind();
}

}  // namespace tunara
