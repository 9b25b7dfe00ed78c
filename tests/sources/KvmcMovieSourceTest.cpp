// A KVMC movie through the source the factory picks: its description, and frames, seek and
// rewind against a straight decode of the same packets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/testing/EngineTesting.h"
#include "kvmc/kvmc.h"
#include "platform/movie/MovieWriter.h"
#include "platform/ui/UserInteraction.h"
#include "sources/KvmcMovieSource.h"
#include "sources/SourceFactory.h"

using namespace tunara;

namespace {

struct KvmcMovie {
    std::string dir, path;
    KvmcStreamInfo info{1, 2, 44100, 96000, 0, 0, 0};
    KvmcParams params = kvmcRecordParams(96000);
    std::vector<int16_t> decoded;  // all packets straight through the decoder
    long frames = 30000;           // the source's length: not a whole number of hops

    KvmcMovie() {
        char tmpl[] = "/tmp/tunara-kvmcsrc-XXXXXX";
        dir = ::mkdtemp(tmpl);
        path = dir + "/chord.mov";
        EXPECT_EQ(kvmcStreamValues(&info), 0);
        const int H = info.samplesPerPacket;
        movie::SoundDescription d;
        d.dataFormat = movie::FourCc("KVM2");
        d.channels = 2;
        d.sampleRateFixed = 44100u << 16;
        d.samplesPerPacket = uint32_t(H);
        d.bytesPerPacket = uint32_t(info.bytesPerPacket / 2);
        d.bytesPerFrame = uint32_t(info.bytesPerPacket);
        d.bytesPerSample = 2;
        d.waveExtension.resize(kKvmcExtensionBytes);
        kvmcWriteExtension(&info, &params, d.waveExtension.data());
        movie::MovieWriter m;
        EXPECT_EQ(m.Create(path), movie::MovieStatus::kOk);
        m.AddTrack(0, 0, 256);
        m.AddMedia(movie::FourCc("soun"), 44100);
        m.SetSoundDescription(d);
        m.BeginMediaEdits();
        KvmcHandle enc = nullptr;
        kvmcOpen(&enc);
        KvmcStreamInfo i = info;
        kvmcConfigure(enc, &i, &params);
        KvmcDecHandle dec = nullptr;
        kvmcDecOpen(&dec);
        kvmcDecConfigure(dec, &info, &params);
        std::vector<int16_t> window(size_t(10 * H), 0), hop(size_t(2 * H));
        std::vector<uint8_t> packet(size_t(info.bytesPerPacket));
        auto at = [&](long f) {
            return f < frames ? int16_t(6000 * std::sin(2 * M_PI * 440 * double(f) / 44100)) : 0;
        };
        for (long f = 0; f < 4L * H; ++f) window[size_t(2 * f)] = window[size_t(2 * f + 1)] = at(f);
        for (long p = 0; p < (frames + H - 1) / H + 4; ++p) {
            for (long f = 0; f < H; ++f)
                window[size_t(2 * (4 * H + f))] = window[size_t(2 * (4 * H + f) + 1)] =
                    at((p + 4) * H + f);
            kvmcEncodePacket(enc, int32_t(window.size() * 2), window.data(), int32_t(packet.size()),
                             packet.data());
            m.AddMediaSample(packet.data(), uint32_t(packet.size()), 1, H, 0);
            kvmcDecDecodePacket(dec, int32_t(packet.size()), packet.data(), int32_t(hop.size() * 2),
                                hop.data());
            decoded.insert(decoded.end(), hop.begin(), hop.end());
            std::copy(window.begin() + 2 * H, window.end(), window.begin());
        }
        kvmcClose(&enc);
        kvmcDecClose(&dec);
        m.EndMediaEdits();
        m.InsertMediaIntoTrack(0, 0, frames, 0x10000);
        m.AddMovieResource();
        EXPECT_EQ(m.Close(), movie::MovieStatus::kOk);
    }
    ~KvmcMovie() { std::filesystem::remove_all(dir); }
};

class Probe : public KvmcMovieSource {
public:
    Probe() : KvmcMovieSource(tunara::testing::TestEngine()) {}
    using KvmcMovieSource::ReadFrames;
    using KvmcMovieSource::SeekFrame;
};

TEST(KvmcMovieSource, FactoryPicksItAndItDescribesTheStream) {
    KvmcMovie m;
    EXPECT_TRUE(IsKvmcMovie(m.path));
    EXPECT_FALSE(NeedsMediaToolbox(m.path));
    auto source = CreateSourceFor(tunara::testing::TestEngine(), m.path);
    ASSERT_TRUE(dynamic_cast<KvmcMovieSource*>(source.get()));
    source->SetLocation(m.path);
    ASSERT_EQ(source->LoadInfo(), 1);
    EXPECT_EQ(source->GetFormatName(), "KVMC 2");
    EXPECT_EQ(source->GetBitRate(), 96000);
    EXPECT_EQ(source->GetSampleRate(), 44100);
    EXPECT_EQ(source->GetChannels(), 2);
    EXPECT_NEAR(source->GetDuration(), 30000 * 1000 / 44100, 2);
}

TEST(KvmcMovieSource, FramesAndSeeksMatchAStraightDecode) {
    KvmcMovie m;
    Probe s;
    s.SetLocation(m.path);
    ASSERT_EQ(s.LoadInfo(), 1);
    ASSERT_EQ(s.OpenStream(), 1);
    std::vector<int16_t> all;
    std::vector<int16_t> buf(2 * 1024);
    int got;
    while ((got = s.ReadFrames(buf.data(), 1024)) > 0)
        all.insert(all.end(), buf.begin(), buf.begin() + 2 * got);
    // The stream ends exactly at the source's length.
    EXPECT_EQ(all.size() / 2, size_t(m.frames));
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], m.decoded[i]) << i;
    // A seek far ahead decodes the packets before it again: the same samples.
    EXPECT_EQ(s.SeekFrame(20000), 20000u);
    ASSERT_EQ(s.ReadFrames(buf.data(), 1024), 1024);
    for (int i = 0; i < 2048; ++i) ASSERT_EQ(buf[size_t(i)], m.decoded[size_t(40000 + i)]) << i;
    s.CloseStream();
}

// One descriptor for the life of the stream: a movie deleted while it plays
// plays on; one cut short ends the item with a message, not silence.
TEST(KvmcMovieSource, DeletedPlaysOn_CutShortEndsWithAMessage) {
    std::vector<int16_t> buf(2 * 1024);
    auto drain = [&](Probe& s) {
        std::vector<int16_t> all;
        for (int got; (got = s.ReadFrames(buf.data(), 1024)) > 0;)
            all.insert(all.end(), buf.begin(), buf.begin() + 2 * got);
        return all;
    };
    KvmcMovie m;
    {
        Probe s;
        s.SetLocation(m.path);
        ASSERT_EQ(s.OpenStream(), 1);
        std::filesystem::remove(m.path);
        const auto all = drain(s);
        EXPECT_NEAR(double(all.size() / 2), double(m.frames), 44100.0 / 600);
        EXPECT_TRUE(std::equal(all.begin(), all.end(), m.decoded.begin()));
        EXPECT_FALSE(s.TakeError());
    }

    KvmcMovie cut;
    Probe s;
    s.SetLocation(cut.path);
    ASSERT_EQ(s.OpenStream(), 1);
    std::filesystem::resize_file(cut.path, std::filesystem::file_size(cut.path) / 2);
    EXPECT_LT(drain(s).size() / 2, size_t(cut.frames) * 9 / 10);
    const std::optional<UserMessage> error = s.TakeError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Formatted(), "The file " + cut.path + " could not be read.");
}

// A stream the decoder cannot take (33 channels) is refused before it is listed or opened.
TEST(KvmcMovieSource, ChannelsTheDecoderRefuses_NotOpened) {
    KvmcMovie m;
    std::fstream f(m.path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(f), {}};
    const size_t at = bytes.find("KVCA");
    ASSERT_NE(at, std::string::npos);
    f.seekp(std::streamoff(at + 8));
    f.write("\0\0\0\x21", 4);  // channels: 33
    f.close();
    Probe s;
    s.SetLocation(m.path);
    EXPECT_EQ(s.LoadInfo(), 0);
    EXPECT_TRUE(s.TakeError());
    EXPECT_EQ(s.OpenStream(), 0);
    EXPECT_TRUE(s.TakeError());
    EXPECT_EQ(s.GetChannels(), 0);
}

}  // namespace
