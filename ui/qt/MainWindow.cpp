#include "ui/qt/MainWindow.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <QWheelEvent>

#include "engine/OutputEngine.h"
#include "playlist/Playlist.h"
#include "ui/core/Session.h"
#include "ui/core/SettingsStore.h"
#include "ui/core/SoundOptions.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/BitmapSlider.h"
#include "ui/qt/CdWindow.h"
#include "ui/qt/Displays.h"
#include "ui/qt/EqualiserWindow.h"
#include "ui/qt/PlaylistWindow.h"
#include "ui/qt/SkinIds.h"
#include "ui/qt/TrackListView.h"
#include "ui/qt/VideoWindow.h"
#include "ui/skin/Skin.h"

namespace tunara::qt {

namespace {
constexpr int kShownTickMs = 40;
constexpr int kMinimisedTickMs = 250;
// After a second in which neither the meters nor the title moved (a steady
// sound, silence, a stopped player), look five times a second until they
// move again: the clock and the buttons lose nothing, the meters wake within
// a fifth of a second, and the player wakes half as often as at ten (each
// look costs a poll of the output's position and, now and then, a paint).
constexpr int kStillTickMs = 200;
constexpr int kStillAfterTicks = 1000 / kShownTickMs;
}  // namespace

namespace {

struct ButtonSpec {
    int id, x, y, normal, pressed, lit, mask;
};

constexpr ButtonSpec kButtons[] = {
    {kIdOk, 358, 7, 315, 316, 317, 318},
    {kIdMin, 347, 7, 310, 311, 313, 314},
    {kIdPlayList, 315, 24, 245, 244, 246, kTextButtonMask},
    {kCmdCd, 315, 39, 225, 227, 229, kTextButtonMask},
    {kCmdWeb, 315, 54, 201, 202, 210, kTextButtonMask},
    {kIdOptions, 315, 69, 274, 277, 280, kTextButtonMask},
    {kCmdNormal, 71, 97, 198, 206, 214, kTextButtonMask},
    {kCmdIntro, 110, 97, 196, 204, 212, kTextButtonMask},
    {kCmdShuffle, 149, 97, 194, 208, 216, kTextButtonMask},
    {kCmdRepeat, 188, 97, 199, 207, 215, kTextButtonMask},
    {kCmdEject, 16, 127, 140, 142, 167, kTransportMask},
    {kCmdPrev, 55, 126, 152, 156, 181, kTransportMask},
    {kCmdBack, 93, 127, 155, 159, 182, kTransportMask},
    {kCmdStop, 131, 126, 141, 148, 174, kTransportMask},
    {kCmdPlay, 170, 126, 138, 145, 179, kTransportMask},
    {kCmdFwd, 209, 126, 153, 157, 176, kTransportMask},
    {kCmdNext, 247, 126, 154, 158, 178, kTransportMask},
    {kIdAbout, 305, 139, 296, 297, 298, 299},
    {kIdEqualiser, skin::equaliser::kEqButton.x(), skin::equaliser::kEqButton.y(),
     skin::equaliser::kEqNormal, skin::equaliser::kEqPressed, skin::equaliser::kEqLit,
     kTextButtonMask},
};

constexpr int kSeekStepMs = 5000;
constexpr int kVolumeStep = 5;
constexpr int kBalanceStep = 10;
// A release this close to the middle is the middle: the slider is short.
constexpr int kBalanceDetent = 8;

// What each control does and its key, for the tooltips.
const std::map<int, const char*>& Tips() {
    static const std::map<int, const char*> tips = {
        {kCmdPlay, "Play / pause (Space; X plays, C pauses)"},
        {kCmdStop, "Stop (V)"},
        {kCmdPrev, "Previous (Z)"},
        {kCmdNext, "Next (B)"},
        {kCmdFwd, "Fast forward"},
        {kCmdBack, "Rewind"},
        {kCmdEject, "Open a file (Ctrl+O)"},
        {kCmdNormal, "Normal order"},
        {kCmdIntro, "Intro: the first seconds of each item"},
        {kCmdShuffle, "Shuffle"},
        {kCmdRepeat, "Repeat"},
        {kIdPlayList, "Playlist (Ctrl+F or J finds in it)"},
        {kCmdCd, "CD"},
        {kCmdWeb, "Web"},
        {kIdOptions, "Options"},
        {kIdEqualiser, "Equaliser (E)"},
        {kIdAbout, "About Tunara"},
        {kIdOk, "Close"},
        {kIdMin, "Minimise"},
    };
    return tips;
}

}  // namespace

MainWindow::MainWindow(tunara::Playlist& playlist, VolumeOutput* volume, std::string programFolder,
                       SettingsStore* settings)
    : MainWindow(
          std::make_unique<PlayerController>(playlist, volume, std::move(programFolder), settings),
          nullptr, playlist, settings) {}

MainWindow::MainWindow(PlayerController& controller, tunara::Playlist& playlist,
                       SettingsStore* settings)
    : MainWindow(nullptr, &controller, playlist, settings) {}

MainWindow::MainWindow(std::unique_ptr<PlayerController> own, PlayerController* given,
                       tunara::Playlist& playlist, SettingsStore* settings)
    : PanelWindow(nullptr),
      playlist_(playlist),
      settings_(settings),
      ownController_(std::move(own)),
      controller_(given ? given : ownController_.get()) {
    setObjectName(QStringLiteral("Tunara"));
    SetUpSkin(kMainBackground, kMainMask);
    setAcceptDrops(true);
    QPixmap icon(SkinPath(kProgramIcon));
    if (icon.isNull()) icon = QPixmap(SkinPath(kProductButtonLit));
    if (!icon.isNull()) setWindowIcon(QIcon(icon));
    setWindowTitle(QStringLiteral("Tunara"));

    for (const ButtonSpec& b : kButtons) {
        auto* button = new BitmapButton(b.id, this);
        button->move(b.x, b.y);
        button->SetBitmaps(b.normal, b.pressed, b.lit, 0, b.mask);
        connect(button, &BitmapButton::clicked, this, &MainWindow::OnButton);
        buttons_[b.id] = button;
        if (auto tip = Tips().find(b.id); tip != Tips().end())
            button->setToolTip(QString::fromUtf8(tip->second));
    }

    position_ = new BitmapSlider(kIdPositionSlider, Qt::Horizontal, this);
    position_->move(22, 112);
    position_->SetBitmaps(kThumb, kThumbMask, kPositionChannel, kPositionChannelMask);
    position_->SetRange(0, 0);
    volume_ = new BitmapSlider(kIdVolumeSlider, Qt::Vertical, this);
    volume_->move(291, 15);
    volume_->SetBitmaps(kThumb, kThumbMask, kVolumeChannel, kVolumeChannelMask);
    volume_->SetRange(PlayerController::kVolumeMin, PlayerController::kVolumeMax);
    position_->setToolTip(QStringLiteral("Position (Left / Right: 5 s; wheel)"));
    volume_->setToolTip(QStringLiteral("Volume (Up / Down; wheel)"));

    info_ = new InfoDisplay(this);
    info_->setGeometry(30, 30, 240, 35);
    info_->SetColours(Qt::black, QColor(0, 127, 255), QColor(224, 224, 224));
    levels_ = new LevelDisplay(this);
    levels_->setGeometry(30, 70, 240, 21);
    levels_->SetColours(Qt::black, QColor(64, 0, 127), QColor(32, 64, 192), QColor(0, 127, 255));

    if (settings_) info_->SetRemaining(settings_->Flag(settings::kShowRemaining));
    connect(info_, &InfoDisplay::timeClicked, this, [this] {
        info_->SetRemaining(!info_->Remaining());
        if (settings_) {
            settings_->SetNumber(settings::kShowRemaining, info_->Remaining());
            settings_->SaveAll();
        }
    });
    position_->installEventFilter(this);
    volume_->installEventFilter(this);

    controller_->SetDisplay(this);
    // The sliders post their notices, so the controller sees them after the
    // event that caused them, as the window messages did.
    connect(position_, &BitmapSlider::scrolled, this,
            [this](int code, int value) { controller_->OnPositionSlider(code, value); });
    connect(volume_, &BitmapSlider::scrolled, this,
            [this](int code, int value) { controller_->OnVolumeSlider(code, value); });

    controller_->Start();
    balance_ = new BitmapSlider(kIdBalanceSlider, Qt::Horizontal, this);
    balance_->move(skin::equaliser::kBalance);
    balance_->SetBitmaps(kThumb, kThumbMask, skin::equaliser::kBalanceChannel,
                         skin::equaliser::kBalanceChannelMask);
    balance_->SetRange(-100, 100);
    balance_->SetPosition(Sound().balance);
    balance_->setToolTip(QStringLiteral("Balance (wheel; near the middle is the middle)"));
    balance_->installEventFilter(this);
    connect(balance_, &BitmapSlider::scrolled, this, &MainWindow::OnBalance);
    // The displays change at most 25 times a second, and nobody sees them
    // while the window is minimised: fewer wakeups, the same picture.
    tick_.setTimerType(Qt::CoarseTimer);
    tick_.setInterval(kShownTickMs);
    connect(&tick_, &QTimer::timeout, this, [this] {
        const int before = levels_->Redraws();
        controller_->OnTick();
        // The title scrolls only while something plays, so an idle player
        // draws nothing.
        if (controller_->State() == Playing)
            info_->StepScroll();
        else
            info_->ResetScroll();
        // A scrolling title keeps its pace: it moves by ticks.
        const bool moved = levels_->Redraws() != before ||
                           (controller_->State() == Playing && info_->TitleOverflows());
        stillTicks_ = moved ? 0 : stillTicks_ + 1;
        const int interval = isMinimized()                     ? kMinimisedTickMs
                             : stillTicks_ >= kStillAfterTicks ? kStillTickMs
                                                               : kShownTickMs;
        if (tick_.interval() != interval) tick_.setInterval(interval);
        // Changes that came without a list refresh (a disc, a hand-over).
        if (session_ && Look() != seen_) PostSave(true);
    });
    tick_.start();
}

MainWindow::~MainWindow() {
    tick_.stop();
    if (!shutDown_) SaveSession();
    session_ = nullptr;
    if (playlistWindow_) delete playlistWindow_.data();
    // Before the controller goes: the CD window shows one of its discs.
    if (cdWindow_) delete cdWindow_.data();
    if (equaliserWindow_) delete equaliserWindow_.data();
    if (!shutDown_) controller_->Shutdown();
    controller_->SetDisplay(nullptr);
}

BitmapButton* MainWindow::Button(int id) const {
    auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

PlaylistWindow* MainWindow::PlaylistPanel() const {
    return playlistWindow_.data();
}

CdWindow* MainWindow::CdPanel() const {
    return cdWindow_.data();
}

void MainWindow::OnButton(int id) {
    switch (id) {
        case kIdOk:
            close();
            break;
        case kIdMin:
            showMinimized();
            break;
        case kIdPlayList:
            TogglePlaylistWindow();
            break;
        case kCmdCd:
            controller_->Command(kCmdCd);
            break;
        case kIdOptions:
            OpenOptions();
            break;
        case kIdEqualiser:
            ToggleEqualiserWindow();
            break;
        case kIdAbout:
            ShowAbout();
            break;
        default:
            controller_->Command(id);
            break;
    }
    SetLit(kCmdWeb, controller_->WebOn());
}

void MainWindow::TogglePlaylistWindow() {
    if (playlistWindow_) {
        places_["playlist"] = playlistWindow_->pos();
        playlistWindow_->close();
        return;
    }
    playlistWindow_ = new PlaylistWindow(this, playlist_, *controller_);
    playlistWindow_->onOptions = [this] { OpenOptions(); };
    playlistWindow_->onKey = [this](int key, Qt::KeyboardModifiers m) {
        return HandleKey(key, m, true);
    };
    // Lit while open, however the window goes.
    SetLit(kIdPlayList, true);
    connect(playlistWindow_, &QObject::destroyed, this, [this] {
        SetLit(kIdPlayList, false);
        PostSave(false);
    });
    playlistWindow_->show();
    PlacePanel(playlistWindow_, "playlist");
    PostSave(false);
    if (playlist_.Current() >= 0) playlistWindow_->View()->EnsureVisible(playlist_.Current());
}

void MainWindow::ToggleCdWindow() {
    if (cdWindow_) {
        places_["cd"] = cdWindow_->pos();
        cdWindow_->close();
        return;
    }
    cdWindow_ = new CdWindow(this, controller_->CurrentCd(), *controller_, settings_);
    cdWindow_->onOptions = [this] { OpenOptions(); };
    SetLit(kCmdCd, true);
    connect(cdWindow_, &QObject::destroyed, this, [this] {
        SetLit(kCmdCd, false);
        PostSave(false);
    });
    cdWindow_->show();
    PlacePanel(cdWindow_, "cd");
    PostSave(false);
}

void MainWindow::ShowAbout() {
    AboutBox about(this);
    about.Exec();
}

void MainWindow::ToggleEqualiserWindow() {
    if (equaliserWindow_) {
        places_["equaliser"] = equaliserWindow_->pos();
        equaliserWindow_->close();
        return;
    }
    EqualiserWindow::Sound sound{
        [this] { return Sound(); },
        [this](const SoundSettings& s, bool settled) { SetSound(s, settled); }};
    equaliserWindow_ = new EqualiserWindow(this, std::move(sound), settings_);
    equaliserWindow_->onKey = [this](int key, Qt::KeyboardModifiers m) {
        return HandleKey(key, m);
    };
    SetLit(kIdEqualiser, true);
    connect(equaliserWindow_, &QObject::destroyed, this, [this] {
        SetLit(kIdEqualiser, false);
        PostSave(false);
    });
    equaliserWindow_->show();
    PlacePanel(equaliserWindow_, "equaliser");
    PostSave(false);
}

EqualiserWindow* MainWindow::EqualiserPanel() const {
    return equaliserWindow_.data();
}

SoundSettings MainWindow::Sound() const {
    // Without a store the engine's settings are the only ones.
    return settings_ ? LoadSoundSettings(*settings_) : controller_->Engine().Gain().Settings();
}

void MainWindow::SetSound(const SoundSettings& s, bool settled) {
    const SoundSettings before = Sound();
    if (settings_) {
        StoreSoundSettings(*settings_, s);
        if (settled) settings_->SaveAll();
    }
    // Only the item gain needs the items' tags read again; equaliser and
    // balance moves go straight to the gain stage.
    const bool itemGain = s.mode != before.mode || s.preampDb != before.preampDb ||
                          s.defaultGainDb != before.defaultGainDb ||
                          s.preventClipping != before.preventClipping;
    if (itemGain)
        controller_->ApplySoundSettings(s);
    else
        controller_->Engine().Gain().SetSettings(s);
}

void MainWindow::OnBalance(int code, int value) {
    if (code == kThumbPosition && std::abs(value) < kBalanceDetent && value != 0) {
        value = 0;
        balance_->SetPosition(0);
    }
    SoundSettings s = Sound();
    if (s.balance == value && code != kThumbPosition) return;
    s.balance = value;
    SetSound(s, code == kThumbPosition);
}

void MainWindow::OpenOptions() {
    if (!onOptions) return;
    onOptions();
    // The sheet may have changed the sound settings in the store.
    if (!settings_) return;
    const SoundSettings s = LoadSoundSettings(*settings_);
    controller_->ApplySoundSettings(s);
    balance_->SetPosition(s.balance);
    if (equaliserWindow_) equaliserWindow_->Sync();
}

void MainWindow::HandOver(const QString& file) {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
    if (!file.isEmpty()) controller_->OpenAndPlay({file.toStdString()});
}

void MainWindow::OpenFiles(const QStringList& names) {
    std::vector<std::string> list;
    for (const QString& n : names) list.push_back(n.toStdString());
    controller_->OpenFiles(list);
}

// ---- session ---------------------------------------------------------------------

QPoint MainWindow::OnScreen(QPoint topLeft, QSize size) {
    QScreen* screen = QGuiApplication::screenAt(topLeft + QPoint(size.width() / 2, 8));
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return topLeft;
    const QRect area = screen->availableGeometry();
    const int x = std::clamp(topLeft.x(), area.left(),
                             std::max(area.left(), area.right() + 1 - size.width()));
    const int y = std::clamp(topLeft.y(), area.top(),
                             std::max(area.top(), area.bottom() + 1 - size.height()));
    return {x, y};
}

bool MainWindow::Resuming() const {
    return !settings_ || settings_->Flag(settings::kResumeSession);
}

MainWindow::Seen MainWindow::Look() const {
    const TrackList* list = controller_ ? controller_->ActiveList() : nullptr;
    Seen s;
    s.count = playlist_.Count();
    s.generation = playlist_.Generation();
    s.list = list;
    s.current = list ? list->Current() : -1;
    return s;
}

void MainWindow::PlacePanel(PanelWindow* panel, const char* name) {
    auto it = places_.find(name);
    if (!panel || it == places_.end()) return;
    const QPoint at = OnScreen(it->second, panel->size());
    if (at == panel->pos()) return;
    // Docked again when it ends up where a drag would have docked it.
    panel->SetDockedTo(panel->SnapRect(QRect(at, panel->size())).dockTo);
    panel->MoveTo(at);
}

void MainWindow::RestoreSession(SessionStore& store, bool withList) {
    session_ = &store;
    const SessionState st = store.Load();
    if (st.found) {
        for (const auto& [name, at] : st.places) places_[name] = QPoint(at.first, at.second);
        if (auto it = places_.find("main"); it != places_.end()) move(OnScreen(it->second, size()));
        if (withList && playlist_.Count() == 0) store.RestoreList(playlist_, st);
        TrackList* list = &playlist_;
        if (st.cdActive && controller_->CurrentCd() && controller_->CurrentCd()->Count() > 0)
            list = controller_->CurrentCd();
        const bool resume = Resuming() && (withList || list != &playlist_);
        if (resume && st.current >= 0 && st.current < list->Count()) list->SetCurrent(st.current);
        list->SetIntro(st.intro);
        list->SetShuffle(st.shuffle);
        list->SetRepeat(st.repeat);
        controller_->MakeActive(list);
        controller_->RefreshAll();
        if (resume && st.positionMs > 0 && controller_->Source())
            controller_->OnPositionSlider(kThumbPosition, st.positionMs / 10);
        if (st.volume >= 0) {
            controller_->OnVolumeSlider(kThumbPosition, PlayerController::kVolumeMax - st.volume);
            controller_->OnMixerChange();
        }
        if (st.playlistOpen && !playlistWindow_) TogglePlaylistWindow();
        if (st.cdOpen && !cdWindow_ && controller_->HasCdDrive()) ToggleCdWindow();
        if (st.equaliserOpen && !equaliserWindow_) ToggleEqualiserWindow();
    }
    seen_ = Look();
    listDirty_ = !st.found;
}

void MainWindow::PostSave(bool listChanged) {
    if (!session_ || shutDown_) return;
    if (listChanged) listDirty_ = true;
    if (savePosted_) return;
    // Once for a burst of changes, after the change is complete.
    savePosted_ = true;
    QTimer::singleShot(0, this, [this] {
        savePosted_ = false;
        if (!shutDown_) SaveSession();
    });
}

void MainWindow::SaveSession() {
    if (!session_) return;
    SessionState st;
    const TrackList* list = controller_ ? controller_->ActiveList() : nullptr;
    st.cdActive = list && list != &playlist_;
    st.current = list ? list->Current() : -1;
    st.positionMs = controller_->Source() ? std::max(0, controller_->Source()->GetPosition()) : 0;
    st.volume = PlayerController::kVolumeMax - volume_->Position();
    if (list) {
        st.intro = list->Intro();
        st.shuffle = list->Shuffle();
        st.repeat = list->Repeat();
    }
    places_["main"] = pos();
    if (playlistWindow_) places_["playlist"] = playlistWindow_->pos();
    if (cdWindow_) places_["cd"] = cdWindow_->pos();
    if (equaliserWindow_) places_["equaliser"] = equaliserWindow_->pos();
    for (const auto& [name, at] : places_) st.places[name] = {at.x(), at.y()};
    st.playlistOpen = playlistWindow_ && playlistWindow_->isVisible();
    st.cdOpen = cdWindow_ && cdWindow_->isVisible();
    st.equaliserOpen = equaliserWindow_ && equaliserWindow_->isVisible();
    st.listPath = playlist_.Path();
    st.listModified = playlist_.IsModified();
    st.listM3u = playlist_.IsM3u();
    if (listDirty_ && session_->SaveList(playlist_)) listDirty_ = false;
    session_->Save(st);
    seen_ = Look();
}

// ---- display ---------------------------------------------------------------------

void MainWindow::ShowTitle(const std::string& t) {
    // "Artist – Title" when the item knows both.
    const TrackList* list = controller_ ? controller_->ActiveList() : nullptr;
    if (list && !t.empty() && list->CurrentItem() && list->TitleAt(list->Current()) == t) {
        info_->ShowTitle(TrackListView::DisplayTitle(*list, list->Current()).toStdString());
        return;
    }
    info_->ShowTitle(t);
}
void MainWindow::ShowFormatName(const std::string& n) {
    info_->ShowFormatName(n);
}
void MainWindow::ShowBitRate(int v) {
    info_->ShowBitRate(v);
}
void MainWindow::ShowSampleRate(int v) {
    info_->ShowSampleRate(v);
}
void MainWindow::ShowChannels(int v) {
    info_->ShowChannels(v);
}
void MainWindow::ShowDuration(int v) {
    info_->ShowDuration(v);
}
void MainWindow::ShowPosition(int v) {
    info_->ShowPosition(v);
}
void MainWindow::ShowTrackNumber(int v) {
    info_->ShowTrackNumber(v);
}
void MainWindow::ShowTrackCount(int v) {
    info_->ShowTrackCount(v);
}
void MainWindow::ShowMessage(const std::string& text, int ms) {
    info_->ShowMessage(text, ms);
}
void MainWindow::SetLevels(float l, float r) {
    levels_->SetLevels(l, r);
}
void MainWindow::SetBands(const float* bands) {
    levels_->SetBands(bands);
}
void MainWindow::Hold(int ms) {
    levels_->Hold(ms);
}
void MainWindow::SetPositionRange(int max) {
    position_->SetRange(0, max);
}
void MainWindow::SetPositionSlider(int v) {
    position_->SetPosition(v);
}
void MainWindow::SetVolumeSlider(int v) {
    volume_->SetPosition(v);
}
void MainWindow::SetWindowTitle(const std::string& title) {
    const QString t = QString::fromStdString(title);
    if (windowTitle() != t) setWindowTitle(t);
}
void MainWindow::SetLit(int id, bool lit) {
    if (BitmapButton* b = Button(id)) b->SetLit(lit);
}
void MainWindow::PlaybackStopped() {
    HideVideoWindows();
}
void MainWindow::SetTransportLit(bool play, bool fwd, bool back) {
    if (play || fwd || back) ResumeVideoWindows();
    SetLit(kCmdPlay, play);
    SetLit(kCmdFwd, fwd);
    SetLit(kCmdBack, back);
}
void MainWindow::SetModeLit(bool intro, bool shuffle, bool repeat) {
    SetLit(kCmdIntro, intro);
    SetLit(kCmdShuffle, shuffle);
    SetLit(kCmdRepeat, repeat);
    SetLit(kCmdNormal, !intro && !shuffle && !repeat);
}
void MainWindow::EnableCdButton(bool enabled) {
    if (BitmapButton* b = Button(kCmdCd)) b->setEnabled(enabled);
}
void MainWindow::RefreshListViews() {
    PostSave(true);
    if (playlistWindow_) {
        playlistWindow_->View()->Refresh();
        if (controller_->IsActive(&playlist_)) playlistWindow_->View()->Follow(playlist_.Current());
    }
    if (cdWindow_) {
        // A new preferred drive: the window shows the disc now current.
        if (cdWindow_->Disc() != controller_->CurrentCd())
            cdWindow_->SetDisc(controller_->CurrentCd());
        else
            cdWindow_->Refresh();
    }
}

// ---- events ------------------------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* e) {
    // Escape does nothing: only the close button ends the program.
    if (e->key() == Qt::Key_Escape || HandleKey(e->key(), e->modifiers())) {
        e->accept();
        return;
    }
    PanelWindow::keyPressEvent(e);
}

bool MainWindow::HandleKey(int key, Qt::KeyboardModifiers modifiers, bool inList) {
    // The keypad's flag does not make another key.
    modifiers &= ~Qt::KeypadModifier;
    PlayerController& c = *controller_;
    if (modifiers == Qt::ControlModifier) {
        switch (key) {
            case Qt::Key_O:
                c.Eject();
                return true;
            case Qt::Key_L:
                c.Commands().Open();
                c.RefreshAll();
                return true;
            case Qt::Key_S:
                c.Commands().Save();
                c.RefreshAll();
                return true;
            case Qt::Key_F:
                ShowFind();
                return true;
            case Qt::Key_A:
                if (!inList || !playlistWindow_) return false;
                playlistWindow_->View()->SelectAll();
                return true;
            default:
                return false;
        }
    }
    if (modifiers != Qt::NoModifier) return false;
    switch (key) {
        case Qt::Key_Space:
            c.Play();  // plays, or pauses what plays
            return true;
        case Qt::Key_X:
            if (c.State() != Playing) c.Play();
            return true;
        case Qt::Key_C:
            if (c.State() == Playing) c.Play();
            return true;
        case Qt::Key_V:
            c.Stop();
            return true;
        case Qt::Key_Z:
            c.Prev();
            return true;
        case Qt::Key_B:
            c.Next();
            return true;
        case Qt::Key_J:
            ShowFind();
            return true;
        case Qt::Key_E:
            ToggleEqualiserWindow();
            return true;
        case Qt::Key_Left:
            SeekBy(-kSeekStepMs);
            return true;
        case Qt::Key_Right:
            SeekBy(kSeekStepMs);
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
            // In the list these move the selection.
            if (inList) return false;
            VolumeBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        case Qt::Key_Delete:
            if (!inList || !playlistWindow_) return false;
            playlistWindow_->RemoveSelection();
            return true;
        default:
            return false;
    }
}

QMenu* MainWindow::ContextMenu() {
    auto* menu = new QMenu(this);
    PlayerController& c = *controller_;
    auto add = [&](const QString& text, const QString& keys, auto run) {
        QAction* a = menu->addAction(text, this, run);
        if (!keys.isEmpty()) a->setShortcut(QKeySequence(keys));
        return a;
    };
    add(c.State() == Playing ? tr("Pause") : tr("Play"), "Space", [&c] { c.Play(); });
    add(tr("Stop"), "V", [&c] { c.Stop(); });
    add(tr("Previous"), "Z", [&c] { c.Prev(); });
    add(tr("Next"), "B", [&c] { c.Next(); });
    menu->addSeparator();
    add(tr("Open File..."), "Ctrl+O", [&c] { c.Eject(); });
    add(tr("Open List..."), "Ctrl+L", [&c] {
        c.Commands().Open();
        c.RefreshAll();
    });
    menu->addSeparator();
    const TrackList* list = c.List();
    auto mode = [&](const QString& text, bool on, int command) {
        QAction* a = add(text, {}, [&c, command] { c.Command(command); });
        a->setCheckable(true);
        a->setChecked(on);
    };
    mode(tr("Normal"), list && !list->Intro() && !list->Shuffle() && !list->Repeat(), kCmdNormal);
    mode(tr("Intro"), list && list->Intro(), kCmdIntro);
    mode(tr("Shuffle"), list && list->Shuffle(), kCmdShuffle);
    mode(tr("Repeat"), list && list->Repeat(), kCmdRepeat);
    menu->addSeparator();
    QAction* playlist = add(tr("Playlist"), {}, [this] { TogglePlaylistWindow(); });
    playlist->setCheckable(true);
    playlist->setChecked(playlistWindow_);
    QAction* cd = add(tr("CD"), {}, [&c] { c.Command(kCmdCd); });
    cd->setCheckable(true);
    cd->setChecked(cdWindow_);
    cd->setEnabled(c.HasCdDrive());
    menu->addSeparator();
    QAction* equaliser = add(tr("Equaliser"), "E", [this] { ToggleEqualiserWindow(); });
    equaliser->setCheckable(true);
    equaliser->setChecked(equaliserWindow_);
    menu->addSeparator();
    add(tr("Options..."), {}, [this] { OpenOptions(); });
    add(tr("About Tunara"), {}, [this] { ShowAbout(); });
    add(tr("Quit"), {}, [this] { close(); });
    return menu;
}

void MainWindow::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = ContextMenu();
    menu->exec(e->globalPos());
    delete menu;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Wheel && watched == balance_) {
        // Up moves right, as it moves the other sliders up or on.
        const int steps = static_cast<QWheelEvent*>(e)->angleDelta().y() / 120;
        const int to = std::clamp(balance_->Position() + steps * kBalanceStep, -100, 100);
        if (steps != 0 && to != balance_->Position()) {
            balance_->SetPosition(to);
            OnBalance(kThumbPosition, to);
        }
        return true;
    }
    if (e->type() == QEvent::Wheel && (watched == position_ || watched == volume_)) {
        const int steps = static_cast<QWheelEvent*>(e)->angleDelta().y() / 120;
        if (steps != 0 && watched == volume_) VolumeBy(steps);
        if (steps != 0 && watched == position_) SeekBy(steps * kSeekStepMs);
        return true;
    }
    return PanelWindow::eventFilter(watched, e);
}

void MainWindow::SeekBy(int ms) {
    MediaSource* source = controller_->Source();
    if (!source) return;
    const int to = std::clamp(source->GetPosition() + ms, 0, std::max(0, source->GetDuration()));
    position_->SetPosition(to / 10);
    controller_->OnPositionSlider(kThumbPosition, to / 10);
}

void MainWindow::VolumeBy(int steps) {
    // The slider runs from loud at the top (0) to silent at the bottom.
    const int to = std::clamp(volume_->Position() - steps * kVolumeStep,
                              PlayerController::kVolumeMin, PlayerController::kVolumeMax);
    volume_->SetPosition(to);
    controller_->OnVolumeSlider(kThumbPosition, to);
}

void MainWindow::ShowFind() {
    if (!playlistWindow_) TogglePlaylistWindow();
    playlistWindow_->ShowFind();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    tick_.stop();
    if (!shutDown_) SaveSession();
    if (playlistWindow_) playlistWindow_->close();
    if (cdWindow_) cdWindow_->close();
    if (equaliserWindow_) equaliserWindow_->close();
    if (!shutDown_) {
        shutDown_ = true;
        controller_->Shutdown();
    }
    e->accept();
    emit closed();
}

void MainWindow::changeEvent(QEvent* e) {
    PanelWindow::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange) return;
    if (isMinimized()) {
        // Docked panels go away with the main window and come back with it.
        for (PanelWindow* p : Panels()) {
            if (p != this && p->isVisible() && p->IsDockedUnder(this)) {
                hiddenWithMe_.emplace_back(p);
                p->hide();
            }
        }
    } else {
        for (auto& p : hiddenWithMe_)
            if (p) p->show();
        hiddenWithMe_.clear();
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    QStringList names;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile()) names << url.toLocalFile();
    if (names.isEmpty()) return;
    e->acceptProposedAction();
    OpenFiles(names);
}

}  // namespace tunara::qt
