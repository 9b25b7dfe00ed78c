#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "TestTools.h"
#include "platform/audio/AlsaDevice.h"
#include "platform/audio/FileDevice.h"
#include "platform/audio/NullDevice.h"
#include "platform/audio/PulseDevice.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tunara::audio {
namespace {

using namespace std::chrono_literals;

// Records every notice: which header, on which thread.
struct Notices {
    std::mutex mutex;
    std::vector<uintptr_t> done;
    std::vector<Message> messages;
    std::vector<std::thread::id> threads;

    static void Callback(Message m, BufferHeader* h, void* self) {
        auto* n = static_cast<Notices*>(self);
        std::lock_guard lock(n->mutex);
        n->messages.push_back(m);
        n->threads.push_back(std::this_thread::get_id());
        if (m == Message::Done) n->done.push_back(h->user);
    }
    std::vector<uintptr_t> Done() {
        std::lock_guard lock(mutex);
        return done;
    }
};

// Buffers of 16-bit stereo whose frames count up from `first`.
struct Buffers {
    Buffers(int count, uint32_t frames, int16_t first = 0) : data(count), headers(count) {
        int16_t v = first;
        for (int i = 0; i < count; ++i) {
            data[i].resize(frames * 4);
            for (uint32_t f = 0; f < frames; ++f, ++v) {
                std::memcpy(&data[i][f * 4], &v, 2);
                std::memcpy(&data[i][f * 4 + 2], &v, 2);
            }
            headers[i].data = data[i].data();
            headers[i].bufferLength = frames * 4;
            headers[i].user = static_cast<uintptr_t>(i);
            headers[i].flags = kHeaderDone;
        }
    }
    void WriteAll(AudioDevice& d) {
        for (auto& h : headers) {
            ASSERT_EQ(d.Prepare(&h), Status::Ok);
            ASSERT_EQ(d.Write(&h), Status::Ok);
        }
    }
    std::vector<std::vector<uint8_t>> data;
    std::vector<BufferHeader> headers;
};

const PcmFormat kStereo16 = PcmFormat::Make(2, 44100, 16);

// Buffers play in order, pause holds them, and every notice comes on the
// device's own thread.
TEST(NullDevice, Step_PlaysInOrderOnItsOwnThread) {
    Notices n;
    NullDevice d(NullDevice::Pace::Step);
    ASSERT_EQ(d.Open(kStereo16, &Notices::Callback, &n), Status::Ok);
    Buffers b(3, 1000);
    ASSERT_EQ(d.Pause(), Status::Ok);
    b.WriteAll(d);
    EXPECT_EQ(d.Consume(500), 0u);  // paused
    ASSERT_EQ(d.Restart(), Status::Ok);
    EXPECT_EQ(d.Consume(1500), 1500u);
    uint32_t pos = 0;
    ASSERT_EQ(d.GetPosition(pos), Status::Ok);
    EXPECT_EQ(pos, 1500u);
    ASSERT_TRUE(d.WaitNoticesDelivered(5s));
    EXPECT_EQ(n.Done(), (std::vector<uintptr_t>{0}));
    EXPECT_EQ(b.headers[0].flags.load() & (kHeaderDone | kHeaderInQueue), kHeaderDone);
    EXPECT_EQ(b.headers[1].flags.load() & (kHeaderDone | kHeaderInQueue), kHeaderInQueue);
    EXPECT_EQ(d.Unprepare(&b.headers[1]), Status::StillPlaying);
    EXPECT_EQ(d.Consume(5000), 1500u);
    ASSERT_TRUE(d.WaitNoticesDelivered(5s));
    EXPECT_EQ(n.Done(), (std::vector<uintptr_t>{0, 1, 2}));
    ASSERT_EQ(d.Close(), Status::Ok);
    std::lock_guard lock(n.mutex);
    EXPECT_EQ(n.messages.front(), Message::Open);
    EXPECT_EQ(n.messages.back(), Message::Close);
    for (auto id : n.threads) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, n.threads.front());
    }
}

// Reset hands every queued buffer back done, counts from 0 and is not paused.
TEST(NullDevice, Reset_ReturnsEverythingAndZeroesPosition) {
    Notices n;
    NullDevice d(NullDevice::Pace::Step);
    ASSERT_EQ(d.Open(kStereo16, &Notices::Callback, &n), Status::Ok);
    Buffers b(4, 256);
    d.Pause();
    b.WriteAll(d);
    d.Restart();
    d.Consume(300);
    d.Pause();
    ASSERT_EQ(d.Reset(), Status::Ok);
    uint32_t pos = 99;
    d.GetPosition(pos);
    EXPECT_EQ(pos, 0u);
    EXPECT_FALSE(d.IsPaused());
    ASSERT_TRUE(d.WaitNoticesDelivered(5s));
    EXPECT_EQ(n.Done(), (std::vector<uintptr_t>{0, 1, 2, 3}));
    for (auto& h : b.headers) EXPECT_EQ(h.flags.load(), kHeaderDone | kHeaderPrepared);
    // Closing with buffers queued hands them back as well.
    Buffers more(2, 100);
    more.WriteAll(d);
    ASSERT_EQ(d.Close(), Status::Ok);
    EXPECT_EQ(n.Done().size(), 6u);
    EXPECT_EQ(d.Write(&more.headers[0]), Status::NoDevice);
}

TEST(NullDevice, RefusesBadCalls) {
    NullDevice d(NullDevice::Pace::Fast);
    EXPECT_EQ(d.Open(PcmFormat::Make(3, 44100, 16), nullptr, nullptr), Status::BadFormat);
    EXPECT_EQ(d.Open(PcmFormat::Make(2, 44100, 12), nullptr, nullptr), Status::BadFormat);
    uint32_t pos;
    EXPECT_EQ(d.GetPosition(pos), Status::NoDevice);
    ASSERT_EQ(d.Open(kStereo16, nullptr, nullptr), Status::Ok);
    EXPECT_EQ(d.Open(kStereo16, nullptr, nullptr), Status::Error);
    Buffers b(1, 10);
    EXPECT_EQ(d.Write(&b.headers[0]), Status::Unprepared);
    EXPECT_EQ(d.Write(nullptr), Status::InvalidParam);
    d.Prepare(&b.headers[0]);
    b.headers[0].bufferLength = 6;  // a frame and a half
    EXPECT_EQ(d.Write(&b.headers[0]), Status::InvalidParam);
}

// Fast and real-time paces hand buffers back by themselves.
TEST(NullDevice, FastAndRealTime_ReturnBuffers) {
    for (auto pace : {NullDevice::Pace::Fast, NullDevice::Pace::RealTime}) {
        Notices n;
        NullDevice d(pace);
        ASSERT_EQ(d.Open(PcmFormat::Make(1, 48000, 8), &Notices::Callback, &n), Status::Ok);
        Buffers b(3, 96);  // the data is larger; 96 bytes = 2 ms of 8-bit mono
        for (auto& h : b.headers) h.bufferLength = 96;
        b.WriteAll(d);
        ASSERT_TRUE(d.WaitUntil([&] { return n.Done().size() == 3; }, 5s));
        uint32_t pos = 0;
        d.GetPosition(pos);
        EXPECT_EQ(pos, 288u);
    }
}

// A backend that holds at most `room` frames until the test drains it, like
// a sound card's own buffer: what it took shows the order frames went out.
class RoomDevice : public DeviceCore {
public:
    explicit RoomDevice(uint64_t room) : room_(room) {}
    ~RoomDevice() override { Close(); }
    std::string Name() const override { return "room"; }
    // Everything held is heard; the device thread looks again.
    void Drain() {
        std::lock_guard lock(mutex_);
        heard_ = handed_;
        Wake();
    }
    std::vector<int16_t> Taken() {
        std::lock_guard lock(mutex_);
        return taken_;
    }

protected:
    Status BackendOpen(const PcmFormat&) override { return Status::Ok; }
    void BackendClose() override {}
    bool TakesData() const override { return true; }
    long HandOut(const uint8_t* data, uint32_t frames) override {
        const uint64_t n = std::min<uint64_t>(frames, room_ - (handed_ - heard_));
        for (uint64_t f = 0; f < n; ++f) {
            int16_t v;
            std::memcpy(&v, data + 4 * f, 2);
            taken_.push_back(v);
        }
        return static_cast<long>(n);
    }
    uint64_t Played(uint64_t, Clock::time_point) override { return heard_; }
    Clock::time_point NextLook(uint64_t, uint64_t, Clock::time_point) override {
        return Clock::time_point::max();
    }

private:
    uint64_t room_;
    uint64_t heard_ = 0;
    std::vector<int16_t> taken_;
};

// Polls (bounded) for what the device's thread does without a notice.
bool Soon(const std::function<bool()>& pred) {
    for (int i = 0; i < 25000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(200us);
    }
    return false;
}

// Buffers written while the output is full wait for it to drain and then go
// out in order; a buffer written when everything before it has gone out is
// taken at once.
TEST(DeviceCore, FullOutput_TakesQueuedBuffersAsItDrains) {
    Notices n;
    RoomDevice d(2500);
    ASSERT_EQ(d.Open(kStereo16, &Notices::Callback, &n), Status::Ok);
    Buffers b(6, 1000);
    b.WriteAll(d);
    ASSERT_TRUE(Soon([&] { return d.Taken().size() == 2500; }));
    for (size_t taken : {5000u, 6000u}) {
        d.Drain();
        ASSERT_TRUE(Soon([&] { return d.Taken().size() == taken; }));
    }
    // The last buffer is handed out but not yet heard when this one comes.
    Buffers last(1, 300, 6000);
    last.WriteAll(d);
    ASSERT_TRUE(Soon([&] { return d.Taken().size() == 6300; }));
    std::vector<int16_t> want(6300);
    for (int16_t i = 0; i < 6300; ++i) want[static_cast<size_t>(i)] = i;
    EXPECT_EQ(d.Taken(), want);
    d.Drain();
    ASSERT_TRUE(d.WaitUntil([&] { return n.Done().size() == 7; }, 5s));
    EXPECT_EQ(n.Done(), (std::vector<uintptr_t>{0, 1, 2, 3, 4, 5, 0}));
}

struct Wav {
    uint16_t tag = 0, channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0, riffSize = 0, dataSize = 0;
    std::vector<uint8_t> data;
    size_t fileSize = 0;
};

Wav ReadWav(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), {});
    Wav w;
    w.fileSize = b.size();
    if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) ||
        std::memcmp(b.data() + 8, "WAVEfmt ", 8))
        return w;
    auto u16 = [&](size_t o) { return static_cast<uint16_t>(b[o] | b[o + 1] << 8); };
    auto u32 = [&](size_t o) { return static_cast<uint32_t>(u16(o) | u16(o + 2) << 16); };
    w.riffSize = u32(4);
    w.tag = u16(20);
    w.channels = u16(22);
    w.rate = u32(24);
    w.blockAlign = u16(32);
    w.bits = u16(34);
    w.dataSize = u32(40);
    w.data.assign(b.begin() + 44, b.begin() + 44 + std::min<size_t>(w.dataSize, b.size() - 44));
    return w;
}

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::string("tunara-") + name)).string();
}

// The file holds exactly what was played, with sizes fixed up at close.
TEST(FileDevice, WritesValidWav) {
    std::string path = TempPath("audio-file.wav");
    {
        FileDevice d(path);
        ASSERT_EQ(d.Open(kStereo16, nullptr, nullptr), Status::Ok);
        Buffers b(3, 1000, -1500);
        b.WriteAll(d);
        ASSERT_TRUE(d.WaitUntil([&] { return d.QueuedBuffers() == 0; }, 5s));
        d.Close();
        Wav w = ReadWav(path);
        EXPECT_EQ(w.tag, 1);
        EXPECT_EQ(w.channels, 2);
        EXPECT_EQ(w.rate, 44100u);
        EXPECT_EQ(w.bits, 16);
        EXPECT_EQ(w.blockAlign, 4);
        EXPECT_EQ(w.dataSize, 12000u);
        EXPECT_EQ(w.riffSize, 36u + 12000u);
        std::vector<uint8_t> expect;
        for (auto& v : b.data) expect.insert(expect.end(), v.begin(), v.end());
        EXPECT_EQ(w.data, expect);
    }
    // An odd number of 8-bit mono bytes gets the pad byte RIFF asks for.
    {
        FileDevice d(path);
        ASSERT_EQ(d.Open(PcmFormat::Make(1, 8000, 8), nullptr, nullptr), Status::Ok);
        std::vector<uint8_t> bytes(7, 200);
        BufferHeader h;
        h.data = bytes.data();
        h.bufferLength = 7;
        d.Prepare(&h);
        d.Write(&h);
        ASSERT_TRUE(d.WaitUntil([&] { return d.QueuedBuffers() == 0; }, 5s));
        d.Close();
        Wav w = ReadWav(path);
        EXPECT_EQ(w.dataSize, 7u);
        EXPECT_EQ(w.riffSize, 36u + 8u);
        EXPECT_EQ(w.fileSize, 44u + 8u);
        EXPECT_EQ(w.data, bytes);
    }
    if (std::system("command -v soxi >/dev/null 2>&1") == 0) {
        FileDevice d(path);
        ASSERT_EQ(d.Open(PcmFormat::Make(2, 48000, 24), nullptr, nullptr), Status::Ok);
        std::vector<uint8_t> bytes(6 * 480, 0x11);
        BufferHeader h;
        h.data = bytes.data();
        h.bufferLength = static_cast<uint32_t>(bytes.size());
        d.Prepare(&h);
        d.Write(&h);
        ASSERT_TRUE(d.WaitUntil([&] { return d.QueuedBuffers() == 0; }, 5s));
        d.Close();
        std::string cmd = "soxi -s '" + path + "' 2>/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        char line[64] = {};
        ASSERT_TRUE(p && std::fgets(line, sizeof line, p));
        pclose(p);
        EXPECT_EQ(std::atol(line), 480);
    }
    std::filesystem::remove(path);
}

// TUNARA_AUDIO=file:PATH keeps everything the process plays: opens in the
// same format append, a format change goes on in "NAME-2.wav".
TEST(FileDevice, Continue_AppendsSameFormatAndNumbersFormatChanges) {
    const std::string path = TempPath("audio-continue.wav");
    const std::string second = TempPath("audio-continue-2.wav");
    std::vector<uint8_t> expect;
    auto play = [&](const PcmFormat& format, int buffers, int16_t value, bool keep) {
        auto made = CreateDevice("file:" + path);
        auto* d = dynamic_cast<FileDevice*>(made.get());
        ASSERT_NE(d, nullptr);
        ASSERT_EQ(d->Open(format, nullptr, nullptr), Status::Ok);
        Buffers b(buffers, 1000, value);
        b.WriteAll(*d);
        ASSERT_TRUE(d->WaitUntil([&] { return d->QueuedBuffers() == 0; }, 5s));
        d->Close();
        if (keep)
            for (auto& v : b.data) expect.insert(expect.end(), v.begin(), v.end());
    };
    play(kStereo16, 3, 1000, true);
    play(kStereo16, 2, -700, true);
    Wav w = ReadWav(path);
    EXPECT_EQ(w.dataSize, 20000u);
    EXPECT_EQ(w.data, expect);

    play(PcmFormat::Make(1, 22050, 16), 1, 5, false);
    EXPECT_EQ(ReadWav(path).data, expect);  // untouched by the other format
    Wav other = ReadWav(second);
    EXPECT_EQ(other.channels, 1);
    EXPECT_EQ(other.rate, 22050u);
    EXPECT_EQ(other.dataSize, 4000u);
    std::filesystem::remove(path);
    std::filesystem::remove(second);
}

// The output processor shapes what the file device writes, never the
// caller's buffer.
TEST(FileDevice, OutputProcessor_ScalesWhatIsWritten) {
    std::string path = TempPath("audio-gain.wav");
    FileDevice d(path);
    float half = 0.5f;
    d.SetOutputProcessor(
        [](void* gain, const PcmFormat& f, float, const uint8_t* in, uint8_t* out, uint32_t n) {
            ApplyGain(f, *static_cast<float*>(gain), in, out, size_t{n} * f.blockAlign);
            return true;
        },
        &half);
    ASSERT_EQ(d.Open(kStereo16, nullptr, nullptr), Status::Ok);
    Buffers b(1, 4, 0);
    int16_t samples[8] = {1000, -1000, 32767, -32768, 2, -2, 0, 0};
    std::memcpy(b.data[0].data(), samples, sizeof samples);
    b.WriteAll(d);
    ASSERT_TRUE(d.WaitUntil([&] { return d.QueuedBuffers() == 0; }, 5s));
    d.Close();
    Wav w = ReadWav(path);
    ASSERT_EQ(w.data.size(), sizeof samples);
    int16_t out[8];
    std::memcpy(out, w.data.data(), sizeof out);
    const int16_t expect[8] = {500, -500, 16383, -16384, 1, -1, 0, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], expect[i]) << i;
    EXPECT_EQ(std::memcmp(b.data[0].data(), samples, sizeof samples), 0);
    std::filesystem::remove(path);
}

TEST(SoftwareVolume, GainOfEachWidth) {
    const uint8_t in8[2] = {0, 255};
    uint8_t out8[2];
    ApplyGain(PcmFormat::Make(1, 8000, 8), 0.5f, in8, out8, 2);
    EXPECT_EQ(out8[0], 64);
    EXPECT_EQ(out8[1], 191);
    const uint8_t in24[3] = {0x00, 0x00, 0x80};  // -8388608
    uint8_t out24[3];
    ApplyGain(PcmFormat::Make(1, 8000, 24), 0.25f, in24, out24, 3);
    EXPECT_EQ(out24[0], 0x00);
    EXPECT_EQ(out24[1], 0x00);
    EXPECT_EQ(out24[2], 0xE0);  // -2097152
    int32_t in32 = INT32_MIN, out32;
    ApplyGain(PcmFormat::Make(1, 8000, 32), 0.0f, reinterpret_cast<uint8_t*>(&in32),
              reinterpret_cast<uint8_t*>(&out32), 4);
    EXPECT_EQ(out32, 0);
}

TEST(DeviceChoice, ParsesOutputNames) {
    EXPECT_EQ(CreateDevice("null")->Name(), "null");
    EXPECT_EQ(CreateDevice("null:fast")->Name(), "null:fast");
    EXPECT_EQ(CreateDevice("null:step")->Name(), "null:step");
    EXPECT_EQ(CreateDevice("file:/tmp/x.wav")->Name(), "file:/tmp/x.wav");
    EXPECT_EQ(CreateDevice("alsa")->Name(), "alsa:default");
    EXPECT_EQ(CreateDevice("alsa:plughw:1,0")->Name(), "alsa:plughw:1,0");
    EXPECT_EQ(CreateDevice("bogus"), nullptr);
    EXPECT_EQ(CreateDevice("file:"), nullptr);
    EXPECT_EQ(MixerCardOfPcm("plughw:1,0"), "hw:1");
    EXPECT_EQ(MixerCardOfPcm("hw:CARD=PCH,0"), "hw:PCH");
    EXPECT_EQ(MixerCardOfPcm("default"), "default");
    EXPECT_EQ(MixerCardOfPcm("null"), "");
    EXPECT_EQ(CreateDevice("null")->MixerCard(), "");
}

// ALSA's own "null" PCM needs no sound card, so the ALSA backend can be run
// end to end anywhere alsa-lib is configured.
TEST(AlsaDevice, NullPcm_PlaysAndReturnsBuffers) {
    Notices n;
    AlsaDevice d("null");
    if (d.Open(kStereo16, &Notices::Callback, &n) != Status::Ok) GTEST_SKIP() << "no ALSA null PCM";
    Buffers b(4, 1024);
    d.Pause();
    b.WriteAll(d);
    d.Restart();
    ASSERT_TRUE(d.WaitUntil([&] { return n.Done().size() == 4; }, 10s));
    EXPECT_EQ(n.Done(), (std::vector<uintptr_t>{0, 1, 2, 3}));
    Buffers more(2, 1024);
    more.WriteAll(d);
    ASSERT_EQ(d.Reset(), Status::Ok);
    ASSERT_TRUE(d.WaitNoticesDelivered(5s));
    EXPECT_EQ(n.Done().size(), 6u);
    uint32_t pos = 1;
    d.GetPosition(pos);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(d.Close(), Status::Ok);
}

// A sound server of the test's own with a null sink, where pulseaudio is
// installed; stopped at the end of the scope.
class PrivateSoundServer {
public:
    PrivateSoundServer() {
        std::filesystem::create_directories(dir_.path / "run");
        std::filesystem::permissions(dir_.path / "run", std::filesystem::perms::owner_all);
        socket_ = (dir_.path / "native").string();
        const std::string cmd = Env() +
                                " pulseaudio -D -n --exit-idle-time=-1 --disallow-exit "
                                "--load='module-native-protocol-unix auth-anonymous=1 socket=" +
                                socket_ + "' --load=module-null-sink >/dev/null 2>&1";
        running_ =
            std::system(cmd.c_str()) == 0 && Soon([&] { return std::filesystem::exists(socket_); });
    }
    ~PrivateSoundServer() {
        if (running_) std::system((Env() + " pulseaudio --kill >/dev/null 2>&1").c_str());
    }
    bool Running() const { return running_; }
    std::string Address() const { return "unix:" + socket_; }

private:
    std::string Env() const {
        const std::string d = dir_.path.string();
        return "HOME=" + d + " XDG_RUNTIME_DIR=" + d + "/run XDG_CONFIG_HOME=" + d;
    }
    testing::TempDir dir_;
    std::string socket_;
    bool running_ = false;
};

// Through a real server: priming while paused holds the position, the
// buffers come back in order once heard (in real time, not at once), and a
// reset flushes the rest and counts from 0.
TEST(PulseDevice, PrivateServer_PlaysInRealTimeAndResets) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "libpulse's own threads are not built with the sanitizer";
#endif
    PrivateSoundServer server;
    TUNARA_SKIP_IF_MISSING(!server.Running(), "pulseaudio");
    testing::ScopedEnv env("PULSE_SERVER", server.Address());
    Notices n;
    PulseDevice d("");
    ASSERT_EQ(d.Open(kStereo16, &Notices::Callback, &n), Status::Ok);
    // Twice what the server holds: the null sink takes a block ahead of
    // real time, which only a longer run hides.
    Buffers b(8, 4410);  // 0.8 s
    ASSERT_EQ(d.Pause(), Status::Ok);
    b.WriteAll(d);
    std::this_thread::sleep_for(150ms);
    uint32_t pos = 1;
    d.GetPosition(pos);
    EXPECT_EQ(pos, 0u);
    EXPECT_TRUE(n.Done().empty());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(d.Restart(), Status::Ok);
    ASSERT_TRUE(d.WaitUntil([&] { return n.Done().size() == 8; }, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 550ms);
    EXPECT_EQ(n.Done(), (std::vector<uintptr_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    d.GetPosition(pos);
    EXPECT_EQ(pos, 8u * 4410u);

    Buffers more(2, 44100);
    more.WriteAll(d);
    ASSERT_EQ(d.Reset(), Status::Ok);
    ASSERT_TRUE(d.WaitNoticesDelivered(5s));
    EXPECT_EQ(n.Done().size(), 10u);
    d.GetPosition(pos);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(d.Close(), Status::Ok);
}

}  // namespace
}  // namespace tunara::audio
