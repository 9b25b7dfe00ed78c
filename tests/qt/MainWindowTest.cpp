// The main window and the playlist window driving a real controller over
// scripted items.
#include <gtest/gtest.h>

#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <fstream>
#include <functional>
#include <vector>

#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "playlist/FakeMediaSource.h"
#include "playlist/ScriptedDialogs.h"
#include "qt/QtApp.h"
#include "tracklist/TrackList.h"
#include "ui/core/Session.h"
#include "ui/core/SettingsStore.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/BitmapSlider.h"
#include "ui/qt/Displays.h"
#include "ui/qt/EqualiserWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/PlaylistWindow.h"
#include "ui/qt/QtInteraction.h"
#include "ui/qt/SkinIds.h"
#include "ui/qt/TrackListView.h"

namespace tunara::qt {
namespace {

using testing::Drain;
using testing::FakeMediaSource;
using testing::MakeFake;

class FakeVolume : public VolumeOutput {
public:
    float GetVolume() override { return volume; }
    void SetVolume(float v) override { volume = v; }
    void Close() override {}
    float volume = 0.75f;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        for (int i = 0; i < 5; ++i) Add("Item " + std::to_string(i), 60000);
        window_ = std::make_unique<MainWindow>(playlist_, &volume_, "");
        window_->TickTimer().stop();  // the tests tick by hand
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        playlist_.Clear();
    }
    FakeMediaSource* Add(const std::string& title, int ms) {
        auto s = MakeFake(title, ms, log_);
        FakeMediaSource* raw = s.get();
        playlist_.Append(std::move(s));
        return raw;
    }
    PlayerController& C() { return window_->Controller(); }
    bool Lit(int id) { return window_->Button(id)->Lit(); }
    void Click(int id) {
        BitmapButton* b = window_->Button(id);
        const QPoint c = b->rect().center();
        QTest::mouseClick(b, Qt::LeftButton, {}, c);
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) C().OnTick();
    }

    std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
    testing::FakeSources sources_;  // files added in a test become fakes
    Playlist playlist_{sources_};
    FakeVolume volume_;
    std::unique_ptr<MainWindow> window_;
};

// Where each control sits is the screenshot comparison's business; here every
// control shows whole inside the window and none covers another.
TEST_F(MainWindowTest, ControlsLieInsideTheWindowWithoutOverlap) {
    const std::vector<QWidget*> controls = {
        window_->Button(kCmdPlay),     window_->Button(kCmdNext), window_->Button(kCmdRepeat),
        window_->Button(kIdOk),        window_->Button(kIdMin),   window_->Button(kIdAbout),
        window_->Button(kIdEqualiser), window_->BalanceSlider(),  window_->PositionSlider(),
        window_->VolumeSlider(),       window_->Info(),           window_->Levels()};
    for (size_t a = 0; a < controls.size(); ++a) {
        const QRect box = controls[a]->geometry();
        EXPECT_FALSE(box.isEmpty()) << a;
        EXPECT_TRUE(window_->rect().contains(box)) << a;
        for (size_t b = a + 1; b < controls.size(); ++b)
            EXPECT_FALSE(box.intersects(controls[b]->geometry())) << a << " and " << b;
    }
    EXPECT_EQ(window_->windowTitle(), "Tunara - Item 0");
}

TEST_F(MainWindowTest, LightsFollowTheControllerState) {
    EXPECT_FALSE(Lit(kCmdPlay));
    Click(kCmdPlay);
    EXPECT_EQ(C().State(), Playing);
    EXPECT_TRUE(Lit(kCmdPlay));
    Click(kCmdFwd);
    EXPECT_TRUE(Lit(kCmdFwd));
    EXPECT_FALSE(Lit(kCmdPlay));
    Click(kCmdBack);
    EXPECT_TRUE(Lit(kCmdBack));
    EXPECT_FALSE(Lit(kCmdFwd));
    Click(kCmdBack);
    EXPECT_FALSE(Lit(kCmdBack));
    EXPECT_EQ(C().State(), Stopped);

    Click(kCmdIntro);
    Click(kCmdShuffle);
    Click(kCmdRepeat);
    EXPECT_TRUE(Lit(kCmdIntro) && Lit(kCmdShuffle) && Lit(kCmdRepeat));
    EXPECT_TRUE(playlist_.Intro() && playlist_.Shuffle() && playlist_.Repeat());
    EXPECT_FALSE(Lit(kCmdNormal));
    Click(kCmdNormal);
    EXPECT_FALSE(Lit(kCmdIntro) || Lit(kCmdShuffle) || Lit(kCmdRepeat));
    EXPECT_TRUE(Lit(kCmdNormal));
    Click(kCmdShuffle);
    EXPECT_TRUE(Lit(kCmdShuffle));
    EXPECT_FALSE(Lit(kCmdNormal));
}

TEST_F(MainWindowTest, SliderDragsReachTheController) {
    Click(kCmdPlay);
    Ticks(1);
    BitmapSlider* pos = window_->PositionSlider();
    ASSERT_EQ(pos->Maximum(), 6000);
    const int before = static_cast<int>(log_->size());
    QTest::mousePress(pos, Qt::LeftButton, {}, QPoint(3, 6));
    QTest::mouseMove(pos, QPoint(3 + 123, 6));  // half of the 246 pixels of travel
    QTest::mouseRelease(pos, Qt::LeftButton, {}, QPoint(3 + 123, 6));
    Drain();
    std::vector<std::string> seeks;
    for (size_t i = before; i < log_->size(); ++i)
        if ((*log_)[i].rfind("Seek", 0) == 0) seeks.push_back((*log_)[i]);
    ASSERT_FALSE(seeks.empty());
    EXPECT_EQ(seeks.back(), "Seek 30000");
    EXPECT_EQ(window_->Info()->TimeText(), "00:00:30 / 00:01:00");

    BitmapSlider* vol = window_->VolumeSlider();
    QTest::mouseClick(vol, Qt::LeftButton, {}, QPoint(6, 93 - 6));  // the bottom: quiet
    Drain();
    EXPECT_EQ(vol->Position(), 100);
    EXPECT_FLOAT_EQ(volume_.volume, 0.0f);
}

TEST_F(MainWindowTest, UnchangedTicksRedrawNothing) {
    Click(kCmdPlay);
    Ticks(2);
    // Stopped: the same values on every tick.
    Click(kCmdPlay);
    Ticks(2);
    const int info = window_->Info()->Redraws(), levels = window_->Levels()->Redraws();
    Ticks(40);
    EXPECT_EQ(window_->Info()->Redraws(), info);
    EXPECT_EQ(window_->Levels()->Redraws(), levels);
}

TEST_F(MainWindowTest, EscapeLeavesTheWindowOpen) {
    window_->activateWindow();
    QTest::keyClick(window_.get(), Qt::Key_Escape);
    Drain();
    EXPECT_TRUE(window_->isVisible());
    Click(kIdOk);
    Drain();
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(MainWindowTest, DroppedFilesAreAddedInOrderAndTheLastBecomesCurrent) {
    QTemporaryDir dir;
    QList<QUrl> urls;
    for (const char* name : {"b.mp3", "a.mp3", "c.wav"}) {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString()) << "x";
        urls << QUrl::fromLocalFile(path);
    }
    QMimeData mime;
    mime.setUrls(urls);
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, {});
    // Straight to the window: the application refuses drops that no drag started.
    static_cast<QObject*>(window_.get())->event(&drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_EQ(playlist_.Count(), 8);
    EXPECT_EQ(playlist_.ItemAt(5)->GetTitle(), "b.mp3");
    EXPECT_EQ(playlist_.ItemAt(6)->GetTitle(), "a.mp3");
    EXPECT_EQ(playlist_.ItemAt(7)->GetTitle(), "c.wav");
    EXPECT_EQ(playlist_.Current(), 7);
    EXPECT_EQ(window_->Info()->Title(), "c.wav");
}

TEST_F(MainWindowTest, FilesDroppedOnThePlaylistAreAddedWithoutChangingTheCurrentItem) {
    QTemporaryDir dir;
    QStringList names;
    for (const char* name : {"z.mp3", "y.wav"}) {
        names << dir.filePath(name);
        std::ofstream(names.back().toStdString()) << "x";
    }
    names << dir.filePath("missing.mp3");
    playlist_.SetCurrent(1);
    C().Refresh();
    Click(kIdPlayList);
    PlaylistWindow* panel = window_->PlaylistPanel();
    panel->AddFiles(names);
    ASSERT_EQ(playlist_.Count(), 7);
    EXPECT_EQ(playlist_.ItemAt(5)->GetTitle(), "z.mp3");
    EXPECT_EQ(playlist_.ItemAt(6)->GetTitle(), "y.wav");
    EXPECT_EQ(playlist_.Current(), 1);
    EXPECT_EQ(panel->View()->RowCount(), 7);
    EXPECT_EQ(window_->Info()->TrackText(), "Track 02 of 07");
}

TEST_F(MainWindowTest, ARestartBringsBackTheSession) {
    QTemporaryDir dir;
    SessionStore store(dir.filePath("config").toStdString());
    SettingsStore settings(dir.filePath("settings").toStdString(), {});
    auto rebuild = [&] {
        window_.reset();
        playlist_.Clear();
        volume_.volume = 0.75f;
        window_ = std::make_unique<MainWindow>(playlist_, &volume_, "", &settings);
        window_->TickTimer().stop();
        window_->RestoreSession(store);
        window_->show();
        Drain();
    };
    rebuild();
    for (const char* name : {"a.mp3", "b.mp3", "c.wav", "d.mp3"}) {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString()) << "x";
        playlist_.AddFile(path.toStdString());
    }
    playlist_.SetCurrent(2);
    C().RefreshAll();
    C().OnPositionSlider(kThumbPosition, 3000);
    C().OnVolumeSlider(kThumbPosition, 60);
    C().OnMixerChange();
    C().ToggleShuffle();
    C().ToggleRepeat();
    window_->move(100, 120);
    window_->TogglePlaylistWindow();
    // Off the right edge: it comes back inside the screen.
    window_->PlaylistPanel()->SetDockedTo(nullptr);
    window_->PlaylistPanel()->MoveTo(QPoint(5000, 90));
    Drain();

    rebuild();
    ASSERT_EQ(playlist_.Count(), 4);
    EXPECT_EQ(playlist_.ItemAt(3)->GetTitle(), "d.mp3");
    EXPECT_EQ(playlist_.Current(), 2);
    EXPECT_TRUE(C().IsActive(&playlist_));
    ASSERT_NE(C().Source(), nullptr);
    EXPECT_EQ(C().Source()->GetPosition(), 30000);
    EXPECT_NEAR(volume_.volume, 0.4f, 0.01f);
    EXPECT_EQ(window_->VolumeSlider()->Position(), 60);
    EXPECT_TRUE(playlist_.Shuffle() && playlist_.Repeat() && !playlist_.Intro());
    EXPECT_TRUE(Lit(kCmdShuffle) && Lit(kCmdRepeat));
    EXPECT_EQ(window_->pos(), QPoint(100, 120));
    PlaylistWindow* panel = window_->PlaylistPanel();
    ASSERT_NE(panel, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel->pos(), QPoint(screen.right() + 1 - panel->width(), 90));

    // Without resuming, the list and the rest come back, but not the item.
    settings.SetNumber(settings::kResumeSession, 0);
    window_->TogglePlaylistWindow();
    rebuild();
    EXPECT_EQ(playlist_.Count(), 4);
    EXPECT_EQ(playlist_.Current(), 0);
    EXPECT_EQ(C().Source()->GetPosition(), 0);
    EXPECT_EQ(window_->PlaylistPanel(), nullptr);
    window_.reset();  // before the store goes
}

TEST_F(MainWindowTest, EachKeyDoesItsJob) {
    testing::ScriptedDialogs dialogs;
    window_->TogglePlaylistWindow();
    PlaylistWindow* panel = window_->PlaylistPanel();
    TrackListView* view = panel->View();
    // Within a tick's step: the seek ticks the source once.
    auto at = [&](int ms) { return std::abs(C().Source()->GetPosition() - ms) < 500; };
    struct Case {
        QWidget* to;
        int key;
        Qt::KeyboardModifiers mods;
        std::function<bool()> done;
    };
    const Case cases[] = {
        {window_.get(), Qt::Key_Space, {}, [&] { return C().State() == Playing; }},
        {window_.get(), Qt::Key_Right, {}, [&] { return at(5000); }},
        {window_.get(), Qt::Key_Left, {}, [&] { return at(0); }},
        {window_.get(), Qt::Key_Right, {}, [&] { return at(5000); }},
        {window_.get(), Qt::Key_C, {}, [&] { return C().State() == Stopped && at(5000); }},
        {window_.get(), Qt::Key_Space, {}, [&] { return C().State() == Playing; }},
        {window_.get(), Qt::Key_Space, {}, [&] { return C().State() == Stopped; }},
        {window_.get(), Qt::Key_X, {}, [&] { return C().State() == Playing; }},
        {window_.get(), Qt::Key_V, {}, [&] { return C().State() == Stopped && at(0); }},
        {window_.get(), Qt::Key_B, {}, [&] { return playlist_.Current() == 1; }},
        {window_.get(), Qt::Key_Z, {}, [&] { return playlist_.Current() == 0; }},
        {window_.get(), Qt::Key_Down, {}, [&] { return std::abs(volume_.volume - 0.70f) < 0.01f; }},
        {window_.get(), Qt::Key_Up, {}, [&] { return std::abs(volume_.volume - 0.75f) < 0.01f; }},
        {window_.get(), Qt::Key_O, Qt::ControlModifier, [&] { return dialogs.opens == 1; }},
        {window_.get(), Qt::Key_S, Qt::ControlModifier, [&] { return dialogs.saves == 1; }},
        {window_.get(), Qt::Key_J, {}, [&] { return panel->FindField()->isVisible(); }},
        {panel->FindField(), Qt::Key_3, {}, [&] { return view->Selected() == std::set<int>{3}; }},
        {panel->FindField(), Qt::Key_Escape, {}, [&] { return !panel->FindField()->isVisible(); }},
        {view, Qt::Key_Down, {}, [&] { return view->Selected() == std::set<int>{4}; }},
        {view, Qt::Key_A, Qt::ControlModifier, [&] { return view->Selected().size() == 5; }},
        {view, Qt::Key_Delete, {}, [&] { return playlist_.Count() == 0; }},
        {view, Qt::Key_B, {}, [&] { return C().State() == Stopped; }},  // nothing left to go to
    };
    for (const Case& c : cases) {
        QTest::keyClick(c.to, static_cast<Qt::Key>(c.key), c.mods);
        Drain();
        EXPECT_TRUE(c.done()) << QKeySequence(c.key | c.mods).toString().toStdString();
    }
}

TEST_F(MainWindowTest, WheelAndTimeClickAndScrollingTitle) {
    QWheelEvent up(QPointF(5, 5), QPointF(5, 5), {}, QPoint(0, 120), Qt::NoButton, {},
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(window_->VolumeSlider(), &up);
    EXPECT_NEAR(volume_.volume, 0.80f, 0.01f);
    Click(kCmdPlay);
    QApplication::sendEvent(window_->PositionSlider(), &up);
    EXPECT_NEAR(C().Source()->GetPosition(), 5000, 500);

    InfoDisplay* info = window_->Info();
    QTest::mouseClick(info, Qt::LeftButton, {}, QPoint(10, 3));
    EXPECT_TRUE(info->TimeText().startsWith('-')) << info->TimeText().toStdString();
    QTest::mouseClick(info, Qt::LeftButton, {}, QPoint(10, 3));
    EXPECT_FALSE(info->TimeText().startsWith('-'));

    // The artist joins the title; one too long for the display scrolls.
    playlist_.ItemAt(0)->SetArtist("An Artist With A Name Long Enough");
    playlist_.ItemAt(0)->SetTitle("And A Title That Cannot Fit The Display Either");
    C().RefreshAll();
    EXPECT_TRUE(
        info->Title().startsWith(QStringLiteral("An Artist With A Name Long Enough \u2013 And")));
    ASSERT_TRUE(info->TitleOverflows());
    auto tick = [&](int n) {
        for (int i = 0; i < n; ++i) window_->TickTimer().timeout({});
    };
    tick(40);
    EXPECT_EQ(info->ScrollOffset(), 0);  // resting at the start
    tick(100);
    EXPECT_GT(info->ScrollOffset(), 0);
    Click(kCmdStop);
    tick(1);
    EXPECT_EQ(info->ScrollOffset(), 0);
    const int redraws = info->Redraws();
    tick(200);
    EXPECT_EQ(info->Redraws(), redraws);  // stopped: nothing moves, nothing drawn
}

TEST_F(MainWindowTest, PlaylistShowsTotalsAndFollowsThePlayingItem) {
    window_->TogglePlaylistWindow();
    TrackListView* view = window_->PlaylistPanel()->View();
    view->Refresh();
    EXPECT_EQ(view->TotalsText(), "5 items, 00:05:00");
    view->Select(1);
    view->Select(3, false);
    EXPECT_EQ(view->TotalsText(), "5 items, 00:05:00 (2 selected, 00:02:00)");
    for (int i = 5; i < 60; ++i) Add("Item " + std::to_string(i), 1000);
    C().PlayRow(playlist_, 50);
    EXPECT_LE(view->TopRow(), 50);
    EXPECT_GT(view->TopRow() + view->RowsPerPage(), 50);
    // Scrolled by the user just now: the view stays where it was put.
    QWheelEvent up(QPointF(20, 40), QPointF(20, 40), {}, QPoint(0, 120), Qt::NoButton, {},
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &up);
    const int top = view->TopRow();
    C().PlayRow(playlist_, 2);
    EXPECT_EQ(view->TopRow(), top);
    C().Stop();
}

// The actions of a menu by their text.
std::map<QString, QAction*> Entries(QMenu& menu) {
    std::map<QString, QAction*> out;
    for (QAction* a : menu.actions())
        if (!a->isSeparator()) out[a->text()] = a;
    return out;
}

TEST_F(MainWindowTest, MainMenuEntriesCallTheirCommands) {
    testing::ScriptedDialogs dialogs;
    int options = 0;
    window_->onOptions = [&] { ++options; };
    playlist_.SetOrigin("", false, false);  // no save question before Open List
    std::unique_ptr<QMenu> menu(window_->ContextMenu());
    auto entries = Entries(*menu);
    EXPECT_EQ(entries.size(), 16u);
    ASSERT_TRUE(entries.count("About Tunara"));  // a modal box: not run here
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"Play", [&] { return C().State() == Playing; }},
        {"Next", [&] { return playlist_.Current() == 1; }},
        {"Previous", [&] { return playlist_.Current() == 0; }},
        {"Stop", [&] { return C().State() == Stopped; }},
        {"Shuffle", [&] { return playlist_.Shuffle(); }},
        {"Repeat", [&] { return playlist_.Repeat(); }},
        {"Intro", [&] { return playlist_.Intro(); }},
        {"Normal", [&] { return !playlist_.Intro() && !playlist_.Shuffle(); }},
        {"Open File...", [&] { return dialogs.opens == 1; }},
        {"Open List...", [&] { return dialogs.opens == 2; }},
        {"Playlist", [&] { return window_->PlaylistPanel() != nullptr; }},
        {"Equaliser", [&] { return window_->EqualiserPanel() != nullptr; }},
        {"Options...", [&] { return options == 1; }},
        {"Quit", [&] { return !window_->isVisible(); }},
    };
    for (const auto& [text, done] : cases) {
        ASSERT_TRUE(entries.count(text)) << text;
        entries[text]->trigger();
        Drain();
        EXPECT_TRUE(done()) << text;
    }
    EXPECT_TRUE(entries.count("CD"));
}

TEST_F(MainWindowTest, PlaylistMenuActsOnTheSelection) {
    QTemporaryDir dir;
    playlist_.SetCurrent(-1);  // the controller lets go of the item first
    C().Refresh();
    playlist_.Clear();
    for (const char* name : {"c.mp3", "a.mp3", "b.wav"}) {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString()) << "x";
        playlist_.AddFile(path.toStdString());
    }
    playlist_.ItemAt(0)->SetArtist("Zed");
    playlist_.ItemAt(2)->SetArtist("Abe");
    C().RefreshAll();
    window_->TogglePlaylistWindow();
    PlaylistWindow* panel = window_->PlaylistPanel();
    QString folder, info;
    panel->openFolder = [&](const QString& f) { folder = f; };
    panel->showInfo = [&](const QString& t) { info = t; };
    auto names = [&] {
        std::string out;
        for (int i = 0; i < playlist_.Count(); ++i) out += playlist_.TitleAt(i) + " ";
        return out;
    };
    auto run = [&](const char* text) {
        std::unique_ptr<QMenu> menu(panel->ContextMenu());
        auto entries = Entries(*menu);
        ASSERT_TRUE(entries.count(text)) << text;
        entries[text]->trigger();
        Drain();
    };
    run("Sort by File Name");
    EXPECT_EQ(names(), "a.mp3 b.wav c.mp3 ");
    EXPECT_EQ(playlist_.Current(), 2);  // c.mp3 stays current
    run("Sort by Artist");
    EXPECT_EQ(names(), "a.mp3 b.wav c.mp3 ");  // no artist, Abe, Zed
    run("Sort by Title");
    panel->View()->Select(1);
    run("File Information...");
    EXPECT_TRUE(info.contains("b.wav")) << info.toStdString();
    EXPECT_TRUE(info.contains("Artist: Abe"));
    run("Open Containing Folder");
    EXPECT_EQ(folder, QFileInfo(dir.path()).absoluteFilePath());
    run("Play");
    EXPECT_EQ(playlist_.Current(), 1);
    EXPECT_EQ(C().State(), Playing);
    run("Remove");
    EXPECT_EQ(names(), "a.mp3 c.mp3 ");
}

TEST(QtFilter, NamesThePatternAndMatchesEveryFileForStarDotStar) {
    EXPECT_EQ(QtFilter({"MP3 File (*.mp3)", "*.mp3"}), "MP3 File (*.mp3)");
    EXPECT_EQ(QtFilter({"All Files(*.*)", "*.*"}), "All Files (*)");
    EXPECT_EQ(QtFilter({"Playlists", "*.pls;*.m3u"}), "Playlists (*.pls *.m3u)");
}

TEST_F(MainWindowTest, ThePlaylistWindowDocksAndComesBackTheSame) {
    window_->move(100, 50);
    Click(kIdPlayList);
    PlaylistWindow* panel = window_->PlaylistPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->size(), QSize(375, 221));
    EXPECT_EQ(panel->pos(), QPoint(100, 50 + 169));
    EXPECT_EQ(panel->DockedTo(), window_.get());
    EXPECT_EQ(panel->View()->RowCount(), 5);

    playlist_.SetCurrent(3);
    C().Refresh();
    // Dragging the main window carries the docked panel.
    window_->DragTo(QPoint(150, 80));
    EXPECT_EQ(panel->pos(), QPoint(150, 80 + 169));

    Click(kIdPlayList);
    Drain();
    EXPECT_EQ(window_->PlaylistPanel(), nullptr);
    Click(kIdPlayList);
    panel = window_->PlaylistPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->View()->List(), &playlist_);
    EXPECT_EQ(panel->View()->RowCount(), 5);
    EXPECT_EQ(playlist_.Current(), 3);
    EXPECT_EQ(window_->Info()->Title(), "Item 3");
}

TEST_F(MainWindowTest, PanelsSnapWithinNinePixelsButNotTen) {
    window_->move(100, 50);
    Click(kIdPlayList);
    PlaylistWindow* panel = window_->PlaylistPanel();
    ASSERT_NE(panel, nullptr);
    // Beside the main window, 9 pixels to its right and a little lower.
    panel->DragTo(QPoint(100 + 375 + 9, 55));
    EXPECT_EQ(panel->pos(), QPoint(100 + 375, 50));
    EXPECT_EQ(panel->DockedTo(), window_.get());
    panel->DragTo(QPoint(100 + 375 + 10, 70));
    EXPECT_EQ(panel->pos(), QPoint(100 + 375 + 10, 70));
    EXPECT_EQ(panel->DockedTo(), nullptr);
    // Undocked, it stays put when the main window moves.
    window_->DragTo(QPoint(90, 40));
    EXPECT_EQ(panel->pos(), QPoint(100 + 375 + 10, 70));
    // The main window never docks to a panel docked under it.
    panel->DragTo(QPoint(90, 40 + 169 + 3));
    EXPECT_EQ(panel->pos(), QPoint(90, 40 + 169));
    EXPECT_EQ(panel->DockedTo(), window_.get());
    window_->DragTo(QPoint(92, 44));
    EXPECT_EQ(window_->DockedTo(), nullptr);
}

TEST_F(MainWindowTest, DockedPanelsMinimiseWithTheMainWindow) {
    Click(kIdPlayList);
    PlaylistWindow* panel = window_->PlaylistPanel();
    ASSERT_TRUE(panel->isVisible());
    Click(kIdMin);
    Drain();
    EXPECT_TRUE(window_->isMinimized());
    EXPECT_FALSE(panel->isVisible());
    window_->showNormal();
    Drain();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(window_->PlaylistPanel(), panel);
}

// A list loaded in place of another starts with nothing selected, so Remove
// cannot take an entry the user never picked; entries that do not open are
// listed with the titles the list gave.
TEST_F(MainWindowTest, ListViewForgetsSelectionOfReplacedList) {
    Click(kIdPlayList);
    TrackListView* view = window_->PlaylistPanel()->View();
    view->Refresh();
    view->Select(1);
    QTemporaryDir dir;
    const std::string list = dir.path().toStdString() + "/l.m3u";
    std::ofstream(list) << "#EXTINF:5,Gone\n/nonexistent/x.mp3\n/nonexistent/y.mp3\n";
    ScopedRecordingInteraction ui;
    playlist_.SetCurrent(-1);  // as Open lets the playing item go first
    C().Refresh();
    ASSERT_TRUE(playlist_.Load(list));
    C().RefreshAll();
    EXPECT_TRUE(view->Selected().empty());
    EXPECT_EQ(view->RowCount(), 2);
    EXPECT_TRUE(playlist_.IsUnavailable(0));
    EXPECT_EQ(playlist_.TitleAt(0), "Gone");
    EXPECT_FALSE(view->grab().isNull());
    EXPECT_EQ(ui->errors.size(), 1u);
}

TEST_F(MainWindowTest, ListViewReordersDraggedRowsAndPlaysOnDoubleClick) {
    Click(kIdPlayList);
    TrackListView* view = window_->PlaylistPanel()->View();
    for (int i = 5; i < 8; ++i) Add("Item " + std::to_string(i), 3725000);
    view->Refresh();
    EXPECT_EQ(TrackListView::DurationText(3725000), "01:02:05");
    playlist_.SetCurrent(2);
    C().Refresh();

    view->Select(2);
    view->Select(3, false);
    view->Select(5, false);
    const QPoint from = view->RowRect(5).center();
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, view->RowRect(4).center());
    QTest::mouseMove(view, view->RowRect(2).center());
    QTest::mouseRelease(view, Qt::LeftButton, {}, view->RowRect(2).center());
    // Rows 2, 3, 5 moved up by 2 only: 2 reached the top.
    std::vector<std::string> titles;
    for (int i = 0; i < playlist_.Count(); ++i) titles.push_back(playlist_.ItemAt(i)->GetTitle());
    const std::vector<std::string> want = {"Item 2", "Item 3", "Item 0", "Item 5",
                                           "Item 1", "Item 4", "Item 6", "Item 7"};
    EXPECT_EQ(titles, want);
    EXPECT_EQ(view->SelectedRows(), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(playlist_.Current(), 0) << "the current item moved with its row";

    QTest::mouseDClick(view, Qt::LeftButton, {}, view->RowRect(4).center());
    EXPECT_EQ(playlist_.Current(), 4);
    EXPECT_EQ(C().State(), Playing);
    EXPECT_EQ(window_->Info()->Title(), "Item 1");
}

}  // namespace
}  // namespace tunara::qt
