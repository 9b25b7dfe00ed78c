// A CdDisc read from a disc image, its CD information from the cache and
// from a CDDB server on the loopback address.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "engine/testing/EngineTesting.h"
#include "metadata/Cddb.h"
#include "platform/profile/Profile.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "sources/CdTrackSource.h"
#include "support/CdImage.h"
#include "support/FakeCddbServer.h"

namespace tunara {
namespace {

using testing::FakeCddbServer;
using testing::StandardTracks;
using testing::TempDir;
using testing::WriteCdImage;

class CdDiscInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ClearProxyEnvironment();
        cue_ = WriteCdImage(dir_.Path(), "disc", StandardTracks());
        disc_ = std::make_unique<CdDisc>(tunara::testing::TestEngine(), cue_);
        disc_->SetNotifyWindow([this](int message) {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
        });
        ASSERT_EQ(disc_->ReadToc(), 0u);
        ASSERT_EQ(disc_->Count(), 3);  // the data track is not listed
    }

    cddb::LookupConfig Config(const std::string& server, std::chrono::milliseconds total) {
        cddb::LookupConfig c = testing::LoopbackLookupConfig(dir_.Path() / "cdplayer.ini", total);
        c.server = server;
        return c;
    }
    std::vector<int> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::string Entry() const {
        char id[16];
        std::snprintf(id, sizeof id, "%08x", disc_->DiscId());
        return std::string("{\"query\": {\"body\": \"200 rock ") + id +
               " x\\r\\n\"}, \"read\": {\"body\": \"210 rock " + id +
               "\\r\\nDTITLE=Band / "
               "Record\\r\\nTTITLE0=One\\r\\nTTITLE1=Two\\r\\nTTITLE2=Three\\r\\n"
               "TTITLE3=Data\\r\\n.\\r\\n\"}}";
    }

    TempDir dir_;
    std::string cue_;
    std::unique_ptr<CdDisc> disc_;
    std::mutex mutex_;
    std::vector<int> messages_;
};

}  // namespace

// The query carries the image's table of contents, the tracks get their
// titles by number, the window gets status, status, done, and the cache
// then answers for the disc.
TEST_F(CdDiscInfoTest, Lookup_FillsTracksAndCache) {
    FakeCddbServer server(dir_.Path(), Entry());
    disc_->Info().StartLookup(Config(server.Address(), std::chrono::milliseconds(5000)));
    disc_->Info().Wait();
    EXPECT_EQ(Messages(), (std::vector<int>{1045, 1045, 1046}));
    EXPECT_EQ(disc_->ItemAt(0)->GetTitle(), "One");
    EXPECT_EQ(disc_->ItemAt(2)->GetTitle(), "Three");
    EXPECT_EQ(disc_->ItemAt(1)->GetArtist(), "Band");
    EXPECT_EQ(disc_->ItemAt(1)->GetAlbum(), "Record");
    EXPECT_EQ(disc_->Info().StatusText(), "CDDB Match Found");

    // The last field is the disc's whole length, lead-in included.
    std::string offsets;
    for (uint32_t o : disc_->TrackOffsets()) offsets += std::to_string(o) + "+";
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_NE(server.Requests()[0].find("+4+" + offsets +
                                        std::to_string(disc_->LeadoutFrames() / 75) + "&"),
              std::string::npos);

    CdDisc again(tunara::testing::TestEngine(), cue_);
    ASSERT_EQ(again.ReadToc(), 0u);
    EXPECT_EQ(again.ItemAt(0)->GetTitle(), "Track 1");
    EXPECT_TRUE(again.Info().ReadCache(dir_.Path() / "cdplayer.ini"));
    EXPECT_EQ(again.ItemAt(1)->GetTitle(), "Two");
    EXPECT_EQ(again.ItemAt(2)->GetCategory(), "rock");
}

// The user-interface thread walks and shows the tracks while the lookup
// writes them (ThreadSanitizer checks the locking).
TEST_F(CdDiscInfoTest, UiWalksWhileLookupWrites) {
    FakeCddbServer server(dir_.Path(), Entry());
    disc_->Info().StartLookup(Config(server.Address(), std::chrono::milliseconds(5000)));
    size_t seen = 0;
    while (disc_->Info().Running()) {
        std::lock_guard lock(disc_->ItemLock());
        for (int i = 0; i < disc_->Count(); ++i) seen += disc_->ItemAt(i)->GetTitle().size();
    }
    disc_->Info().Wait();
    EXPECT_GT(seen, 0u);
    EXPECT_EQ(disc_->ItemAt(0)->GetTitle(), "One");
}

// The disc goes while its lookup waits on a silent server (product
// time-outs): clearing the tracks ends the lookup at once, nothing is
// posted after the first status and the next disc's tracks stay as read.
TEST_F(CdDiscInfoTest, Removal_AbandonsLookup) {
    FakeCddbServer server(dir_.Path(), "{\"query\": {\"behaviour\": \"stall\"}}");
    cddb::LookupConfig config = Config(server.Address(), std::chrono::milliseconds(30000));
    config.http.connectTimeout = std::chrono::milliseconds(10000);
    disc_->Info().StartLookup(config);
    ASSERT_TRUE(server.AwaitRequests(1));
    disc_->Clear();
    EXPECT_FALSE(disc_->Info().Running());
    EXPECT_EQ(Messages(), std::vector<int>{1045});
    ASSERT_EQ(disc_->ReadToc(), 0u);
    EXPECT_EQ(disc_->ItemAt(0)->GetTitle(), "Track 1");

    // The same at exit: destroying the disc ends a stalled lookup.
    disc_->Info().StartLookup(config);
    ASSERT_TRUE(server.AwaitRequests(2));
    disc_.reset();
}

}  // namespace tunara
