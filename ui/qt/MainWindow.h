#pragma once
// The main window: transport, mode and panel buttons, the position and
// volume sliders and the two displays. Every input goes to the player
// controller; the controller shows its state through this window.
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/core/PlayerController.h"
#include "ui/core/PlayerDisplay.h"
#include "ui/qt/SkinnedWindow.h"

namespace tunara {
class Playlist;
class SessionStore;
class SettingsStore;
}  // namespace tunara

class QMenu;

namespace tunara::qt {

class BitmapButton;
class BitmapSlider;
class CdWindow;
class EqualiserWindow;
class InfoDisplay;
class LevelDisplay;
class PlaylistWindow;

class MainWindow : public PanelWindow, public PlayerDisplay {
    Q_OBJECT
public:
    // `volume` may be null (no mixer). The controller starts at once and the
    // 25 ms tick runs from then on.
    MainWindow(Playlist& playlist, VolumeOutput* volume, std::string programFolder,
               SettingsStore* settings = nullptr);
    // Shows and drives a controller the front end built (over `playlist`);
    // it must outlive the window.
    MainWindow(PlayerController& controller, Playlist& playlist, SettingsStore* settings = nullptr);
    ~MainWindow() override;

    PlayerController& Controller() { return *controller_; }
    BitmapButton* Button(int id) const;
    BitmapSlider* PositionSlider() const { return position_; }
    BitmapSlider* VolumeSlider() const { return volume_; }
    InfoDisplay* Info() const { return info_; }
    LevelDisplay* Levels() const { return levels_; }
    PlaylistWindow* PlaylistPanel() const;
    CdWindow* CdPanel() const;
    QTimer& TickTimer() { return tick_; }

    void TogglePlaylistWindow();
    // The equaliser window (button "EQ", key E).
    void ToggleEqualiserWindow();
    EqualiserWindow* EqualiserPanel() const;
    BitmapSlider* BalanceSlider() const { return balance_; }
    // The sound settings (ReplayGain, equaliser, balance) as they are now, and
    // a change to them: heard at once, kept in the settings, written down
    // when `settled` (a drag's steps are not).
    SoundSettings Sound() const;
    void SetSound(const SoundSettings& sound, bool settled);
    // A file handed over by a second start plays at once, as on a fresh
    // start; empty: just come to the front.
    void HandOver(const QString& file);
    // The files of a drop, in the order given.
    void OpenFiles(const QStringList& names);
    void ShowAbout();

    // Brings back the last session from `store` and keeps it there from now
    // on: on every change to the list and at the end. Without `withList` the
    // list stays as it is (a list file given on the command line). The item
    // and position come back only when "ResumeSession" is set.
    void RestoreSession(SessionStore& store, bool withList = true);
    // Writes the session now (the list only when it changed since).
    void SaveSession();
    // The player's keys, from this window or a panel's (`inList`: the
    // playlist's own keys too); false for a key that is not one of them.
    bool HandleKey(int key, Qt::KeyboardModifiers modifiers, bool inList = false);
    void SeekBy(int ms);
    void VolumeBy(int steps);
    void ShowFind();
    // The right-click menu, the caller's to delete.
    QMenu* ContextMenu();

    // Where a window of this size at `topLeft` is wholly on a screen, when it fits.
    static QPoint OnScreen(QPoint topLeft, QSize size);

    // What the program plugs in: the options sheet (also behind the panels'
    // Options buttons).
    std::function<void()> onOptions;

    // PlayerDisplay.
    void ShowTitle(const std::string& title) override;
    void ShowFormatName(const std::string& name) override;
    void ShowBitRate(int bitsPerSecond) override;
    void ShowSampleRate(int hz) override;
    void ShowChannels(int channels) override;
    void ShowDuration(int seconds) override;
    void ShowPosition(int seconds) override;
    void ShowTrackNumber(int number) override;
    void ShowTrackCount(int count) override;
    void ShowMessage(const std::string& text, int ms) override;
    void SetLevels(float left, float right) override;
    void SetBands(const float* bands) override;
    void Hold(int ms) override;
    void SetPositionRange(int max) override;
    void SetPositionSlider(int position) override;
    void SetVolumeSlider(int position) override;
    void SetWindowTitle(const std::string& title) override;
    void SetTransportLit(bool play, bool fastForward, bool rewind) override;
    void SetModeLit(bool intro, bool shuffle, bool repeat) override;
    void EnableCdButton(bool enabled) override;
    // The CD button (the controller calls it only when a drive exists).
    void ToggleCdWindow() override;
    void PlaybackStopped() override;
    void RefreshListViews() override;

signals:
    void closed();

protected:
    void keyPressEvent(QKeyEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent*) override;
    void changeEvent(QEvent*) override;
    void dragEnterEvent(QDragEnterEvent*) override;
    void dropEvent(QDropEvent*) override;

private:
    MainWindow(std::unique_ptr<PlayerController> own, PlayerController* given, Playlist& playlist,
               SettingsStore* settings);
    void OnButton(int id);
    void SetLit(int id, bool lit);
    void PostSave(bool listChanged);
    void PlacePanel(PanelWindow* panel, const char* name);
    bool Resuming() const;
    void OpenOptions();
    void OnBalance(int code, int value);

    tunara::Playlist& playlist_;
    SettingsStore* settings_;
    std::unique_ptr<PlayerController> ownController_;  // when the window made its own
    PlayerController* controller_ = nullptr;
    std::map<int, BitmapButton*> buttons_;
    BitmapSlider* position_ = nullptr;
    BitmapSlider* volume_ = nullptr;
    InfoDisplay* info_ = nullptr;
    LevelDisplay* levels_ = nullptr;
    QPointer<PlaylistWindow> playlistWindow_;
    QPointer<CdWindow> cdWindow_;
    QPointer<EqualiserWindow> equaliserWindow_;
    BitmapSlider* balance_ = nullptr;
    std::vector<QPointer<PanelWindow>> hiddenWithMe_;
    QTimer tick_;
    bool shutDown_ = false;

    SessionStore* session_ = nullptr;
    bool listDirty_ = false;
    bool savePosted_ = false;
    // What the tick compares to notice changes nobody reported.
    struct Seen {
        int count = -1, current = -1;
        uint32_t generation = 0;
        const void* list = nullptr;
        bool operator==(const Seen&) const = default;
    } seen_;
    Seen Look() const;
    std::map<std::string, QPoint> places_;  // of panels now closed too
};

}  // namespace tunara::qt
