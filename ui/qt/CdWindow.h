#pragma once
// The CD window: a panel showing the current disc's artist and title, its
// tracks in a list view, and the buttons "Record", "CD Info" and "Options".
#include <QStringList>
#include <functional>
#include <vector>

#include "ui/qt/SkinnedWindow.h"

namespace tunara {
class CdDisc;
class PlayerController;
class SettingsStore;
}  // namespace tunara

class QMenu;

namespace tunara::qt {

class BitmapButton;
class LabelControl;
class TrackListView;

inline constexpr int kCdRecordId = 1033;
inline constexpr int kCdInfoId = 1034;
inline constexpr int kCdOptionsId = 1035;
inline constexpr char kNoTracksSelected[] = "No tracks are selected.";

class CdWindow : public PanelWindow {
    Q_OBJECT
public:
    // `disc` may be null (no drive). `settings` gives the record options.
    CdWindow(PanelWindow* owner, CdDisc* disc, PlayerController& controller,
             SettingsStore* settings);
    ~CdWindow() override;

    // Labels from the first track, the list view, the active-list colours.
    void Refresh();
    CdDisc* Disc() const { return disc_; }
    // Shows another disc (the preferred drive changed).
    void SetDisc(CdDisc* disc);
    // "CD Info": the disc's CDDB lookup with the settings' server and proxy.
    // Its notices reach the controller, which refreshes this window.
    void LookUp();

    BitmapButton* Button(int id) const;
    TrackListView* View() const { return view_; }
    LabelControl* ArtistLabel() const { return artist_; }
    LabelControl* TitleLabel() const { return title_; }

    // What the program plugs in: the options sheet, and the recording
    // window's run (default: a RecordDialog over the disc's reader, shown modally).
    std::function<void()> onOptions;
    std::function<void(std::vector<int> rows)> runRecording;
    // Replaces the error box (tests): caption, text.
    std::function<void(const QString&, const QString&)> showError;
    // Replaces the release list (tests): the offered releases and the one in
    // the tracks; returns the one chosen, -1 to keep it.
    std::function<int(const QStringList&, int)> chooseRelease;

    void Record();
    // The right-click menu, the caller's to delete.
    QMenu* ContextMenu();

protected:
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    void OnButton(int id);
    void RunRecordDialog(const std::vector<int>& rows);
    // After a lookup that found several releases of the disc: the user picks one.
    void OfferReleases();

    CdDisc* disc_;
    PlayerController& controller_;
    SettingsStore* settings_;
    std::vector<BitmapButton*> buttons_;
    LabelControl* artist_ = nullptr;
    LabelControl* title_ = nullptr;
    TrackListView* view_ = nullptr;
};

}  // namespace tunara::qt
