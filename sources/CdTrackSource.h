#pragma once
// One audio track of a CD: its sectors read as 16-bit stereo PCM at 44.1 kHz
// through the CD device (platform/cdaudio) and played by the output engine
// like a WAV file, so volume, metering, capture and gapless joins between
// tracks are those of every other item.
//
// The descriptive strings may be written by the CDDB lookup thread (under
// the disc's item lock) while the user-interface thread shows them, so this
// class guards them with a lock of its own.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/PcmSource.h"

namespace tunara {

class CdTrackSource : public PcmSource {
public:
    // Sectors read from the disc at once.
    static constexpr int kSectorsPerRead = 10;

    CdTrackSource(OutputEngine& engine, std::string drive);
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

    // Also tells the user, once, when playing ended because the disc went.
    int IsPlaying() override;
    // Forgets a lost disc not yet told: whoever closed the track knew.
    void Close() override;
    // 1 for an audio track (start and duration read from the disc), else 0.
    int LoadInfo() override;

    int OpenStream() override;
    int CloseStream() override;
    int ReadFrames(void* buffer, int frames) override;
    int WriteFrames(const void*, int) override { return 0; }
    uint32_t SeekFrame(uint32_t frame) override;

private:
    // Opens the device for the drive (an open one is shared); 0 on failure.
    uint32_t OpenDevice();
    // Fills the sector cache with the read containing `frame`; false when
    // the disc is gone.
    bool Fill(uint32_t frame);

    mutable std::mutex textMutex_;  // guards the strings above and these two
    std::string year_;
    std::string genre_;
    int32_t trackNumber_ = 0;  // 1-based
    uint32_t deviceId_ = 0;    // while the stream is open, else 0
    std::string drive_;
    int32_t trackStartMs_ = 0;  // from the start of the disc, lead-in included

    // The stream: only the feeder reads it while a run goes.
    int32_t startLsn_ = 0;
    uint32_t frameCount_ = 0;  // PCM frames of the track
    uint32_t readFrame_ = 0;   // the next frame ReadFrames delivers
    std::vector<uint8_t> cache_;
    uint32_t cacheFrame_ = 0;  // first frame in the cache
    uint32_t cacheFrames_ = 0;
};

}  // namespace tunara
