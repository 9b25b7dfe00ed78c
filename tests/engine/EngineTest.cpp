#include <gtest/gtest.h>

#include <random>

#include "FakeSource.h"
#include "engine/SpectrumAnalyser.h"
#include "engine/testing/EngineTesting.h"
#include "platform/audio/FileDevice.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"

namespace tunara::test {
namespace {

using namespace std::chrono_literals;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { UseDevice(audio::NullDevice::Pace::Step); }
    void TearDown() override { audio::SetDeviceFactory({}); }

    void UseDevice(audio::NullDevice::Pace pace) {
        audio::SetDeviceFactory([this, pace] {
            auto d = std::make_unique<TapDevice>(pace);
            device = d.get();
            return d;
        });
    }
    // Waits until the feeder has queued `buffers` and, if asked, restarted the device.
    bool Queued(int buffers, bool running = true) {
        return device->WaitUntil([&] { return device->QueuedBuffers() >= buffers; }, 5s) &&
               (!running || Eventually([&] { return !device->IsPaused(); }));
    }
    bool Finished(FakeSource& s) {
        return Eventually([&] { return !s.IsPlaying(); });
    }

    TapDevice* device = nullptr;  // owned by the engine while open
};

std::vector<uint32_t> Range(uint32_t first, uint32_t count, int step = 1) {
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < count; ++i) v.push_back(first + i * step);
    return v;
}

TEST(EngineClosed, GetPositionBeforeOpen_IsZero) {
    FakeSource s(5000);
    EXPECT_EQ(s.GetPosition(), 0);
    EXPECT_EQ(s.IsPlaying(), 0);
    s.Stop();  // no device: changes nothing
    EXPECT_EQ(s.GetState(), Stopped);
}

// A run shorter than the priming count restarts the device itself and ends Stopped.
TEST_F(EngineTest, ShortItem_PlaysToEndAndStops) {
    FakeSource s(3000);
    ASSERT_EQ(s.Open(), 1);
    s.Play();
    ASSERT_TRUE(Queued(3));
    EXPECT_EQ(device->Consume(5000), 3000u);
    ASSERT_TRUE(Finished(s));
    EXPECT_EQ(s.GetPosition(), 3000);  // 1000 Hz: one frame per ms
    auto w = device->Writes();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[2].frames, Range(2048, 952));
    device->WaitNoticesDelivered(5s);
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
}

// The device stays paused until the eighth buffer is queued, then fills the ring.
TEST_F(EngineTest, Play_PrimesEightBuffersWhilePaused) {
    FakeSource s(100000);
    ASSERT_EQ(s.Open(), 1);
    s.Play();
    ASSERT_TRUE(Queued(OutputEngine::kBufferCount));
    auto w = device->Writes();
    ASSERT_EQ(w.size(), 32u);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(w[i].paused) << i;
    for (int i = 8; i < 32; ++i) EXPECT_FALSE(w[i].paused) << i;
    EXPECT_EQ(testing::EngineFreeSlotCount(), 0);
    // Each finished buffer frees a slot that the feeder refills.
    device->Consume(1024 * 3);
    ASSERT_TRUE(device->WaitUntil(
        [&] { return device->QueuedBuffers() == 32 && device->Writes().size() == 35; }, 5s));
    s.Stop();
    EXPECT_EQ(s.GetPosition(), 3 * 1024);
}

// FastForward keeps every other frame: 1024 read give 512, an odd 7 give 3.
TEST_F(EngineTest, FastForward_DecimatesByTwo) {
    FakeSource s(1024 + 7);
    ASSERT_EQ(s.Open(), 1);
    s.FastForward();
    ASSERT_TRUE(Queued(2));
    auto w = device->Writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].frames, Range(0, 512, 2));
    EXPECT_EQ(w[1].frames, (std::vector<uint32_t>{1024, 1026, 1028}));
    // Each frame heard stands for two of the source.
    device->Consume(100);
    EXPECT_EQ(s.GetPosition(), 200);
    device->PlayQueued();
    ASSERT_TRUE(Finished(s));
    EXPECT_EQ(s.GetPosition(), 2 * 515);
}

// Rewind plays each block before the read position backwards: 1022, 1020, ..., 0.
TEST_F(EngineTest, Rewind_ReversesDecimatedBlocks) {
    FakeSource s(4096);
    ASSERT_EQ(s.Open(), 1);
    s.Seek(2048);  // 1000 Hz: frame 2048
    EXPECT_EQ(s.GetPosition(), 2048);
    s.Rewind();
    ASSERT_TRUE(Queued(2));
    auto w = device->Writes();
    ASSERT_EQ(w.size(), 2u);
    std::vector<uint32_t> expect;
    for (int f = 1022; f >= 0; f -= 2) expect.push_back(1024 + f);
    EXPECT_EQ(w[0].frames, expect);
    for (auto& f : expect) f -= 1024;
    EXPECT_EQ(w[1].frames, expect);
    device->Consume(256);
    EXPECT_EQ(s.GetPosition(), 2048 - 512);
    device->PlayQueued();
    ASSERT_TRUE(Finished(s));
    EXPECT_EQ(s.GetPosition(), 0);
}

// Stop keeps the position heard; a second Stop changes nothing; Play resumes there.
TEST_F(EngineTest, StopThenPlay_ResumesWhereStopped) {
    FakeSource s(100000);
    ASSERT_EQ(s.Open(), 1);
    s.Play();
    ASSERT_TRUE(Queued(32));
    device->Consume(1500);
    s.Stop();
    EXPECT_EQ(s.IsPlaying(), 0);
    EXPECT_EQ(s.GetPosition(), 1500);
    s.Stop();
    EXPECT_EQ(s.GetPosition(), 1500);
    device->ClearWrites();
    s.Play();
    ASSERT_TRUE(Queued(1, false));
    EXPECT_EQ(device->Writes()[0].frames.front(), 1500u);
    s.Stop();
}

// Seek while stopped moves without starting; while playing it plays on from there.
TEST_F(EngineTest, Seek_KeepsTheStateItFound) {
    FakeSource s(100000);
    ASSERT_EQ(s.Open(), 1);
    s.Seek(5000);
    EXPECT_EQ(s.IsPlaying(), 0);
    EXPECT_EQ(s.GetPosition(), 5000);
    EXPECT_EQ(s.ReadPosition(), 5000u);
    s.Play();
    ASSERT_TRUE(Queued(32));
    device->ClearWrites();
    s.Seek(20000);
    EXPECT_EQ(s.GetState(), Playing);
    ASSERT_TRUE(Queued(32));
    EXPECT_EQ(device->Writes()[0].frames.front(), 20000u);
    device->Consume(10);
    EXPECT_EQ(s.GetPosition(), 20010);
    s.Stop();
}

// A source at its end ends the run at once; position and slots are intact.
TEST_F(EngineTest, PlayAtEnd_EndsRun) {
    FakeSource s(2000);
    ASSERT_EQ(s.Open(), 1);
    s.Seek(2000);
    s.Play();
    ASSERT_TRUE(Finished(s));
    EXPECT_TRUE(device->Writes().empty());
    EXPECT_EQ(s.GetPosition(), 2000);
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
}

// A stream or a device that does not open fails Open without a message; the
// transport calls then do nothing harmful.
TEST_F(EngineTest, OpenFailures_ReturnZeroQuietly) {
    ScopedRecordingInteraction ui;
    FakeSource s(100);
    s.openResult = 0;
    EXPECT_EQ(s.Open(), 0);
    s.Close();
    EXPECT_EQ(s.GetPosition(), 0);

    audio::SetDeviceFactory(
        [] { return std::make_unique<audio::FileDevice>("/nonexistent-dir/x.wav"); });
    FakeSource t(100);
    EXPECT_EQ(t.Open(), 0);
    t.Play();
    EXPECT_TRUE(Finished(t));
    t.Seek(50);
    EXPECT_EQ(t.GetPosition(), 0);
    t.Close();
    EXPECT_FALSE(s.TakeError());
    EXPECT_FALSE(t.TakeError());
    EXPECT_TRUE(ui->errors.empty());
}

// Running out of memory for the ring is the item's error to tell; a later
// Open works.
TEST_F(EngineTest, AllocationFailure_ReportsAndFails) {
    ScopedRecordingInteraction ui;
    FakeSource s(100);
    testing::FailEngineAllocation(9);
    EXPECT_EQ(s.Open(), 0);
    const std::optional<UserMessage> error = s.TakeError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->stringId, strings::kFailedToAllocateMemory);
    EXPECT_EQ(error->Formatted(), "Failed to allocate memory.");
    EXPECT_TRUE(ui->errors.empty());
    s.Close();
    EXPECT_EQ(s.Open(), 1);
    EXPECT_FALSE(s.TakeError());
}

// Closing or destroying a source mid-run ends the run first.
TEST_F(EngineTest, CloseWhilePlaying_EndsRun) {
    {
        FakeSource s(100000);
        ASSERT_EQ(s.Open(), 1);
        s.Play();
        ASSERT_TRUE(Queued(32));
        s.Close();
        EXPECT_EQ(s.IsPlaying(), 0);
    }
    {
        FakeSource s(100000);
        ASSERT_EQ(s.Open(), 1);
        s.Rewind();
    }
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
}

// Opening a second source takes the device from the first.
TEST_F(EngineTest, SecondOpen_TakesOverTheDevice) {
    FakeSource a(100000), b(3000);
    ASSERT_EQ(a.Open(), 1);
    a.Play();
    ASSERT_TRUE(Queued(32));
    ASSERT_EQ(b.Open(), 1);
    EXPECT_EQ(a.IsPlaying(), 0);
    EXPECT_EQ(a.GetPosition(), 0);
    b.Play();
    ASSERT_TRUE(Queued(3));
    device->PlayQueued();
    ASSERT_TRUE(Finished(b));
    EXPECT_EQ(b.GetPosition(), 3000);
    // Opening again mid-run ends the run before the ring is rebuilt.
    a.Seek(0);
    ASSERT_EQ(a.Open(), 1);
    a.Play();
    ASSERT_TRUE(Queued(32));
    ASSERT_EQ(a.Open(), 1);
    EXPECT_EQ(a.IsPlaying(), 0);
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
}

// Hundreds of random transport calls against a device that plays at random
// moments: no deadlock, no lost or extra slot, the position stays in range.
TEST_F(EngineTest, RandomTransport_Stress) {
    std::mt19937 rng(12345);
    const uint32_t length = 60000;
    FakeSource s(length);
    ASSERT_EQ(s.Open(), 1);
    for (int i = 0; i < 400; ++i) {
        switch (rng() % 7) {
            case 0:
                s.Play();
                break;
            case 1:
                s.Stop();
                break;
            case 2:
                s.FastForward();
                break;
            case 3:
                s.Rewind();
                break;
            case 4:
                s.Seek(static_cast<int32_t>(rng() % (length + 2000)));
                break;
            default:
                device->Consume(rng() % 5000);
                break;
        }
        int32_t pos = s.GetPosition();
        ASSERT_GE(pos, 0) << i;
        ASSERT_LE(pos, static_cast<int32_t>(length)) << i;
        int free = testing::EngineFreeSlotCount();
        ASSERT_GE(free, 0);
        ASSERT_LE(free, OutputEngine::kBufferCount);
    }
    s.Stop();
    ASSERT_TRUE(device->WaitNoticesDelivered(5s));
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
    EXPECT_EQ(device->QueuedBuffers(), 0);
    s.Close();
}

// The same against a device that hands buffers back as fast as they come.
TEST_F(EngineTest, RandomTransportFastDevice_Stress) {
    UseDevice(audio::NullDevice::Pace::Fast);
    std::mt19937 rng(777);
    FakeSource s(200000, 44100);
    ASSERT_EQ(s.Open(), 1);
    for (int i = 0; i < 300; ++i) {
        switch (rng() % 5) {
            case 0:
                s.Play();
                break;
            case 1:
                s.Stop();
                break;
            case 2:
                s.FastForward();
                break;
            case 3:
                s.Rewind();
                break;
            default:
                s.Seek(static_cast<int32_t>(rng() % 5000));
                break;
        }
        float l, r, bands[16];
        s.GetLevels(l, r);
        s.GetSpectrum(bands);
    }
    s.Stop();
    ASSERT_TRUE(device->WaitNoticesDelivered(5s));
    EXPECT_EQ(testing::EngineFreeSlotCount(), OutputEngine::kBufferCount);
}

// The getters read the analyser; zeros while stopped.
TEST_F(EngineTest, Levels_FollowPlayedBuffers) {
    FakeSource s(100000);
    ASSERT_EQ(s.Open(), 1);
    s.SetBandCount(16);
    s.Play();
    ASSERT_TRUE(Queued(32));
    device->Consume(1024 * 4);
    device->WaitNoticesDelivered(5s);
    float l = 0, r = 0;
    s.GetLevels(l, r);
    // Frames 0..4095: left ramps up to 4095, right stays 0.
    EXPECT_NEAR(l, 4095.0f / 32768.0f, 1e-6f);
    EXPECT_EQ(r, 0.0f);
    s.Stop();
    s.GetLevels(l, r);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(r, 0.0f);
}

}  // namespace
}  // namespace tunara::test

namespace tunara::test {
namespace {

// The whole path through ALSA, on its "null" PCM (no sound card needed).
TEST(EngineAlsa, NullPcm_PlaysItemToEnd) {
    if (!audio::CreateDevice("alsa:null")) GTEST_SKIP();
    audio::SetDeviceFactory([] { return audio::CreateDevice("alsa:null"); });
    {
        FakeSource s(20000, 44100);
        if (s.Open() != 1) {
            audio::SetDeviceFactory({});
            GTEST_SKIP() << "no ALSA null PCM";
        }
        s.Play();
        EXPECT_TRUE(Eventually([&] { return !s.IsPlaying(); }, std::chrono::seconds(20)));
        EXPECT_EQ(s.GetPosition(), static_cast<int32_t>(20000 * 1000.0 / 44100));
        s.Close();
    }
    audio::SetDeviceFactory({});
}

}  // namespace
}  // namespace tunara::test
