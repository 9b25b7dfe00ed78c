// The options sheet over its model: the controls reach the settings on OK
// only, the sample follows the lists, a missing folder keeps the sheet open.
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "qt/QtApp.h"
#include "ui/core/OptionsModel.h"
#include "ui/core/SettingsStore.h"
#include "ui/core/SoundOptions.h"
#include "ui/qt/OptionsSheet.h"

namespace tunara::qt {
namespace {

using namespace settings;

class OptionsSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        store_ = std::make_unique<SettingsStore>(QDir(dir_.path()).filePath("store").toStdString(),
                                                 std::vector<std::string>{});
    }
    template <class W>
    W* Find(const QString& text) {
        for (W* w : sheet_->findChildren<W*>()) {
            if (w->text() == text) return w;
        }
        ADD_FAILURE() << "no control " << text.toStdString();
        return nullptr;
    }
    void Open() {
        model_ = std::make_unique<OptionsModel>(*store_, std::vector<std::string>{"/dev/sr0"},
                                                ui_.get());
        sheet_ = std::make_unique<OptionsSheet>(*model_);
        sheet_->show();
        testing::Drain();
    }
    // 0 encoder, 1 bit rate, 2..5 the name parts.
    QComboBox* Combo(int n) {
        const QString name = n == 0 ? "encoder" : n == 1 ? "bitrate" : QString("part%1").arg(n - 2);
        return sheet_->findChild<QComboBox*>(name);
    }

    QTemporaryDir dir_;
    std::unique_ptr<SettingsStore> store_;
    ScopedRecordingInteraction ui_;
    std::unique_ptr<OptionsModel> model_;
    std::unique_ptr<OptionsSheet> sheet_;
};

TEST_F(OptionsSheetTest, PagesAndEnabling) {
    Open();
    ASSERT_EQ(sheet_->Pages()->count(), 4);
    EXPECT_EQ(sheet_->Pages()->tabText(0), "CD Options");
    EXPECT_EQ(sheet_->Pages()->tabText(1), "Record Options");
    EXPECT_EQ(sheet_->Pages()->tabText(2), "File Options");
    EXPECT_EQ(sheet_->Pages()->tabText(3), "Sound Options");
    EXPECT_EQ(sheet_->windowTitle(), "Options");
    EXPECT_FALSE(Find<QCheckBox>("&Sample CD audio for display")->isVisible());
    // Proxy edits follow the proxy box.
    auto edits = sheet_->Pages()->widget(0)->findChildren<QLineEdit*>();
    edits.removeIf([](QLineEdit* e) {
        return qobject_cast<QAbstractSpinBox*>(e->parent()) ||
               e->objectName() == "musicBrainzServer" || qobject_cast<QComboBox*>(e->parent());
    });
    ASSERT_EQ(edits.size(), 3);
    EXPECT_FALSE(edits[1]->isEnabled());
    Find<QCheckBox>("Use an HTTP &proxy server")->click();
    EXPECT_TRUE(edits[1]->isEnabled());
    EXPECT_TRUE(edits[2]->isEnabled());
    // Folder edit and Browse follow the radio buttons.
    EXPECT_FALSE(Find<QPushButton>("&Browse...")->isEnabled());
    Find<QRadioButton>("Always use this folder:")->click();
    EXPECT_TRUE(Find<QPushButton>("&Browse...")->isEnabled());
    Find<QPushButton>("&None")->click();
    EXPECT_FALSE(Find<QCheckBox>("m&p3")->isChecked());
    Find<QPushButton>("A&ll")->click();
    EXPECT_TRUE(Find<QCheckBox>("m&p3")->isChecked());
}

TEST_F(OptionsSheetTest, RecordLists_RebuildTheSample) {
    Open();
    auto* sample = sheet_->findChild<QLabel*>("sample");
    EXPECT_EQ(sample->text(), "Album - Artist - TrackTitle");
    Combo(0)->activated(1);  // Fast MP3 Encoder
    Combo(0)->setCurrentIndex(1);
    EXPECT_EQ(Combo(1)->count(), 4);
    EXPECT_EQ(Combo(1)->currentText(), "128 kbits/s");
    Combo(2)->activated(3);  // Track Number
    Combo(3)->activated(4);  // Bitrate
    Combo(4)->activated(5);  // None
    EXPECT_EQ(sample->text(), "01 - 128");
    Combo(0)->activated(0);  // back to Korvan: its own list, 128 again
    EXPECT_EQ(Combo(1)->itemText(0), "24 kbits/s");
    EXPECT_EQ(Combo(1)->currentText(), "128 kbits/s");
}

// A folder that does not exist: No keeps the sheet open and saves nothing;
// Yes makes the folder and OK closes the sheet with the settings saved.
TEST_F(OptionsSheetTest, Ok_MissingFolder) {
    Open();
    const QString folder = QDir(dir_.path()).filePath("rips");
    Find<QRadioButton>("Always use this folder:")->click();
    sheet_->findChild<QLineEdit*>("folder")->setText(folder);
    Find<QCheckBox>("m&p3")->setChecked(false);
    sheet_->findChild<QComboBox*>("titleSource")->setCurrentIndex(2);
    sheet_->findChild<QLineEdit*>("musicBrainzServer")->setText("http://mirror.example:5000");
    sheet_->findChild<QCheckBox*>("verifyAccurateRip")->setChecked(true);
    ui_->answers = {Answer::No, Answer::Yes};
    sheet_->accept();
    EXPECT_TRUE(sheet_->isVisible());
    EXPECT_EQ(sheet_->Pages()->currentIndex(), 2);
    EXPECT_EQ(store_->Number(kAssocMP3), 1u);
    sheet_->accept();
    EXPECT_FALSE(sheet_->isVisible());
    EXPECT_EQ(sheet_->result(), QDialog::Accepted);
    EXPECT_TRUE(QDir(folder).exists());
    SettingsStore reread(QDir(dir_.path()).filePath("store").toStdString(), {});
    EXPECT_EQ(reread.Text(kRecordFilePath), folder.toStdString());
    EXPECT_EQ(reread.Number(kAssocMP3), 0u);
    EXPECT_EQ(reread.Number(kAskFilePath), 0u);
    EXPECT_EQ(reread.Number(kTitleSource), 2u);
    EXPECT_EQ(reread.Text(kMusicBrainzAddr), "http://mirror.example:5000");
    EXPECT_EQ(reread.Number(kVerifyAccurateRip), 1u);
}

// The sound page shows what is kept, greys what ReplayGain "Off" leaves
// unused, and OK keeps the new values where the player reads them.
TEST_F(OptionsSheetTest, SoundPage_ShowsAndKeepsTheReplayGainSettings) {
    store_->SetNumber(kReplayGainMode, 3);
    store_->SetText(kReplayGainPreamp, "-2.5");
    Open();
    auto* mode = sheet_->findChild<QComboBox*>("replaygain");
    auto* preamp = sheet_->findChild<QDoubleSpinBox*>("preamp");
    auto* untagged = sheet_->findChild<QDoubleSpinBox*>("defaultgain");
    ASSERT_TRUE(mode && preamp && untagged);
    EXPECT_EQ(mode->currentText(), "Automatic");
    EXPECT_EQ(preamp->value(), -2.5);
    mode->setCurrentIndex(0);
    EXPECT_FALSE(preamp->isEnabled());
    mode->setCurrentIndex(2);
    EXPECT_TRUE(preamp->isEnabled());
    preamp->setValue(6);
    untagged->setValue(-7.5);
    Find<QCheckBox>("Prevent &clipping (lower the gain by the peak)")->setChecked(false);
    sheet_->accept();
    SettingsStore reread(QDir(dir_.path()).filePath("store").toStdString(), {});
    const SoundSettings s = LoadSoundSettings(reread);
    EXPECT_EQ(s.mode, ReplayGainMode::Album);
    EXPECT_EQ(s.preampDb, 6.0f);
    EXPECT_EQ(s.defaultGainDb, -7.5f);
    EXPECT_FALSE(s.preventClipping);
}

TEST_F(OptionsSheetTest, Cancel_ChangesNothing) {
    Open();
    Combo(0)->activated(2);
    Find<QRadioButton>("Always use this folder:")->click();
    Find<QCheckBox>("m&p3")->setChecked(false);
    sheet_->reject();
    EXPECT_EQ(store_->Number(kEncoder), 0u);
    EXPECT_EQ(store_->Number(kAskFilePath), 1u);
    EXPECT_EQ(model_->Encoder(), 0);
    EXPECT_TRUE(model_->Flag(kAskFilePath));
    SettingsStore reread(QDir(dir_.path()).filePath("store").toStdString(), {});
    EXPECT_EQ(reread.Number(kEncoder), 0u);
    EXPECT_EQ(reread.Number(kAssocMP3), 1u);
}

TEST_F(OptionsSheetTest, Browse_StoresTheChosenFolder) {
    Open();
    Find<QRadioButton>("Always use this folder:")->click();
    QString started;
    sheet_->chooseFolder = [&](QWidget*, const QString& start) {
        started = start;
        return QStringLiteral("/srv/music");
    };
    Find<QPushButton>("&Browse...")->click();
    // It opens in a folder that exists, the stored one when that does.
    EXPECT_TRUE(QFileInfo(started).isDir()) << started.toStdString();
    if (QFileInfo(QString::fromStdString(store_->Text(kRecordFilePath))).isDir()) {
        EXPECT_EQ(started.toStdString(), store_->Text(kRecordFilePath));
    }
    EXPECT_EQ(sheet_->findChild<QLineEdit*>("folder")->text(), "/srv/music");
    EXPECT_EQ(model_->Text(kRecordFilePath), "/srv/music");
}

}  // namespace
}  // namespace tunara::qt
