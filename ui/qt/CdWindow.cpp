#include "ui/qt/CdWindow.h"

#include <QContextMenuEvent>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "metadata/AccurateRip.h"
#include "record/DiscRecording.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "sources/CdTrackSource.h"
#include "ui/core/CddbSettings.h"
#include "ui/core/PlayerController.h"
#include "ui/core/RecordOptions.h"
#include "ui/core/SettingsStore.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/LabelControl.h"
#include "ui/qt/RecordDialog.h"
#include "ui/qt/SkinIds.h"
#include "ui/qt/TrackListView.h"

namespace tunara::qt {

namespace {

constexpr int kCdBackground = 272;
constexpr int kCdMask = 271;
const QColor kIdleText(0, 127, 255);
const QColor kActiveText(224, 224, 224);

struct ButtonSpec {
    int id, x, y, normal, pressed, lit, mask;
};
constexpr ButtonSpec kButtons[] = {
    {1, 358, 7, 240, 241, 242, 239},
    {kCdRecordId, 319, 68, 273, 276, 279, kTextButtonMask},
    {kCdInfoId, 319, 86, 275, 278, 281, kTextButtonMask},
    {kCdOptionsId, 319, 116, 274, 277, 280, kTextButtonMask},
};

LabelControl* MakeLabel(QWidget* parent, const QRect& where, const QString& text) {
    auto* label = new LabelControl(parent);
    label->setGeometry(where);
    label->SetFontFace(QStringLiteral("Arial"));
    label->SetFontSize(7);
    label->SetBackground(Qt::black);
    label->SetTextColour(kIdleText);
    label->setText(text);
    return label;
}

}  // namespace

CdWindow::CdWindow(PanelWindow* owner, CdDisc* disc, PlayerController& controller,
                   SettingsStore* settings)
    : PanelWindow(owner), disc_(disc), controller_(controller), settings_(settings) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("CD"));
    SetUpSkin(kCdBackground, kCdMask);
    for (const ButtonSpec& b : kButtons) {
        auto* button = new BitmapButton(b.id, this);
        button->move(b.x, b.y);
        button->SetBitmaps(b.normal, b.pressed, b.lit, 0, b.mask);
        connect(button, &BitmapButton::clicked, this, &CdWindow::OnButton);
        buttons_.push_back(button);
    }
    MakeLabel(this, QRect(40, 36, 30, 12), QStringLiteral("Artist:"));
    MakeLabel(this, QRect(40, 48, 30, 12), QStringLiteral("Title:"));
    artist_ = MakeLabel(this, QRect(70, 36, 215, 12), {});
    title_ = MakeLabel(this, QRect(70, 48, 215, 12), {});
    view_ = new TrackListView(this,
                              [this](const TrackList* list) { return controller_.IsActive(list); });
    view_->setGeometry(QRect(QPoint(34, 64), QPoint(285 - 1, 186 - 1)));
    // Rows on black, as in the playlist window: one look for every track list.
    view_->SetColours(Qt::black, Qt::black, kIdleText);
    view_->Bind(disc_);
    connect(view_, &TrackListView::activated, this, [this](int row) {
        if (disc_) controller_.PlayRow(*disc_, row);
    });
    Refresh();
}

CdWindow::~CdWindow() = default;

BitmapButton* CdWindow::Button(int id) const {
    for (BitmapButton* b : buttons_)
        if (b->Id() == id) return b;
    return nullptr;
}

void CdWindow::SetDisc(CdDisc* disc) {
    disc_ = disc;
    view_->Bind(disc_);
    Refresh();
}

void CdWindow::LookUp() {
    // A lookup needs a table of contents; an empty drive has nothing to ask for.
    if (!disc_ || !settings_ || disc_->Count() == 0) return;
    disc_->Info().StartLookup(CddbLookupConfig(*settings_));
}

void CdWindow::Refresh() {
    QString artist, title;
    if (disc_) {
        std::lock_guard lock(disc_->ItemLock());
        if (MediaSource* first = disc_->ItemAt(0)) {
            artist = QString::fromStdString(first->GetArtist());
            title = QString::fromStdString(first->GetAlbum());
        }
    }
    artist_->setText(artist);
    title_->setText(title);
    view_->Refresh();
    const bool active = disc_ && controller_.IsActive(disc_);
    if (active && disc_->Current() >= 0) view_->EnsureVisible(disc_->Current());
    artist_->SetTextColour(active ? kActiveText : kIdleText);
    title_->SetTextColour(active ? kActiveText : kIdleText);
    // Asked outside the refresh, which may run inside the lookup's notice.
    if (disc_ && disc_->Info().Lookup().TakeChoicePending())
        QTimer::singleShot(0, this, &CdWindow::OfferReleases);
}

void CdWindow::OfferReleases() {
    if (!disc_) return;
    cddb::CddbLookup& lookup = disc_->Info().Lookup();
    QStringList labels;
    for (const std::string& label : lookup.ReleaseChoices())
        labels << QString::fromStdString(label);
    if (labels.size() < 2) return;
    const int current = int(lookup.ChosenRelease());
    int chosen = -1;
    if (chooseRelease) {
        chosen = chooseRelease(labels, current);
    } else {
        bool ok = false;
        const QString item = QInputDialog::getItem(
            this, QStringLiteral("CD Information"),
            QStringLiteral("MusicBrainz knows several releases of this disc:"), labels, current,
            false, &ok);
        if (ok) chosen = int(labels.indexOf(item));
    }
    if (chosen < 0 || chosen == current || !lookup.ChooseRelease(size_t(chosen))) return;
    controller_.RefreshAll();
    Refresh();
}

void CdWindow::OnButton(int id) {
    switch (id) {
        case 1:
            close();
            break;
        case kCdRecordId:
            Record();
            break;
        case kCdInfoId:
            LookUp();
            break;
        case kCdOptionsId:
            if (onOptions) onOptions();
            break;
    }
}

QMenu* CdWindow::ContextMenu() {
    auto* menu = new QMenu(this);
    const std::vector<int> rows = view_->SelectedRows();
    QAction* play = menu->addAction(tr("Play"), this, [this, rows] {
        if (disc_ && !rows.empty()) controller_.PlayRow(*disc_, rows.front());
    });
    play->setEnabled(disc_ && !rows.empty());
    menu->addAction(tr("Record..."), this, [this] { Record(); });
    menu->addAction(tr("CD Info"), this, [this] { LookUp(); });
    return menu;
}

void CdWindow::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = ContextMenu();
    menu->exec(e->globalPos());
    delete menu;
}

void CdWindow::Record() {
    const std::vector<int> rows = view_->SelectedRows();
    if (rows.empty() || !disc_) {
        if (showError) {
            showError(QStringLiteral("Error"), QString::fromLatin1(kNoTracksSelected));
        } else {
            QMessageBox::critical(this, QStringLiteral("Error"),
                                  QString::fromLatin1(kNoTracksSelected));
        }
        return;
    }
    controller_.Stop();
    // The drive cannot read while it plays: the playing track lets go of it
    // and is opened again (not played) afterwards.
    MediaSource* remembered = controller_.IsActive(disc_) ? disc_->CurrentItem() : nullptr;
    if (remembered) remembered->Close();
    controller_.RefreshAll();
    Refresh();
    if (runRecording) {
        runRecording(rows);
    } else {
        RunRecordDialog(rows);
    }
    controller_.RefreshAll();
    if (remembered) remembered->Open();
}

void CdWindow::RunRecordDialog(const std::vector<int>& rows) {
    DiscRecording recording = PrepareDiscRecording(
        settings_ ? RecordConfigFromSettings(*settings_) : RecordJobConfig{}, *disc_, rows);
    recording.config.addToPlaylist = [this](const std::string& path) {
        controller_.GetPlaylist().AddFile(path);
    };
    RecordDialog dialog(std::move(recording.config), recording.reader.get(), window());
    if (settings_ && settings_->Flag(settings::kVerifyAccurateRip)) {
        RecordDialog::Verification v;
        v.ids = recording.ids;
        // Tests and mirrors name another server.
        if (const char* server = std::getenv("TUNARA_ACCURATERIP_SERVER"); server && *server)
            http::SplitHostPort(server, 80, v.host, v.port);
        v.facts = recording.facts;
        dialog.SetVerification(std::move(v));
    }
    dialog.Exec();
}

}  // namespace tunara::qt
