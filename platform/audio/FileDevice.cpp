#include "platform/audio/FileDevice.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/audio/CaptureHook.h"
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

// Opens `path` for `format` as a continuing capture: where the last writer
// of this process left it when the format is the same, else a fresh
// numbered file with its header.
std::FILE* OpenContinued(const std::string& path, const PcmFormat& format, uint64_t& dataBytes,
                         std::string& openPath) {
    openPath = path;
    dataBytes = 0;
    {
        std::lock_guard lock(g_continuationMutex);
        auto& all = Continuations();
        auto it = all.find(path);
        if (it != all.end()) {
            Continuation& c = it->second;
            if (SameFormat(c.format, format)) {
                openPath = Numbered(path, c.counter);
                std::FILE* file = std::fopen(openPath.c_str(), "r+b");
                // Appending goes over the pad byte an odd data size left.
                if (file &&
                    std::fseek(file, long(io::kWavHeaderBytes + c.dataBytes), SEEK_SET) == 0) {
                    dataBytes = c.dataBytes;
                    return file;
                }
                if (file) std::fclose(file);
            }
            ++c.counter;
            c.format = format;
            c.dataBytes = 0;
            openPath = Numbered(path, c.counter);
        } else {
            all[path] = Continuation{format, 0, 1};
        }
    }
    return nullptr;
}

void RecordContinuation(const std::string& path, const PcmFormat& format, uint64_t dataBytes) {
    std::lock_guard lock(g_continuationMutex);
    auto it = Continuations().find(path);
    if (it != Continuations().end() && SameFormat(it->second.format, format))
        it->second.dataBytes = dataBytes;
}

std::FILE* CreateWithHeader(const std::string& path, const PcmFormat& format) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return nullptr;
    uint8_t header[io::kWavHeaderBytes];
    MakeHeader(format, 0, header);
    if (std::fwrite(header, 1, sizeof header, file) != sizeof header) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

}  // namespace

bool FileDevice::OpenFile(const PcmFormat& format) {
    openPath_ = path_;
    dataBytes_ = 0;
    if (mode_ == Mode::Continue) {
        file_ = OpenContinued(path_, format, dataBytes_, openPath_);
        if (file_) return true;
    }
    file_ = CreateWithHeader(openPath_, format);
    return file_ != nullptr;
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
    if (mode_ == Mode::Continue) RecordContinuation(path_, format_, dataBytes_);
}

}  // namespace tunara::audio

// Exported from the program for the media module (see CaptureHook.h).
extern "C" __attribute__((visibility("default"))) std::FILE* tunaraCaptureOpen(
    const char* path, uint16_t channels, uint32_t rate, uint16_t bits, uint64_t* dataBytes) {
    using namespace tunara::audio;
    const PcmFormat format = PcmFormat::Make(channels, static_cast<int32_t>(rate), bits);
    uint64_t have = 0;
    std::string openPath;
    std::FILE* file = OpenContinued(path, format, have, openPath);
    if (!file) file = CreateWithHeader(openPath, format);
    if (dataBytes) *dataBytes = file ? have : 0;
    return file;
}

extern "C" __attribute__((visibility("default"))) void tunaraCaptureClosed(const char* path,
                                                                           uint64_t dataBytes) {
    using namespace tunara::audio;
    std::lock_guard lock(g_continuationMutex);
    auto it = Continuations().find(path);
    if (it != Continuations().end()) it->second.dataBytes = dataBytes;
}
