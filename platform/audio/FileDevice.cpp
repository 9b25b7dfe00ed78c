#include "platform/audio/FileDevice.h"

#include <cstring>

namespace tunara::audio {

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xffff);
    Put16(p + 2, v >> 16);
}

// 44-byte canonical header; the two sizes are filled in at close.
void MakeHeader(const PcmFormat& f, uint32_t dataBytes, uint8_t* h) {
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + dataBytes + (dataBytes & 1));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, f.channels);
    Put32(h + 24, f.sampleRate);
    Put32(h + 28, f.avgBytesPerSec);
    Put16(h + 32, f.blockAlign);
    Put16(h + 34, f.bitsPerSample);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

}  // namespace

Status FileDevice::BackendOpen(const PcmFormat& format) {
    file_ = std::fopen(path_.c_str(), "wb");
    if (!file_) return Status::Error;
    uint8_t header[44];
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
    // A RIFF chunk cannot describe more than 4 GiB; keep whole frames below it.
    uint64_t limit = 0xFFFFFFFFull - 36 - 1;
    uint32_t bytes = static_cast<uint32_t>(
        dataBytes_ <= limit ? dataBytes_ : limit - limit % format_.blockAlign);
    if (dataBytes_ & 1) std::fputc(0, file_);  // chunks are padded to even sizes
    uint8_t header[44];
    MakeHeader(format_, bytes, header);
    if (std::fseek(file_, 0, SEEK_SET) == 0) std::fwrite(header, 1, sizeof header, file_);
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace tunara::audio
