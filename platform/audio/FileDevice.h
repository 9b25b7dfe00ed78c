#pragma once
// Plays into a WAV file: what would have been heard, as fast as it is
// written. The RIFF and data sizes are fixed up when the device closes.
//
// A Continue device (what TUNARA_AUDIO=file:PATH makes) keeps everything the
// process plays: a later open in the same format appends to the same file, a
// format change starts "NAME-2.wav", "NAME-3.wav", ... A Fresh device
// rewrites its file at every open.
#include <cstdio>

#include "platform/audio/DeviceCore.h"

namespace tunara::audio {

class FileDevice : public DeviceCore {
public:
    enum class Mode { Fresh, Continue };
    explicit FileDevice(std::string path, Mode mode = Mode::Fresh)
        : path_(std::move(path)), mode_(mode) {}
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
    bool OpenFile(const PcmFormat& format);

    std::string path_;
    Mode mode_;
    std::string openPath_;  // the file of the current open (path_ or a numbered sibling)
    std::FILE* file_ = nullptr;
    uint64_t dataBytes_ = 0;
};

}  // namespace tunara::audio
