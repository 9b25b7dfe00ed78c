// An item followed by the next one: the run reads on into the follower, the
// device is neither reopened nor primed again, and each item's end and
// position come out as if it had played alone.
#include <gtest/gtest.h>

#include "FakeSource.h"
#include "engine/testing/EngineTesting.h"

namespace tunara::test {
namespace {

using namespace std::chrono_literals;

class FollowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        audio::SetDeviceFactory([this] {
            ++opens;
            auto d = std::make_unique<TapDevice>(audio::NullDevice::Pace::Step);
            device = d.get();
            return d;
        });
    }
    void TearDown() override { audio::SetDeviceFactory({}); }

    // Every frame written so far, in order, and whether any write after the
    // first one found the device paused (a second priming).
    std::vector<uint32_t> WrittenFrames(bool* pausedAgain = nullptr) {
        std::vector<uint32_t> all;
        auto w = device->Writes();
        bool again = false;
        for (size_t i = 0; i < w.size(); ++i) {
            all.insert(all.end(), w[i].frames.begin(), w[i].frames.end());
            if (i >= OutputEngine::kPrimingBuffers && w[i].paused) again = true;
        }
        if (pausedAgain) *pausedAgain = again;
        return all;
    }
    // Waits until `frames` are queued and the device plays (short runs
    // restart it only when their data ends).
    bool WrittenAtLeast(size_t frames) {
        return device->WaitUntil(
            [&] { return WrittenFrames().size() >= frames && !device->IsPaused(); }, 5s);
    }

    int opens = 0;
    TapDevice* device = nullptr;
};

std::vector<uint32_t> Joined(uint32_t first, uint32_t second) {
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < first; ++i) v.push_back(i);
    for (uint32_t i = 0; i < second; ++i) v.push_back(i);
    return v;
}

// The join falls inside a buffer's worth: the leader's last short buffer is
// followed at once by the follower's first, with no pause or reopen; the
// leader ends when its last frame is heard and the follower, handed over,
// counts from its own start.
TEST_F(FollowerTest, RunGoesOnIntoFollower) {
    FakeSource a(2500), b(1800);
    ASSERT_EQ(a.Open(), 1);
    ASSERT_TRUE(tunara::testing::TestEngine().Enqueue(b));
    EXPECT_EQ(tunara::testing::TestEngine().Following(), &b);
    a.Play();
    ASSERT_TRUE(WrittenAtLeast(4300));
    bool pausedAgain = true;
    EXPECT_EQ(WrittenFrames(&pausedAgain), Joined(2500, 1800));
    EXPECT_FALSE(pausedAgain);

    device->Consume(2499);
    EXPECT_EQ(a.IsPlaying(), 1);
    EXPECT_FALSE(tunara::testing::TestEngine().HandOver(b));  // its last frame is still to come
    device->Consume(2);
    EXPECT_EQ(a.IsPlaying(), 0);
    EXPECT_EQ(a.GetPosition(), 2500);  // held at its end while the follower plays

    ASSERT_TRUE(tunara::testing::TestEngine().HandOver(b));
    EXPECT_EQ(tunara::testing::TestEngine().Following(), nullptr);
    EXPECT_EQ(b.IsPlaying(), 1);
    EXPECT_EQ(b.GetPosition(), 1);
    device->Consume(499);
    EXPECT_EQ(b.GetPosition(), 500);
    // The follower now holds the run: Stop and Play act on it.
    b.Stop();
    EXPECT_EQ(b.GetPosition(), 500);
    EXPECT_EQ(b.ReadPosition(), 500u);
    device->ClearWrites();
    b.Play();
    ASSERT_TRUE(WrittenAtLeast(1300));
    device->PlayQueued();
    ASSERT_TRUE(Eventually([&] { return !b.IsPlaying(); }));
    EXPECT_EQ(b.GetPosition(), 1800);
    EXPECT_EQ(opens, 1);
    b.Close();
    a.Close();
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
}

// Three queued streams play as one run through one device open, each handed
// over at its own end; a dropped queue keeps the stream the run is in.
TEST_F(FollowerTest, QueueOfSeveralPlaysThrough) {
    OutputEngine& engine = tunara::testing::TestEngine();
    FakeSource a(700), b(300), c(1500);
    ASSERT_EQ(a.Open(), 1);
    ASSERT_TRUE(engine.Enqueue(b));
    ASSERT_TRUE(engine.Enqueue(c));
    EXPECT_FALSE(engine.Enqueue(b));  // already queued
    a.Play();
    ASSERT_TRUE(WrittenAtLeast(2500));
    std::vector<uint32_t> expected = Joined(700, 300);
    for (uint32_t i = 0; i < 1500; ++i) expected.push_back(i);
    EXPECT_EQ(WrittenFrames(), expected);

    device->Consume(1000);
    EXPECT_EQ(a.IsPlaying(), 0);
    EXPECT_FALSE(engine.HandOver(c));  // only the first queued takes over
    ASSERT_TRUE(engine.HandOver(b));
    EXPECT_EQ(b.IsPlaying(), 0);       // its end has been heard too
    EXPECT_FALSE(engine.DropQueue());  // the run is in c: it stays
    ASSERT_TRUE(engine.HandOver(c));
    EXPECT_EQ(c.GetPosition(), 0);
    device->PlayQueued();
    ASSERT_TRUE(Eventually([&] { return !c.IsPlaying(); }));
    EXPECT_EQ(c.GetPosition(), 1500);
    EXPECT_EQ(opens, 1);
    c.Close();
}

// Items that cannot follow are refused and nothing is opened for them; the run
// then ends at the leader's end as it always did.
TEST_F(FollowerTest, Refusals) {
    FakeSource a(1500), other(1000, 2000), failing(1000);
    failing.openResult = 0;
    EXPECT_FALSE(tunara::testing::TestEngine().Enqueue(a));  // nothing open to follow
    ASSERT_EQ(a.Open(), 1);
    EXPECT_FALSE(tunara::testing::TestEngine().Enqueue(a));
    EXPECT_FALSE(tunara::testing::TestEngine().Enqueue(other));  // another rate
    EXPECT_FALSE(tunara::testing::TestEngine().Enqueue(failing));
    EXPECT_EQ(tunara::testing::TestEngine().Following(), nullptr);
    a.Play();
    ASSERT_TRUE(WrittenAtLeast(1500));
    device->PlayQueued();
    ASSERT_TRUE(Eventually([&] { return !a.IsPlaying(); }));
    EXPECT_EQ(WrittenFrames().size(), 1500u);
    EXPECT_EQ(a.GetPosition(), 1500);
}

// Stopping or seeking in the leader's last buffers, while the follower is
// already being read, puts the follower back at its start and keeps it; playing
// on joins the two again. Fast forward never goes on into the follower.
TEST_F(FollowerTest, StopInTheTail_RewindsFollower) {
    FakeSource a(3000), b(2000);
    ASSERT_EQ(a.Open(), 1);
    ASSERT_TRUE(tunara::testing::TestEngine().Enqueue(b));
    a.Play();
    ASSERT_TRUE(WrittenAtLeast(5000));
    device->Consume(2000);
    a.Stop();
    EXPECT_EQ(a.GetPosition(), 2000);
    EXPECT_EQ(a.ReadPosition(), 2000u);
    EXPECT_EQ(b.ReadPosition(), 0u);
    EXPECT_EQ(tunara::testing::TestEngine().Following(), &b);

    device->ClearWrites();
    a.Play();
    ASSERT_TRUE(WrittenAtLeast(3000));
    auto frames = WrittenFrames();
    ASSERT_EQ(frames.size(), 3000u);
    EXPECT_EQ(frames[999], 2999u);
    EXPECT_EQ(frames[1000], 0u);

    a.Seek(2900);
    a.Stop();
    EXPECT_EQ(b.ReadPosition(), 0u);
    device->ClearWrites();
    a.FastForward();
    ASSERT_TRUE(WrittenAtLeast(50));
    device->PlayQueued();
    ASSERT_TRUE(Eventually([&] { return !a.IsPlaying(); }));
    EXPECT_EQ(WrittenFrames().size(), 50u);
    EXPECT_EQ(b.ReadPosition(), 0u);
    EXPECT_FALSE(tunara::testing::TestEngine().HandOver(b));
}

// A follower destroyed while the run reads it (its list item deleted) is
// never read again: the run ends with what it had queued, and the leader's
// end still comes at its own last frame.
TEST_F(FollowerTest, FollowerDestroyedMidRead) {
    FakeSource a(1200);
    auto b = std::make_unique<FakeSource>(100000);
    ASSERT_EQ(a.Open(), 1);
    ASSERT_TRUE(tunara::testing::TestEngine().Enqueue(*b));
    a.Play();
    ASSERT_TRUE(WrittenAtLeast(5000));
    b.reset();
    EXPECT_EQ(tunara::testing::TestEngine().Following(), nullptr);
    device->Consume(1200);
    EXPECT_EQ(a.IsPlaying(), 0);
    EXPECT_EQ(a.GetPosition(), 1200);
    device->PlayQueued();
    a.Stop();
    EXPECT_EQ(a.GetPosition(), 1200);
    a.Close();
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
}

}  // namespace
}  // namespace tunara::test
