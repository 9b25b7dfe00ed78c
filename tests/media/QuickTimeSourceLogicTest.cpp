// QuickTimeSource over the stand-in module: the format table, the meter
// history, the band interpolation, transport rates and stream notices.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/media/MediaToolbox.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/QuickTimeSource.h"
#include "sources/SourceSettings.h"

using namespace tunara;
using namespace tunara::media;

namespace {

TmSoundDescription Sound(const char (&code)[5], int channels, int sampleSize, uint32_t rate,
                         uint32_t samplesPerPacket = 0, uint32_t bytesPerFrame = 0,
                         uint32_t bytesPerSample = 0) {
    TmSoundDescription d{};
    d.dataFormat = FourCc(code);
    d.numChannels = static_cast<int16_t>(channels);
    d.sampleSize = static_cast<int16_t>(sampleSize);
    d.sampleRate = rate << 16;
    d.samplesPerPacket = samplesPerPacket;
    d.bytesPerFrame = bytesPerFrame;
    d.bytesPerSample = bytesPerSample;
    return d;
}

// Each data format names itself and derives the bit rate its own way.
TEST(SoundFormatTable, NamesAndBitRates) {
    struct Row {
        TmSoundDescription d;
        const char* name;
        int32_t bitRate;
    };
    TmSoundDescription msIma = Sound("ima4", 1, 16, 22050);
    msIma.dataFormat = 0x6D730011;
    TmSoundDescription mp3 = Sound("????", 2, 16, 44100, 1152, 418, 2);
    mp3.dataFormat = 0x6D730055;
    const Row rows[] = {
        {Sound("twos", 2, 16, 44100), "16 Bit PCM", 1411200},
        {Sound("raw ", 1, 8, 22050), "8 Bit PCM", 176400},
        {Sound("in24", 2, 24, 48000), "24 Bit PCM", 2304000},
        {Sound("MAC3", 1, 8, 22254), "MACE 3:1", 59344},
        {Sound("MAC6", 1, 8, 22254), "MACE 6:1", 29672},
        {Sound("ima4", 1, 16, 22050), "ADPCM", 88200},
        {msIma, "ADPCM", 88200},
        {Sound("alaw", 1, 16, 8000), "ALaw", 64000},
        {Sound("ulaw", 1, 16, 8000), "\xC2\xB5Law", 64000},
        {Sound("dvca", 2, 16, 48000), "DV", 1536000},
        // c = bytesPerFrame * b / (bytesPerSample * samplesPerPacket * channels)
        {mp3, "MP3", 418u * 1411200u / (2u * 1152u * 2u)},
        {Sound("KVMC", 2, 16, 44100, 1024, 372, 2), "KVMC", 372u * 1411200u / (2u * 1024u * 2u)},
        {Sound("Qclp", 1, 16, 8000, 160, 35, 2), "QCLP", 35u * 128000u / (2u * 160u)},
        {Sound("abcd", 2, 16, 44100, 1024, 372, 2), "Unknown", 372u * 1411200u / (2u * 1024u * 2u)},
        {Sound("abcd", 2, 16, 44100), "Unknown", 1411200},
        // No packet layout: the uncompressed rate, not a division by zero.
        {Sound("KVM2", 2, 16, 44100), "KVMC 2", 1411200},
        // Codecs the media framework decodes keep their coded rate.
        {Sound("flac", 2, 16, 44100, 4096, 2400, 2), "FLAC", 2400u * 1411200u / (2u * 4096u * 2u)},
        {Sound("vorb", 2, 16, 44100, 1024, 372, 2), "Vorbis", 372u * 1411200u / (2u * 1024u * 2u)},
        {Sound("opus", 2, 16, 48000, 960, 240, 2), "Opus", 96000},
        {Sound("mp4a", 1, 16, 22050, 1024, 186, 2), "AAC", 186u * 352800u / (2u * 1024u)},
        // A coded rate nobody knows reads 0, not the rate of the decoded PCM.
        {Sound("opus", 2, 16, 48000, 960, 0, 2), "Opus", 0},
    };
    for (const Row& r : rows) {
        SoundFormat f = DescribeSoundFormat(r.d);
        EXPECT_EQ(f.name, r.name);
        EXPECT_EQ(f.bitRate, r.bitRate) << r.name;
    }
}

// The stand-in module's own controls, reached through dlsym.
struct FakeControls {
    void* handle = nullptr;
    template <typename F>
    F Get(const char* name) {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
};

class SourceOverFake : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::string(TUNARA_BINARY_DIR) + "/tests/media-fakes/libtunara-media-fake-full.so";
        ASSERT_EQ(InitializeClientFrom({path_}), kTmOk);
        ASSERT_EQ(EnterToolbox(), kTmOk);
        fake_.handle = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(fake_.handle, nullptr);
        TmSoundDescription d = Sound("twos", 2, 16, 44100);
        fake_.Get<void (*)(const TmSoundDescription*, uint32_t, int)>("tunaraFakeSetSound")(
            &d, FourCc("soun"), 1);
    }
    void TearDown() override {
        if (fake_.handle) dlclose(fake_.handle);
        StopMediaServices();
    }
    void SetLevels(int channels, int left, int right) {
        fake_.Get<void (*)(int, int, int)>("tunaraFakeSetLevels")(channels, left, right);
    }
    int32_t LastRate() { return fake_.Get<int32_t (*)()>("tunaraFakeLastRate")(); }
    std::vector<uint32_t> Calls() {
        auto fn = fake_.Get<int (*)(uint32_t*, int)>("tunaraFakeCalls");
        std::vector<uint32_t> calls(256);
        calls.resize(static_cast<size_t>(std::min(fn(calls.data(), 256), 256)));
        return calls;
    }
    void OpenSource() {
        src_.SetLocation("/music/song.aif");
        ASSERT_EQ(src_.LoadInfo(), 1);
        ASSERT_EQ(src_.Open(), 1);
        src_.EnableMetering(1);
        src_.SetBandCount(16);
    }

    std::string path_;
    FakeControls fake_;
    QuickTimeSource src_;
};

// LoadInfo fills the fields from the movie and leaves no movie behind.
TEST_F(SourceOverFake, LoadInfo_FillsFieldsAndDisposesMovie) {
    src_.SetLocation("/music/some song.aif");
    ASSERT_EQ(src_.LoadInfo(), 1);
    EXPECT_EQ(src_.GetTitle(), "some song");
    EXPECT_EQ(src_.GetFormatName(), "16 Bit PCM");
    EXPECT_EQ(src_.GetBitRate(), 1411200);
    EXPECT_EQ(src_.GetSampleRate(), 44100);
    EXPECT_EQ(src_.GetChannels(), 2);
    EXPECT_EQ(src_.GetDuration(), 5000);
    EXPECT_EQ(fake_.Get<int (*)()>("tunaraFakeLiveMovies")(), 0);
    EXPECT_EQ(src_.IsPlaying(), 0) << "a closed source is not playing";
}

// The medium's tags fill artist, album and genre; its title shows while
// "UseID3Title" is on and the file title otherwise, switching at once.
TEST_F(SourceOverFake, Tags_FillFieldsAndTitleFollowsSetting) {
    auto setItem = fake_.Get<void (*)(uint32_t, const char*)>("tunaraFakeSetUserData");
    setItem(kUserDataTitle, "J\xC3\xB3ga");
    setItem(kUserDataArtist, "Bj\xC3\xB6rk");
    setItem(kUserDataAlbum, "Homogenic");
    setItem(kUserDataGenre, "Electronic");
    bool use = true;
    SetUseId3TitleQuery([&] { return use; });
    src_.SetLocation("/music/01 track.flac");
    ASSERT_EQ(src_.LoadInfo(), 1);
    EXPECT_EQ(src_.GetTitle(), "J\xC3\xB3ga");
    EXPECT_EQ(src_.GetArtist(), "Bj\xC3\xB6rk");
    EXPECT_EQ(src_.GetAlbum(), "Homogenic");
    EXPECT_EQ(src_.GetCategory(), "Electronic");
    use = false;
    EXPECT_EQ(src_.GetTitle(), "01 track");
    EXPECT_EQ(src_.GetArtist(), "Bj\xC3\xB6rk") << "only the title follows the setting";
    SetUseId3TitleQuery(nullptr);

    // A title longer than the first buffer arrives whole; a medium that lost
    // its title falls back to the file title.
    const std::string longTitle(1000, 'x');
    setItem(kUserDataTitle, longTitle.c_str());
    ASSERT_EQ(src_.LoadInfo(), 1);
    EXPECT_EQ(src_.GetTitle(), longTitle);
    setItem(kUserDataTitle, nullptr);
    ASSERT_EQ(src_.LoadInfo(), 1);
    EXPECT_EQ(src_.GetTitle(), "01 track");
}

// The text call cuts to the caller's buffer, says the whole length and
// tells a missing item apart.
TEST_F(SourceOverFake, UserDataText_CutsAndReportsMissingItems) {
    fake_.Get<void (*)(uint32_t, const char*)>("tunaraFakeSetUserData")(kUserDataAlbum, "Post");
    Movie movie = nullptr;
    MovieFile file = nullptr;
    TmFileSpec fileRef{};
    ASSERT_EQ(MakeFileSpec("/m/a.ogg", &fileRef), kTmOk);
    ASSERT_EQ(OpenMovieFile(fileRef, &file, 1), kTmOk);
    ASSERT_EQ(MakeMovieFromFile(&movie, file, 1), kTmOk);
    CloseMovieFile(file);
    std::string text = "stale";
    EXPECT_EQ(MovieUserDataText(movie, kUserDataAlbum, &text), kTmOk);
    EXPECT_EQ(text, "Post");
    text = "stale";
    EXPECT_EQ(MovieUserDataText(movie, kUserDataArtist, &text), kTmUserDataNotFound);
    EXPECT_EQ(text, "");
    EXPECT_STREQ(StatusText(kTmUserDataNotFound), "no such user data");
    DisposeMovie(movie);
}

// Media types other than sound name the medium without a sound description.
TEST_F(SourceOverFake, LoadInfo_MediaTypes) {
    auto setSound =
        fake_.Get<void (*)(const TmSoundDescription*, uint32_t, int)>("tunaraFakeSetSound");
    const std::pair<const char*, const char*> types[] = {
        {"MPEG", "MPEG"}, {"musi", "MIDI"}, {"strm", "QT Stream"}, {"text", "Unknown"}};
    for (auto [type, name] : types) {
        TmSoundDescription none{};
        setSound(&none, FourCc(reinterpret_cast<const char(&)[5]>(*type)), 0);
        src_.SetLocation("/m/x.mov");
        ASSERT_EQ(src_.LoadInfo(), 1);
        EXPECT_EQ(src_.GetFormatName(), name);
        EXPECT_EQ(src_.IsStreamed(), std::string(type) == "strm");
    }
}

// A movie the toolbox cannot make says so with the path.
TEST_F(SourceOverFake, DamagedFile_ReportsUnknownFormat) {
    TmSoundDescription none{};
    fake_.Get<void (*)(const TmSoundDescription*, uint32_t, int)>("tunaraFakeSetSound")(&none, 0,
                                                                                        0);
    src_.SetLocation("/m/broken.mov");
    EXPECT_EQ(src_.LoadInfo(), 0);
    const std::optional<UserMessage> error = src_.TakeError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->stringId, strings::kMediaUnknownFormat);
    EXPECT_EQ(error->Formatted(), "/m/broken.mov is in a format the player cannot decode.");
    EXPECT_EQ(src_.Open(), 0);
    EXPECT_TRUE(src_.TakeError());
}

// Open makes the movie, then its controller, in the order the toolbox
// expects; the volume is set before the controller starts the movie.
TEST_F(SourceOverFake, Open_CallOrder) {
    src_.SetLocation("/m/a.aif");
    ASSERT_EQ(src_.Open(), 1);
    std::vector<uint32_t> want = {sel::kMakeFileSpec,
                                  sel::kOpenMovieFile,
                                  sel::kMovieFromFile,
                                  sel::kCloseMovieFile,
                                  sel::kSetMovieVolume,
                                  sel::kMovieBox,
                                  sel::kNewController,
                                  0x10000000u | comp::kSetActionFilter,
                                  0x10000000u | comp::kControllerAction,
                                  sel::kPlayHints};
    std::vector<uint32_t> got;
    for (uint32_t c : Calls())
        if (std::find(want.begin(), want.end(), c) != want.end()) got.push_back(c);
    EXPECT_EQ(got, want);
    EXPECT_FLOAT_EQ(src_.GetVolume(), 1.0f);
    src_.SetVolume(0.5f);
    EXPECT_FLOAT_EQ(src_.GetVolume(), 0.5f);
    src_.Close();
    EXPECT_EQ(fake_.Get<int (*)()>("tunaraFakeLiveMovies")(), 0);
    EXPECT_FLOAT_EQ(src_.GetVolume(), 0.0f);
}

// Transport maps to the controller's play rates; closed, it does nothing.
TEST_F(SourceOverFake, Transport_Rates) {
    src_.Play();
    EXPECT_EQ(LastRate(), 0x7fffffff) << "no controller, no call";
    OpenSource();
    src_.Play();
    EXPECT_EQ(LastRate(), 0x10000);
    src_.FastForward();
    EXPECT_EQ(LastRate(), 0x20000);
    src_.Rewind();
    EXPECT_EQ(LastRate(), -0x20000);
    src_.Stop();
    EXPECT_EQ(LastRate(), 0);
    EXPECT_EQ(fake_.Get<int (*)()>("tunaraFakeMetering")(), 1);
    src_.Seek(1234);
    EXPECT_EQ(src_.GetPosition(), 1234);
    EXPECT_EQ(src_.IsPlaying(), 1);
    fake_.Get<void (*)(int)>("tunaraFakeSetDone")(1);
    EXPECT_EQ(src_.IsPlaying(), 0);
}

// A level that drops to 0 falls off over three reads: 2/3, 1/3, then 0.
TEST_F(SourceOverFake, Levels_FallOffOverThreeReads) {
    OpenSource();
    float l = 0, r = 0;
    SetLevels(2, 255, 51);
    src_.GetLevels(l, r);
    EXPECT_FLOAT_EQ(l, 1.0f);
    EXPECT_FLOAT_EQ(r, 0.2f);
    SetLevels(2, 0, 0);
    const float want[] = {2.0f / 3, 1.0f / 3, 0.0f, 0.0f};
    for (float w : want) {
        src_.GetLevels(l, r);
        EXPECT_NEAR(l, w, 1e-6);
        EXPECT_NEAR(r, w * 0.2f, 1e-6);
    }
    // A newer, lower value does not hide an older, higher one too early.
    SetLevels(2, 255, 255);
    src_.GetLevels(l, r);
    SetLevels(2, 153, 153);
    src_.GetLevels(l, r);
    EXPECT_NEAR(l, 2.0f / 3, 1e-6);
    // Mono: the one channel shows on both sides.
    SetLevels(1, 102, 7);
    src_.GetLevels(l, r);
    EXPECT_NEAR(l, 0.4f, 1e-6);
    EXPECT_NEAR(r, 0.4f, 1e-6);
}

// Sixteen output bands: even ones are measured bands, odd ones lie halfway.
TEST_F(SourceOverFake, Spectrum_SixteenBandsInterpolateEight) {
    OpenSource();
    uint32_t freqs[8];
    ASSERT_EQ(fake_.Get<int (*)(uint32_t*, int)>("tunaraFakeFrequencies")(freqs, 8), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(freqs[i], uint32_t(uint64_t(i) * 44100 * 65536 / 16));

    const uint8_t measured[8] = {255, 0, 102, 204, 51, 0, 0, 255};
    fake_.Get<void (*)(const uint8_t*)>("tunaraFakeSetBands")(measured);
    float bands[16];
    src_.GetSpectrum(bands);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(bands[2 * i], measured[i] / 255.0f, 1e-6) << i;
    for (int i = 0; i < 7; ++i)
        EXPECT_NEAR(bands[2 * i + 1], (measured[i] + measured[i + 1]) / 510.0f, 1e-6) << i;
    EXPECT_NEAR(bands[15], measured[7] / 510.0f, 1e-6) << "beyond the eighth counts 0";

    src_.SetBandCount(4);
    float four[4];
    src_.GetSpectrum(four);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(four[i], measured[2 * i] / 255.0f, 1e-6);
}

// Stream notices become the status line's texts; other notices are ignored.
TEST_F(SourceOverFake, StreamNotices_BecomeStatusLines) {
    std::vector<std::string> lines;
    QuickTimeSource::SetStatusLine([&](const std::string& t) { lines.push_back(t); });
    OpenSource();
    auto queue = fake_.Get<void (*)(int32_t, const char*)>("tunaraFakeQueueNotice");
    queue(0x10 | 0x8 | (5 << 16), "Connection lost");
    queue(0x10, "Bad data");
    queue(0x4, "Buffering 40%");
    queue(0x10, "");
    queue(0x1, "a link");
    src_.Tick();
    QuickTimeSource::SetStatusLine(nullptr);
    const std::vector<std::string> want = {"QT Stream Error: Connection lost (5)",
                                           "QT Stream Error: Bad data",
                                           "QT Stream Status: Buffering 40%"};
    EXPECT_EQ(lines, want);
}

// Without the module every call fails quietly and nothing opens.
TEST(SourceWithoutModule, EverythingFailsQuietly) {
    ASSERT_FALSE(IsLoaded());
    QuickTimeSource s;
    s.SetLocation("/m/a.aif");
    EXPECT_EQ(s.LoadInfo(), 0);
    EXPECT_TRUE(s.TakeError());
    EXPECT_EQ(s.Open(), 0);
    EXPECT_TRUE(s.TakeError());
    s.Play();
    s.Tick();
    float l = 1, r = 1, b[16];
    s.GetLevels(l, r);
    s.SetBandCount(16);
    s.GetSpectrum(b);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(b[3], 0.0f);
    EXPECT_EQ(s.GetPosition(), 0);
    EXPECT_EQ(s.IsPlaying(), 0);
    std::string text = "stale";
    EXPECT_EQ(MovieUserDataText(nullptr, kUserDataTitle, &text), kTmNotLoaded);
    EXPECT_EQ(text, "");
}

}  // namespace
