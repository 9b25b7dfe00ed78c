#pragma once
// The modal "Options" sheet: "CD Options", "Record Options" and "File
// Options" over an OptionsModel, in the system's own look (it is not skinned).
#include <QDialog>
#include <QString>
#include <functional>

#include "ui/core/OptionsModel.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace tunara::qt {

// The folder chooser: a directory dialog titled "Choose folder" whose accept
// button reads "Select"; starts in `start`. Empty when cancelled.
QString ChooseFolder(QWidget* parent, const QString& start);

class OptionsSheet : public QDialog {
    Q_OBJECT
public:
    explicit OptionsSheet(OptionsModel& model, QWidget* parent = nullptr);

    QTabWidget* Pages() const { return pages_; }
    // Replaces the folder chooser (tests).
    std::function<QString(QWidget*, const QString&)> chooseFolder = ChooseFolder;

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent*) override;

private:
    QWidget* BuildCdPage();
    QWidget* BuildRecordPage();
    QWidget* BuildFilePage();
    QWidget* BuildSoundPage();
    void FillBitRates();
    void UpdateSample();
    void UpdateEnabling();
    void TakeOver();  // controls' values into the model
    void Browse();

    OptionsModel& model_;
    QTabWidget* pages_ = nullptr;
    // CD page.
    QCheckBox* autoPlay_ = nullptr;
    QCheckBox* autoSample_ = nullptr;
    QCheckBox* autoInfo_ = nullptr;
    QLineEdit* cddb_ = nullptr;
    QComboBox* titleSource_ = nullptr;
    QLineEdit* musicBrainz_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QCheckBox* useProxy_ = nullptr;
    QLineEdit* proxyAddr_ = nullptr;
    QLineEdit* proxyPort_ = nullptr;
    QComboBox* drive_ = nullptr;
    QSpinBox* readOffset_ = nullptr;
    // Record page.
    QComboBox* encoder_ = nullptr;
    QComboBox* bitRate_ = nullptr;
    QSpinBox* flacLevel_ = nullptr;
    QComboBox* parts_[4] = {};
    QLabel* sample_ = nullptr;
    // File page.
    QCheckBox* types_[10] = {};
    QCheckBox* id3Title_ = nullptr;
    QCheckBox* resume_ = nullptr;
    QRadioButton* ask_ = nullptr;
    QRadioButton* always_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QPushButton* browse_ = nullptr;
    // Sound page.
    QComboBox* replayGain_ = nullptr;
    QDoubleSpinBox* preamp_ = nullptr;
    QDoubleSpinBox* defaultGain_ = nullptr;
    QCheckBox* preventClipping_ = nullptr;
};

}  // namespace tunara::qt
