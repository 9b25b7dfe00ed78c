#include "sources/WavSource.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"

namespace tunara {
namespace {

// More of a "fmt " chunk than any known format uses; the rest is skipped.
constexpr uint32_t kMaxFormatBytes = 64 * 1024;

std::string FileTitle(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace

WavSource::WavSource() = default;

WavSource::~WavSource() {
    // A feeder thread still reading this object must end before the stream goes.
    LeaveChain();
    if (IsPlaying()) Stop();
    if (file_) CloseStream();
}

int WavSource::Invalid() {
    ReportError(strings::kWavNotValid, location_);
    file_.reset();
    formatRecord_.clear();
    return 0;
}

int WavSource::LoadInfo() {
    title_ = FileTitle(location_);
    if (!OpenStream()) return 0;
    const WaveFormatRecord f = DecodeWaveFormat(formatRecord_.data(), formatRecord_.size());
    bitRate_ = static_cast<int32_t>(std::min<int64_t>(
        int64_t{bitsPerSample_} * sampleRate_ * channels_, std::numeric_limits<int32_t>::max()));
    formatName_ = std::to_string(f.bitsPerSample) + " Bit PCM";
    const double seconds =
        static_cast<double>(DataBytes()) / (static_cast<double>(blockAlign_) * sampleRate_);
    durationMs_ = static_cast<int32_t>(
        std::min(seconds * 1000.0, static_cast<double>(std::numeric_limits<int32_t>::max())));
    return CloseStream() ? 1 : 0;
}

int WavSource::OpenStream() {
    if (file_) CloseStream();
    auto io = OpenRiffFileIo(location_, RiffOpenMode::Read);
    if (!io) {
        ReportError(strings::kWavFailedToOpen, location_);
        return 0;
    }
    file_ = std::make_unique<RiffFile>(std::move(io));
    writable_ = false;
    dataGrown_ = false;
    bytesWritten_ = 0;

    riff_ = {};
    riff_.formType = kWaveForm;
    if (file_->Descend(riff_, nullptr, RiffFind::Riff) != RiffStatus::Ok) return Invalid();
    RiffChunk fmt;
    fmt.id = kFmtId;
    if (file_->Descend(fmt, &riff_, RiffFind::Chunk) != RiffStatus::Ok) return Invalid();

    const int64_t fileSize = file_->FileSize();
    if (fmt.size < kWaveFormatMinimumChunk || fmt.EndOffset() > fileSize) return Invalid();
    const uint32_t copyBytes = std::min(fmt.size, kMaxFormatBytes);
    try {
        formatRecord_.assign(std::max<size_t>(copyBytes, kWaveFormatRecordBytes), 0);
    } catch (const std::bad_alloc&) {
        file_.reset();
        ReportError(strings::kFailedToAllocateMemory, location_);
        return 0;
    }
    if (file_->Read(formatRecord_.data(), copyBytes) != copyBytes) return Invalid();

    // Only integer PCM plays: anything else would come out as noise.
    const WaveFormatRecord f = DecodeWaveFormat(formatRecord_.data(), formatRecord_.size());
    const int bits = PlayableBitsPerSample(f);
    if (!IsIntegerPcm(formatRecord_.data(), copyBytes) || bits == 0) return Invalid();

    if (file_->Ascend(fmt) != RiffStatus::Ok) return Invalid();
    data_ = {};
    data_.id = kDataId;
    if (file_->Descend(data_, &riff_, RiffFind::Chunk) != RiffStatus::Ok) return Invalid();

    blockAlign_ = f.blockAlign;
    dataStart_ = data_.dataOffset;
    // A size field beyond the end of the file (a cut-off copy, a recorder that
    // never came back to write it) counts only the bytes that are there.
    dataEnd_ = std::clamp<int64_t>(fileSize, dataStart_, data_.EndOffset());
    readOffset_ = dataStart_;
    sampleRate_ = static_cast<int32_t>(std::min<uint32_t>(f.sampleRate, INT32_MAX));
    channels_ = f.channels;
    bitsPerSample_ = bits;
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
        ReportError(strings::kWavNotValid, location_);
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
    const int64_t got = file_->Read(buffer, count * b);
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
        ReportError(strings::kWavFailedToOpen, location_);
        return false;
    }
    file_ = std::make_unique<RiffFile>(std::move(io));
    writable_ = true;
    return true;
}

int WavSource::WriteFrames(const void* buffer, int frames) {
    if (!file_ || frames <= 0 || blockAlign_ <= 0) return 0;
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
