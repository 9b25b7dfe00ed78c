#include "platform/audio/FileDevice.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/io/WavHeader.h"

namespace tunara::audio {

namespace {

void MakeHeader(const PcmFormat& f, uint64_t dataBytes, uint8_t* h) {
    io::MakeWavHeader({f.channels, f.sampleRate, f.bitsPerSample}, dataBytes, h);
}

// What a Continue device left in its file, per path, for the next open in
// the same process (devices are made per open).
struct Continuation {
    PcmFormat format;
    uint64_t dataBytes = 0;
    int counter = 1;  // 1: the path itself, n: "NAME-n.wav"
};

std::mutex g_continuationMutex;
std::map<std::string, Continuation>& Continuations() {
    static std::map<std::string, Continuation> map;
    return map;
}

bool SameFormat(const PcmFormat& a, const PcmFormat& b) {
    return a.channels == b.channels && a.sampleRate == b.sampleRate &&
           a.bitsPerSample == b.bitsPerSample;
}

std::string Numbered(const std::string& path, int counter) {
    if (counter <= 1) return path;
    const auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return path.substr(0, dot) + "-" + std::to_string(counter) + path.substr(dot);
}

}  // namespace

bool FileDevice::OpenFile(const PcmFormat& format) {
    openPath_ = path_;
    dataBytes_ = 0;
    if (mode_ == Mode::Continue) {
        std::lock_guard lock(g_continuationMutex);
        auto& all = Continuations();
        auto it = all.find(path_);
        if (it != all.end()) {
            Continuation& c = it->second;
            if (SameFormat(c.format, format)) {
                openPath_ = Numbered(path_, c.counter);
                file_ = std::fopen(openPath_.c_str(), "r+b");
                // Appending goes over the pad byte an odd data size left.
                if (file_ &&
                    std::fseek(file_, long(io::kWavHeaderBytes + c.dataBytes), SEEK_SET) == 0) {
                    dataBytes_ = c.dataBytes;
                    return true;
                }
                if (file_) std::fclose(file_);
                file_ = nullptr;
            }
            ++c.counter;
            c.format = format;
            c.dataBytes = 0;
            openPath_ = Numbered(path_, c.counter);
        } else {
            all[path_] = Continuation{format, 0, 1};
        }
    }
    file_ = std::fopen(openPath_.c_str(), "wb");
    if (!file_) return false;
    uint8_t header[io::kWavHeaderBytes];
    MakeHeader(format, 0, header);
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

Status FileDevice::BackendOpen(const PcmFormat& format) {
    return OpenFile(format) ? Status::Ok : Status::Error;
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
    if (mode_ == Mode::Continue) {
        std::lock_guard lock(g_continuationMutex);
        auto it = Continuations().find(path_);
        if (it != Continuations().end() && SameFormat(it->second.format, format_))
            it->second.dataBytes = dataBytes_;
    }
}

}  // namespace tunara::audio
