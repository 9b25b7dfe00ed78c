#pragma once
// Plays into a WAV file: what would have been heard, as fast as it is
// written. The RIFF and data sizes are fixed up when the device closes.
#include <cstdio>

#include "platform/audio/DeviceCore.h"

namespace tunara::audio {

class FileDevice : public DeviceCore {
public:
    explicit FileDevice(std::string path) : path_(std::move(path)) {}
    ~FileDevice() override { Close(); }
    std::string Name() const override { return "file:" + path_; }

protected:
    Status BackendOpen(const PcmFormat& format) override;
    void BackendClose() override;
    bool TakesData() const override { return true; }
    long HandOut(const uint8_t* data, uint32_t frames) override;
    uint64_t Played(uint64_t handed, Clock::time_point) override { return handed; }
    Clock::time_point NextLook(uint64_t, uint64_t, Clock::time_point) override {
        return Clock::time_point::max();
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    uint64_t dataBytes_ = 0;
};

}  // namespace tunara::audio
