#include "ui/qt/OptionsSheet.h"

#include <algorithm>
#include "ui/qt/DialogLook.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "record/RecordJob.h"
#include "ui/core/Associations.h"
#include "ui/core/SettingsStore.h"

namespace tunara::qt {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QString& s) {
    return s.toStdString();
}

// The ten boxes in the order of the settings, with their mnemonics.
constexpr const char* kTypeLabels[kFileTypeCount] = {"a&if", "a&u",  "a&vi", "mi&d", "&mov",
                                                     "m&p3", "&snd", "&wav", "&pls", "m3&u"};

}  // namespace

QString ChooseFolder(QWidget* parent, const QString& start) {
    QFileDialog dialog(parent, QStringLiteral("Choose folder"), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Qt's own dialog, so the accept button can be named.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? dialog.directory().absolutePath() : chosen.first();
}

OptionsSheet::OptionsSheet(OptionsModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);
    pages_ = new QTabWidget(this);
    pages_->addTab(BuildCdPage(), QStringLiteral("CD Options"));
    pages_->addTab(BuildRecordPage(), QStringLiteral("Record Options"));
    pages_->addTab(BuildFilePage(), QStringLiteral("File Options"));
    pages_->addTab(BuildSoundPage(), QStringLiteral("Sound Options"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsSheet::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    layout->addWidget(buttons);
    UpdateEnabling();
    UpdateSample();
}

QWidget* OptionsSheet::BuildCdPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    autoPlay_ = new QCheckBox(QStringLiteral("&Automatically play CD when inserted"));
    autoSample_ = new QCheckBox(QStringLiteral("&Sample CD audio for display"));
    autoSample_->setVisible(false);  // in the layout, never offered
    autoSample_->setEnabled(false);
    autoInfo_ = new QCheckBox(QStringLiteral("Automatically &retrieve CD information"));
    autoPlay_->setChecked(model_.Flag(settings::kAutoPlayCD));
    autoSample_->setChecked(model_.Flag(settings::kAutoSampleCD));
    autoInfo_->setChecked(model_.Flag(settings::kAutoCDInfo));
    v->addWidget(autoPlay_);
    v->addWidget(autoSample_);
    v->addWidget(autoInfo_);

    auto* cddbBox = new QGroupBox(QStringLiteral("CD information"));
    auto* g = new QGridLayout(cddbBox);
    g->addWidget(new QLabel(QStringLiteral("CDDB server:")), 0, 0, 1, 2);
    cddb_ = new QLineEdit(Q(model_.Text(settings::kCDDBAddr)));
    g->addWidget(cddb_, 1, 0, 1, 2);
    useProxy_ = new QCheckBox(QStringLiteral("Use an HTTP &proxy server"));
    useProxy_->setChecked(model_.Flag(settings::kUseProxy));
    g->addWidget(useProxy_, 2, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Address:")), 3, 0);
    g->addWidget(new QLabel(QStringLiteral("Port:")), 3, 1);
    proxyAddr_ = new QLineEdit(Q(model_.Text(settings::kProxyAddr)));
    proxyPort_ = new QLineEdit(Q(model_.Text(settings::kProxyPort)));
    proxyPort_->setMaximumWidth(80);
    proxyPort_->setValidator(new QIntValidator(1, 65535, proxyPort_));
    g->addWidget(proxyAddr_, 4, 0);
    g->addWidget(proxyPort_, 4, 1);
    auto* sourceLabel = new QLabel(QStringLiteral("&Titles from:"));
    titleSource_ = new QComboBox;
    titleSource_->setObjectName(QStringLiteral("titleSource"));
    titleSource_->addItems({QStringLiteral("CDDB"), QStringLiteral("MusicBrainz"),
                            QStringLiteral("MusicBrainz, then CDDB")});
    titleSource_->setCurrentIndex(
        int(std::min<uint32_t>(model_.Number(settings::kTitleSource), 2)));
    sourceLabel->setBuddy(titleSource_);
    g->addWidget(sourceLabel, 5, 0, 1, 2);
    g->addWidget(titleSource_, 6, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("MusicBrainz server:")), 7, 0, 1, 2);
    musicBrainz_ = new QLineEdit(Q(model_.Text(settings::kMusicBrainzAddr)));
    musicBrainz_->setObjectName(QStringLiteral("musicBrainzServer"));
    g->addWidget(musicBrainz_, 8, 0, 1, 2);
    g->setColumnStretch(0, 1);
    v->addWidget(cddbBox);
    connect(useProxy_, &QCheckBox::toggled, this, [this](bool on) {
        model_.SetFlag(settings::kUseProxy, on);
        UpdateEnabling();
    });

    auto* driveRow = new QHBoxLayout;
    auto* driveLabel = new QLabel(QStringLiteral("Preferred CD &drive"));
    drive_ = new QComboBox;
    for (const std::string& name : model_.DriveList()) drive_->addItem(Q(name));
    drive_->setCurrentIndex(model_.SelectedDrive());
    driveLabel->setBuddy(drive_);
    driveRow->addWidget(driveLabel);
    driveRow->addWidget(drive_, 1);
    v->addLayout(driveRow);
    auto* offsetRow = new QHBoxLayout;
    auto* offsetLabel = new QLabel(QStringLiteral("Drive read &offset (samples)"));
    readOffset_ = new QSpinBox;
    readOffset_->setObjectName(QStringLiteral("readOffset"));
    readOffset_->setRange(-2000, 2000);
    readOffset_->setValue(
        std::clamp(int(int32_t(model_.Number(settings::kReadOffset))), -2000, 2000));
    offsetLabel->setBuddy(readOffset_);
    offsetRow->addWidget(offsetLabel);
    offsetRow->addWidget(readOffset_);
    offsetRow->addStretch(1);
    v->addLayout(offsetRow);
    v->addStretch(1);
    return page;
}

QWidget* OptionsSheet::BuildRecordPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* enc = new QGroupBox(QStringLiteral("Encoding"));
    auto* form = new QFormLayout(enc);
    encoder_ = new QComboBox;
    encoder_->setObjectName(QStringLiteral("encoder"));
    for (const std::string& name : OptionsModel::EncoderNames()) encoder_->addItem(Q(name));
    encoder_->setCurrentIndex(model_.Encoder());
    bitRate_ = new QComboBox;
    bitRate_->setObjectName(QStringLiteral("bitrate"));
    FillBitRates();
    form->addRow(QStringLiteral("Encoder:"), encoder_);
    form->addRow(QStringLiteral("Compressed file bitrate:"), bitRate_);
    flacLevel_ = new QSpinBox;
    flacLevel_->setObjectName(QStringLiteral("flacLevel"));
    flacLevel_->setRange(0, 8);
    flacLevel_->setValue(int(std::min<uint32_t>(model_.Number(settings::kFlacLevel), 8)));
    flacLevel_->setToolTip(QStringLiteral("0 is fastest, 8 makes the smallest files"));
    flacLevel_->setEnabled(model_.Encoder() == int(RecordEncoder::Flac));
    form->addRow(QStringLiteral("FLAC compression level:"), flacLevel_);
    auto* vbr = new QComboBox;
    vbr->setObjectName(QStringLiteral("vbrquality"));
    for (const std::string& label : OptionsModel::VbrQualityLabels()) vbr->addItem(Q(label));
    vbr->setCurrentIndex(model_.VbrQualityIndex());
    vbr->setEnabled(model_.VbrQualityEnabled());
    form->addRow(QStringLiteral("VBR quality:"), vbr);
    verify_ = new QCheckBox(QStringLiteral("&Verify with AccurateRip"));
    verify_->setObjectName(QStringLiteral("verifyAccurateRip"));
    verify_->setToolTip(
        QStringLiteral("Compares each recorded track with the AccurateRip database"));
    verify_->setChecked(model_.Flag(settings::kVerifyAccurateRip));
    form->addRow(QString(), verify_);
    connect(vbr, &QComboBox::activated, this,
            [this](int index) { model_.SetVbrQualityIndex(index); });
    v->addWidget(enc);
    connect(encoder_, &QComboBox::activated, this, [this, vbr](int index) {
        model_.SetEncoder(index);
        vbr->setEnabled(model_.VbrQualityEnabled());
        FillBitRates();
        UpdateSample();
    });
    connect(bitRate_, &QComboBox::activated, this, [this](int index) {
        model_.SetBitRateIndex(index);
        UpdateSample();
    });

    auto* naming = new QGroupBox(QStringLiteral("File Naming"));
    auto* n = new QVBoxLayout(naming);
    n->addWidget(new QLabel(QStringLiteral("Filename format when recording CD tracks:")));
    auto* row = new QHBoxLayout;
    for (int part = 0; part < 4; ++part) {
        parts_[part] = new QComboBox;
        parts_[part]->setObjectName(QStringLiteral("part%1").arg(part));
        for (const std::string& name : OptionsModel::NamePartNames(part)) {
            parts_[part]->addItem(Q(name));
        }
        parts_[part]->setCurrentIndex(model_.NamePart(part));
        connect(parts_[part], &QComboBox::activated, this, [this, part](int index) {
            model_.SetNamePart(part, index);
            UpdateSample();
        });
        row->addWidget(parts_[part]);
    }
    n->addLayout(row);
    auto* sampleRow = new QHBoxLayout;
    sampleRow->addWidget(new QLabel(QStringLiteral("Sample:")));
    sample_ = new QLabel;
    sample_->setObjectName(QStringLiteral("sample"));
    sampleRow->addWidget(sample_, 1);
    n->addLayout(sampleRow);
    v->addWidget(naming);
    v->addStretch(1);
    return page;
}

QWidget* OptionsSheet::BuildFilePage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* typesBox = new QGroupBox(QStringLiteral("File Types"));
    auto* g = new QGridLayout(typesBox);
    g->addWidget(new QLabel(QStringLiteral("Use Tunara as the default player for:")), 0, 0, 1, 5);
    for (size_t i = 0; i < kFileTypeCount; ++i) {
        types_[i] = new QCheckBox(QString::fromLatin1(kTypeLabels[i]));
        types_[i]->setChecked(model_.Flag(FileTypes()[i].settingKey));
        g->addWidget(types_[i], 1 + int(i) / 5, int(i) % 5);
    }
    auto* all = new QPushButton(QStringLiteral("A&ll"));
    auto* none = new QPushButton(QStringLiteral("&None"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(all);
    buttons->addWidget(none);
    g->addLayout(buttons, 3, 0, 1, 5);
    connect(all, &QPushButton::clicked, this, [this] {
        for (QCheckBox* box : types_) box->setChecked(true);
    });
    connect(none, &QPushButton::clicked, this, [this] {
        for (QCheckBox* box : types_) box->setChecked(false);
    });
    v->addWidget(typesBox);

    id3Title_ = new QCheckBox(QStringLiteral("Display ID&3 tag title information"));
    id3Title_->setChecked(model_.Flag(settings::kUseID3Title));
    v->addWidget(id3Title_);
    resume_ = new QCheckBox(QStringLiteral("&Resume where I left off"));
    resume_->setChecked(model_.Flag(settings::kResumeSession));
    v->addWidget(resume_);

    auto* recBox = new QGroupBox(QStringLiteral("Recording"));
    auto* r = new QGridLayout(recBox);
    ask_ = new QRadioButton(QStringLiteral("Ask for the folder when recording"));
    always_ = new QRadioButton(QStringLiteral("Always use this folder:"));
    auto* group = new QButtonGroup(recBox);
    group->addButton(ask_);
    group->addButton(always_);
    (model_.Flag(settings::kAskFilePath) ? ask_ : always_)->setChecked(true);
    folder_ = new QLineEdit(Q(model_.Text(settings::kRecordFilePath)));
    folder_->setObjectName(QStringLiteral("folder"));
    browse_ = new QPushButton(QStringLiteral("&Browse..."));
    r->addWidget(ask_, 0, 0, 1, 2);
    r->addWidget(always_, 1, 0, 1, 2);
    r->addWidget(folder_, 2, 0);
    r->addWidget(browse_, 2, 1);
    v->addWidget(recBox);
    v->addStretch(1);
    connect(ask_, &QRadioButton::toggled, this, [this](bool on) {
        model_.SetFlag(settings::kAskFilePath, on);
        UpdateEnabling();
    });
    connect(browse_, &QPushButton::clicked, this, &OptionsSheet::Browse);
    return page;
}

QWidget* OptionsSheet::BuildSoundPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* box = new QGroupBox(QStringLiteral("ReplayGain"));
    auto* f = new QFormLayout(box);
    replayGain_ = new QComboBox;
    replayGain_->setObjectName(QStringLiteral("replaygain"));
    replayGain_->addItems({QStringLiteral("Off"), QStringLiteral("Track"), QStringLiteral("Album"),
                           QStringLiteral("Automatic")});
    replayGain_->setCurrentIndex(
        int(std::min<uint32_t>(model_.Number(settings::kReplayGainMode), 3)));
    auto decibels = [this](std::string_view key, double lo, double hi, const char* name) {
        auto* spin = new QDoubleSpinBox;
        spin->setObjectName(QString::fromLatin1(name));
        spin->setRange(lo, hi);
        spin->setDecimals(1);
        spin->setSingleStep(0.5);
        spin->setSuffix(QStringLiteral(" dB"));
        bool ok = false;
        const double value = Q(model_.Text(key)).trimmed().toDouble(&ok);
        spin->setValue(ok ? value : 0.0);
        return spin;
    };
    preamp_ = decibels(settings::kReplayGainPreamp, -15, 15, "preamp");
    defaultGain_ = decibels(settings::kReplayGainDefault, -30, 15, "defaultgain");
    preventClipping_ =
        new QCheckBox(QStringLiteral("Prevent &clipping (lower the gain by the peak)"));
    preventClipping_->setChecked(model_.Flag(settings::kPreventClipping));
    f->addRow(QStringLiteral("&Mode:"), replayGain_);
    f->addRow(QStringLiteral("&Preamp:"), preamp_);
    f->addRow(QStringLiteral("&Untagged files:"), defaultGain_);
    f->addRow(preventClipping_);
    auto* note = new QLabel(QStringLiteral(
        "Automatic uses the album gain while neighbouring items are of one album, and the track "
        "gain otherwise. The preamp is added to every tagged gain; untagged files get their own "
        "gain."));
    note->setWordWrap(true);
    f->addRow(note);
    v->addWidget(box);
    v->addStretch(1);
    auto enable = [this] {
        const bool on = replayGain_->currentIndex() != 0;
        for (QWidget* w : std::initializer_list<QWidget*>{preamp_, defaultGain_, preventClipping_})
            w->setEnabled(on);
    };
    connect(replayGain_, &QComboBox::currentIndexChanged, this, enable);
    enable();
    return page;
}

void OptionsSheet::FillBitRates() {
    bitRate_->clear();
    for (const std::string& label : model_.BitRateLabels()) bitRate_->addItem(Q(label));
    bitRate_->setCurrentIndex(model_.BitRateIndex());
    // A lossless file has no bit rate to choose, only how hard it is packed.
    const bool flac = model_.Encoder() == int(RecordEncoder::Flac);
    bitRate_->setEnabled(!flac);
    if (flacLevel_) flacLevel_->setEnabled(flac);
}

void OptionsSheet::UpdateSample() {
    sample_->setText(Q(model_.Sample()));
}

void OptionsSheet::UpdateEnabling() {
    proxyAddr_->setEnabled(model_.ProxyEditsEnabled());
    proxyPort_->setEnabled(model_.ProxyEditsEnabled());
    autoPlay_->setEnabled(model_.DriveControlsEnabled());
    drive_->setEnabled(model_.DriveControlsEnabled());
    autoInfo_->setEnabled(model_.DriveControlsEnabled());
    folder_->setEnabled(model_.FolderControlsEnabled());
    browse_->setEnabled(model_.FolderControlsEnabled());
}

void OptionsSheet::TakeOver() {
    model_.SetFlag(settings::kAutoPlayCD, autoPlay_->isChecked());
    model_.SetFlag(settings::kAutoCDInfo, autoInfo_->isChecked());
    model_.SetText(settings::kCDDBAddr, S(cddb_->text()));
    model_.SetFlag(settings::kUseProxy, useProxy_->isChecked());
    model_.SetText(settings::kProxyAddr, S(proxyAddr_->text()));
    model_.SetText(settings::kProxyPort, S(proxyPort_->text()));
    model_.SetNumber(settings::kTitleSource, uint32_t(std::max(titleSource_->currentIndex(), 0)));
    model_.SetText(settings::kMusicBrainzAddr, S(musicBrainz_->text()));
    model_.SetFlag(settings::kVerifyAccurateRip, verify_->isChecked());
    if (drive_->currentIndex() >= 0) model_.SelectDrive(drive_->currentIndex());
    for (size_t i = 0; i < kFileTypeCount; ++i) {
        model_.SetFlag(FileTypes()[i].settingKey, types_[i]->isChecked());
    }
    model_.SetFlag(settings::kUseID3Title, id3Title_->isChecked());
    model_.SetFlag(settings::kResumeSession, resume_->isChecked());
    model_.SetFlag(settings::kAskFilePath, ask_->isChecked());
    model_.SetText(settings::kRecordFilePath, S(folder_->text()));
    model_.SetNumber(settings::kFlacLevel, uint32_t(flacLevel_->value()));
    model_.SetNumber(settings::kReadOffset, uint32_t(int32_t(readOffset_->value())));
    model_.SetNumber(settings::kReplayGainMode, uint32_t(std::max(0, replayGain_->currentIndex())));
    model_.SetText(settings::kReplayGainPreamp, S(QString::number(preamp_->value(), 'g', 4)));
    model_.SetText(settings::kReplayGainDefault, S(QString::number(defaultGain_->value(), 'g', 4)));
    model_.SetFlag(settings::kPreventClipping, preventClipping_->isChecked());
}

void OptionsSheet::Browse() {
    TakeOver();
    const QString chosen = chooseFolder(this, Q(model_.RecordFolderToBrowse()));
    if (chosen.isEmpty()) return;
    model_.SetText(settings::kRecordFilePath, S(QDir::toNativeSeparators(chosen)));
    folder_->setText(Q(model_.Text(settings::kRecordFilePath)));
}

void OptionsSheet::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Centred on a small or densely scaled screen it would hang off an edge.
    KeepOnScreen(this);
}

void OptionsSheet::accept() {
    pages_->setCurrentIndex(2);  // the File page, where the folder lives
    TakeOver();
    if (!model_.Ok()) return;
    QDialog::accept();
}

void OptionsSheet::reject() {
    model_.Cancel();
    QDialog::reject();
}

}  // namespace tunara::qt
