#pragma once
// The interface of every playable item.
//
// Units used throughout the engine and the sources:
//   sample     - one value of one channel;
//   frame      - one sample of every channel (block align bytes of PCM);
//   MPEG frame - one coded Layer III frame (1152 or 576 frames of PCM);
//   positions  - milliseconds at this interface, frames inside PCM sources,
//                CD frames of 1/75 s inside the CD code.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ui/UserInteraction.h"

namespace tunara {

class PcmStream;

enum PlayState : int32_t { Playing = 0, Stopped = 1, FastForward = 2, Rewind = 3 };

class MediaSource {
public:
    MediaSource() = default;
    virtual ~MediaSource() = default;
    MediaSource(const MediaSource&) = delete;
    MediaSource& operator=(const MediaSource&) = delete;

    // Descriptive operations. Getters return copies, which the caller may
    // keep after the source changes.
    virtual void SetLocation(const std::string& text) { location_ = text; }
    virtual std::string GetLocation() const { return location_; }
    virtual void SetTitle(const std::string& text) { title_ = text; }
    virtual std::string GetTitle() const { return title_; }
    virtual void SetArtist(const std::string& text) { artist_ = text; }
    virtual std::string GetArtist() const { return artist_; }
    virtual void SetAlbum(const std::string& text) { album_ = text; }
    virtual std::string GetAlbum() const { return album_; }
    virtual void SetCategory(const std::string& text) { category_ = text; }
    virtual std::string GetCategory() const { return category_; }
    virtual std::string GetFormatName() const { return formatName_; }
    virtual int32_t GetBitRate() const { return bitRate_; }        // bits per second
    virtual int32_t GetSampleRate() const { return sampleRate_; }  // Hz
    virtual int32_t GetChannels() const { return channels_; }
    virtual int32_t GetDuration() const { return durationMs_; }  // milliseconds

    // Transport operations.
    virtual int32_t GetPosition() = 0;  // milliseconds from the start of the item
    virtual void Seek(int32_t positionMs) = 0;
    virtual void GetLevels(float& left, float& right) = 0;  // peak levels 0.0 to 1.0
    virtual void GetSpectrum(float* bands) = 0;             // band count entries, 0.0 to 1.0
    virtual int Open() = 0;                                 // nonzero on success
    virtual void Close() = 0;
    virtual void Play() = 0;
    virtual void Stop() = 0;  // keeps the position: Play resumes from it
    virtual void FastForward() = 0;
    virtual void Rewind() = 0;
    virtual void Tick() = 0;
    virtual int IsPlaying() = 0;  // nonzero while playing, fast-forwarding or rewinding
    virtual int LoadInfo() = 0;   // 1 on success
    virtual void EnableMetering(int enable) = 0;
    virtual void SetBandCount(int count) = 0;
    // The item's sound as a PCM stream for the output engine; null for items
    // that play through a pipeline of their own.
    virtual PcmStream* Pcm() { return nullptr; }

    // Why the last Open or LoadInfo failed, or what went wrong while it
    // played (set on the engine's threads); taking it clears it. The item
    // never tells the user itself: its owner decides whether and when.
    std::optional<UserMessage> TakeError() { return error_.Take(); }

protected:
    // A failure about this item's file (the location is the argument).
    void SetError(int stringId, int errorNumber = 0) {
        error_.Set(MessageOf(stringId, location_, errorNumber));
    }
    void SetError(UserMessage message) { error_.Set(std::move(message)); }

    std::string location_;
    std::string title_;
    std::string artist_;
    std::string album_;
    std::string category_;
    std::string formatName_;  // "MP3", "MP3 VBR", "CD", "16 Bit PCM", a codec name...
    int32_t bitRate_ = 0;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    int32_t durationMs_ = 0;

private:
    ErrorSlot error_;
};

}  // namespace tunara
