// Real WAV and MP3 items played one after the other through the controller:
// a sine cut in two at an odd sample must reach the output as one unbroken
// signal through one device open; a format change or a stop between the items
// still closes and reopens the device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "TestTools.h"
#include "engine/OutputEngine.h"
#include "engine/PcmStream.h"
#include "engine/testing/EngineTesting.h"
#include "platform/audio/AudioDevice.h"
#include "platform/audio/NullDevice.h"
#include "platform/io/WavHeader.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "sources/SourceFactory.h"
#include "sources/testing/TestSources.h"
#include "ui/core/DisplayState.h"
#include "ui/core/PlayerController.h"

namespace tunara {
namespace {

constexpr double kAmplitude = 12000.0;
constexpr double kToneHz = 441.0;

int16_t SineAt(int64_t frame, int rate) {
    return static_cast<int16_t>(
        std::lround(kAmplitude * std::sin(2.0 * M_PI * kToneHz * frame / rate)));
}

// Frames [first, first + count) of the tone, 16-bit stereo.
void WriteSine(const std::string& path, int rate, int64_t first, int64_t count) {
    std::vector<int16_t> pcm;
    for (int64_t i = first; i < first + count; ++i) pcm.insert(pcm.end(), 2, SineAt(i, rate));
    uint8_t header[io::kWavHeaderBytes];
    io::MakeWavHeader({2, static_cast<uint32_t>(rate), 16}, pcm.size() * 2, header);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    f.write(reinterpret_cast<const char*>(pcm.data()),
            static_cast<std::streamsize>(pcm.size() * 2));
}

struct Capture {
    uint32_t rate = 0;
    std::vector<int16_t> left;  // the left channel of every frame
};

// What the file device wrote (its header is fixed up when it closes).
Capture ReadCapture(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    Capture c;
    if (b.size() < io::kWavHeaderBytes) return c;
    std::memcpy(&c.rate, b.data() + 24, 4);
    for (size_t i = io::kWavHeaderBytes; i + 4 <= b.size(); i += 4) {
        int16_t s;
        std::memcpy(&s, b.data() + i, 2);
        c.left.push_back(s);
    }
    return c;
}

// Largest step between neighbouring samples around `at`, against the tone's
// steepest slope: a gap, a lost or a repeated stretch shows as a jump.
double WorstJump(const std::vector<int16_t>& s, size_t at) {
    double worst = 0.0;
    for (size_t i = at - 64; i < at + 64; ++i)
        worst = std::max(worst, std::abs(double(s[i + 1]) - double(s[i])));
    return worst;
}

// The left channel of an item as its own source reads it from the start.
std::vector<int16_t> DecodeAlone(const std::string& path) {
    std::unique_ptr<MediaSource> item = CreateSourceFor(tunara::testing::TestEngine(), path);
    PcmStream* pcm = item ? item->Pcm() : nullptr;
    std::vector<int16_t> left;
    if (!pcm) return left;
    item->SetLocation(path);
    if (!item->LoadInfo() || !pcm->OpenStream()) return left;
    std::vector<int16_t> buffer(2 * OutputEngine::kFramesPerBuffer);
    while (int n = pcm->ReadFrames(buffer.data(), OutputEngine::kFramesPerBuffer))
        for (int i = 0; i < n; ++i) left.push_back(buffer[size_t(2 * i)]);
    pcm->CloseStream();
    return left;
}

struct DeviceCounts {
    int opens = 0;
    int closes = 0;
};

// The device TUNARA_AUDIO names, counting its opens and closes.
class CountingDevice : public audio::AudioDevice {
public:
    CountingDevice(std::unique_ptr<audio::AudioDevice> inner, DeviceCounts& counts)
        : inner_(std::move(inner)), counts_(counts) {}
    audio::Status Open(const audio::PcmFormat& f, audio::Callback cb, void* inst) override {
        audio::Status st = inner_->Open(f, cb, inst);
        if (st == audio::Status::Ok) ++counts_.opens;
        return st;
    }
    audio::Status Close() override {
        ++counts_.closes;
        return inner_->Close();
    }
    audio::Status Write(audio::BufferHeader* h) override { return inner_->Write(h); }
    audio::Status Pause() override { return inner_->Pause(); }
    audio::Status Restart() override { return inner_->Restart(); }
    audio::Status Reset() override { return inner_->Reset(); }
    audio::Status GetPosition(uint32_t& frames) override { return inner_->GetPosition(frames); }
    audio::Status Prepare(audio::BufferHeader* h) override { return inner_->Prepare(h); }
    audio::Status Unprepare(audio::BufferHeader* h) override { return inner_->Unprepare(h); }
    std::string Name() const override { return inner_->Name(); }

private:
    std::unique_ptr<audio::AudioDevice> inner_;
    DeviceCounts& counts_;
};

class GaplessPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tunara-gapless-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = std::string(tmpl) + "/";
        out_ = dir_ + "out.wav";
        if (const char* was = std::getenv("TUNARA_AUDIO")) audioWas_ = was;
        ::setenv("TUNARA_AUDIO", ("file:" + out_).c_str(), 1);
        audio::SetDeviceFactory([this]() -> std::unique_ptr<audio::AudioDevice> {
            auto inner = audio::CreateDevice(std::getenv("TUNARA_AUDIO"));
            return std::make_unique<CountingDevice>(std::move(inner), counts_);
        });
        controller_.SetCdDrives({}, 0);
    }
    void TearDown() override {
        controller_.Shutdown();
        playlist_.Clear();
        audio::SetDeviceFactory({});
        if (audioWas_.empty())
            ::unsetenv("TUNARA_AUDIO");
        else
            ::setenv("TUNARA_AUDIO", audioWas_.c_str(), 1);
        std::filesystem::remove_all(dir_);
    }

    void Add(const std::string& path) { ASSERT_GE(playlist_.AddFile(path), 0) << path; }
    // Ticks until the list has played out (bounded). At the end the list
    // goes back to its first item, which opens again: `opensAtLast` holds the
    // opens while the last item was current.
    void PlayToEnd() {
        controller_.Start();
        controller_.Play();
        for (int i = 0; i < 20000 && !controller_.ReachedEnd(); ++i) {
            controller_.OnTick();
            if (playlist_.Current() == playlist_.Count() - 1) opensAtLast = counts_.opens;
            ::usleep(200);
        }
        ASSERT_TRUE(controller_.ReachedEnd());
        controller_.Shutdown();
    }
    // Two parts of the tone cut at `cut`, as WAV files; returns their paths.
    std::pair<std::string, std::string> SplitSine(int rate, int64_t cut, int64_t total) {
        WriteSine(dir_ + "a.wav", rate, 0, cut);
        WriteSine(dir_ + "b.wav", rate, cut, total - cut);
        return {dir_ + "a.wav", dir_ + "b.wav"};
    }

    ScopedRecordingInteraction ui_;
    DeviceCounts counts_;
    DisplayState display_;
    Playlist playlist_{tunara::testing::TestSources()};
    PlayerController controller_{display_, playlist_, nullptr, "/nowhere"};
    std::string dir_, out_, audioWas_;
    int opensAtLast = 0;
};

TEST_F(GaplessPlayback, WavItems_OneSignalOneOpen) {
    const int64_t cut = 30011, total = 70000;
    auto [a, b] = SplitSine(44100, cut, total);
    Add(a);
    Add(b);
    PlayToEnd();
    EXPECT_EQ(opensAtLast, 1);
    Capture c = ReadCapture(out_);
    ASSERT_EQ(c.left.size(), static_cast<size_t>(total));
    for (int64_t i = 0; i < total; ++i) ASSERT_EQ(c.left[size_t(i)], SineAt(i, 44100)) << i;
    EXPECT_LT(WorstJump(c.left, cut), 2.0 * M_PI * kToneHz / 44100 * kAmplitude + 2);
    EXPECT_TRUE(ui_->errors.empty());
}

// MP3 parts from lame carry their encoder delay and padding, which the source
// trims: the join is sample-exact. The parts' own edges carry coding noise,
// so the output is held against each part decoded alone, and the step at the
// join (cut where the tone is near its peak) against what a gap would make.
TEST_F(GaplessPlayback, Mp3Items_OneSignalOneOpen) {
    TUNARA_SKIP_IF_MISSING(std::system("lame --version > /dev/null 2>&1") != 0, "lame");
    const int64_t cut = 51234, total = 110000;
    auto [a, b] = SplitSine(44100, cut, total);
    for (const std::string& part : {a, b}) {
        std::string cmd = "lame --quiet -b 256 '" + part + "' '" + part + ".mp3'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::vector<int16_t> expected = DecodeAlone(a + ".mp3"), second = DecodeAlone(b + ".mp3");
    ASSERT_EQ(expected.size(), static_cast<size_t>(cut));
    expected.insert(expected.end(), second.begin(), second.end());
    Add(a + ".mp3");
    Add(b + ".mp3");
    PlayToEnd();
    EXPECT_EQ(opensAtLast, 1);
    Capture c = ReadCapture(out_);
    ASSERT_EQ(c.left.size(), static_cast<size_t>(total));
    EXPECT_TRUE(c.left == expected);
    ASSERT_GT(std::abs(SineAt(cut, 44100)), 0.8 * kAmplitude);
    EXPECT_LT(WorstJump(c.left, cut), 0.25 * kAmplitude);
}

// Another sample rate cannot follow: the device is closed and reopened, and
// the file device starts a second file for the new format.
TEST_F(GaplessPlayback, FormatChange_Reopens) {
    WriteSine(dir_ + "a.wav", 44100, 0, 20000);
    WriteSine(dir_ + "b.wav", 22050, 0, 15000);
    Add(dir_ + "a.wav");
    Add(dir_ + "b.wav");
    PlayToEnd();
    EXPECT_EQ(opensAtLast, 2);
    Capture first = ReadCapture(out_), second = ReadCapture(dir_ + "out-2.wav");
    EXPECT_EQ(first.rate, 44100u);
    EXPECT_EQ(first.left.size(), 20000u);
    EXPECT_EQ(second.rate, 22050u);
    EXPECT_EQ(second.left.size(), 15000u);
}

// Stopped between the items, the next one opens the device afresh.
TEST_F(GaplessPlayback, StopBetweenItems_Closes) {
    auto [a, b] = SplitSine(44100, 20000, 40000);
    Add(a);
    Add(b);
    controller_.Start();
    controller_.Play();
    controller_.Stop();
    controller_.Next();
    EXPECT_EQ(counts_.opens, 2);
    EXPECT_EQ(counts_.closes, 1);
    EXPECT_EQ(display_.Title(), "b");
}

// An item that does not open when it is queued ahead of its turn says nothing
// then; when its turn comes while playing it is passed over with the status
// line, and chosen while stopped its error is told exactly once.
TEST_F(GaplessPlayback, FollowerThatDoesNotOpen_ToldOnlyAtItsTurn) {
    WriteSine(dir_ + "a.wav", 8000, 0, 4000);
    WriteSine(dir_ + "b.wav", 8000, 0, 4000);
    WriteSine(dir_ + "c.wav", 8000, 0, 4000);
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) Add(dir_ + name);
    std::ofstream(dir_ + "b.wav", std::ios::trunc) << "no longer a wave";
    controller_.Start();
    controller_.Play();
    EXPECT_TRUE(ui_->errors.empty());  // b was refused as a's follower
    for (int i = 0; i < 20000 && playlist_.Current() != 2; ++i) {
        controller_.OnTick();
        ::usleep(200);
    }
    ASSERT_EQ(playlist_.Current(), 2);
    EXPECT_EQ(display_.Message(), "Skipped: cannot open b");
    EXPECT_TRUE(ui_->errors.empty());

    controller_.Stop();
    playlist_.SetCurrent(1);
    controller_.Refresh();
    for (int i = 0; i < 3; ++i) controller_.OnTick();
    ASSERT_EQ(ui_->errors.size(), 1u);
    EXPECT_EQ(ui_->errors[0].stringId, strings::kWavNotValid);
    EXPECT_EQ(ui_->errors[0].argument, dir_ + "b.wav");
}

// A file that loses its data while it plays is told once, through the
// controller's tick, however many reads fail after it.
TEST_F(GaplessPlayback, DecodeErrorWhilePlaying_ToldOnce) {
    TUNARA_SKIP_IF_MISSING(std::system("lame --version > /dev/null 2>&1") != 0, "lame");
    audio::NullDevice* device = nullptr;
    audio::SetDeviceFactory([&]() -> std::unique_ptr<audio::AudioDevice> {
        auto d = std::make_unique<audio::NullDevice>(audio::NullDevice::Pace::Step);
        device = d.get();
        return d;
    });
    WriteSine(dir_ + "long.wav", 44100, 0, 4 * 44100);
    ASSERT_EQ(
        std::system(("lame --quiet -b 128 '" + dir_ + "long.wav' '" + dir_ + "long.mp3'").c_str()),
        0);
    Add(dir_ + "long.mp3");
    controller_.Start();
    controller_.Play();
    ASSERT_TRUE(
        device->WaitUntil([&] { return device->QueuedBuffers() == OutputEngine::kBufferCount; },
                          std::chrono::seconds(5)));
    // The ring holds under a second; the file goes at two.
    std::filesystem::resize_file(dir_ + "long.mp3",
                                 std::filesystem::file_size(dir_ + "long.mp3") / 2);
    for (int i = 0; i < 20000 && !controller_.ReachedEnd(); ++i) {
        device->Consume(4096);
        controller_.OnTick();
        ::usleep(200);
    }
    ASSERT_TRUE(controller_.ReachedEnd());
    for (int i = 0; i < 3; ++i) controller_.OnTick();
    ASSERT_EQ(ui_->errors.size(), 1u);
    EXPECT_EQ(ui_->errors[0].stringId, strings::kMp3DecodeError);
}

// With a device that plays only what the test lets it, the item change shows
// at the first tick after the first item's last frame, not before; the new
// item's position counts from its own start.
TEST_F(GaplessPlayback, ItemChange_WhenTheJoinIsHeard) {
    audio::NullDevice* device = nullptr;
    audio::SetDeviceFactory([&]() -> std::unique_ptr<audio::AudioDevice> {
        ++counts_.opens;
        auto d = std::make_unique<audio::NullDevice>(audio::NullDevice::Pace::Step);
        device = d.get();
        return d;
    });
    const int rate = 8000, cut = 12345;
    auto [a, b] = SplitSine(rate, cut, cut + 20000);
    Add(a);
    Add(b);
    controller_.Start();
    controller_.Play();
    ASSERT_TRUE(device->WaitUntil(
        [&] {
            return device->QueuedBuffers() == OutputEngine::kBufferCount && !device->IsPaused();
        },
        std::chrono::seconds(5)));
    ASSERT_EQ(device->Consume(cut - 1), uint64_t(cut - 1));
    controller_.OnTick();
    EXPECT_EQ(display_.Title(), "a");
    EXPECT_EQ(playlist_.Current(), 0);
    ASSERT_EQ(device->Consume(1 + 2 * rate), uint64_t(1 + 2 * rate));
    controller_.OnTick();
    EXPECT_EQ(display_.Title(), "b");
    EXPECT_EQ(display_.TrackText(), "Track 02 of 02");
    EXPECT_EQ(controller_.Source()->GetPosition(), 2000);
    EXPECT_EQ(controller_.State(), Playing);
    EXPECT_EQ(counts_.opens, 1);
}

}  // namespace
}  // namespace tunara
