// The controller and the CD information: a disc image in the drive, a CDDB
// server on the loopback address, notices delivered by OnTick.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "engine/testing/EngineTesting.h"
#include "platform/audio/AudioDevice.h"
#include "platform/profile/Profile.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "sources/CdDiscInfo.h"
#include "sources/testing/TestSources.h"
#include "support/CdImage.h"
#include "support/FakeCddbServer.h"
#include "ui/core/DisplayState.h"
#include "ui/core/PlayerController.h"

namespace tunara {
namespace {

using testing::FakeCddbServer;
using testing::StandardTracks;
using testing::TempDir;
using testing::WriteCdImage;

class MessageLog : public DisplayState {
public:
    void ShowMessage(const std::string& text, int ms) override {
        DisplayState::ShowMessage(text, ms);
        messages.push_back(text);
    }
    void Hold(int ms) override {
        DisplayState::Hold(ms);
        ++holds;
    }
    std::vector<std::string> messages;
    int holds = 0;
};

class CddbController : public ::testing::Test {
protected:
    CddbController() {
        audio::SetDeviceFactory([] { return audio::CreateDevice("null:fast"); });
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old) oldXdg_ = old;
        ::setenv("XDG_CONFIG_HOME", (dir_.Path() / "config").c_str(), 1);
        testing::ClearProxyEnvironment();
        cue_ = WriteCdImage(dir_.Path(), "disc", StandardTracks());
        settings_ =
            std::make_unique<SettingsStore>(dir_.Path() / "store", std::vector<std::string>{});
        controller_ = std::make_unique<PlayerController>(display_, playlist_, nullptr, "/nowhere",
                                                         settings_.get());
        controller_->SetCdDrives({cue_}, 0);
    }
    ~CddbController() override {
        if (controller_ && controller_->Running()) controller_->Shutdown();
        controller_.reset();
        audio::SetDeviceFactory({});
        if (oldXdg_.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    }
    // Ticks until the lookup has ended and its notices are delivered.
    void TickUntilLookupEnds() {
        CdDisc* disc = controller_->CurrentCd();
        ASSERT_TRUE(testing::Eventually(
            [&] {
                controller_->OnTick();
                return !disc->Info().Running();
            },
            std::chrono::seconds(60), std::chrono::milliseconds(2)));
        disc->Info().Wait();
        controller_->OnTick();
    }
    std::string Entry() {
        CdDisc probe(tunara::testing::TestEngine(), cue_);
        probe.ReadToc();
        char id[16];
        std::snprintf(id, sizeof id, "%08x", probe.DiscId());
        return std::string("{\"query\": {\"body\": \"200 rock ") + id +
               " x\\r\\n\"}, \"read\": {\"body\": \"210 rock " + id +
               "\\r\\nDTITLE=Band / Record\\r\\nTTITLE0=One\\r\\nTTITLE1=Two\\r\\n.\\r\\n\"}}";
    }

    TempDir dir_;
    std::string oldXdg_;
    std::string cue_;
    ScopedRecordingInteraction ui_;
    MessageLog display_;
    Playlist playlist_{tunara::testing::TestSources()};
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<PlayerController> controller_;
};

}  // namespace

// A disc without CD information is looked up at start: the status texts
// show as timed messages with the level display held, and the done notice
// redraws the lists and the playing title.
TEST_F(CddbController, Start_LooksUpAndShowsStatus) {
    FakeCddbServer server(dir_.Path(), Entry());
    settings_->SetText(settings::kCDDBAddr, server.Address());
    const int refreshesBefore = display_.ListViewRefreshes();
    controller_->Start();
    TickUntilLookupEnds();
    ASSERT_FALSE(display_.messages.empty());
    EXPECT_EQ(display_.messages.back(), "CDDB Match Found");
    EXPECT_GT(display_.holds, 0);
    EXPECT_GT(display_.ListViewRefreshes(), refreshesBefore);
    CdDisc* disc = controller_->CurrentCd();
    EXPECT_EQ(disc->ItemAt(0)->GetTitle(), "One");
    EXPECT_EQ(display_.Title(), "One");  // the disc is the active list
    EXPECT_TRUE(ui_->errors.empty());

    // Next time the cache answers and the server hears nothing.
    const size_t requests = server.Requests().size();
    controller_->Shutdown();
    controller_ = std::make_unique<PlayerController>(display_, playlist_, nullptr, "/nowhere",
                                                     settings_.get());
    controller_->SetCdDrives({cue_}, 0);
    controller_->Start();
    EXPECT_FALSE(controller_->CurrentCd()->Info().Running());
    EXPECT_EQ(controller_->CurrentCd()->ItemAt(1)->GetTitle(), "Two");
    EXPECT_EQ(server.Requests().size(), requests);
}

// A failed lookup shows its error text; the tracks keep their names.
TEST_F(CddbController, LookupError_ShowsErrorText) {
    settings_->SetText(settings::kCDDBAddr, "127.0.0.1:" + std::to_string(testing::RefusingPort()));
    controller_->Start();
    TickUntilLookupEnds();
    ASSERT_FALSE(display_.messages.empty());
    EXPECT_EQ(display_.messages.back(), http::StatusText(http::Status::CannotConnect));
    EXPECT_EQ(controller_->CurrentCd()->ItemAt(0)->GetTitle(), "Track 1");
    EXPECT_TRUE(ui_->errors.empty());  // never an error box
}

// With "AutoCDInfo" off nothing is looked up.
TEST_F(CddbController, AutoCdInfoOff_NoLookup) {
    FakeCddbServer server(dir_.Path(), Entry());
    settings_->SetText(settings::kCDDBAddr, server.Address());
    settings_->SetNumber(settings::kAutoCDInfo, 0);
    controller_->Start();
    EXPECT_FALSE(controller_->CurrentCd()->Info().Running());
    controller_->OnTick();
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(display_.messages.empty());
}

// The program ends while a lookup waits on a silent server: Shutdown ends
// it at once, and a notice still queued finds no controller.
TEST_F(CddbController, Shutdown_AbandonsLookup) {
    FakeCddbServer server(dir_.Path(), "{\"query\": {\"behaviour\": \"stall\"}}");
    settings_->SetText(settings::kCDDBAddr, server.Address());
    controller_->Start();
    ASSERT_TRUE(server.AwaitRequests(1));
    controller_->Shutdown();
    EXPECT_FALSE(controller_->CurrentCd()->Info().Running());
    const auto shown = display_.messages;
    const int refreshes = display_.ListViewRefreshes();
    controller_.reset();
    UiQueue().Deliver();  // a status notice still queued reaches nothing
    EXPECT_EQ(display_.messages, shown);
    EXPECT_EQ(display_.ListViewRefreshes(), refreshes);
}

}  // namespace tunara
