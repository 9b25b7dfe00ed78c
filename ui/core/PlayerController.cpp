#include "ui/core/PlayerController.h"

#include <cmath>
#include <optional>

#include "engine/OutputEngine.h"
#include "engine/PcmStream.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/FileDialogs.h"
#include "sources/CdDiscInfo.h"
#include "sources/SourceFactory.h"
#include "sources/SourceSettings.h"
#include "ui/core/CdMediaPoller.h"
#include "ui/core/CddbSettings.h"
#include "ui/core/SoundOptions.h"

namespace tunara {

namespace {
constexpr const char* kWebItem = "Web.mov";

// Where the controller shows things before a display is attached and after
// it has gone.
class NullDisplay : public PlayerDisplay {
public:
    void ShowTitle(const std::string&) override {}
    void ShowFormatName(const std::string&) override {}
    void ShowBitRate(int) override {}
    void ShowSampleRate(int) override {}
    void ShowChannels(int) override {}
    void ShowDuration(int) override {}
    void ShowPosition(int) override {}
    void ShowTrackNumber(int) override {}
    void ShowTrackCount(int) override {}
    void ShowMessage(const std::string&, int) override {}
    void SetLevels(float, float) override {}
    void SetBands(const float*) override {}
    void Hold(int) override {}
    void SetPositionRange(int) override {}
    void SetPositionSlider(int) override {}
    void SetVolumeSlider(int) override {}
    void SetWindowTitle(const std::string&) override {}
    void SetTransportLit(bool, bool, bool) override {}
    void SetModeLit(bool, bool, bool) override {}
    void EnableCdButton(bool) override {}
    void RefreshListViews() override {}
};

PlayerDisplay& NoDisplay() {
    static NullDisplay none;
    return none;
}
}  // namespace

PlayerController::PlayerController(PlayerDisplay& display, Playlist& playlist, VolumeOutput* volume,
                                   std::string programFolder, SettingsStore* settings,
                                   OutputEngine* engine)
    : PlayerController(playlist, volume, std::move(programFolder), settings, engine) {
    display_ = &display;
}

PlayerController::PlayerController(Playlist& playlist, VolumeOutput* volume,
                                   std::string programFolder, SettingsStore* settings,
                                   OutputEngine* engine)
    : engine_(engine ? *engine : playlist.Sources().Engine()),
      display_(&NoDisplay()),
      playlist_(playlist),
      volume_(volume),
      programFolder_(std::move(programFolder)),
      settings_(settings),
      commands_(
          playlist, [this] { Refresh(); }, [this] { display_->RefreshListViews(); },
          [this] { return IsActive(&playlist_); }) {}

void PlayerController::SetDisplay(PlayerDisplay* display) {
    display_ = display ? display : &NoDisplay();
}

PlayerController::~PlayerController() {
    if (running_) Shutdown();
}

void PlayerController::Command(int id) {
    switch (id) {
        case kCmdPlay:
            Play();
            break;
        case kCmdStop:
            Stop();
            break;
        case kCmdEject:
            Eject();
            break;
        case kCmdPrev:
            Prev();
            break;
        case kCmdNext:
            Next();
            break;
        case kCmdFwd:
            Fwd();
            break;
        case kCmdBack:
            Back();
            break;
        case kCmdNormal:
            Normal();
            break;
        case kCmdIntro:
            ToggleIntro();
            break;
        case kCmdShuffle:
            ToggleShuffle();
            break;
        case kCmdRepeat:
            ToggleRepeat();
            break;
        case kCmdWeb:
            ToggleWeb();
            break;
        case kCmdCd:
            if (hasCdDrive_)
                display_->ToggleCdWindow();
            else
                display_->ShowMessage(std::string(kNoCdDrive), kNoticeMs);
            break;
        default:
            break;
    }
}

// There is no pause: Play on a playing item stops it where it is.
void PlayerController::Play() {
    if (!source_) return;
    reachedEnd_ = false;
    skipped_ = 0;
    if (state_ != Playing) {
        FollowNext();
        source_->Play();
        state_ = Playing;
    } else {
        source_->Stop();
        state_ = Stopped;
    }
    Refresh();
}

void PlayerController::Stop() {
    if (!source_) return;
    source_->Stop();
    source_->Seek(0);
    state_ = Stopped;
    display_->PlaybackStopped();
    Refresh();
}

void PlayerController::Eject() {
    std::vector<std::string> chosen = CurrentFileDialogs().ChooseOpen(MediaFilters(), 0, false);
    if (chosen.empty()) return;
    if (IsPlaylistName(chosen.front())) {
        OpenFiles(chosen);
        return;
    }
    int index = playlist_.AddFile(chosen.front());
    if (index < 0) return;
    playlist_.SetCurrent(index);
    MakeActive(&playlist_);
    RefreshAll();
}

void PlayerController::Prev() {
    if (list_ && !list_->Previous()) Stop();
    RefreshAll();
}

void PlayerController::Next() {
    StepNext();
}

bool PlayerController::StepNext() {
    bool goOn = list_ && list_->Next();
    if (!goOn) {
        Stop();
        reachedEnd_ = true;
    }
    RefreshAll();
    return goOn;
}

void PlayerController::Fwd() {
    if (!source_) return;
    if (state_ == FastForward) {
        source_->Stop();
        state_ = Stopped;
    } else {
        source_->FastForward();
        state_ = FastForward;
    }
    Refresh();
}

void PlayerController::Back() {
    if (!source_) return;
    if (state_ == Rewind) {
        source_->Stop();
        state_ = Stopped;
    } else {
        source_->Rewind();
        state_ = Rewind;
    }
    Refresh();
}

void PlayerController::Normal() {
    if (!list_) return;
    list_->SetIntro(false);
    list_->SetShuffle(false);
    list_->SetRepeat(false);
    ShowModes();
}

void PlayerController::ToggleIntro() {
    if (!list_) return;
    list_->SetIntro(!list_->Intro());
    ShowModes();
}

void PlayerController::ToggleShuffle() {
    if (!list_) return;
    list_->SetShuffle(!list_->Shuffle());
    ShowModes();
}

void PlayerController::ToggleRepeat() {
    if (!list_) return;
    list_->SetRepeat(!list_->Repeat());
    ShowModes();
}

void PlayerController::ToggleWeb() {
    if (webSource_) {
        webSource_->Stop();
        webSource_->Close();
        webSource_.reset();
        return;
    }
    std::string path = programFolder_.empty() ? kWebItem : programFolder_ + "/" + kWebItem;
    std::unique_ptr<MediaSource> web = playlist_.Sources().Create(path);
    if (!web) return;
    web->SetLocation(path);
    web->LoadInfo();  // its answer does not matter: Open tells the user
    // Play on an item that did not open would act on nothing.
    if (web->Open()) web->Play();
    TellError(*web);
    webSource_ = std::move(web);
}

void PlayerController::OnPositionSlider(int code, int value) {
    if (code != kThumbTrack && code != kThumbPosition) return;
    if (!source_) return;
    source_->Seek(value * 10);
    source_->Tick();
    display_->ShowPosition(source_->GetPosition() / 1000);
}

void PlayerController::OnVolumeSlider(int code, int value) {
    if (code != kThumbTrack && code != kThumbPosition) return;
    if (!volume_) return;
    volume_->SetVolume(static_cast<float>(kVolumeMax - value) /
                       static_cast<float>(kVolumeMax - kVolumeMin));
}

void PlayerController::OnMixerChange() {
    ShowVolumeFromMixer();
}

void PlayerController::ShowVolumeFromMixer() {
    if (!volume_) return;
    float v = volume_->GetVolume();
    // Rounded: the mixer keeps a truncated value, and truncating again would
    // lose a step on every key press.
    display_->SetVolumeSlider(kVolumeMax -
                              static_cast<int>(std::lround(v * (kVolumeMax - kVolumeMin))));
}

void PlayerController::Refresh() {
    if (list_ != active_) list_ = active_;
    // An entry whose file was missing is looked for again as it comes up.
    if (list_ && list_->CurrentItem() != source_) list_->TryRestore(list_->Current());
    MediaSource* item = list_ ? list_->CurrentItem() : nullptr;
    PcmStream* to = item ? item->Pcm() : nullptr;
    if (item != source_ && to && source_ && engine_.Current() == source_->Pcm() &&
        state_ == Playing && engine_.HandOver(*to)) {
        // The device already plays the new item: it only becomes current.
        TellError(*source_);
        source_ = item;
        followRefused_ = nullptr;
        source_->EnableMetering(1);
        source_->SetBandCount(kBandCount);
    } else if (item != source_) {
        followRefused_ = nullptr;
        if (source_) {
            source_->Stop();
            source_->Close();
            TellError(*source_);  // a file written back on closing may fail
        }
        source_ = item;
        if (source_) {
            const bool goOn = state_ != Stopped;
            StampItemGain(engine_.Gain().Settings(), source_, InAlbumRun(list_->Current()));
            source_->TakeError();  // what an earlier look at the item left is old news
            const bool opened = source_->Open() != 0;
            if (goOn)
                source_->TakeError();  // passed over with a status line below rather than a box
            else
                TellError(*source_);
            list_->MarkUnavailable(list_->Current(), !opened);
            source_->EnableMetering(1);
            source_->SetBandCount(kBandCount);
            // A new item keeps the player going but always at normal speed.
            if (opened && state_ != Stopped) {
                skipped_ = 0;
                FollowNext();
                source_->Play();
                state_ = Playing;
            } else if (!opened && goOn && ++skipped_ <= list_->Count()) {
                // Left "playing" so that the next tick moves on; a list with
                // nothing that opens stops after one round.
                display_->ShowMessage("Skipped: cannot open " + list_->TitleAt(list_->Current()),
                                      kNoticeMs);
                state_ = Playing;
            } else {
                if (!opened)
                    display_->ShowMessage("Cannot open " + list_->TitleAt(list_->Current()),
                                          kNoticeMs);
                skipped_ = 0;
                state_ = Stopped;
            }
        } else {
            state_ = Stopped;
        }
    }
    ShowSource();
    ShowTransport();
    ShowModes();
}

void PlayerController::ShowSource() {
    int count = list_ ? list_->Count() : 0;
    int number = list_ ? list_->Current() + 1 : 0;
    if (source_) {
        std::string title = list_ && list_->CurrentItem() == source_
                                ? list_->TitleAt(list_->Current())
                                : source_->GetTitle();
        int positionMs = source_->GetPosition();
        display_->ShowTitle(title);
        display_->ShowFormatName(source_->GetFormatName());
        display_->ShowBitRate(source_->GetBitRate());
        display_->ShowSampleRate(source_->GetSampleRate());
        display_->ShowChannels(source_->GetChannels());
        display_->ShowDuration(source_->GetDuration() / 1000);
        display_->ShowPosition(positionMs / 1000);
        display_->ShowTrackNumber(number);
        display_->ShowTrackCount(count);
        display_->SetPositionRange(source_->GetDuration() / 10);
        display_->SetPositionSlider(positionMs / 10);
        display_->SetWindowTitle("Tunara - " + title);
    } else {
        display_->ShowTitle({});
        display_->ShowFormatName({});
        display_->ShowBitRate(0);
        display_->ShowSampleRate(0);
        display_->ShowChannels(0);
        display_->ShowDuration(0);
        display_->ShowPosition(0);
        display_->ShowTrackNumber(number);
        display_->ShowTrackCount(count);
        display_->SetPositionRange(0);
        display_->SetPositionSlider(0);
        display_->SetWindowTitle("Tunara");
    }
}

void PlayerController::ShowTransport() {
    display_->SetTransportLit(state_ == Playing, state_ == FastForward, state_ == Rewind);
}

void PlayerController::ShowModes() {
    if (list_)
        display_->SetModeLit(list_->Intro(), list_->Shuffle(), list_->Repeat());
    else
        display_->SetModeLit(false, false, false);
}

void PlayerController::RefreshAll() {
    Refresh();
    display_->RefreshListViews();
}

void PlayerController::OpenFiles(const std::vector<std::string>& names) {
    for (const auto& name : names) {
        if (IsPlaylistName(name)) {
            if (commands_.New()) playlist_.Load(name);
        } else {
            // A file that does not open leaves no current item: the old
            // one stops and the display empties.
            playlist_.SetCurrent(playlist_.AddFile(name));
            MakeActive(&playlist_);
        }
    }
    RefreshAll();
}

void PlayerController::OpenAndPlay(const std::vector<std::string>& names) {
    OpenFiles(names);
    // A new item of a playing list already plays; Play would stop it.
    if (source_ && state_ != Playing) Play();
}

void PlayerController::PlayRow(TrackList& list, int row) {
    Stop();
    list.SetCurrent(row);
    MakeActive(&list);
    RefreshAll();
    Play();
}

void PlayerController::OnTick() {
    UiQueue().Deliver();
    if (source_) {
        float left = 0.0f, right = 0.0f;
        float bands[kBandCount] = {};
        source_->GetLevels(left, right);
        source_->GetSpectrum(bands);
        display_->SetLevels(left, right);
        display_->SetBands(bands);
        source_->Tick();
        int positionMs = source_->GetPosition();
        MediaSource* ticked = source_;
        bool finished = source_->IsPlaying() == 0;
        // What went wrong while it played (a damaged frame, a lost disc).
        TellError(*source_);
        bool introCut = list_ && list_->Intro() && positionMs > kIntroMs;
        if (finished || introCut) {
            if (state_ == Playing) {
                StepNext();
            } else if (state_ == FastForward) {
                Stop();
            }
        }
        // Rewound to the start: it plays on from there rather than leaving
        // the user with a stopped player.
        if (state_ == Rewind && (positionMs == 0 || finished)) Play();
        // After a move to another item Refresh has shown that item already.
        if (source_ == ticked) {
            display_->ShowPosition(positionMs / 1000);
            display_->SetPositionSlider(positionMs / 10);
        }
    } else {
        static const float kZeros[kBandCount] = {};
        display_->SetLevels(0.0f, 0.0f);
        display_->SetBands(kZeros);
    }
    display_->ShowTrackNumber(list_ ? list_->Current() + 1 : 0);
    if (webSource_) {
        webSource_->Tick();
        TellError(*webSource_);
    }
    // The list may have changed under the current item (order, modes, edits).
    FollowNext();
}

void PlayerController::FollowNext() {
    PcmStream* current = source_ ? source_->Pcm() : nullptr;
    if (!current || engine_.Current() != current) return;
    MediaSource* nextItem = nullptr;
    // Intro cuts items short, so there is never a natural join to keep.
    // Nor to an entry that did not open: it is passed over, or replaced once
    // its file is back.
    const int following = list_ ? list_->FollowingIndex() : -1;
    if (list_ && !list_->Intro() && !list_->IsUnavailable(following))
        nextItem = list_->ItemAt(following);
    PcmStream* next = nextItem ? nextItem->Pcm() : nullptr;
    if (next == current || nextItem == followRefused_) next = nullptr, nextItem = nullptr;
    if (engine_.Following() == next) return;
    // The run may already have gone on into the one queued: it stays.
    if (!engine_.DropQueue()) {
        if (nextItem) followRefused_ = nextItem;
        return;
    }
    if (!next) return;
    StampItemGain(engine_.Gain().Settings(), nextItem, InAlbumRun(following));
    if (!engine_.Enqueue(*next)) {
        followRefused_ = nextItem;
        // Ahead of its turn: the item says why when its turn comes.
        nextItem->TakeError();
    }
}

void PlayerController::TellError(MediaSource& item) {
    if (std::optional<UserMessage> error = item.TakeError()) ReportError(std::move(*error));
}

void PlayerController::ApplySoundSettings(const SoundSettings& settings) {
    engine_.Gain().SetSettings(settings);
    if (!list_ || !source_) return;
    StampItemGain(engine_.Gain().Settings(), source_, InAlbumRun(list_->Current()));
    const int following = list_->FollowingIndex();
    MediaSource* next = list_->ItemAt(following);
    if (next && next->Pcm() && next->Pcm() == engine_.Following())
        StampItemGain(engine_.Gain().Settings(), next, InAlbumRun(following));
}

bool PlayerController::InAlbumRun(int index) const {
    if (!list_) return false;
    MediaSource* item = list_->ItemAt(index);
    const std::string album = item ? item->GetAlbum() : std::string();
    if (album.empty()) return false;
    for (int other : {index - 1, index + 1}) {
        MediaSource* n = other >= 0 && other < list_->Count() ? list_->ItemAt(other) : nullptr;
        if (n && n->GetAlbum() == album) return true;
    }
    return false;
}

void PlayerController::SetCdDrives(std::vector<std::string> drives, int pollMs) {
    cdDriveNames_ = std::move(drives);
    if (cdDriveNames_.size() > 32) cdDriveNames_.resize(32);
    cdDrivesGiven_ = true;
    cdPollMs_ = pollMs;
}

void PlayerController::BuildCdDrives() {
    if (!cdDrivesGiven_) {
        cdDriveNames_.clear();
        for (auto& d : cdaudio::ListDrives())
            if (cdDriveNames_.size() < 32) cdDriveNames_.push_back(d.name);
    }
    cdDrives_.clear();
    for (const auto& name : cdDriveNames_)
        cdDrives_.push_back(std::make_unique<CdDisc>(engine_, name));
    hasCdDrive_ = !cdDrives_.empty();
    if (!hasCdDrive_) cdDrives_.push_back(std::make_unique<CdDisc>(engine_, std::string()));
    int current = settings_ ? settings_->ChooseCdDrive(cdDriveNames_) : 0;
    if (current < 0 || current >= static_cast<int>(cdDrives_.size())) current = 0;
    currentCd_ = cdDrives_[static_cast<size_t>(current)].get();
    cdErrorShown_.assign(cdDrives_.size(), false);
    // Lookup notices arrive like the main window's posted messages.
    std::weak_ptr<int> token = noticeToken_;
    for (auto& disc : cdDrives_)
        disc->SetNotifyWindow([this, token](int message) {
            UiQueue().Post([this, token, message] {
                if (token.expired()) return;
                switch (message) {
                    case static_cast<int>(cddb::CddbNotice::Status):
                        OnCddbStatus();
                        break;
                    case static_cast<int>(cddb::CddbNotice::Done):
                        OnCddbInfoChanged();
                        break;
                    case static_cast<int>(cddb::CddbNotice::Error):
                        OnCddbError();
                        break;
                }
            });
        });
}

uint32_t PlayerController::CurrentCdMask() const {
    for (size_t i = 0; i < cdDrives_.size() && hasCdDrive_; ++i)
        if (cdDrives_[i].get() == currentCd_) return 1u << i;
    return 0;
}

void PlayerController::ReadCurrentCd() {
    if (!currentCd_) return;
    if (IsActive(currentCd_) && currentCd_->Count() > 0) {
        currentCd_->SetCurrent(-1);
        Refresh();
    }
    uint32_t result = currentCd_->ReadToc();
    if (std::optional<UserMessage> error = currentCd_->TakeError()) ReportError(std::move(*error));
    // The read has told the user already; polling need not say it again.
    if (result != 0) {
        for (size_t i = 0; i < cdDrives_.size(); ++i)
            if (cdDrives_[i].get() == currentCd_) cdErrorShown_[i] = true;
    }
}

void PlayerController::OnMediaArrived(uint32_t driveMask) {
    if (!(driveMask & CurrentCdMask())) return;
    ReadCurrentCd();
    LookUpCdInfo();
    bool autoPlay = settings_ && settings_->Flag(settings::kAutoPlayCD);
    if (autoPlay || IsActive(currentCd_)) {
        MakeActive(currentCd_);
        RefreshAll();
        // Refresh has already started the disc when the player was playing;
        // Play would then stop it again.
        if (state_ != Playing) Play();
    }
}

void PlayerController::OnMediaRemoved(uint32_t driveMask) {
    if (!(driveMask & CurrentCdMask())) return;
    if (IsActive(currentCd_)) {
        // Playing stops with the disc: say why, unless the look that found
        // it gone has just told of a failure.
        for (size_t i = 0; i < cdDrives_.size(); ++i)
            if (cdDrives_[i].get() == currentCd_ && state_ != Stopped && currentCd_->Count() > 0 &&
                !cdErrorShown_[i])
                ReportError(UserMessage{0, cdaudio::ResultText(cdaudio::kErrNotReady), {}});
        playlist_.SetCurrent(0);
        MakeActive(&playlist_);
        Refresh();
    }
    currentCd_->Clear();
    RefreshAll();
}

void PlayerController::OnCdChange(int drive, int kind, const std::string& text) {
    if (drive < 0 || drive >= static_cast<int>(cdDrives_.size())) return;
    size_t i = static_cast<size_t>(drive);
    switch (kind) {
        case cdaudio::MediaWatcher::Change::Arrived:
            cdErrorShown_[i] = false;
            OnMediaArrived(1u << drive);
            break;
        case cdaudio::MediaWatcher::Change::Removed:
            OnMediaRemoved(1u << drive);
            break;
        case cdaudio::MediaWatcher::Change::Failed:
            // A drive that keeps failing is told about once, not every second.
            if (!cdErrorShown_[i]) {
                cdErrorShown_[i] = true;
                ReportError(UserMessage{0, text, {}});
            }
            break;
    }
}

void PlayerController::PollCdDrives() {
    if (cdPoller_) cdPoller_->PollNow();
}

void PlayerController::LookUpCdInfo() {
    if (!currentCd_ || currentCd_->Count() == 0) return;
    if (currentCd_->Info().ReadCache()) return;
    if (settings_ && settings_->Flag(settings::kAutoCDInfo))
        currentCd_->Info().StartLookup(CddbLookupConfig(*settings_));
}

void PlayerController::OnCddbStatus() {
    if (!currentCd_) return;
    display_->ShowMessage(currentCd_->Info().StatusText(), kNoticeMs);
    display_->Hold(kNoticeMs);
}

void PlayerController::OnCddbInfoChanged() {
    display_->RefreshListViews();
    if (currentCd_ && IsActive(currentCd_)) Refresh();
}

void PlayerController::OnCddbError() {
    if (!currentCd_) return;
    display_->ShowMessage(currentCd_->Info().ErrorText(), kNoticeMs);
}

void PlayerController::ApplyPreferredDrive() {
    if (!hasCdDrive_ || !settings_) return;
    const int index = settings_->ChooseCdDrive(cdDriveNames_);
    if (index < 0 || index >= static_cast<int>(cdDrives_.size())) return;
    CdDisc* chosen = cdDrives_[static_cast<size_t>(index)].get();
    if (chosen == currentCd_) return;
    const bool wasActive = IsActive(currentCd_);
    if (wasActive && source_) source_->Stop();
    currentCd_ = chosen;
    // A drive never read yet (no disc id) reads its disc now.
    if (currentCd_->Count() == 0 && currentCd_->DiscId() == 0) {
        ReadCurrentCd();
        if (currentCd_->Count() > 0) currentCd_->SetCurrent(0);
    }
    if (currentCd_->Count() > 0) LookUpCdInfo();
    if (wasActive || settings_->Flag(settings::kAutoPlayCD)) MakeActive(currentCd_);
    Stop();
    // Stop does nothing without a source; the new list still has to show.
    RefreshAll();
}

void PlayerController::Start() {
    if (settings_) {
        engine_.Gain().SetSettings(LoadSoundSettings(*settings_));
        SettingsStore* store = settings_;
        SetUseId3TitleQuery([store] { return store->Flag(settings::kUseID3Title); });
    }
    ShowVolumeFromMixer();
    BuildCdDrives();
    // Enabled without a drive too: choosing it then says why nothing opens.
    display_->EnableCdButton(true);
    if (hasCdDrive_) {
        ReadCurrentCd();
        LookUpCdInfo();
        MakeActive(playlist_.Count() > 0 ? static_cast<TrackList*>(&playlist_) : currentCd_);
        cdPoller_ = std::make_unique<CdMediaPoller>(cdDriveNames_,
                                                    [this](const cdaudio::MediaWatcher::Change& c) {
                                                        OnCdChange(c.drive, c.kind, c.text);
                                                    });
        cdPoller_->Start(cdPollMs_);
    } else {
        MakeActive(&playlist_);
    }
    Refresh();
    running_ = true;
}

void PlayerController::Shutdown() {
    if (settings_) SetUseId3TitleQuery(nullptr);
    if (volume_) volume_->Close();
    running_ = false;
    cdPoller_.reset();
    // A lookup still waiting on its server ends now, not at its time-out.
    for (auto& disc : cdDrives_) disc->Info().Abandon();
    if (webSource_) {
        webSource_->Stop();
        webSource_->Close();
        webSource_.reset();
    }
    if (source_) {
        source_->Stop();
        source_->Close();
        source_ = nullptr;
    }
    // The discs and their tracks go with the controller; the active list
    // must not name one of them afterwards.
    for (auto& disc : cdDrives_)
        if (IsActive(disc.get())) MakeActive(&playlist_);
}

}  // namespace tunara
