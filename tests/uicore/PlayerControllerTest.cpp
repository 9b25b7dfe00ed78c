#include "ui/core/PlayerController.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "playlist/FakeMediaSource.h"
#include "ui/core/DisplayState.h"

namespace tunara {
namespace {

using testing::FakeMediaSource;
using testing::MakeFake;
using Log = std::shared_ptr<std::vector<std::string>>;

class FakeVolume : public VolumeOutput {
public:
    float GetVolume() override { return volume; }
    void SetVolume(float v) override { volume = v; }
    void Close() override { closed = true; }
    float volume = 0.75f;
    bool closed = false;
};

class Controller : public ::testing::Test {
protected:
    // No CD drive, whatever the machine has: these tests are about files.
    Controller() { controller_.SetCdDrives({}, 0); }

    FakeMediaSource* Add(const std::string& title, int durationMs = 1000) {
        auto s = MakeFake(title, durationMs, log_);
        FakeMediaSource* raw = s.get();
        playlist_.Append(std::move(s));
        return raw;
    }
    // The log since the last call.
    std::vector<std::string> Calls() {
        std::vector<std::string> out(log_->begin() + static_cast<long>(seen_), log_->end());
        seen_ = log_->size();
        return out;
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) controller_.OnTick();
    }
    FakeMediaSource* Source() { return static_cast<FakeMediaSource*>(controller_.Source()); }

    ScopedRecordingInteraction ui_;
    Log log_ = std::make_shared<std::vector<std::string>>();
    size_t seen_ = 0;
    DisplayState display_;
    testing::FakeSources sources_{60000, log_};  // files opened in a test become fakes
    Playlist playlist_{sources_};
    FakeVolume volume_;
    PlayerController controller_{display_, playlist_, &volume_, "/nowhere"};
};

// Start opens the current item without playing it; moving on stops and closes
// the old item and opens, meters and plays the new one.
TEST_F(Controller, StartAndItemChangeOrder) {
    Add("a");
    Add("b");
    controller_.Start();
    EXPECT_TRUE(controller_.IsActive(&playlist_));
    EXPECT_EQ(display_.VolumeSlider(), 25);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Open a", "EnableMetering 1", "SetBandCount 16"}));
    EXPECT_EQ(controller_.State(), Stopped);
    controller_.Play();
    controller_.Next();
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Play a", "Stop a", "Close a", "Open b",
                                                 "EnableMetering 1", "SetBandCount 16", "Play b"}));
    EXPECT_EQ(controller_.State(), Playing);
    EXPECT_EQ(display_.WindowTitle(), "Tunara - b");
    EXPECT_EQ(display_.TrackText(), "Track 02 of 02");
    EXPECT_TRUE(display_.PlayLit());
    controller_.Shutdown();
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Stop b", "Close b"}));
    EXPECT_TRUE(volume_.closed);
}

// The transport rows of the state table, from every state.
TEST_F(Controller, TransportStateTable) {
    FakeMediaSource* a = Add("a", 100000);
    controller_.Start();
    auto from = [&](PlayState s) {
        controller_.Stop();
        if (s == Playing) controller_.Play();
        if (s == FastForward) controller_.Fwd();
        if (s == Rewind) controller_.Back();
        ASSERT_EQ(controller_.State(), s);
    };
    struct Row {
        PlayState from;
        void (PlayerController::*command)();
        PlayState to;
    };
    const Row rows[] = {
        {Stopped, &PlayerController::Play, Playing},
        {FastForward, &PlayerController::Play, Playing},
        {Rewind, &PlayerController::Play, Playing},
        {Playing, &PlayerController::Play, Stopped},
        {Playing, &PlayerController::Stop, Stopped},
        {FastForward, &PlayerController::Stop, Stopped},
        {Playing, &PlayerController::Fwd, FastForward},
        {Stopped, &PlayerController::Fwd, FastForward},
        {Rewind, &PlayerController::Fwd, FastForward},
        {FastForward, &PlayerController::Fwd, Stopped},
        {Playing, &PlayerController::Back, Rewind},
        {Stopped, &PlayerController::Back, Rewind},
        {FastForward, &PlayerController::Back, Rewind},
        {Rewind, &PlayerController::Back, Stopped},
    };
    for (const auto& row : rows) {
        from(row.from);
        a->positionMs = 5000;
        (controller_.*row.command)();
        EXPECT_EQ(controller_.State(), row.to) << "from " << row.from;
        EXPECT_EQ(a->state, row.to) << "source, from " << row.from;
        EXPECT_EQ(display_.PlayLit(), row.to == Playing);
        EXPECT_EQ(display_.FwdLit(), row.to == FastForward);
        EXPECT_EQ(display_.BackLit(), row.to == Rewind);
    }
    // Stop goes back to the start; Play on a playing item keeps the place.
    from(Playing);
    a->positionMs = 5000;
    controller_.Play();
    EXPECT_EQ(a->positionMs, 5000);
    controller_.Stop();
    EXPECT_EQ(a->positionMs, 0);
}

// Fwd twice leaves the player stopped where it got to.
TEST_F(Controller, FwdTwice_StopsAndKeepsPosition) {
    Add("a", 100000);
    controller_.Start();
    controller_.Fwd();
    Ticks(10);
    int at = Source()->positionMs;
    EXPECT_EQ(at, 500);
    controller_.Fwd();
    EXPECT_EQ(controller_.State(), Stopped);
    EXPECT_EQ(Source()->positionMs, at);
}

TEST_F(Controller, RewindReachingZeroPlaysOn) {
    FakeMediaSource* a = Add("a", 100000);
    controller_.Start();
    a->positionMs = 120;
    controller_.Back();
    Ticks(2);
    EXPECT_EQ(controller_.State(), Rewind);
    Ticks(1);
    EXPECT_EQ(controller_.State(), Playing);
    EXPECT_EQ(a->state, Playing);
    EXPECT_EQ(a->positionMs, 0);
}

// An item that ends moves playback on; at the end of the list it stops on item
// 0 unless repeat is on. Fast-forward to the end just stops.
TEST_F(Controller, ItemEnd_AdvancesOrStops) {
    Add("a", 100);
    Add("b", 100);
    controller_.Start();
    controller_.Play();
    Ticks(4);
    EXPECT_EQ(playlist_.Current(), 1);
    EXPECT_EQ(controller_.State(), Playing);
    EXPECT_FALSE(controller_.ReachedEnd());
    Ticks(4);
    EXPECT_EQ(playlist_.Current(), 0);
    EXPECT_EQ(controller_.State(), Stopped);
    EXPECT_TRUE(controller_.ReachedEnd());

    playlist_.SetRepeat(true);
    controller_.Play();
    EXPECT_FALSE(controller_.ReachedEnd());
    Ticks(8);
    EXPECT_EQ(playlist_.Current(), 0);
    EXPECT_EQ(controller_.State(), Playing);

    controller_.Fwd();
    Ticks(2);
    EXPECT_EQ(controller_.State(), Stopped);
    EXPECT_EQ(playlist_.Current(), 0);
}

// Intro cuts an item at the first tick past 10 s and plays the next; while
// fast-forwarding the cut stops the player instead.
TEST_F(Controller, IntroCut) {
    FakeMediaSource* a = Add("a", 60000);
    Add("b", 60000);
    controller_.Start();
    controller_.ToggleIntro();
    EXPECT_TRUE(display_.IntroLit());
    controller_.Play();
    a->positionMs = 9975;
    Ticks(1);  // exactly 10000: not yet
    EXPECT_EQ(playlist_.Current(), 0);
    Ticks(1);
    EXPECT_EQ(playlist_.Current(), 1);
    EXPECT_EQ(controller_.State(), Playing);

    Source()->positionMs = 9990;
    controller_.Fwd();
    Ticks(1);
    EXPECT_EQ(controller_.State(), Stopped);
    EXPECT_EQ(playlist_.Current(), 1);
    EXPECT_EQ(Source()->positionMs, 0);
}

// A source that does not open stays current and shown, but nothing plays.
// An item that does not open is passed over with one status line (no box),
// marked, and the player goes on; chosen while stopped it shows and stays.
// A list where nothing opens stops after one round even with repeat on.
TEST_F(Controller, OpenFailure_PassedOverWithStatusLine) {
    FakeMediaSource* a = Add("a");
    FakeMediaSource* b = Add("b");
    FakeMediaSource* c = Add("c");
    b->openSucceeds = false;
    controller_.Start();
    controller_.Play();
    controller_.Next();
    EXPECT_EQ(display_.Message(), "Skipped: cannot open b");
    EXPECT_TRUE(playlist_.IsUnavailable(1));
    Ticks(1);
    EXPECT_EQ(controller_.Source(), c);
    EXPECT_EQ(controller_.State(), Playing);
    EXPECT_TRUE(ui_->errors.empty());

    controller_.Stop();
    playlist_.SetCurrent(1);
    controller_.Refresh();
    EXPECT_EQ(controller_.State(), Stopped);
    EXPECT_EQ(display_.Title(), "b");
    EXPECT_EQ(b->state, Stopped);

    playlist_.SetCurrent(0);
    controller_.Refresh();
    controller_.ToggleRepeat();
    controller_.Play();
    for (FakeMediaSource* s : {a, b, c}) s->openSucceeds = false;
    controller_.Next();
    Ticks(10);
    EXPECT_EQ(controller_.State(), Stopped);
}

TEST_F(Controller, EmptyList_CommandsDoNothing) {
    controller_.Start();
    controller_.Play();
    controller_.Fwd();
    controller_.Back();
    controller_.Stop();
    controller_.Next();
    controller_.Prev();
    controller_.OnPositionSlider(kThumbTrack, 5);
    Ticks(2);
    EXPECT_EQ(controller_.State(), Stopped);
    EXPECT_EQ(display_.TrackText(), "");
    EXPECT_EQ(display_.WindowTitle(), "Tunara");
    EXPECT_EQ(display_.LeftLevel(), 0.0f);
}

// The tick shows levels, bands, position and slider of the playing source.
TEST_F(Controller, Tick_FeedsDisplay) {
    Add("a", 200000);
    controller_.Start();
    controller_.Play();
    Source()->positionMs = 61990;
    Ticks(1);
    EXPECT_EQ(display_.PositionSeconds(), 62);
    EXPECT_EQ(display_.PositionSlider(), 6201);
    EXPECT_EQ(display_.PositionMax(), 20000);
    EXPECT_EQ(display_.LeftLevel(), 0.5f);
    EXPECT_EQ(display_.Bands()[15], 0.25f);
    EXPECT_EQ(display_.TimeText(), "00:01:02 / 00:03:20");
    display_.TakeChanged();
    Source()->stepMs = 0;
    Ticks(3);
    EXPECT_FALSE(display_.TakeChanged());
}

// Work posted from other threads runs on the tick.
TEST_F(Controller, Tick_DeliversPostedWork) {
    int ran = 0;
    UiQueue().Post([&] { ++ran; });
    Ticks(1);
    EXPECT_EQ(ran, 1);
}

TEST_F(Controller, Sliders) {
    Add("a", 100000);
    controller_.Start();
    controller_.OnPositionSlider(1, 300);  // neither thumb code
    EXPECT_EQ(Source()->positionMs, 0);
    controller_.OnPositionSlider(kThumbTrack, 300);
    EXPECT_EQ(Source()->positionMs, 3000);
    EXPECT_EQ(display_.PositionSeconds(), 3);

    controller_.OnVolumeSlider(kThumbPosition, 20);
    EXPECT_FLOAT_EQ(volume_.volume, 0.8f);
    controller_.OnVolumeSlider(0, 90);
    EXPECT_FLOAT_EQ(volume_.volume, 0.8f);
    volume_.volume = 0.333f;
    controller_.OnMixerChange();
    EXPECT_EQ(display_.VolumeSlider(), 67);
}

TEST_F(Controller, ModeCommandsActOnList) {
    Add("a");
    controller_.Start();
    controller_.ToggleShuffle();
    controller_.ToggleRepeat();
    EXPECT_TRUE(playlist_.Shuffle());
    EXPECT_TRUE(display_.ShuffleLit());
    EXPECT_TRUE(display_.RepeatLit());
    controller_.Command(kCmdNormal);
    EXPECT_FALSE(playlist_.Shuffle() || playlist_.Repeat() || playlist_.Intro());
    EXPECT_FALSE(display_.ShuffleLit() || display_.RepeatLit() || display_.IntroLit());
}

class ControllerFiles : public Controller {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tunara-ctl-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = std::string(tmpl) + "/";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Touch(const std::string& name) {
        std::ofstream(dir_ + name) << "x";
        return dir_ + name;
    }
    std::string dir_;
};

// Dropped files are appended and each becomes current; when the last does not
// open, nothing is current and the display is empty.
TEST_F(ControllerFiles, OpenFiles_LastFailsLeavesNothingCurrent) {
    controller_.Start();
    controller_.OpenFiles({Touch("1.wav"), Touch("2.mp3")});
    EXPECT_EQ(playlist_.Current(), 1);
    EXPECT_EQ(display_.Title(), "2.mp3");
    controller_.Play();
    controller_.OpenFiles({Touch("3.wav"), Touch("4.wav"), dir_ + "missing.wav"});
    EXPECT_EQ(playlist_.Count(), 4);
    EXPECT_EQ(playlist_.Current(), -1);
    EXPECT_EQ(controller_.Source(), nullptr);
    EXPECT_EQ(controller_.State(), Stopped);
    EXPECT_EQ(display_.Title(), "");
    EXPECT_EQ(display_.WindowTitle(), "Tunara");
    EXPECT_EQ(display_.TimeText(), "");
    EXPECT_EQ(display_.TrackText(), "Track 00 of 04");
    EXPECT_GE(display_.ListViewRefreshes(), 1);
}

// A dropped playlist file runs New with its save prompt: Cancel keeps the
// old list, No replaces it, Yes saves first.
TEST_F(ControllerFiles, OpenFiles_PlaylistRunsSavePrompt) {
    std::string song = Touch("s.wav");
    std::ofstream(dir_ + "l.m3u") << song << "\n" << song << "\n";
    controller_.Start();
    controller_.OpenFiles({Touch("a.wav")});
    controller_.Play();

    ui_->answers = {Answer::Cancel, Answer::No, Answer::Yes};
    controller_.OpenFiles({dir_ + "l.m3u"});
    EXPECT_EQ(playlist_.Count(), 1);
    EXPECT_EQ(controller_.State(), Playing);

    controller_.OpenFiles({dir_ + "l.m3u"});
    EXPECT_EQ(playlist_.Count(), 2);
    EXPECT_EQ(display_.Title(), "s.wav");
    EXPECT_EQ(controller_.State(), Stopped);

    playlist_.Delete(1);  // current is 0; modified again
    ASSERT_TRUE(playlist_.IsModified());
    controller_.OpenFiles({dir_ + "l.m3u"});
    EXPECT_EQ(ui_->questions.size(), 3u);
    std::ifstream saved(dir_ + "l.m3u");
    std::string line;
    int lines = 0;
    while (std::getline(saved, line))
        if (line[0] != '#') ++lines;
    EXPECT_EQ(lines, 1);  // saved with one entry before loading it again
    EXPECT_EQ(playlist_.Count(), 1);
}

// The Web panel plays Web.mov from the program folder beside the current
// item and is ended by the second press.
TEST_F(ControllerFiles, WebToggle) {
    PlayerController web(display_, playlist_, nullptr, dir_.substr(0, dir_.size() - 1));
    web.Start();
    web.ToggleWeb();
    EXPECT_TRUE(web.WebOn());
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Open Web.mov", "Play Web.mov"}));
    web.OnTick();
    web.Command(kCmdWeb);
    EXPECT_FALSE(web.WebOn());
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Stop Web.mov", "Close Web.mov"}));
}

// A double-click plays that row from its start.
TEST_F(Controller, PlayRow) {
    Add("a");
    FakeMediaSource* b = Add("b");
    controller_.Start();
    b->positionMs = 300;
    controller_.PlayRow(playlist_, 1);
    EXPECT_EQ(controller_.Source(), b);
    EXPECT_EQ(controller_.State(), Playing);
}

}  // namespace
}  // namespace tunara
