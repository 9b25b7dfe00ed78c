#pragma once
// One audio track of a CD, played by the drive's CD audio device
// (platform/cdaudio). Fast forward and rewind are emulated by seeking one
// second on every fifth Tick (125 ms at the 25 ms display timer).
//
// The descriptive strings may be written by the CDDB lookup thread (under
// the disc's item lock) while the user-interface thread shows them, so this
// class guards them with a lock of its own.
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/MediaSource.h"

namespace tunara {

class CdTrackSource : public MediaSource {
public:
    // Every fifth Tick steps fast forward or rewind by kStepMs.
    static constexpr int kTicksPerStep = 5;
    static constexpr int kStepMs = 1000;

    explicit CdTrackSource(std::string drive);
    ~CdTrackSource() override;

    void SetTrackNumber(int track) { trackNumber_ = track; }
    int TrackNumber() const { return trackNumber_; }
    const std::string& Drive() const { return drive_; }
    int32_t TrackStartMs() const { return trackStartMs_; }
    uint32_t DeviceId() const { return deviceId_; }

    void SetTitle(const std::string& text) override;
    std::string GetTitle() const override;
    void SetArtist(const std::string& text) override;
    std::string GetArtist() const override;
    void SetAlbum(const std::string& text) override;
    std::string GetAlbum() const override;
    void SetCategory(const std::string& text) override;
    std::string GetCategory() const override;
    // What the disc's texts say beyond the four above; empty when unknown.
    void SetYear(const std::string& text);
    std::string GetYear() const;
    void SetGenre(const std::string& text);
    std::string GetGenre() const;

    int32_t GetPosition() override;
    void Seek(int32_t positionMs) override;
    void GetLevels(float& left, float& right) override;
    void GetSpectrum(float* bands) override;  // always 16 zeros
    int Open() override;
    void Close() override;
    void Play() override;
    void Stop() override;
    void FastForward() override;
    void Rewind() override;
    void Tick() override;
    int IsPlaying() override;
    // 1 for an audio track (start and duration read from the disc), else 0.
    int LoadInfo() override;
    void EnableMetering(int) override {}
    void SetBandCount(int) override {}

private:
    // Opens the device for the drive (an open one is shared); 0 on failure.
    uint32_t OpenDevice();

    mutable std::mutex textMutex_;  // guards the strings above and these two
    std::string year_;
    std::string genre_;
    int32_t trackNumber_ = 0;  // 1-based
    uint32_t deviceId_ = 0;    // while open, else 0
    std::string drive_;
    int32_t trackStartMs_ = 0;  // from the start of the disc, lead-in included
    bool fastForwardOn_ = false;
    bool rewindOn_ = false;
    int32_t tickCount_ = 0;
};

}  // namespace tunara
