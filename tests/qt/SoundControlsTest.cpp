// The sound controls of the windows: the equaliser window, the balance
// slider, the Options sheet's sound settings reaching the engine, and the
// ReplayGain lines of the file information. What the engine gets is read
// back from the gain stage; what is kept, from a second store on the file.
#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>

#include "TestTools.h"
#include "playlist/FakeMediaSource.h"
#include "qt/QtApp.h"
#include "sources/testing/TestSources.h"
#include "tracklist/TrackList.h"
#include "ui/core/Session.h"
#include "ui/core/SettingsStore.h"
#include "ui/core/SoundOptions.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/BitmapSlider.h"
#include "ui/qt/EqualiserWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/PlaylistWindow.h"
#include "ui/qt/SkinIds.h"

namespace tunara::qt {
namespace {

using testing::Drain;

// Paint events of a window and everything in it.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* window) {
        window->installEventFilter(this);
        for (QWidget* w : window->findChildren<QWidget*>()) w->installEventFilter(this);
    }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

class SoundControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        tunara::testing::TestEngine().Gain().SetSettings({});
        for (int i = 0; i < 3; ++i)
            playlist_.Append(testing::MakeFake("Item " + std::to_string(i), 60000, log_));
        Build();
    }
    void TearDown() override {
        window_.reset();
        playlist_.Clear();
        tunara::testing::TestEngine().Gain().SetSettings({});
    }
    void Build() {
        window_.reset();
        window_ = std::make_unique<MainWindow>(playlist_, nullptr, "", &settings_);
        window_->TickTimer().stop();
        window_->RestoreSession(session_);
        window_->show();
        Drain();
    }
    // What a new start would read.
    SoundSettings Kept() const {
        SettingsStore again(store_, {});
        return LoadSoundSettings(again);
    }
    EqualiserWindow* OpenEqualiser() {
        QTest::keyClick(window_.get(), Qt::Key_E);
        Drain();
        return window_->EqualiserPanel();
    }
    static void Click(QWidget* w, QPoint at) {
        QTest::mouseClick(w, Qt::LeftButton, {}, at);
        Drain();
    }
    static void Wheel(QWidget* w, int notches) {
        const QPoint c = w->rect().center();
        QWheelEvent e(c, w->mapToGlobal(c), {}, {0, notches * 120}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(w, &e);
        Drain();
    }

    QTemporaryDir dir_;
    const std::string store_ = dir_.filePath("settings").toStdString();
    SettingsStore settings_{store_, {}};
    SessionStore session_{dir_.filePath("config").toStdString()};
    std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
    Playlist playlist_{tunara::testing::TestSources()};
    std::unique_ptr<MainWindow> window_;
};

TEST_F(SoundControlsTest, EqualiserWindowDocksAndEveryControlIsHeardAndKept) {
    window_->move(100, 50);
    EqualiserWindow* eq = OpenEqualiser();
    ASSERT_NE(eq, nullptr);
    EXPECT_EQ(eq->geometry(), QRect(100, 50 + 169, 375, 142));
    EXPECT_EQ(eq->DockedTo(), window_.get());
    EXPECT_TRUE(window_->Button(kIdEqualiser)->Lit());
    // Dragging the main window carries it.
    window_->DragTo(QPoint(120, 60));
    EXPECT_EQ(eq->pos(), QPoint(120, 60 + 169));

    Click(eq->OnButton(), {19, 5});
    EXPECT_TRUE(tunara::testing::TestEngine().Gain().Settings().eqOn);
    EXPECT_TRUE(eq->OnButton()->Lit());
    // The top of a band is +12 dB, the bottom -12 dB; the preamp alike.
    Click(eq->Band(0), {6, 6});
    Click(eq->Band(9), {6, 93 - 6});
    Click(eq->Preamp(), {6, 93 - 6});
    Wheel(eq->Band(4), 3);
    const SoundSettings heard = tunara::testing::TestEngine().Gain().Settings();
    EXPECT_EQ(heard.eqDb[0], 12.0f);
    EXPECT_EQ(heard.eqDb[9], -12.0f);
    EXPECT_EQ(heard.eqDb[4], 3.0f);
    EXPECT_EQ(heard.eqPreampDb, -12.0f);
    const SoundSettings kept = Kept();
    EXPECT_TRUE(kept.eqOn);
    EXPECT_EQ(kept.eqDb, heard.eqDb);
    EXPECT_EQ(kept.eqPreampDb, -12.0f);

    // A drag is heard while it goes, and kept when it ends.
    BitmapSlider* band = eq->Band(2);
    const QPoint grab = band->ThumbRect().center();
    QTest::mousePress(band, Qt::LeftButton, {}, grab);
    QTest::mouseMove(band, grab - QPoint(0, 26));  // 16 steps of 81/48 pixels: +8 dB
    Drain();
    EXPECT_EQ(tunara::testing::TestEngine().Gain().Settings().eqDb[2], 8.0f);
    QTest::mouseRelease(band, Qt::LeftButton, {}, grab - QPoint(0, 26));
    Drain();
    EXPECT_EQ(Kept().eqDb[2], 8.0f);
    // A double click sets a band back to 0 dB.
    QTest::mouseDClick(band, Qt::LeftButton, {}, band->ThumbRect().center());
    Drain();
    EXPECT_EQ(tunara::testing::TestEngine().Gain().Settings().eqDb[2], 0.0f);
    EXPECT_EQ(band->Position(), EqualiserWindow::PositionOf(0));
}

TEST_F(SoundControlsTest, PresetsLoadTheBandsAndUserPresetsAreSavedByName) {
    EqualiserWindow* eq = OpenEqualiser();
    ASSERT_NE(eq, nullptr);
    auto action = [](QMenu& menu, const QString& text) -> QAction* {
        for (QAction* a : menu.actions())
            if (a->text() == text) return a;
        ADD_FAILURE() << "no entry " << text.toStdString();
        return nullptr;
    };
    std::unique_ptr<QMenu> menu(eq->PresetMenu());
    for (const char* name :
         {"Flat", "Rock", "Pop", "Classical", "Dance", "Bass", "Treble", "Voice"})
        ASSERT_NE(action(*menu, name), nullptr);
    action(*menu, "Rock")->trigger();
    Drain();
    const auto rock = *EqualiserPreset("rock", nullptr);
    EXPECT_EQ(tunara::testing::TestEngine().Gain().Settings().eqDb, rock);
    EXPECT_TRUE(tunara::testing::TestEngine().Gain().Settings().eqOn) << "a chosen preset is heard";
    EXPECT_EQ(eq->Band(0)->Position(), EqualiserWindow::PositionOf(rock[0]));
    EXPECT_EQ(eq->Band(5)->Position(), EqualiserWindow::PositionOf(rock[5]));

    // Saved by name; the store's separators cannot break the list.
    Click(eq->Band(3), {6, 6});
    eq->askName = [](const QString&) { return QStringLiteral(" Late; Night= "); };
    ASSERT_TRUE(eq->SavePreset());
    SettingsStore again(store_, {});
    const auto mine = EqualiserPreset("Late Night", &again);
    ASSERT_TRUE(mine.has_value());
    EXPECT_EQ((*mine)[3], 12.0f);
    menu.reset(eq->PresetMenu());
    ASSERT_NE(action(*menu, "Late Night"), nullptr);
    EXPECT_TRUE(action(*menu, "Late Night")->isChecked());
    EXPECT_FALSE(action(*menu, "Rock")->isChecked());
    eq->askName = [](const QString&) { return QString(); };
    EXPECT_FALSE(eq->SavePreset()) << "no name, nothing saved";

    // Deleted from the menu, and from what a new start reads.
    QMenu* remove = action(*menu, "Delete Preset")->menu();
    ASSERT_EQ(remove->actions().size(), 1);
    remove->actions().front()->trigger();
    SettingsStore after(store_, {});
    EXPECT_FALSE(EqualiserPreset("Late Night", &after).has_value());
    menu.reset(eq->PresetMenu());
    EXPECT_FALSE(action(*menu, "Delete Preset")->isEnabled());
}

TEST_F(SoundControlsTest, BalanceIsHeardKeptAndCentresNearTheMiddle) {
    BitmapSlider* balance = window_->BalanceSlider();
    EXPECT_EQ(balance->geometry(), QRect(312, 112, 44, 12));
    EXPECT_EQ(balance->Position(), 0);
    Click(balance, {44 - 6, 6});
    EXPECT_EQ(tunara::testing::TestEngine().Gain().Settings().balance, 100);
    EXPECT_EQ(Kept().balance, 100);
    Click(balance, {22, 6});  // a few units off the middle
    EXPECT_EQ(balance->Position(), 0);
    EXPECT_EQ(tunara::testing::TestEngine().Gain().Settings().balance, 0);
    Wheel(balance, -2);
    EXPECT_EQ(tunara::testing::TestEngine().Gain().Settings().balance, -20);
    EXPECT_EQ(Kept().balance, -20);
    // A new start shows and applies what was kept.
    tunara::testing::TestEngine().Gain().SetSettings({});
    Build();
    EXPECT_EQ(window_->BalanceSlider()->Position(), -20);
    EXPECT_EQ(tunara::testing::TestEngine().Gain().Settings().balance, -20);
}

TEST_F(SoundControlsTest, OptionsChangesReachTheEngineAndTheWindows) {
    OpenEqualiser();
    window_->onOptions = [this] {
        // What the sheet's OK leaves in the store.
        settings_.SetNumber(settings::kReplayGainMode, 2);
        settings_.SetText(settings::kReplayGainPreamp, "4.5");
        settings_.SetText(settings::kBalance, "30");
        settings_.SetText(settings::kEqualiser, "1,2,3,4,5,6,7,8,9,10,-3");
    };
    Click(window_->Button(kIdOptions), {19, 5});
    const SoundSettings s = tunara::testing::TestEngine().Gain().Settings();
    EXPECT_EQ(s.mode, ReplayGainMode::Album);
    EXPECT_EQ(s.preampDb, 4.5f);
    EXPECT_EQ(s.balance, 30);
    EXPECT_EQ(window_->BalanceSlider()->Position(), 30);
    EXPECT_EQ(window_->EqualiserPanel()->Band(9)->Position(), EqualiserWindow::PositionOf(10));
    EXPECT_EQ(window_->EqualiserPanel()->Preamp()->Position(), EqualiserWindow::PositionOf(-3));
}

TEST_F(SoundControlsTest, EqualiserComesBackWithTheSessionAndIdlesWithoutPainting) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    window_->move(area.topLeft() + QPoint(10, 10));
    EqualiserWindow* eq = OpenEqualiser();
    ASSERT_NE(eq, nullptr);
    eq->DragTo(area.topLeft() + QPoint(300, 300));
    EXPECT_EQ(eq->DockedTo(), nullptr);
    Build();
    eq = window_->EqualiserPanel();
    ASSERT_NE(eq, nullptr) << "open at the end, open at the start";
    EXPECT_EQ(eq->pos(), area.topLeft() + QPoint(300, 300));
    EXPECT_TRUE(window_->Button(kIdEqualiser)->Lit());

    // Playing, shown and then hidden with the main window: nothing to draw.
    PaintCounter counter(eq);
    Click(eq->OnButton(), {19, 5});
    EXPECT_GT(counter.paints, 0) << "the counter sees the window's paints";
    window_->Controller().Play();
    for (int i = 0; i < 3; ++i) window_->Controller().OnTick();
    Drain();
    const int before = counter.paints;
    for (int i = 0; i < 40; ++i) window_->Controller().OnTick();
    Drain();
    EXPECT_EQ(counter.paints, before);
    eq->hide();
    QTest::keyClick(window_.get(), Qt::Key_Right);
    for (int i = 0; i < 40; ++i) window_->Controller().OnTick();
    Drain();
    EXPECT_EQ(counter.paints, before);

    // Closed at the end: closed at the start.
    eq->show();
    QTest::keyClick(window_.get(), Qt::Key_E);
    Drain();
    EXPECT_EQ(window_->EqualiserPanel(), nullptr);
    EXPECT_FALSE(window_->Button(kIdEqualiser)->Lit());
    Build();
    EXPECT_EQ(window_->EqualiserPanel(), nullptr);
}

TEST_F(SoundControlsTest, FileInformationShowsTheReplayGainValues) {
    const std::string tagged = dir_.filePath("tagged.flac").toStdString();
    const std::string plain = dir_.filePath("plain.flac").toStdString();
    const std::string make = "ffmpeg -v error -y -f lavfi -i sine=d=0.2 ";
    const bool made =
        std::system((make +
                     "-metadata REPLAYGAIN_TRACK_GAIN='-6.20 dB' -metadata "
                     "REPLAYGAIN_TRACK_PEAK=0.5 -metadata REPLAYGAIN_ALBUM_GAIN='-5.5 dB' " +
                     tagged + " && " + make + plain)
                        .c_str()) == 0;
    TUNARA_SKIP_IF_MISSING(!made, "ffmpeg");
    const QString text = ReplayGainText(tagged);
    EXPECT_TRUE(text.contains("track: -6.20 dB, peak 0.5")) << text.toStdString();
    EXPECT_TRUE(text.contains("album: -5.50 dB")) << text.toStdString();
    EXPECT_EQ(ReplayGainText(plain), "ReplayGain: none");
}

}  // namespace
}  // namespace tunara::qt
