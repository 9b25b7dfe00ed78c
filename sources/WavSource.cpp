#include "sources/WavSource.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "metadata/TextCodec.h"
#include "platform/io/Paths.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/SourceSettings.h"

namespace tunara {
namespace {

// More of a "fmt " chunk than any known format uses; the rest is skipped.
constexpr uint32_t kMaxFormatBytes = 64 * 1024;
// More of an INFO text than a title needs.
constexpr uint32_t kMaxInfoText = 4096;

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// Left and right gain of each speaker of the extensible mask, bit by bit.
constexpr float kHalf = 0.5f;
constexpr float kSide = 0.70710678f;
constexpr float kSpeakerGains[18][2] = {
    {1, 0},         {0, 1},         {kSide, kSide}, {0, 0},          // FL FR FC LFE
    {kSide, 0},     {0, kSide},     {1, 0},         {0, 1},          // BL BR FLC FRC
    {kHalf, kHalf}, {kSide, 0},     {0, kSide},     {kHalf, kHalf},  // BC SL SR TC
    {kSide, 0},     {kHalf, kHalf}, {0, kSide},                      // TFL TFC TFR
    {kSide, 0},     {kHalf, kHalf}, {0, kSide},                      // TBL TBC TBR
};

// The speakers of a file without a usable mask, by channel count (3 to 8).
uint32_t DefaultMask(int channels) {
    switch (channels) {
        case 3:
            return 0x7;  // front left, right, centre
        case 4:
            return 0x33;  // quad
        case 5:
            return 0x37;  // 5.0
        case 6:
            return 0x3F;  // 5.1
        case 7:
            return 0x70F;  // 6.1
        case 8:
            return 0x63F;  // 7.1
        default:
            return 0;
    }
}

std::string TrimText(std::string text) {
    while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text::Utf8OrLatin1(text);
}

}  // namespace

WavSource::WavSource(OutputEngine& engine) : PcmSource(engine) {}

WavSource::~WavSource() {
    // A feeder thread still reading this object must end before the stream goes.
    LeaveEngine();
    if (IsPlaying()) Stop();
    if (file_) CloseStream();
}

int WavSource::Invalid() {
    SetError(strings::kWavNotValid);
    file_.reset();
    formatRecord_.clear();
    return 0;
}

std::string WavSource::GetTitle() const {
    if (UseId3Title() && !tagTitle_.empty()) return tagTitle_;
    return title_;
}

int WavSource::LoadInfo() {
    title_ = io::FileTitle(location_);
    tagTitle_.clear();
    if (!OpenStream()) return 0;
    const WaveFormatRecord f = DecodeWaveFormat(formatRecord_.data(), formatRecord_.size());
    bitRate_ = static_cast<int32_t>(std::min<int64_t>(
        int64_t{inBytes_} * 8 * f.sampleRate * f.channels, std::numeric_limits<int32_t>::max()));
    formatName_ = std::to_string(f.bitsPerSample ? f.bitsPerSample : inBytes_ * 8) +
                  (floatIn_ ? " Bit Float" : " Bit PCM");
    if (inChannels_ > 2)
        formatName_ += ", " + std::to_string(inChannels_) + " channels mixed to stereo";
    const double seconds =
        static_cast<double>(DataBytes()) / (static_cast<double>(blockAlign_) * sampleRate_);
    durationMs_ = static_cast<int32_t>(
        std::min(seconds * 1000.0, static_cast<double>(std::numeric_limits<int32_t>::max())));
    ReadInfoTags();
    return CloseStream() ? 1 : 0;
}

void WavSource::ReadInfoTags() {
    artist_.clear();
    album_.clear();
    category_.clear();
    const RiffChunk* parent = riff_.id == kRiffId && riff_.size >= 4 ? &riff_ : nullptr;
    RiffChunk list;
    list.formType = MakeFourCC("INFO");
    if (file_->Seek(riff_.dataOffset + 4, SEEK_SET) != riff_.dataOffset + 4 ||
        file_->Descend(list, parent, RiffFind::List) != RiffStatus::Ok) {
        return;
    }
    for (int count = 0; count < 256; ++count) {
        RiffChunk item;
        if (file_->Descend(item, &list, RiffFind::Here) != RiffStatus::Ok) break;
        std::string* field = item.id == MakeFourCC("INAM")   ? &tagTitle_
                             : item.id == MakeFourCC("IART") ? &artist_
                             : item.id == MakeFourCC("IPRD") ? &album_
                             : item.id == MakeFourCC("IGNR") ? &category_
                                                             : nullptr;
        if (field) {
            std::string text(std::min(item.size, kMaxInfoText), '\0');
            const int64_t got = file_->Read(text.data(), static_cast<int64_t>(text.size()));
            text.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
            *field = TrimText(std::move(text));
        }
        if (file_->Ascend(item) != RiffStatus::Ok) break;
    }
}

bool WavSource::SetUpConversion(const WaveFormatRecord& f, bool isFloat, int containerBits) {
    floatIn_ = isFloat;
    inBytes_ = containerBits / 8;
    inChannels_ = f.channels;
    convert_ = isFloat || f.channels > 2;
    mix_.clear();
    if (f.channels <= 2) {
        for (int c = 0; c < f.channels; ++c) {
            mix_.push_back(f.channels == 1 || c == 0 ? 1.0f : 0.0f);
            mix_.push_back(f.channels == 1 || c == 1 ? 1.0f : 0.0f);
        }
        return true;
    }
    // The mask names the speakers in channel order; without a mask that fits,
    // the usual layout for the channel count.
    uint32_t mask = WaveChannelMask(formatRecord_.data(), formatRecord_.size()) & 0x3FFFF;
    if (__builtin_popcount(mask) != f.channels) mask = DefaultMask(f.channels);
    if (mask == 0) return false;
    float sum[2] = {0, 0};
    for (int bit = 0; bit < 18; ++bit) {
        if (!(mask & (1u << bit))) continue;
        for (int side = 0; side < 2; ++side) {
            mix_.push_back(kSpeakerGains[bit][side]);
            sum[side] += kSpeakerGains[bit][side];
        }
    }
    // Full scale in every channel must not clip.
    for (size_t i = 0; i < mix_.size(); ++i) mix_[i] /= std::max(1.0f, sum[i & 1]);
    return true;
}

void WavSource::Convert(const uint8_t* in, uint8_t* out, int64_t frames) const {
    const int outChannels = channels_;
    const int outBytes = bitsPerSample_ / 8;
    const double outScale = static_cast<double>(int64_t{1} << (outBytes * 8 - 1));
    for (int64_t i = 0; i < frames; ++i) {
        double mixed[2] = {0, 0};
        for (int c = 0; c < inChannels_; ++c) {
            const uint8_t* p = in + c * inBytes_;
            double v = 0;
            if (floatIn_ && inBytes_ == 4) {
                float x;
                std::memcpy(&x, p, 4);
                v = x;
            } else if (floatIn_) {
                std::memcpy(&v, p, 8);
            } else if (inBytes_ == 1) {
                v = (p[0] - 128) / 128.0;
            } else {
                uint32_t u = 0;
                for (int b = inBytes_ - 1; b >= 0; --b) u = u << 8 | p[b];
                u <<= 32 - inBytes_ * 8;  // the sample's sign in the top bit
                v = static_cast<int32_t>(u) / 2147483648.0;
            }
            if (!std::isfinite(v)) v = 0;
            mixed[0] += v * mix_[2 * c];
            mixed[1] += v * mix_[2 * c + 1];
        }
        in += blockAlign_;
        for (int c = 0; c < outChannels; ++c) {
            const double top = outScale - 1;
            const double scaled = std::clamp(std::nearbyint(mixed[c] * outScale), -outScale, top);
            const int64_t s = static_cast<int64_t>(scaled);
            if (outBytes == 1) {
                *out++ = static_cast<uint8_t>(s + 128);
                continue;
            }
            for (int b = 0; b < outBytes; ++b)
                *out++ = static_cast<uint8_t>(static_cast<uint64_t>(s) >> (8 * b));
        }
    }
}

int WavSource::OpenStream() {
    if (file_) CloseStream();
    auto io = OpenRiffFileIo(location_, RiffOpenMode::Read);
    if (!io) {
        SetError(strings::kWavFailedToOpen, errno);
        return 0;
    }
    file_ = std::make_unique<RiffFile>(std::move(io));
    writable_ = false;
    dataGrown_ = false;
    bytesWritten_ = 0;
    const int64_t fileSize = file_->FileSize();

    // Nothing is walked before the file proves to be a WAVE form: any other
    // large file would be searched eight bytes at a time.
    uint8_t head[12];
    if (file_->Read(head, 12) != 12 || !LooksLikeWave(head, 12)) return Invalid();
    riff_ = {};
    riff_.id = head[0] == 'R' && head[1] == 'I' ? kRiffId : kRf64Id;
    riff_.size = static_cast<uint32_t>(head[4] | head[5] << 8 | head[6] << 16) |
                 static_cast<uint32_t>(head[7]) << 24;
    riff_.formType = kWaveForm;
    riff_.dataOffset = 8;
    // Streaming writers leave the RIFF size 0 (or all ones, as RF64 does):
    // then the chunks run to the end of the file.
    const RiffChunk* parent = riff_.id == kRiffId && riff_.size >= 4 ? &riff_ : nullptr;

    int64_t ds64DataBytes = -1;
    if (riff_.id == kRf64Id) {
        RiffChunk ds64;
        uint8_t sizes[16];
        if (file_->Descend(ds64, nullptr, RiffFind::Here) == RiffStatus::Ok && ds64.id == kDs64Id &&
            ds64.size >= 16 && file_->Read(sizes, 16) == 16) {
            ds64DataBytes =
                static_cast<int64_t>(std::min<uint64_t>(Le64(sizes + 8), INT64_MAX / 2));
        }
        file_->Seek(12, SEEK_SET);
    }

    RiffChunk fmt;
    fmt.id = kFmtId;
    if (file_->Descend(fmt, parent, RiffFind::Chunk) != RiffStatus::Ok) {
        // A RIFF size too small for its chunks counts as missing.
        if (!parent) return Invalid();
        parent = nullptr;
        if (file_->Descend(fmt, parent, RiffFind::Chunk) != RiffStatus::Ok) return Invalid();
    }

    if (fmt.size < kWaveFormatMinimumChunk || fmt.EndOffset() > fileSize) return Invalid();
    const uint32_t copyBytes = std::min(fmt.size, kMaxFormatBytes);
    try {
        formatRecord_.assign(std::max<size_t>(copyBytes, kWaveFormatRecordBytes), 0);
    } catch (const std::bad_alloc&) {
        file_.reset();
        SetError(strings::kFailedToAllocateMemory, ENOMEM);
        return 0;
    }
    if (file_->Read(formatRecord_.data(), copyBytes) != copyBytes) return Invalid();

    // Only PCM plays here: other codings would come out as noise.
    const WaveFormatRecord f = DecodeWaveFormat(formatRecord_.data(), formatRecord_.size());
    const bool isFloat = IsFloatPcm(formatRecord_.data(), copyBytes);
    const int bits = isFloat                                         ? PlayableFloatBits(f)
                     : IsIntegerPcm(formatRecord_.data(), copyBytes) ? PlayableBitsPerSample(f)
                                                                     : 0;
    if (bits == 0 || !SetUpConversion(f, isFloat, bits)) return Invalid();

    if (file_->Ascend(fmt) != RiffStatus::Ok) return Invalid();
    data_ = {};
    data_.id = kDataId;
    if (file_->Descend(data_, parent, RiffFind::Chunk) != RiffStatus::Ok) {
        if (!parent) return Invalid();
        if (file_->Descend(data_, nullptr, RiffFind::Chunk) != RiffStatus::Ok) return Invalid();
    }

    blockAlign_ = f.blockAlign;
    dataStart_ = data_.dataOffset;
    int64_t dataEnd = data_.EndOffset();
    // A size field of 0 or all ones is a writer that never came back to fill
    // it in (or RF64, whose real size is in "ds64"): the data runs to the end.
    if (data_.size == 0 || data_.size == 0xFFFFFFFFu) {
        dataEnd = ds64DataBytes >= 0 && data_.size != 0 ? dataStart_ + ds64DataBytes : fileSize;
    }
    // A size field beyond the end of the file (a cut-off copy, a recorder that
    // never came back to write it) counts only the bytes that are there.
    dataEnd_ = std::clamp<int64_t>(fileSize, dataStart_, std::max(dataEnd, dataStart_));
    readOffset_ = dataStart_;
    sampleRate_ = static_cast<int32_t>(std::min<uint32_t>(f.sampleRate, INT32_MAX));
    channels_ = std::min<int>(f.channels, 2);
    bitsPerSample_ = isFloat ? 32 : bits;
    return 1;
}

int WavSource::CloseStream() {
    if (!file_) return 1;
    bool ok = true;
    if (dataGrown_) {
        // The data chunk ends the file: its size, its pad byte and the RIFF size
        // follow what WriteFrames appended.
        data_.size = static_cast<uint32_t>(dataEnd_ - dataStart_);
        int64_t fileEnd = dataEnd_;
        if (data_.size & 1) {
            const uint8_t pad = 0;
            ok = file_->Seek(dataEnd_, SEEK_SET) == dataEnd_ && file_->Write(&pad, 1) == 1;
            ++fileEnd;
        }
        riff_.size = static_cast<uint32_t>(fileEnd - riff_.dataOffset);
        ok = ok && file_->WriteChunkSize(data_) == RiffStatus::Ok &&
             file_->WriteChunkSize(riff_) == RiffStatus::Ok;
        dataGrown_ = false;
    }
    ok = file_->Close() && ok;
    file_.reset();
    formatRecord_.clear();
    if (!ok) {
        SetError(strings::kWavNotValid);
        return 0;
    }
    return 1;
}

int WavSource::ReadFrames(void* buffer, int frames) {
    if (!file_ || frames <= 0 || blockAlign_ <= 0) return 0;
    const int64_t b = blockAlign_;
    int64_t count = frames;
    int64_t from = readOffset_;
    const bool backward = GetState() == PlayState::Rewind;
    if (backward) {
        count = std::min(count, (readOffset_ - dataStart_) / b);
        from = readOffset_ - count * b;
    } else {
        count = std::min(count, (dataEnd_ - readOffset_) / b);
    }
    if (count <= 0) return 0;
    if (file_->Seek(from, SEEK_SET) != from) return 0;
    int64_t got = 0;
    if (convert_) {
        try {
            raw_.resize(static_cast<size_t>(count * b));
        } catch (const std::bad_alloc&) {
            return 0;
        }
        got = file_->Read(raw_.data(), count * b);
        if (got > 0) Convert(raw_.data(), static_cast<uint8_t*>(buffer), got / b);
    } else {
        got = file_->Read(buffer, count * b);
    }
    if (got <= 0) return 0;
    const int64_t whole = got / b;
    // Rewind leaves the position at the start of the block it delivered, so
    // the next call takes the block before it.
    readOffset_ = backward ? from : from + whole * b;
    return static_cast<int>(whole);
}

bool WavSource::MakeWritable() {
    if (writable_) return true;
    auto io = OpenRiffFileIo(location_, RiffOpenMode::ReadWrite);
    if (!io) {
        SetError(strings::kWavFailedToOpen, errno);
        return false;
    }
    file_ = std::make_unique<RiffFile>(std::move(io));
    writable_ = true;
    return true;
}

int WavSource::WriteFrames(const void* buffer, int frames) {
    // Converted frames are not the file's own: writing them back would corrupt it.
    if (!file_ || frames <= 0 || blockAlign_ <= 0 || convert_) return 0;
    if (!MakeWritable()) return 0;
    const int64_t b = blockAlign_;
    const int64_t fileSize = file_->FileSize();
    // Frames may run on past the data chunk only when nothing follows it;
    // otherwise they would overwrite the chunks behind it.
    const bool dataEndsFile = data_.EndOffset() + (data_.size & 1) >= fileSize;
    int64_t limit =
        dataEndsFile ? std::numeric_limits<uint32_t>::max() - 1 + riff_.dataOffset : dataEnd_;
    limit = std::max(limit, readOffset_);
    const int64_t count = std::min<int64_t>(frames, (limit - readOffset_) / b);
    if (count <= 0) return 0;
    if (file_->Seek(readOffset_, SEEK_SET) != readOffset_) return 0;
    const int64_t put = file_->Write(buffer, count * b);
    if (put <= 0) return 0;
    bytesWritten_ += static_cast<uint64_t>(put);
    readOffset_ += put / b * b;
    if (readOffset_ > dataEnd_) {
        dataEnd_ = readOffset_;
        dataGrown_ = true;
    }
    return static_cast<int>(put / b);
}

uint32_t WavSource::SeekFrame(uint32_t frame) {
    if (blockAlign_ <= 0) return 0;
    const int64_t frames = DataBytes() / blockAlign_;
    const int64_t reached = std::min<int64_t>(frame, frames);
    readOffset_ = dataStart_ + reached * blockAlign_;
    return static_cast<uint32_t>(reached);
}

}  // namespace tunara
