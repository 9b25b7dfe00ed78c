#pragma once
// The playlist window: a panel docked below the main window with the
// playlist's list view and its file buttons.
#include <QString>
#include <functional>
#include <string>

#include "ui/qt/SkinnedWindow.h"

namespace tunara {
class PlayerController;
class Playlist;
}  // namespace tunara

class QLineEdit;
class QMenu;

namespace tunara::qt {

class BitmapButton;
class TrackListView;

// The file information's ReplayGain lines for a file: track and album gain
// and peak as its tags give them, or that it has none.
QString ReplayGainText(const std::string& path);

class PlaylistWindow : public PanelWindow {
    Q_OBJECT
public:
    PlaylistWindow(PanelWindow* owner, Playlist& playlist, PlayerController& controller);

    TrackListView* View() const { return view_; }
    BitmapButton* Button(int id) const;
    // Files dropped here are added without changing the current item;
    // playlist files replace the list (after the save prompt).
    void AddFiles(const QStringList& names);
    // The Options button; set by the program.
    std::function<void()> onOptions;
    // The player's keys not taken by the list; true when one was.
    std::function<bool(int key, Qt::KeyboardModifiers)> onKey;

    void RemoveSelection();
    // The find field: typing selects the next entry that holds the text,
    // Return plays it, Escape closes the field.
    void ShowFind();
    QLineEdit* FindField() const { return find_; }

    // The right-click menu for the selection, the caller's to delete.
    QMenu* ContextMenu();
    enum class SortKey { Title, Artist, FileName };
    void Sort(SortKey key);
    // What opens a folder (default: xdg-open) and shows a file's details
    // (default: a message box); tests put their own.
    std::function<void(const QString& folder)> openFolder;
    std::function<void(const QString& text)> showInfo;

protected:
    void keyPressEvent(QKeyEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    void dragEnterEvent(QDragEnterEvent*) override;
    void dropEvent(QDropEvent*) override;

private:
    void OnButton(int id);

    Playlist& playlist_;
    PlayerController& controller_;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void Find(bool next);

    TrackListView* view_ = nullptr;
    QLineEdit* find_ = nullptr;
    std::vector<BitmapButton*> buttons_;
};

}  // namespace tunara::qt
