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
constexpr int kFramesBeforeSeekTarget = 3;  // rebuild the bit reservoir

struct Header {
    bool mpeg1 = true;
    int sampleRate = 0;  // Hz, halved for MPEG-2
    int channels = 0;
    int kbps = 0;
    bool padding = false;
};

// Sync, MPEG-1 or -2 and Layer III; the rest is decoded without judgement.
bool IsLayer3Header(const uint8_t b[4]) {
    return mpeg::IsLayer3Sync(b);
}

int KbpsOf(const uint8_t b[4]) {
    const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(b), 0);
    return mpegHeaderBitrate(w) / 1000;
}

// The full header test: also a sampling-rate index that is not reserved.
bool ParseHeader(const uint8_t b[4], Header& h) {
    if (!IsLayer3Header(b)) return false;
    const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(b), 0);
    if (mpegHeaderRateIndex(w) == 3) return false;
    h.mpeg1 = mpegHeaderId(w) == 1;
    h.sampleRate = mpegHeaderSampleRate(w);
    h.channels = mpegHeaderChannels(w);
    h.kbps = mpegHeaderBitrate(w) / 1000;
    h.padding = mpegHeaderPadding(w) != 0;
    return true;
}

int FrameBytes(int kbps, int sampleRate, bool padding) {
    return kbps * (sampleRate >= 32000 ? 144000 : 72000) / sampleRate + (padding ? 1 : 0);
}

using io::ReadAt;

// Sequential reads of small pieces through one large window, so that the
// frame scan costs a system call per window rather than per frame.
class WindowReader {
public:
    explicit WindowReader(int fd) : fd_(fd), window_(kWindowBytes) {}
    bool Read4(int64_t offset, uint8_t out[4]) {
        if (offset < start_ || offset + 4 > start_ + valid_) {
            const ssize_t n = ReadAt(fd_, window_.data(), window_.size(), offset);
            start_ = offset;
            valid_ = n > 0 ? n : 0;
            if (valid_ < 4) return false;
        }
        std::memcpy(out, window_.data() + (offset - start_), 4);
        return true;
    }

private:
    static constexpr size_t kWindowBytes = 256 * 1024;
    int fd_;
    std::vector<uint8_t> window_;
    int64_t start_ = 0;
    int64_t valid_ = 0;
};

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
    }
    audioLocated_ = true;
    return true;
}

bool Mp3Source::QuickScan(int fd) {
    uint8_t first[MPEG_STREAM_SUMMARY_PROBE_BYTES] = {};
    Header h;
    const ssize_t got = ReadAt(fd, first, sizeof first, audioBegin_);
    if (got < 4 || !ParseHeader(first, h) || h.kbps == 0) return false;
    frameSamples_ = h.mpeg1 ? 1152 : 576;
    sampleRate_ = h.sampleRate;
    channels_ = h.channels;
    bitRate_ = h.kbps * 1000;
    bitsPerSample_ = 16;
    formatName_ = "MP3";

    const int64_t g = FrameBytes(h.kbps, h.sampleRate, h.padding);
    const double f = double(bitRate_) / h.sampleRate * (h.sampleRate >= 32000 ? 144 : 72);
    const int64_t audioBytes = std::max<int64_t>(audioEnd_ - audioBegin_, 0);
    const double frames = audioBytes % g == 0 ? double(audioBytes / g) : double(audioBytes) / f;
    durationMs_ = ClampToInt32(int64_t(frames * frameSamples_ / h.sampleRate * 1000.0));

    // The first frame's header says nothing about the rest of a VBR stream;
    // an encoder's summary in that frame does, and costs no extra read.
    MpegStreamSummary summary;
    mpegStreamReadSummary(first, size_t(got), &summary);
    if (summary.frames > 0) {
        const int64_t samples = int64_t(summary.frames) * frameSamples_;
        durationMs_ = ClampToInt32(samples * 1000 / h.sampleRate);
        if (summary.variable) {
            formatName_ = "MP3 VBR";
            const int64_t bytes = summary.bytes > 0 ? summary.bytes : audioBytes;
            bitRate_ = ClampToInt32(bytes * 8 * h.sampleRate / samples);
        }
    }
    return true;
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
    WindowReader reader(fd_);
    uint8_t b[4];
    Header first;
    if (!reader.Read4(audioBegin_, b) || !ParseHeader(b, first)) return false;
    const int rate = first.sampleRate;
    const int L = first.mpeg1 ? 1152 : 576;

    std::vector<int64_t> index;
    if (first.kbps > 0)
        index.reserve(size_t(std::max<int64_t>(audioEnd_ - audioBegin_, 0) /
                                 FrameBytes(first.kbps, rate, false) +
                             16));
    int64_t offset = audioBegin_;
    int64_t totalSamples = 0;
    int lastKbps = -1;
    bool variable = false;
    // Later headers are only checked for sync and layer; the first one's
    // sampling rate sizes every frame.
    while (offset < audioEnd_ && IsLayer3Header(b)) {
        const int kbps = KbpsOf(b);
        if (kbps == 0) break;
        if (lastKbps >= 0 && kbps != lastKbps) variable = true;
        lastKbps = kbps;
        totalSamples += L;
        index.push_back(offset);
        offset += FrameBytes(kbps, rate, (b[2] & 0x02) != 0);
        if (offset >= audioEnd_ || !reader.Read4(offset, b)) break;
    }
    if (index.empty()) return false;

    frameIndex_ = std::move(index);
    frameSamples_ = L;
    sampleRate_ = rate;
    channels_ = first.channels;
    bitsPerSample_ = 16;
    durationMs_ = ClampToInt32(totalSamples * 1000 / rate);
    if (variable) {
        formatName_ = "MP3 VBR";
        // Audio bytes only: a large tag (cover art) must not inflate the average.
        const int64_t audioBytes = std::min(offset, audioEnd_) - audioBegin_;
        bitRate_ = ClampToInt32(int64_t(rate) * audioBytes * 8 / totalSamples);
    } else {
        formatName_ = "MP3";
        bitRate_ = lastKbps * 1000;
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

    filePos_ = audioBegin_;
    maxReadEnd_ = audioBegin_;
    decoderLocated_ = false;
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
    remaining_ = 0;
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
    remaining_ = 0;
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
    MpegHeaderWord word = 0;
    MpegPcmBlock block{0, 0, pcm_.data()};
    const int32_t rc = mpegDecDecodeFrame(&word, &block, nullptr, decoder_);
    if (rc == kMpegDecOk) {
        decoderLocated_ = true;
        blockChannels_ = block.channels == 1 ? 1 : 2;
        blockFrames_ = std::clamp(block.samplesPerChannel, 0, kMaxBlockFrames);
        remaining_ = blockFrames_;
        blockDecoded_ = true;
        return true;
    }
    remaining_ = 0;
    if (rc != kMpegDecEndOfData) ReportDecodeError();
    return false;
}

void Mp3Source::DiscardFrame() {
    MpegHeaderWord word = 0;
    MpegPcmBlock block{0, 0, pcm_.data()};
    if (mpegDecDecodeFrame(&word, &block, nullptr, decoder_) == kMpegDecOk) decoderLocated_ = true;
}

void Mp3Source::CopyFrames(uint8_t* dst, int firstFrame, int count) const {
    if (count <= 0) return;
    auto* out = reinterpret_cast<int16_t*>(dst);
    const int16_t* in = pcm_.data() + size_t(firstFrame) * blockChannels_;
    if (blockChannels_ == channels_) {
        std::memcpy(out, in, size_t(count) * channels_ * sizeof(int16_t));
    } else if (channels_ == 1) {  // a stereo frame in a mono stream
        for (int i = 0; i < count; ++i) out[i] = int16_t((in[2 * i] + in[2 * i + 1]) / 2);
    } else {  // a mono frame in a stereo stream
        for (int i = 0; i < count; ++i) out[2 * i] = out[2 * i + 1] = in[i];
    }
}

int Mp3Source::ReadFrames(void* buffer, int frames) {
    if (decoder_ == nullptr || frames <= 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    const int frameBytes = channels_ * 2;
    const int n = frames;
    int gathered = 0;

    if (GetState() != PlayState::Rewind) {
        // The undelivered frames of the block are its last `remaining_`.
        while (gathered < n) {
            const int want = n - gathered;
            if (want < remaining_) {
                CopyFrames(out + size_t(gathered) * frameBytes, blockFrames_ - remaining_, want);
                remaining_ -= want;
                gathered = n;
                break;
            }
            CopyFrames(out + size_t(gathered) * frameBytes, blockFrames_ - remaining_, remaining_);
            gathered += remaining_;
            remaining_ = 0;
            if (!DecodeNext()) break;
        }
        readFrames_ += gathered;
        return gathered;
    }

    // Rewind: the buffer fills from its end; the undelivered frames of the
    // block are its first `remaining_`, and readFrames_ + remaining_ is
    // always the end of the block, in frames from the start. Right after a
    // seek no block is held: the one to decode is the frame before the
    // position, not the one before that.
    while (gathered < n) {
        const int m = n - gathered;
        if (m < remaining_) {
            CopyFrames(out, remaining_ - m, m);
            remaining_ -= m;
            readFrames_ += m;
            gathered = n;
            break;
        }
        CopyFrames(out + size_t(m - remaining_) * frameBytes, 0, remaining_);
        gathered += remaining_;
        readFrames_ += remaining_;
        remaining_ = 0;
        const int64_t back = int64_t(blockDecoded_ ? 2 : 1) * frameSamples_;
        if (readFrames_ < back) {
            SeekFrame(0);
            break;
        }
        SeekFrame(uint32_t(std::min<int64_t>(readFrames_ - back, UINT32_MAX)));
        if (!DecodeNext()) break;
    }
    if (gathered < n)  // what was gathered sits at the end: the caller reads from the start
        std::memmove(out, out + size_t(n - gathered) * frameBytes, size_t(gathered) * frameBytes);
    return gathered;
}

uint32_t Mp3Source::SeekFrame(uint32_t frame) {
    remaining_ = 0;
    blockDecoded_ = false;
    if (decoder_ == nullptr || frameIndex_.empty()) {
        readFrames_ = 0;
        return 0;
    }
    // Past the end there is nothing to decode: stop at the end.
    const int64_t count = int64_t(frameIndex_.size());
    const int64_t k = std::min<int64_t>(frame / uint32_t(frameSamples_), count);
    const int64_t start = std::clamp<int64_t>(k - kFramesBeforeSeekTarget, 0, count - 1);
    filePos_ = frameIndex_[size_t(start)];
    mpegDecReset(decoder_);
    // A decoder that has not located its first frame yet spends one call on it.
    if (!decoderLocated_) DiscardFrame();
    for (int64_t i = start; i < k; ++i) DiscardFrame();
    readFrames_ = k * frameSamples_;
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
