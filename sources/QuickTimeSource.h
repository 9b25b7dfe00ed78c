#pragma once
// A movie or sound file played by the media toolbox: every item that is not
// MP3 or WAV (AIFF, AU, MIDI, movies, network streams).
//
// All calls come from the user-interface thread. The toolbox must have been
// started (media::StartMediaServices) for anything to open; otherwise every
// file fails to open.
#include <functional>
#include <memory>
#include <string>

#include "engine/GainStage.h"
#include "engine/MediaSource.h"
#include "platform/media/MediaToolbox.h"

namespace tunara {

// The format name and bit rate the information display shows for a sound
// description.
struct SoundFormat {
    std::string name;
    int32_t bitRate = 0;
};
SoundFormat DescribeSoundFormat(const TmSoundDescription& description);

class QuickTimeSource : public MediaSource {
public:
    // The movie's sound follows `volume`'s software volume; none: full volume
    // (an item that only describes a file).
    explicit QuickTimeSource(const GainStage* volume = nullptr);
    ~QuickTimeSource() override;

    int32_t GetPosition() override;
    void Seek(int32_t positionMs) override;
    void GetLevels(float& left, float& right) override;
    void GetSpectrum(float* bands) override;
    int Open() override;
    void Close() override;
    void Play() override;
    void Stop() override;
    void FastForward() override;
    void Rewind() override;
    void Tick() override;
    int IsPlaying() override;
    int LoadInfo() override;
    // The medium's own title when it has one and "UseID3Title" is on, else
    // the file title.
    std::string GetTitle() const override;
    void EnableMetering(int enable) override;
    void SetBandCount(int count) override;

    virtual float GetVolume();  // 1.0 is full volume
    virtual void SetVolume(float volume);

    bool HasVideo() const { return hasVideo_; }
    bool IsStreamed() const { return isStreamed_; }
    bool HasActionTrack() const { return hasActionTrack_; }
    int32_t TimeScale() const { return timeScale_; }

    // Where stream status and error lines go (the main window's status line).
    using StatusLine = std::function<void(const std::string& text)>;
    static void SetStatusLine(StatusLine line);
    // Makes the window a movie with video plays in; without one, video is
    // discarded and only the sound plays.
    using VideoWindowFactory = std::function<std::unique_ptr<media::VideoWindow>()>;
    static void SetVideoWindowFactory(VideoWindowFactory factory);

private:
    // Gives the movie the program's software volume when it changed.
    void FollowVolume();
    // Makes the movie of location_; reports the failure to the user.
    bool MakeMovie(media::Movie* movie);
    void ReadInformation(media::Movie movie);
    void ReadTags(media::Movie movie);
    static media::Track FindSoundTrack(media::Movie movie);
    void DisposeVideoWindow();
    void ControllerAction(int16_t action, intptr_t parameter);
    static int32_t ActionFilter(void* controller, int16_t action, void* params, intptr_t refcon);

    std::string tagTitle_;  // the medium's title tag, empty without one
    media::Movie movie_ = nullptr;
    media::Track soundTrack_ = nullptr;
    media::MediaHandler soundHandler_ = nullptr;
    media::Controller controller_ = nullptr;
    std::unique_ptr<media::VideoWindow> videoWindow_;
    int32_t timeScale_ = 0;
    bool hasVideo_ = false;
    bool isStreamed_ = false;
    bool hasActionTrack_ = false;
    // Three readings per channel: the newest counts fully, the two before it
    // by 2/3 and 1/3, so a meter falls off over three ticks.
    float leftHistory_[3] = {};
    float rightHistory_[3] = {};
    int historyIndex_ = 0;
    int bandCount_ = 0;
    const GainStage* volume_;
    float appliedVolume_ = -1.0f;  // the gain last given to the movie
};

}  // namespace tunara
