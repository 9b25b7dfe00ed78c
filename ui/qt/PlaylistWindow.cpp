#include "ui/qt/PlaylistWindow.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "metadata/ReplayGain.h"
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

const char* Tip(int id) {
    switch (id) {
        case kIdNew:
            return "New list";
        case kIdOpen:
            return "Open a list (Ctrl+L)";
        case kIdSave:
            return "Save the list (Ctrl+S)";
        case kIdSaveAs:
            return "Save the list as";
        case kIdAdd:
            return "Add files";
        case kIdRemove:
            return "Remove the selection (Delete; Ctrl+A selects all)";
        case kIdOptions:
            return "Options";
        case kIdOk:
            return "Close";
        default:
            return nullptr;
    }
}

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
        if (const char* tip = Tip(b.id)) button->setToolTip(QString::fromUtf8(tip));
    }
    view_ = new TrackListView(this,
                              [this](const TrackList* list) { return controller_.IsActive(list); });
    view_->setGeometry(QRect(QPoint(34, 36), QPoint(285 - 1, 186 - 1)));
    view_->SetColours(Qt::black, Qt::black, QColor(0, 127, 255));
    view_->Bind(&playlist_);
    connect(view_, &TrackListView::activated, this,
            [this](int row) { controller_.PlayRow(playlist_, row); });
    // Over the foot of the list, while finding.
    find_ = new QLineEdit(this);
    find_->setPlaceholderText(QStringLiteral("Find in the list"));
    find_->setGeometry(view_->x(), view_->geometry().bottom() - 17, view_->width() - 16, 18);
    find_->hide();
    find_->installEventFilter(this);
    connect(find_, &QLineEdit::textEdited, this, [this] { Find(false); });
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
            RemoveSelection();
            return;
        case kIdOptions:
            if (onOptions) onOptions();
            return;
        default:
            return;
    }
    controller_.RefreshAll();
}

void PlaylistWindow::RemoveSelection() {
    view_->Refresh();  // drops a selection made in a list since replaced
    controller_.Commands().Remove(view_->SelectedRows());
    view_->Select(-1);
    controller_.RefreshAll();
}

void PlaylistWindow::ShowFind() {
    find_->show();
    find_->raise();
    find_->setFocus();
    find_->selectAll();
}

void PlaylistWindow::Find(bool next) {
    const QString text = find_->text();
    if (text.isEmpty()) return;
    const int rows = playlist_.Count();
    const int from = view_->Selected().empty() ? 0 : *view_->Selected().begin() + (next ? 1 : 0);
    for (int i = 0; i < rows; ++i) {
        const int row = (from + i) % rows;
        if (view_->RowText(row).contains(text, Qt::CaseInsensitive)) {
            view_->Select(row);
            view_->EnsureVisible(row);
            return;
        }
    }
}

bool PlaylistWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched != find_ || e->type() != QEvent::KeyPress)
        return PanelWindow::eventFilter(watched, e);
    auto* k = static_cast<QKeyEvent*>(e);
    switch (k->key()) {
        case Qt::Key_Escape:
            find_->hide();
            view_->setFocus();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!view_->Selected().empty()) emit view_->activated(*view_->Selected().begin());
            return true;
        case Qt::Key_Down:
        case Qt::Key_F3:
            Find(true);
            return true;
        default:
            return false;
    }
}

QString ReplayGainText(const std::string& path) {
    const ReplayGainValues v = ReadReplayGain(path);
    if (!v.Any()) return QObject::tr("ReplayGain: none");
    auto pair = [](float gain, float peak) {
        if (std::isnan(gain)) return QStringLiteral("-");
        QString t = QString::fromStdString(GainText(gain));
        if (!std::isnan(peak))
            t += QStringLiteral(", peak ") + QString::fromStdString(PeakText(peak));
        return t;
    };
    return QObject::tr("ReplayGain track: %1\nReplayGain album: %2")
        .arg(pair(v.trackGain, v.trackPeak), pair(v.albumGain, v.albumPeak));
}

QMenu* PlaylistWindow::ContextMenu() {
    auto* menu = new QMenu(this);
    view_->Refresh();
    const std::vector<int> rows = view_->SelectedRows();
    const int row = rows.empty() ? -1 : rows.front();
    MediaSource* item = playlist_.ItemAt(row);
    QAction* play =
        menu->addAction(tr("Play"), this, [this, row] { controller_.PlayRow(playlist_, row); });
    QAction* remove = menu->addAction(tr("Remove"), this, [this] { RemoveSelection(); });
    remove->setShortcut(QKeySequence(Qt::Key_Delete));
    QAction* info = menu->addAction(tr("File Information..."), this, [this, row] {
        MediaSource* it = playlist_.ItemAt(row);
        if (!it) return;
        const int seconds = std::max(0, playlist_.DurationAt(row)) / 1000;
        QString text = tr("File: %1\nTitle: %2\nArtist: %3\nAlbum: %4\nLength: %5:%6\n"
                          "Format: %7, %8 kbit/s, %9 Hz")
                           .arg(QString::fromStdString(it->GetLocation()),
                                QString::fromStdString(playlist_.TitleAt(row)),
                                QString::fromStdString(it->GetArtist()),
                                QString::fromStdString(it->GetAlbum()))
                           .arg(seconds / 60)
                           .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                           .arg(QString::fromStdString(it->GetFormatName()))
                           .arg(it->GetBitRate() / 1000)
                           .arg(it->GetSampleRate());
        text += QStringLiteral("\n") + ReplayGainText(it->GetLocation());
        if (showInfo)
            showInfo(text);
        else
            QMessageBox::information(this, tr("File Information"), text);
    });
    QAction* folder = menu->addAction(tr("Open Containing Folder"), this, [this, row] {
        MediaSource* it = playlist_.ItemAt(row);
        if (!it) return;
        const QString dir = QFileInfo(QString::fromStdString(it->GetLocation())).absolutePath();
        if (openFolder)
            openFolder(dir);
        else
            QProcess::startDetached(QStringLiteral("xdg-open"), {dir});
    });
    for (QAction* a : {play, remove, info, folder}) a->setEnabled(item != nullptr);
    menu->addSeparator();
    menu->addAction(tr("Sort by Title"), this, [this] { Sort(SortKey::Title); });
    menu->addAction(tr("Sort by Artist"), this, [this] { Sort(SortKey::Artist); });
    menu->addAction(tr("Sort by File Name"), this, [this] { Sort(SortKey::FileName); });
    return menu;
}

void PlaylistWindow::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = ContextMenu();
    menu->exec(e->globalPos());
    delete menu;
}

void PlaylistWindow::Sort(SortKey key) {
    const int n = playlist_.Count();
    std::vector<QString> keys(n);
    for (int i = 0; i < n; ++i) {
        MediaSource* it = playlist_.ItemAt(i);
        switch (key) {
            case SortKey::Title:
                keys[i] = QString::fromStdString(playlist_.TitleAt(i));
                break;
            case SortKey::Artist:
                // Then by title, so an artist's items stay in a sensible order.
                keys[i] = QString::fromStdString(it->GetArtist()) + QChar(1) +
                          QString::fromStdString(playlist_.TitleAt(i));
                break;
            case SortKey::FileName:
                keys[i] = QFileInfo(QString::fromStdString(it->GetLocation())).fileName();
                break;
        }
    }
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return QString::localeAwareCompare(keys[a], keys[b]) < 0;
    });
    // Moved one by one, so the current item stays current. `at` tracks where
    // each original entry is now.
    std::vector<int> at(n);
    std::iota(at.begin(), at.end(), 0);
    std::vector<int> whoIsAt = at;
    for (int i = 0; i < n; ++i) {
        const int from = at[order[i]];
        if (from == i) continue;
        playlist_.Move(from, i);
        // Entries i..from-1 shift down by one.
        for (int k = from; k > i; --k) {
            whoIsAt[k] = whoIsAt[k - 1];
            at[whoIsAt[k]] = k;
        }
        whoIsAt[i] = order[i];
        at[order[i]] = i;
    }
    view_->Select(-1);
    controller_.RefreshAll();
}

void PlaylistWindow::keyPressEvent(QKeyEvent* e) {
    if (onKey && onKey(e->key(), e->modifiers())) {
        e->accept();
        return;
    }
    PanelWindow::keyPressEvent(e);
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
