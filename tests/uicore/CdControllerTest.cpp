// The controller with CD drives: disc images stand for the drives, the
// polling is stepped by the test and its notices delivered by OnTick.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/audio/AudioDevice.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "playlist/FakeMediaSource.h"
#include "sources/CdDiscInfo.h"
#include "sources/testing/TestSources.h"
#include "support/CdImage.h"
#include "support/Eventually.h"
#include "support/FakeCddbServer.h"
#include "support/LibcdioLeaks.h"
#include "ui/core/DisplayState.h"
#include "ui/core/PlayerController.h"

namespace tunara {
namespace {

using testing::StandardTracks;
using testing::TempDir;
using testing::WriteCdImage;

class CountingDisplay : public DisplayState {
public:
    void ToggleCdWindow() override { ++cdWindowToggles; }
    int cdWindowToggles = 0;
};

class CdController : public ::testing::Test {
protected:
    CdController() {
        audio::SetDeviceFactory([] { return audio::CreateDevice("null:fast"); });
        settings_ =
            std::make_unique<SettingsStore>(dir_.Path() / "store", std::vector<std::string>{});
        // A disc without CD information would be looked up on the default
        // server; a test that wants a lookup names its own.
        settings_->SetNumber(settings::kAutoCDInfo, 0);
    }
    ~CdController() override {
        if (controller_.Running()) controller_.Shutdown();
        audio::SetDeviceFactory({});
    }
    std::string Image(const std::string& name) { return (dir_.Path() / (name + ".cue")).string(); }
    void Insert(const std::string& name) { WriteCdImage(dir_.Path(), name, StandardTracks()); }
    void Eject(const std::string& name) {
        std::filesystem::remove(Image(name));
        std::filesystem::remove(dir_.Path() / (name + ".bin"));
    }
    // One look at the drives and the delivery of what it found.
    void Poll() {
        controller_.PollCdDrives();
        controller_.OnTick();
    }

    TempDir dir_;
    ScopedRecordingInteraction ui_;
    CountingDisplay display_;
    Playlist playlist_{tunara::testing::TestSources()};
    std::unique_ptr<SettingsStore> settings_;
    PlayerController controller_{display_, playlist_, nullptr, "/nowhere", nullptr};
};

// Without a drive the CD button says so instead of opening a window, and a
// disc without a drive still exists as the current one.
TEST_F(CdController, NoDrive_CdButtonSaysSo) {
    controller_.SetCdDrives({}, 0);
    controller_.Start();
    EXPECT_TRUE(display_.CdEnabled());
    EXPECT_FALSE(controller_.HasCdDrive());
    ASSERT_NE(controller_.CurrentCd(), nullptr);
    EXPECT_TRUE(controller_.CurrentCd()->Drive().empty());
    EXPECT_TRUE(controller_.IsActive(&playlist_));
    controller_.Command(kCmdCd);
    EXPECT_EQ(display_.cdWindowToggles, 0);
    EXPECT_EQ(display_.Message(), "No CD drive or disc image was found");
    controller_.OnMediaArrived(~0u);  // no drive: nothing to read
    EXPECT_TRUE(controller_.IsActive(&playlist_));
}

// With a disc in the drive and an empty playlist, the disc is the active
// list at start and its first track plays on Play.
TEST_F(CdController, Start_WithDisc_MakesDiscActive) {
    Insert("a");
    controller_.SetCdDrives({Image("a")}, 0);
    controller_.Start();
    EXPECT_TRUE(display_.CdEnabled());
    controller_.Command(kCmdCd);
    EXPECT_EQ(display_.cdWindowToggles, 1);
    CdDisc* disc = controller_.CurrentCd();
    ASSERT_EQ(disc->Count(), 3);
    EXPECT_TRUE(controller_.IsActive(disc));
    ASSERT_EQ(controller_.Source(), disc->ItemAt(0));
    EXPECT_EQ(display_.WindowTitle(), "Tunara - Track 1");
    controller_.Play();
    EXPECT_EQ(controller_.State(), Playing);
    EXPECT_EQ(controller_.Source()->IsPlaying(), 1);
}

// A disc arriving with AutoPlayCD on becomes the active list and plays; its
// removal hands the player back to the playlist and empties the disc.
TEST_F(CdController, ArrivalAndRemoval_ReachController) {
    // Paced in real time, so the disc is still playing when the meter is read
    // and when it is taken out; as fast as possible, it could be over first.
    audio::SetDeviceFactory([] { return audio::CreateDevice("null"); });
    settings_->SetNumber(settings::kAutoPlayCD, 1);
    PlayerController controller(display_, playlist_, nullptr, "/nowhere", settings_.get());
    controller.SetCdDrives({Image("a")}, 0);
    controller.Start();
    CdDisc* disc = controller.CurrentCd();
    EXPECT_EQ(disc->Count(), 0);
    EXPECT_EQ(controller.Source(), nullptr);

    Insert("a");
    controller.PollCdDrives();
    controller.OnTick();
    ASSERT_EQ(disc->Count(), 3);
    EXPECT_TRUE(controller.IsActive(disc));
    EXPECT_EQ(controller.State(), Playing);
    EXPECT_EQ(controller.Source(), disc->ItemAt(0));
    // The disc plays through the output engine: meter and spectrum move (the
    // spectrum may be a block behind the meter).
    auto peakBand = [this] {
        return *std::max_element(display_.Bands().begin(), display_.Bands().end());
    };
    testing::Eventually(
        [&] {
            controller.OnTick();
            return display_.LeftLevel() > 0.0f && peakBand() > 0.0f;
        },
        std::chrono::seconds(2), std::chrono::milliseconds(1));
    EXPECT_GT(display_.LeftLevel(), 0.0f);
    EXPECT_GT(display_.RightLevel(), 0.0f);
    EXPECT_GT(peakBand(), 0.0f);

    // Taken out while it plays: back to the playlist, and the user is told.
    Eject("a");
    controller.PollCdDrives();
    controller.OnTick();
    EXPECT_TRUE(controller.IsActive(&playlist_));
    EXPECT_EQ(disc->Count(), 0);
    EXPECT_EQ(controller.Source(), nullptr);
    ASSERT_EQ(ui_->errors.size(), 1u);
    EXPECT_NE(ui_->errors[0].Formatted().find("no disc"), std::string::npos);
    controller.Shutdown();
}

// A disc arriving with AutoPlayCD while a file plays takes over and plays
// (it is not stopped by a Play that toggles).
TEST_F(CdController, AutoPlay_WhileFilePlays_DiscPlays) {
    playlist_.Append(
        testing::MakeFake("file", 60000, std::make_shared<std::vector<std::string>>()));
    settings_->SetNumber(settings::kAutoPlayCD, 1);
    PlayerController controller(display_, playlist_, nullptr, "/nowhere", settings_.get());
    controller.SetCdDrives({Image("a")}, 0);
    controller.Start();
    controller.Play();
    ASSERT_EQ(controller.State(), Playing);
    Insert("a");
    controller.PollCdDrives();
    controller.OnTick();
    EXPECT_TRUE(controller.IsActive(controller.CurrentCd()));
    EXPECT_EQ(controller.State(), Playing);
    ASSERT_NE(controller.Source(), nullptr);
    EXPECT_EQ(controller.Source()->IsPlaying(), 1);
    controller.Shutdown();
}

// Without AutoPlayCD a new disc is read but the playlist stays active.
TEST_F(CdController, Arrival_WithoutAutoPlay_ReadsOnly) {
    playlist_.Append(testing::MakeFake("file", 1000, std::make_shared<std::vector<std::string>>()));
    controller_.SetCdDrives({Image("a")}, 0);
    controller_.Start();
    Insert("a");
    Poll();
    CdDisc* disc = controller_.CurrentCd();
    EXPECT_EQ(disc->Count(), 3);
    EXPECT_TRUE(controller_.IsActive(&playlist_));

    controller_.MakeActive(disc);
    controller_.RefreshAll();
    controller_.Play();
    ASSERT_EQ(controller_.State(), Playing);
    // Another disc in the same drive (the image rewritten) is a removal and
    // an arrival: the playing track is let go, the playlist takes over and
    // the new disc is read.
    WriteCdImage(dir_.Path(), "a", {{200}, {100}});
    Poll();
    EXPECT_EQ(disc->Count(), 2);
    EXPECT_TRUE(controller_.IsActive(&playlist_));
    EXPECT_EQ(controller_.Source(), playlist_.ItemAt(0));
}

// A disc arriving in a drive other than the current one is ignored.
TEST_F(CdController, ArrivalInOtherDrive_Ignored) {
    controller_.SetCdDrives({Image("a"), Image("b")}, 0);
    controller_.Start();
    Insert("b");
    Poll();
    EXPECT_EQ(controller_.CurrentCd(), controller_.CdDrives()[0].get());
    EXPECT_EQ(controller_.CdDrives()[0]->Count(), 0);
    EXPECT_EQ(controller_.CdDrives()[1]->Count(), 0);
}

// "PreferredCDdrive" picks the current drive, case ignored.
TEST_F(CdController, PreferredDrive_PicksCurrent) {
    Insert("b");
    std::string upper = Image("b");
    upper.replace(upper.size() - 5, 1, "B");  // .../B.cue names the same drive, case ignored
    settings_->SetText(settings::kPreferredCDdrive, upper);
    PlayerController controller(display_, playlist_, nullptr, "/nowhere", settings_.get());
    controller.SetCdDrives({Image("a"), Image("b")}, 0);
    controller.Start();
    EXPECT_EQ(controller.CurrentCd(), controller.CdDrives()[1].get());
    EXPECT_EQ(settings_->Text(settings::kPreferredCDdrive), Image("b"));
    EXPECT_EQ(controller.CurrentCd()->Count(), 3);
    controller.Shutdown();
}

// A new preferred drive from the options: it becomes current and reads its
// disc; the old disc was playing, so the new one takes over as the active
// list, stopped, and is looked up.
TEST_F(CdController, PreferredDriveChanged_NewDriveTakesOver) {
    Insert("a");
    Insert("b");
    settings_->SetText(settings::kPreferredCDdrive, Image("a"));
    PlayerController controller(display_, playlist_, nullptr, "/nowhere", settings_.get());
    controller.SetCdDrives({Image("a"), Image("b")}, 0);
    controller.Start();
    CdDisc* a = controller.CdDrives()[0].get();
    CdDisc* b = controller.CdDrives()[1].get();
    ASSERT_EQ(controller.CurrentCd(), a);
    EXPECT_EQ(b->Count(), 0);
    controller.Play();
    ASSERT_EQ(controller.State(), Playing);

    testing::ClearProxyEnvironment();
    testing::FakeCddbServer server(dir_.Path(), "{\"query\": {\"body\": \"202 none\\r\\n\"}}");
    settings_->SetNumber(settings::kAutoCDInfo, 1);
    settings_->SetText(settings::kCDDBAddr, server.Address());
    settings_->SetText(settings::kPreferredCDdrive, Image("b"));
    controller.ApplyPreferredDrive();
    EXPECT_EQ(controller.CurrentCd(), b);
    ASSERT_EQ(b->Count(), 3);
    EXPECT_TRUE(controller.IsActive(b));
    EXPECT_EQ(controller.Source(), b->ItemAt(0));
    EXPECT_EQ(controller.State(), Stopped);
    b->Info().Wait();
    EXPECT_EQ(server.Requests().size(), 1u);
    controller.Shutdown();
}

// A drive that keeps failing is reported once, not at every poll.
TEST_F(CdController, FailingDrive_ErrorShownOnce) {
    controller_.SetCdDrives({Image("a")}, 0);
    controller_.Start();
    for (int i = 0; i < 3; ++i) {
        // A new broken image each time: every poll sees a changed, bad file.
        std::ofstream(Image("a")) << "FILE \"gone" << i << ".bin\" BINARY\n  TRACK 01 AUDIO\n"
                                  << "    INDEX 01 00:00:00\n";
        Poll();
    }
    EXPECT_EQ(ui_->errors.size(), 1u);
    // Once it works again, a later failure is told again.
    Insert("a");
    Poll();
    EXPECT_EQ(controller_.CurrentCd()->Count(), 3);
    std::ofstream(Image("a")) << "FILE \"gone.bin\" BINARY\n";
    Poll();
    EXPECT_EQ(ui_->errors.size(), 2u);
}

// The polling thread starts and stops with the controller, and notices it
// posted after Shutdown are dropped rather than run on a stopped player.
TEST_F(CdController, PollingThread_StopsWithController) {
    controller_.SetCdDrives({Image("a")}, 1);
    controller_.Start();
    Insert("a");
    controller_.Shutdown();
    UiQueue().Deliver();
    EXPECT_EQ(controller_.CurrentCd()->Count(), 0);
}

}  // namespace
}  // namespace tunara
