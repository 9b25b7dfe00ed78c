#pragma once
// The recording window (283): a skinned modal window over a RecordJob, with
// the status and counter texts, the track and overall bars in the grooves of
// its art, and Cancel, which turns into Close when every track is done.
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "record/RecordJob.h"
#include "record/RipCheck.h"
#include "ui/qt/SkinnedWindow.h"

class QEventLoop;
class QLabel;

namespace tunara::qt {

class BitmapButton;

// Control identifiers of the window.
inline constexpr int kRecordStatusId = 1034;
inline constexpr int kRecordCounterId = 1033;
inline constexpr int kRecordCancelId = 2;

// The text of string 550.
inline constexpr char kCantInitRecord[] = "Can't initialize record component.";

class RecordDialog : public SkinnedWindow, private RecordView {
    Q_OBJECT
public:
    // `reader` null: the reader could not be made; Exec tells the user and
    // returns at once.
    RecordDialog(RecordJobConfig config, CdReader* reader, QWidget* owner = nullptr);
    ~RecordDialog() override;

    // Shows the window modally over the other windows of the program, starts
    // the job and returns when it has ended.
    void Exec();
    // Starts without waiting (tests drive the loop themselves).
    void StartJob();

    RecordJob* Job() const { return job_.get(); }
    QString StatusText() const;
    QString CounterText() const;
    int TrackPercent() const;
    int OverallPercent() const;
    BitmapButton* CancelButton() const { return cancel_; }
    bool ShowsFinishedLook() const { return finishedLook_; }
    // Replaces the folder chooser (tests).
    std::function<std::optional<std::string>(const std::string&)> chooseFolder;
    // Replaces the message boxes (tests): caption, text.
    std::function<void(const std::string&, const std::string&)> showMessage;

    // When every track is written, looks them up in AccurateRip and tells
    // each one's verdict; the log goes beside the tracks.
    struct Verification {
        accuraterip::DiscIds ids;
        std::string host = accuraterip::kDefaultHost;
        int port = 80;
        RipFacts facts;
    };
    void SetVerification(Verification verification) { verification_ = std::move(verification); }
    // The verdicts told, one line a track; empty until they are known.
    QString VerdictText() const { return verdicts_; }

signals:
    void ended();

protected:
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    void StatusChanged() override;
    void ProgressChanged() override;
    void TrackDamaged(const RecordTrack& track, int sectors, const std::string& path) override;
    void Finished() override;
    void Closed() override;
    void ShowMessage(const std::string& caption, const std::string& text) override;
    std::optional<std::string> ChooseFolder(const std::string& start) override;
    void StartVerification();
    void ShowVerdicts(const RipCheck& check);

    std::unique_ptr<RecordJob> job_;
    QLabel* status_ = nullptr;
    QLabel* counter_ = nullptr;
    BitmapButton* cancel_ = nullptr;
    bool finishedLook_ = false;
    std::string damaged_;  // a line for each damaged track, told when the job finishes
    bool ended_ = false;
    QEventLoop* loop_ = nullptr;
    std::optional<Verification> verification_;
    std::thread checker_;
    std::shared_ptr<std::atomic<bool>> stopChecking_ = std::make_shared<std::atomic<bool>>(false);
    QString verdicts_;
};

}  // namespace tunara::qt
