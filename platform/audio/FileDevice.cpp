#include "platform/audio/FileDevice.h"

#include <cstring>

#include "platform/io/WavHeader.h"

namespace tunara::audio {

namespace {

void MakeHeader(const PcmFormat& f, uint64_t dataBytes, uint8_t* h) {
    io::MakeWavHeader({f.channels, f.sampleRate, f.bitsPerSample}, dataBytes, h);
}

}  // namespace

Status FileDevice::BackendOpen(const PcmFormat& format) {
    file_ = std::fopen(path_.c_str(), "wb");
    if (!file_) return Status::Error;
    uint8_t header[io::kWavHeaderBytes];
    MakeHeader(format, 0, header);
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
        std::fclose(file_);
        file_ = nullptr;
        return Status::Error;
    }
    dataBytes_ = 0;
    return Status::Ok;
}

long FileDevice::HandOut(const uint8_t* data, uint32_t frames) {
    size_t bytes = static_cast<size_t>(frames) * format_.blockAlign;
    if (std::fwrite(data, 1, bytes, file_) != bytes) return -1;
    dataBytes_ += bytes;
    return static_cast<long>(frames);
}

void FileDevice::BackendClose() {
    if (!file_) return;
    if (dataBytes_ & 1) std::fputc(0, file_);  // chunks are padded to even sizes
    // Past 4 GiB the header records the most whole frames a RIFF size can hold.
    uint8_t header[io::kWavHeaderBytes];
    MakeHeader(format_, dataBytes_, header);
    if (std::fseek(file_, 0, SEEK_SET) == 0) std::fwrite(header, 1, sizeof header, file_);
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace tunara::audio
