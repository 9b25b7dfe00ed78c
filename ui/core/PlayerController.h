#pragma once
// The logic behind the main window: one current source, the transport state
// and the active list, driven by commands, sliders and a 25 ms tick, and
// shown through a PlayerDisplay. No windowing library is involved, so a test
// or a terminal can drive it. Only the user-interface thread calls it.
//
// The controller holds the current source without owning it: its list owns
// it. Anything that destroys the current item must first move the list's
// current index away and call Refresh (the playlist commands do).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/GainStage.h"
#include "engine/MediaSource.h"
#include "playlist/Playlist.h"
#include "playlist/PlaylistCommands.h"
#include "sources/CdDisc.h"
#include "ui/core/PlayerDisplay.h"
#include "ui/core/SettingsStore.h"

namespace tunara {

// The mixer as the controller sees it: volume 0.0 .. 1.0.
class VolumeOutput {
public:
    virtual ~VolumeOutput() = default;
    virtual float GetVolume() = 0;
    virtual void SetVolume(float volume) = 0;
    virtual void Close() = 0;
};

// Control identifiers of the main window.
enum PlayerCommand : int {
    kCmdPlay = 1001,
    kCmdStop = 1002,
    kCmdEject = 1003,
    kCmdPrev = 1004,
    kCmdNext = 1005,
    kCmdFwd = 1006,
    kCmdBack = 1007,
    kCmdNormal = 1008,
    kCmdIntro = 1009,
    kCmdShuffle = 1014,
    kCmdRepeat = 1016,
    kCmdCd = 1018,
    kCmdWeb = 1020,
};

// Slider notification codes that move the player.
enum SliderCode : int { kThumbPosition = 4, kThumbTrack = 5 };

inline constexpr std::string_view kNoCdDrive = "No CD drive or disc image was found";

class CdMediaPoller;
class OutputEngine;

class PlayerController {
public:
    static constexpr int kTickMs = 25;
    static constexpr int kIntroMs = 10000;
    static constexpr int kBandCount = 16;
    static constexpr int kVolumeMin = 0;
    static constexpr int kVolumeMax = 100;
    static constexpr int kNoticeMs = 3000;
    static constexpr int kCdPollMs = 1000;

    // `volume` may be null (no mixer); `programFolder` holds "Web.mov";
    // `settings`, when given, answers the sources' settings from Start to
    // Shutdown. `engine` is the one the items play through (the playlist's
    // factory's when null).
    PlayerController(PlayerDisplay& display, Playlist& playlist, VolumeOutput* volume,
                     std::string programFolder, SettingsStore* settings = nullptr,
                     OutputEngine* engine = nullptr);
    // The same, showing nothing until SetDisplay: for a front end whose
    // display is built after the controller.
    PlayerController(Playlist& playlist, VolumeOutput* volume, std::string programFolder,
                     SettingsStore* settings = nullptr, OutputEngine* engine = nullptr);
    ~PlayerController();
    // Where the controller shows itself from now on; null: nowhere. The
    // display must outlive the controller or be taken away first.
    void SetDisplay(PlayerDisplay* display);

    // A main-window command by control identifier; unknown ones are ignored.
    void Command(int id);
    void Play();
    // New sound settings (ReplayGain, equaliser, balance) from now on; the
    // open item and its follower get their gains again.
    void ApplySoundSettings(const SoundSettings& settings);
    void Stop();
    void Eject();
    void Prev();
    void Next();
    void Fwd();
    void Back();
    void Normal();
    void ToggleIntro();
    void ToggleShuffle();
    void ToggleRepeat();
    void ToggleWeb();

    void OnPositionSlider(int code, int value);
    void OnVolumeSlider(int code, int value);
    // The mixer reported a line or control change.
    void OnMixerChange();

    void Refresh();
    void RefreshAll();
    // Dropped files or a name handed over by a second start.
    void OpenFiles(const std::vector<std::string>& names);
    // The same, then plays: what "Open with" on a running player means.
    void OpenAndPlay(const std::vector<std::string>& names);
    // A double-click on a row of a list view: play that item.
    void PlayRow(TrackList& list, int row);
    // Every kTickMs; also delivers work posted to the user-interface thread.
    void OnTick();

    // The CD drives by element name, in the order of the drive masks below
    // (bit i is drive i; at most 32). Without a call before Start the
    // drives are those of cdaudio::ListDrives(). `pollMs` 0 starts no
    // polling thread; PollCdDrives then looks once (tests step it).
    void SetCdDrives(std::vector<std::string> drives, int pollMs = kCdPollMs);
    void PollCdDrives();

    // A disc arrived in or left the drives of the mask. Only currentCd's
    // drive matters; discs in other drives are ignored.
    void OnMediaArrived(uint32_t driveMask);
    void OnMediaRemoved(uint32_t driveMask);
    void OnCddbStatus();
    void OnCddbInfoChanged();
    void OnCddbError();
    // "PreferredCDdrive" changed in the options: the drive it names becomes
    // currentCd, reads its disc when it has not yet, looks the disc up when
    // needed and takes over as the active list when the old disc was playing
    // or "AutoPlayCD" is set. The player ends up stopped.
    void ApplyPreferredDrive();

    void Start();
    void Shutdown();

    PlaylistCommands& Commands() { return commands_; }
    // The list being played: the playlist or one CD's track list; null
    // before Start.
    TrackList* ActiveList() const { return active_; }
    void MakeActive(TrackList* list) { active_ = list; }
    bool IsActive(const TrackList* list) const { return list != nullptr && list == active_; }
    Playlist& GetPlaylist() { return playlist_; }
    OutputEngine& Engine() { return engine_; }
    PlayState State() const { return state_; }
    MediaSource* Source() const { return source_; }
    TrackList* List() const { return list_; }
    VolumeOutput* Volume() const { return volume_; }
    bool WebOn() const { return webSource_ != nullptr; }
    bool Running() const { return running_; }
    // Set when Next (a command or a tick's track advance) stopped at the end
    // of the list; cleared by Play.
    bool ReachedEnd() const { return reachedEnd_; }
    // One disc per drive; a single disc without a drive when there is none.
    const std::vector<std::unique_ptr<CdDisc>>& CdDrives() const { return cdDrives_; }
    CdDisc* CurrentCd() const { return currentCd_; }
    bool HasCdDrive() const { return hasCdDrive_; }
    // The names of the CD drives (empty without a drive), for the options.
    std::vector<std::string> CdDriveNames() const {
        return hasCdDrive_ ? cdDriveNames_ : std::vector<std::string>{};
    }

private:
    bool StepNext();  // Next; false when it stopped at the end of the list
    // Queues the item the list plays after the current one behind it in the
    // engine, so that the device plays on from one to the other without a gap.
    void FollowNext();
    // The one place an item's failure reaches the user: what `item` has to
    // tell, if anything, in an error box.
    void TellError(MediaSource& item);
    // Whether the item at `index` has a neighbour of the same album (automatic ReplayGain).
    bool InAlbumRun(int index) const;
    void ShowSource();
    void ShowModes();
    void ShowTransport();
    void ShowVolumeFromMixer();
    void BuildCdDrives();
    uint32_t CurrentCdMask() const;
    // Reads currentCd's disc; when it is the active list its playing track
    // is let go first, since the read destroys the tracks.
    void ReadCurrentCd();
    void OnCdChange(int drive, int kind, const std::string& text);
    // A freshly read currentCd: its CD information from the cache, else a
    // CDDB lookup when "AutoCDInfo" is set.
    void LookUpCdInfo();

    OutputEngine& engine_;
    PlayerDisplay* display_;
    Playlist& playlist_;
    VolumeOutput* volume_;
    std::string programFolder_;
    SettingsStore* settings_;
    TrackList* active_ = nullptr;
    PlaylistCommands commands_;

    TrackList* list_ = nullptr;
    MediaSource* source_ = nullptr;
    PlayState state_ = Stopped;
    std::unique_ptr<MediaSource> webSource_;
    // The item the current source refused to be followed by (another format,
    // does not open): not asked again while the source stays current.
    MediaSource* followRefused_ = nullptr;
    bool running_ = false;
    bool reachedEnd_ = false;
    int skipped_ = 0;  // entries passed over in a row for not opening

    std::vector<std::string> cdDriveNames_;
    bool cdDrivesGiven_ = false;
    int cdPollMs_ = kCdPollMs;
    std::vector<std::unique_ptr<CdDisc>> cdDrives_;
    CdDisc* currentCd_ = nullptr;
    bool hasCdDrive_ = false;
    std::vector<bool> cdErrorShown_;  // per drive: its failure has been told once
    std::unique_ptr<CdMediaPoller> cdPoller_;
    // Lookup notices posted before the controller went find it gone.
    std::shared_ptr<int> noticeToken_ = std::make_shared<int>(0);
};

}  // namespace tunara
