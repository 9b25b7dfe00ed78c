#include "ui/qt/PlaylistWindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "playlist/Playlist.h"
#include "ui/core/PlayerController.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/SkinIds.h"
#include "ui/qt/TrackListView.h"

namespace tunara::qt {

namespace {

struct ButtonSpec {
    int id, x, y, normal, pressed, lit, mask;
};

constexpr ButtonSpec kButtons[] = {
    {kIdOk, 358, 7, 240, 241, 242, 239},
    {kIdNew, 320, 30, 249, 255, 261, kTextButtonMask},
    {kIdOpen, 320, 46, 251, 257, 263, kTextButtonMask},
    {kIdSave, 320, 62, 254, 260, 266, kTextButtonMask},
    {kIdSaveAs, 320, 78, 253, 259, 265, kTextButtonMask},
    {kIdAdd, 320, 94, 250, 256, 262, kTextButtonMask},
    {kIdRemove, 320, 110, 252, 258, 264, kTextButtonMask},
    {kIdOptions, 320, 136, 274, 277, 280, kTextButtonMask},
};

}  // namespace

PlaylistWindow::PlaylistWindow(PanelWindow* owner, Playlist& playlist, PlayerController& controller)
    : PanelWindow(owner), playlist_(playlist), controller_(controller) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Playlist"));
    SetUpSkin(kPlaylistBackground, kPlaylistMask);
    setAcceptDrops(true);
    for (const ButtonSpec& b : kButtons) {
        auto* button = new BitmapButton(b.id, this);
        button->move(b.x, b.y);
        button->SetBitmaps(b.normal, b.pressed, b.lit, 0, b.mask);
        connect(button, &BitmapButton::clicked, this, &PlaylistWindow::OnButton);
        buttons_.push_back(button);
    }
    view_ = new TrackListView(this);
    view_->setGeometry(QRect(QPoint(34, 36), QPoint(285 - 1, 186 - 1)));
    view_->SetColours(Qt::black, Qt::black, QColor(0, 127, 255));
    view_->Bind(&playlist_);
    connect(view_, &TrackListView::activated, this,
            [this](int row) { controller_.PlayRow(playlist_, row); });
}

BitmapButton* PlaylistWindow::Button(int id) const {
    for (BitmapButton* b : buttons_)
        if (b->Id() == id) return b;
    return nullptr;
}

void PlaylistWindow::OnButton(int id) {
    PlaylistCommands& commands = controller_.Commands();
    switch (id) {
        case kIdOk:
            close();
            return;
        case kIdNew:
            commands.New();
            break;
        case kIdOpen:
            commands.Open();
            break;
        case kIdSave:
            commands.Save();
            break;
        case kIdSaveAs:
            commands.SaveAs();
            break;
        case kIdAdd:
            commands.Add();
            break;
        case kIdRemove:
            view_->Refresh();  // drops a selection made in a list since replaced
            commands.Remove(view_->SelectedRows());
            view_->Select(-1);
            break;
        case kIdOptions:
            if (onOptions) onOptions();
            return;
        default:
            return;
    }
    controller_.RefreshAll();
}

void PlaylistWindow::AddFiles(const QStringList& names) {
    for (const QString& name : names) {
        if (IsPlaylistName(name.toStdString())) {
            if (controller_.Commands().New()) playlist_.Load(name.toStdString());
        } else {
            playlist_.AddFile(name.toStdString());
        }
    }
    view_->Refresh();
    controller_.RefreshAll();
}

void PlaylistWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void PlaylistWindow::dropEvent(QDropEvent* e) {
    QStringList names;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile()) names << url.toLocalFile();
    if (names.isEmpty()) return;
    e->acceptProposedAction();
    AddFiles(names);
}

}  // namespace tunara::qt
