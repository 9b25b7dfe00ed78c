#include "ui/qt/RecordDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <algorithm>

#include "record/RecordFiles.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/OptionsSheet.h"
#include "ui/qt/SkinIds.h"
#include "ui/skin/Skin.h"

namespace tunara::qt {

namespace {

constexpr int kRecordBackground = 287;
constexpr int kRecordMask = 288;
const QColor kTextColour(0, 127, 255);
const QColor kBarColour(0, 127, 255);

QLabel* MakeText(QWidget* parent, const QRect& where, Qt::Alignment align) {
    auto* label = new QLabel(parent);
    label->setGeometry(where);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(7);
    label->setFont(font);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, kTextColour);
    label->setPalette(p);
    label->setAlignment(align | Qt::AlignVCenter);
    return label;
}

}  // namespace

RecordDialog::RecordDialog(RecordJobConfig config, CdReader* reader, QWidget* owner)
    : SkinnedWindow(owner) {
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Recording"));
    SetUpSkin(kRecordBackground, kRecordMask);
    status_ = MakeText(this, skin::recording::kStatusText, Qt::AlignLeft);
    status_->setText(QStringLiteral("Track Status"));
    counter_ = MakeText(this, skin::recording::kCounterText, Qt::AlignRight);
    cancel_ = new BitmapButton(kRecordCancelId, this);
    cancel_->move(skin::recording::kCancel.topLeft());
    cancel_->SetBitmaps(skin::kCancelNormal, skin::kCancelPressed, skin::kCancelLit, 0,
                        kTextButtonMask);
    connect(cancel_, &BitmapButton::clicked, this, [this] {
        if (job_) job_->Cancel();
    });
    RecordView& view = *this;
    if (reader) job_ = std::make_unique<RecordJob>(std::move(config), *reader, view);
}

RecordDialog::~RecordDialog() {
    stopChecking_->store(true);
    if (checker_.joinable()) checker_.join();
    if (job_ && job_->State() != RecordState::Closed) job_->Close();
}

void RecordDialog::StartJob() {
    if (!job_) {
        ShowMessage("Tunara", kCantInitRecord);
        Closed();
        return;
    }
    job_->Start();
}

void RecordDialog::Exec() {
    // Modal over every window of the program, as the other system disabled
    // them while it ran.
    setWindowModality(Qt::ApplicationModal);
    // Over the window it was opened from, not wherever the desktop puts new windows.
    if (QWidget* over = parentWidget() ? parentWidget()->window() : nullptr) {
        QRect r = rect();
        r.moveCenter(over->frameGeometry().center());
        move(r.topLeft());
    }
    show();
    raise();
    QEventLoop loop;
    loop_ = &loop;
    StartJob();
    if (!ended_) loop.exec();
    loop_ = nullptr;
    hide();
}

QString RecordDialog::StatusText() const {
    return status_->text();
}
QString RecordDialog::CounterText() const {
    return counter_->text();
}
int RecordDialog::TrackPercent() const {
    return job_ ? job_->TrackPercent() : 0;
}
int RecordDialog::OverallPercent() const {
    return job_ ? job_->OverallPercent() : 0;
}

void RecordDialog::paintEvent(QPaintEvent* e) {
    SkinnedWindow::paintEvent(e);
    QPainter p(this);
    auto bar = [&p](const QRect& groove, int percent) {
        percent = std::clamp(percent, 0, 100);
        if (percent == 0) return;
        QRect fill = groove;
        fill.setWidth(groove.width() * percent / 100);
        p.fillRect(fill, kBarColour);
    };
    bar(skin::recording::kTrackBar, TrackPercent());
    bar(skin::recording::kOverallBar, OverallPercent());
}

void RecordDialog::closeEvent(QCloseEvent* e) {
    if (job_ && job_->State() != RecordState::Closed) job_->Close();
    Closed();
    e->accept();
}

void RecordDialog::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        if (job_) job_->Cancel();
        return;
    }
    SkinnedWindow::keyPressEvent(e);
}

void RecordDialog::StatusChanged() {
    status_->setText(QString::fromStdString(job_->StatusText()));
    counter_->setText(QString::fromStdString(job_->CounterText()));
    // The counter text is wider than its place in the skin with most fonts;
    // it grows to the left from its right edge and the status gives way,
    // so neither is cut into the other.
    const QRect place = skin::recording::kCounterText;
    const int needed = counter_->fontMetrics().horizontalAdvance(counter_->text()) + 2;
    QRect counter = place;
    counter.setLeft(std::max(skin::recording::kStatusText.left(),
                             place.right() + 1 - std::max(place.width(), needed)));
    counter_->setGeometry(counter);
    QRect status = skin::recording::kStatusText;
    status.setRight(std::min(status.right(), counter.left() - 8));
    status_->setGeometry(status);
}

void RecordDialog::ProgressChanged() {
    update();
}

void RecordDialog::TrackDamaged(const RecordTrack& track, int sectors, const std::string& path) {
    damaged_ += "Track " + std::to_string(track.number) + ": " + std::to_string(sectors) +
                (sectors == 1 ? " sector" : " sectors") + " could not be read; " + path +
                " was kept with silence in their place.\n";
}

void RecordDialog::Finished() {
    finishedLook_ = true;
    cancel_->SetBitmaps(skin::kCloseNormal, skin::kClosePressed, skin::kCloseLit, 0,
                        kTextButtonMask);
    update();
    StartVerification();
    if (!damaged_.empty()) {
        damaged_.pop_back();
        ShowMessage("Damaged tracks", damaged_);
    }
}

void RecordDialog::StartVerification() {
    if (!verification_ || !job_ || job_->Sums().empty() || checker_.joinable()) return;
    status_->setText(QStringLiteral("Checking with AccurateRip..."));
    const Verification v = *verification_;
    const std::string logPath = FreeOutputPath(job_->Folder(), RipLogName(v.facts), ".log");
    // The lookup waits on the network: off this thread, its answer posted back.
    checker_ = std::thread([this, v, logPath, sums = job_->Sums(), stop = stopChecking_] {
        const RipCheck check = CheckRip(sums, v.ids, v.host, v.port, logPath, v.facts, stop);
        if (stop->load()) return;
        QMetaObject::invokeMethod(
            this, [this, check] { ShowVerdicts(check); }, Qt::QueuedConnection);
    });
}

void RecordDialog::ShowVerdicts(const RipCheck& check) {
    std::string text;
    int accurate = 0;
    for (const auto& [number, verdict] : check.verdicts) {
        text += "Track " + std::to_string(number) + ": " + verdict + "\n";
        accurate += verdict.rfind("accurate", 0) == 0;
    }
    if (!check.failure.empty())
        text = "The AccurateRip lookup failed: " + check.failure + "\n" + text;
    if (!check.logPath.empty()) text += "Log: " + check.logPath + "\n";
    if (!text.empty()) text.pop_back();
    verdicts_ = QString::fromStdString(text);
    status_->setText(
        QStringLiteral("AccurateRip: %1 of %2 accurate").arg(accurate).arg(check.verdicts.size()));
    if (showMessage) {
        showMessage("AccurateRip", text);
    } else if (check.allAccurate) {
        QMessageBox::information(this, QStringLiteral("AccurateRip"), verdicts_);
    } else {
        QMessageBox::warning(this, QStringLiteral("AccurateRip"), verdicts_);
    }
}

void RecordDialog::Closed() {
    if (ended_) return;
    ended_ = true;
    if (loop_) loop_->quit();
    emit ended();
}

void RecordDialog::ShowMessage(const std::string& caption, const std::string& text) {
    if (showMessage) {
        showMessage(caption, text);
        return;
    }
    QMessageBox::critical(this, QString::fromStdString(caption), QString::fromStdString(text));
}

std::optional<std::string> RecordDialog::ChooseFolder(const std::string& start) {
    if (chooseFolder) return chooseFolder(start);
    const QString chosen = qt::ChooseFolder(this, QString::fromStdString(start));
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

}  // namespace tunara::qt
