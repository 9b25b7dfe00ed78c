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

// The first confirmed frame at `from` or at most `limit` bytes later; -1 when none.
int64_t FindFrame(WindowReader& reader, int64_t from, int64_t limit, MpegHeaderWord* w) {
    int64_t pos = from;
    while (pos < reader.end() && pos - from <= limit) {
        const uint8_t* p = nullptr;
        const size_t n = reader.Span(pos, &p);
        if (n < 4) return -1;
        const bool complete = pos + int64_t(n) >= reader.end();
        int64_t search = complete ? int64_t(n) : int64_t(n) - kConfirmBytes;
        search = std::clamp<int64_t>(search, 0, limit - (pos - from));
        const int64_t at = mpegStreamFindFrame(p, n, 0, size_t(search), complete ? 1 : 0, w);
        if (at >= 0) return pos + at;
        if (complete) return -1;
        pos += search + 1;
    }
    return -1;
}

std::string FileTitle(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

int32_t ClampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace

Mp3Source::Mp3Source() = default;

Mp3Source::~Mp3Source() {
    // A feeder thread still reading this object must end before the decoder goes.
    LeaveChain();
    if (IsPlaying()) WaveOutEngine::Stop();
    CloseStream();
}

std::string Mp3Source::GetTitle() const {
    if (UseId3Title() && !tagTitle_.empty()) return tagTitle_;
    return FileTitle(location_);
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
    audioLocated_ = true;
    return true;
}

bool Mp3Source::QuickScan(int fd) {
    const int64_t audioBytes = std::max<int64_t>(audioEnd_ - audioBegin_, 0);
    std::vector<uint8_t> probe(size_t(std::min<int64_t>(kProbeBytes, audioBytes)));
    const ssize_t got = probe.empty() ? 0 : ReadAt(fd, probe.data(), probe.size(), audioBegin_);
    if (got < 4) return false;
    MpegHeaderWord w = 0;
    const int64_t at = mpegStreamFindFrame(probe.data(), size_t(got), 0, kJunkBytes,
                                           got == audioBytes ? 1 : 0, &w);
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
    TakeEncoderGap(summary);
    // At low bit rates the summary frame takes a higher rate than the audio to hold its block.
    if (summarised && !summary.variable) {
        const int64_t next = at + mpegHeaderFrameBytes(w);
        if (next + 4 <= got && mpegStreamFrameBytesAt(probe.data() + next, w) > 0)
            bitRate_ =
                mpegHeaderBitrate(mpegHeaderFromStream(mpeg::StreamBits(probe.data() + next), 0));
    }
    const int64_t bytes = std::max<int64_t>(audioEnd_ - firstAudio, 0);
    int64_t frames = bytes / std::max(mpegHeaderFrameBytes(w), 1);
    bool cut = false;
    if (summary.frames > 0) {
        frames = summary.frames;
        // A cut-off file keeps the summary of the whole stream; the bytes that are left
        // tell how much of it remains (the full scan on opening counts exactly).
        const int64_t summarisedBytes = summary.bytes - (firstAudio - (audioBegin_ + at));
        cut = summary.bytes > 0 && bytes + 2 * mpegHeaderFrameBytes(w) < summarisedBytes;
        if (cut)
            frames = std::max<int64_t>(
                1, int64_t(double(frames) * double(bytes) / double(summarisedBytes)));
    }
    const MpegStreamTrim trim =
        mpegStreamTrim(frames, frameSamples_, encoderDelay_, encoderPadding_);
    durationMs_ = ClampToInt32(trim.keep * 1000 / sampleRate_);
    if (summary.frames > 0 && summary.variable) {
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
        ReportError(strings::kMp3FailedToOpen, location_);
        return 0;
    }
    const bool ok = LocateAudio(fd) && QuickScan(fd);
    ::close(fd);
    title_ = GetTitle();
    if (!ok) {
        ReportError(strings::kMp3FailedToOpen, location_);
        return 0;
    }
    return 1;
}

bool Mp3Source::FullScan() {
    WindowReader reader(fd_, audioEnd_);
    MpegHeaderWord first = 0;
    int64_t offset = FindFrame(reader, audioBegin_, kJunkBytes, &first);
    if (offset < 0) return false;
    const int rate = mpegHeaderSampleRate(first);
    const int L = mpegHeaderSamplesPerFrame(first);

    const uint8_t* p = nullptr;
    size_t n = reader.Span(offset, &p);
    MpegStreamSummary summary;
    if (mpegStreamReadSummary(p, n, &summary)) offset += mpegHeaderFrameBytes(first);

    std::vector<int64_t> index;
    index.reserve(size_t(
        std::max<int64_t>(audioEnd_ - offset, 0) / std::max(mpegHeaderFrameBytes(first), 1) + 16));
    int lastRate = -1;
    bool variable = false;
    int64_t audioBytes = 0;
    // Every later frame must keep the first one's version and sampling rate;
    // where the chain breaks, the scan searches on for a confirmed frame, so
    // a damaged stretch costs only its own length.
    while (offset + 4 <= audioEnd_) {
        n = reader.Span(offset, &p);
        const int32_t len = n >= 4 ? mpegStreamFrameBytesAt(p, first) : 0;
        if (len <= 0) {
            MpegHeaderWord w = 0;
            const int64_t next = FindFrame(reader, offset + 1, audioEnd_, &w);
            if (next < 0) break;
            offset = next;
            continue;
        }
        const int bitrate = mpegHeaderBitrate(mpegHeaderFromStream(mpeg::StreamBits(p), 0));
        if (lastRate >= 0 && bitrate != lastRate) variable = true;
        lastRate = bitrate;
        index.push_back(offset);
        audioBytes += std::min<int64_t>(len, audioEnd_ - offset);
        offset += len;
    }
    if (index.empty()) return false;

    frameIndex_ = std::move(index);
    frameSamples_ = L;
    sampleRate_ = rate;
    channels_ = mpegHeaderChannels(first);
    bitsPerSample_ = 16;
    TakeEncoderGap(summary);
    const MpegStreamTrim trim =
        mpegStreamTrim(int64_t(frameIndex_.size()), L, encoderDelay_, encoderPadding_);
    skip_ = trim.skip;
    keep_ = trim.keep;
    durationMs_ = ClampToInt32(keep_ * 1000 / rate);
    const int64_t totalSamples = int64_t(frameIndex_.size()) * L;
    if (variable) {
        formatName_ = "MP3 VBR";
        // Audio bytes only: a large tag (cover art) must not inflate the average.
        bitRate_ = ClampToInt32(int64_t(rate) * audioBytes * 8 / totalSamples);
    } else {
        formatName_ = "MP3";
        bitRate_ = lastRate;
    }
    return true;
}

int Mp3Source::FailOpen() {
    ReportError(strings::kMp3FailedToOpen, location_);
    CloseStream();
    return 0;
}

int Mp3Source::OpenStream() {
    CloseStream();
    fd_ = io::OpenRegularFile(location_, O_RDONLY);
    if (fd_ < 0) return FailOpen();
    if (!audioLocated_ && !LocateAudio(fd_)) return FailOpen();
    if (frameIndex_.empty() && !FullScan()) return FailOpen();

    filePos_ = frameIndex_.front();
    maxReadEnd_ = filePos_;
    decoderLocated_ = false;
    nextFrameNo_ = 0;
    blockFrameNo_ = -1;
    if (mpegDecOpen(kDecoderOptions, kDecoderFlags, &Mp3Source::ReadCallback, this, &decoder_) !=
        kMpegDecOk) {
        decoder_ = nullptr;
        return FailOpen();
    }
    try {
        pcm_.assign(size_t(kMaxBlockFrames) * 2, 0);
    } catch (const std::bad_alloc&) {
        ReportError(strings::kFailedToAllocateMemory, location_);
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
    if (!decodeErrorShown_.exchange(true)) ReportError(strings::kMp3DecodeError, location_);
}

bool Mp3Source::DecodeNext() {
    if (decoder_ == nullptr) return false;
    blockFrameNo_ = -1;
    for (;;) {
        MpegHeaderWord word = 0;
        MpegPcmBlock block{0, 0, pcm_.data()};
        const int32_t rc = mpegDecDecodeFrame(&word, &block, nullptr, decoder_);
        if (rc == kMpegDecOk && !decoderLocated_ && block.samplesPerChannel == 0) {
            decoderLocated_ = true;  // the locating call reads no frame
            continue;
        }
        const bool lost =
            rc == kMpegDecBadSideInfo || (rc == kMpegDecNoFrameFound && decoderLocated_ &&
                                          nextFrameNo_ + 1 < int64_t(frameIndex_.size()));
        if (rc == kMpegDecNoFrameFound && lost) {
            // Damage longer than the decoder searches: go on where the scan found the
            // stream again.
            filePos_ = frameIndex_[size_t(nextFrameNo_ + 1)];
            mpegDecReset(decoder_);
        } else if (rc != kMpegDecOk && !lost) {
            if (rc != kMpegDecEndOfData) ReportDecodeError();
            return false;
        }
        decoderLocated_ = true;
        // A lost frame, or one whose main data lies before what the decoder
        // holds, keeps its time as silence so that positions stay true.
        const int n = rc == kMpegDecOk ? std::clamp(block.samplesPerChannel, 0, frameSamples_) : 0;
        blockChannels_ = n > 0 ? (block.channels == 1 ? 1 : 2) : channels_;
        std::fill(pcm_.begin() + ptrdiff_t(n) * blockChannels_, pcm_.end(), int16_t(0));
        blockFrames_ = frameSamples_;
        blockFrameNo_ = nextFrameNo_++;
        return true;
    }
}

int64_t Mp3Source::WarmUpStart(int64_t frameNo) const {
    // The target frame's first samples overlap the granule before it, and the synthesis filter
    // remembers about as much: the frame before (two before for the one-granule MPEG-2 frames)
    // must decode whole. Its main data can begin up to 511 (255) bytes earlier, so start as many
    // frames back as hold that much main data.
    const bool mpeg1 = frameSamples_ == 1152;
    const int64_t needed = std::max<int64_t>(frameNo - (mpeg1 ? 1 : 2), 0);
    const int64_t reach = mpeg1 ? 511 : 255;
    const int64_t overhead = 4 + 2 + mpeg::SideInfoBytes(mpeg1 ? 1 : 0, 2);  // at most
    int64_t start = needed;
    for (int64_t held = 0; start > 0 && held < reach;) {
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
    mpegDecReset(decoder_);
    nextFrameNo_ = start;
    while (nextFrameNo_ < k && DecodeNext()) {
    }
    blockFrameNo_ = -1;
}

void Mp3Source::CopyFrames(uint8_t* dst, int64_t fromPos, int count) const {
    if (count <= 0) return;
    const int64_t first = fromPos + skip_ - blockFrameNo_ * frameSamples_;
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
    int gathered = 0;

    if (GetState() != PlayState::Rewind) {
        while (gathered < n && readFrames_ < keep_) {
            if (!HoldFrame((readFrames_ + skip_) / L)) break;
            const int64_t blockEnd = std::min(blockFrameNo_ * L + blockFrames_ - skip_, keep_);
            const int c = int(std::min<int64_t>(n - gathered, blockEnd - readFrames_));
            if (c <= 0) break;
            CopyFrames(out + size_t(gathered) * frameBytes, readFrames_, c);
            gathered += c;
            readFrames_ += c;
        }
        return gathered;
    }

    // Rewind: the positions before readFrames_, gathered backwards from the
    // buffer's end, each block in forward order.
    while (gathered < n && readFrames_ > 0) {
        if (!HoldFrame((std::min(readFrames_, keep_) - 1 + skip_) / L)) break;
        const int64_t blockBegin = std::max<int64_t>(blockFrameNo_ * L - skip_, 0);
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
    if (decoder_ == nullptr || frameIndex_.empty()) {
        readFrames_ = 0;
        return 0;
    }
    // Past the end there is nothing to decode: stop at the end.
    readFrames_ = std::min<int64_t>(frame, keep_);
    if (readFrames_ < keep_) PositionDecoder((readFrames_ + skip_) / frameSamples_);
    return uint32_t(std::min<int64_t>(readFrames_, UINT32_MAX));
}

void Mp3Source::Play() {
    WaveOutEngine::Stop();
    decodeErrorShown_ = false;
    WaveOutEngine::Play();
}

void Mp3Source::FastForward() {
    WaveOutEngine::Stop();
    decodeErrorShown_ = false;
    WaveOutEngine::FastForward();
}

void Mp3Source::Rewind() {
    WaveOutEngine::Stop();
    decodeErrorShown_ = false;
    WaveOutEngine::Rewind();
}

}  // namespace tunara
