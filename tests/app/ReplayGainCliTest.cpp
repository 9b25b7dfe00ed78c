// ReplayGain through the terminal player, captured with TUNARA_AUDIO=file:
// the gains each tag family gives, album mode across two items of one album,
// clipping prevention, and the values `info` shows; `gain` measuring and
// writing them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestTools.h"
#include "metadata/ReplayGain.h"
#include "support/CdImage.h"

namespace fs = std::filesystem;
using namespace tunara;

namespace {

const std::string kCli = std::string(TUNARA_BINARY_DIR) + "/app/tunara-cli";

int Shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Output(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    char b[4096];
    for (size_t n; p && (n = std::fread(b, 1, sizeof b, p)) > 0;) out.append(b, n);
    if (p) ::pclose(p);
    return out;
}

std::vector<int16_t> Capture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> s(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
    if (!s.empty()) std::memcpy(s.data(), bytes.data() + 44, s.size() * 2);
    return s;
}

// The level in dB of samples [from, to) of `b` against the same span of `a`.
double GainDb(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t from,
              size_t to) {
    double ea = 0, eb = 0;
    for (size_t i = from; i < to && i < a.size() && i < b.size(); ++i)
        ea += double(a[i]) * a[i], eb += double(b[i]) * b[i];
    return 10 * std::log10(eb / ea);
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The frames of a file's ID3v2.3/2.4 tag, each whole, and the bytes after the tag.
std::pair<std::vector<std::string>, std::string> Id3Frames(const std::string& path) {
    const std::string f = Slurp(path);
    auto b = [&f](size_t i) { return uint32_t(uint8_t(f[i])); };
    if (f.size() < 10 || f.compare(0, 3, "ID3") != 0) return {{}, f};
    const size_t end = 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9));
    std::vector<std::string> frames;
    for (size_t at = 10; at + 10 <= end && f[at] != 0;) {
        const size_t n = f[3] == 4
                             ? (b(at + 4) << 21 | b(at + 5) << 14 | b(at + 6) << 7 | b(at + 7))
                             : (b(at + 4) << 24 | b(at + 5) << 16 | b(at + 6) << 8 | b(at + 7));
        frames.push_back(f.substr(at, 10 + n));
        at += 10 + n;
    }
    return {frames, f.substr(std::min(end, f.size()))};
}

// ffmpeg's integrated loudness (LUFS) and true peak (linear) of a file.
std::pair<double, double> FfmpegLoudness(const std::string& path, const std::string& dir) {
    const std::string log = dir + "/r128.txt";
    Shell("ffmpeg -nostats -loglevel error -i " + path +
          " -af ebur128=peak=true:metadata=1,ametadata=mode=print:file=" + log + " -f null -");
    double lufs = NAN, peak = NAN;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("lavfi.r128.I=", 0) == 0) lufs = std::stod(line.substr(13));
        if (line.rfind("lavfi.r128.true_peak=", 0) == 0) peak = std::stod(line.substr(21));
    }
    return {lufs, peak};
}

std::string Be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string Le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string Box(const std::string& type, const std::string& body) {
    return Be32(uint32_t(8 + body.size())) + type + body;
}

// An MP4 file with a "----" iTunes item appended to its movie box (last in
// the files ffmpeg writes, so no chunk offset moves).
void AddMp4Item(const std::string& path, const std::string& name, const std::string& value) {
    std::string f = Slurp(path);
    const size_t moov = f.rfind("moov") - 4;
    ASSERT_EQ(Be32(uint32_t(f.size() - moov)), f.substr(moov, 4)) << "moov is not last";
    const std::string item = Box("----", Box("mean", std::string(4, 0) + "com.apple.iTunes") +
                                             Box("name", std::string(4, 0) + name) +
                                             Box("data", Be32(1) + Be32(0) + value));
    const std::string hdlr = Box("hdlr", std::string(8, 0) + "mdirappl" + std::string(9, 0));
    f += Box("udta", Box("meta", std::string(4, 0) + hdlr + Box("ilst", item)));
    f.replace(moov, 4, Be32(uint32_t(f.size() - moov)));
    std::ofstream(path, std::ios::binary) << f;
}

// Sets the output gain of an Ogg Opus file's header (Q7.8 dB), page checksum included.
void SetOpusOutputGain(const std::string& path, int16_t q78) {
    std::string f = Slurp(path);
    const size_t head = f.find("OpusHead");
    ASSERT_NE(head, std::string::npos);
    f[head + 16] = char(q78 & 0xFF), f[head + 17] = char(uint16_t(q78) >> 8);
    const size_t segments = uint8_t(f[26]);
    size_t page = 27 + segments;
    for (size_t i = 0; i < segments; ++i) page += uint8_t(f[27 + i]);
    f.replace(22, 4, std::string(4, 0));
    uint32_t crc = 0;
    for (size_t i = 0; i < page; ++i) {
        crc ^= uint32_t(uint8_t(f[i])) << 24;
        for (int k = 0; k < 8; ++k) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
    }
    f.replace(22, 4, Le32(crc));
    std::ofstream(path, std::ios::binary) << f;
}

class ReplayGainCli : public ::testing::Test {
protected:
    void SetUp() override {
        TUNARA_SKIP_IF_MISSING(Shell("command -v sox lame >/dev/null 2>&1") != 0, "sox, lame");
        char tmpl[] = "/tmp/tunara-rg-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        env_ = "XDG_CONFIG_HOME=" + dir_ + "/config ";
        ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 " + dir_ +
                        "/tone.wav synth 2 sine 440 vol 0.3 2>/dev/null"),
                  0);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    // An MP3 of the tone with these TXXX frames.
    std::string Mp3(const std::string& name, const std::vector<std::string>& txxx) {
        std::string cmd = "lame --quiet --noreplaygain -b 192 --tv TALB=Same";
        for (const auto& t : txxx) cmd += " --tv 'TXXX=" + t + "'";
        cmd += " " + dir_ + "/tone.wav " + dir_ + "/" + name;
        EXPECT_EQ(Shell(cmd), 0);
        return dir_ + "/" + name;
    }
    std::vector<int16_t> Play(const std::string& options, const std::string& files) {
        const std::string out = dir_ + "/out" + std::to_string(++plays_) + ".wav";
        EXPECT_EQ(Shell(env_ + "TUNARA_AUDIO=file:" + out + " " + kCli + " play " + options + " " +
                        files + " </dev/null >/dev/null"),
                  0);
        return Capture(out);
    }
    std::string dir_, env_;
    int plays_ = 0;
};

TEST_F(ReplayGainCli, TrackAlbumAndClippingPreventionAsHeard) {
    const std::string a =
        Mp3("a.mp3", {"REPLAYGAIN_TRACK_GAIN=-6.00 dB", "REPLAYGAIN_ALBUM_GAIN=-3.50 dB"});
    const std::string b =
        Mp3("b.mp3", {"replaygain_track_gain=-2.00 dB", "replaygain_album_gain=-3.50 dB"});
    const auto plain = Play("--replaygain off", a + " " + b);
    ASSERT_GT(plain.size(), 2u * 44100 * 3);  // two items of 2 s, stereo
    const size_t second = plain.size() / 2;   // both items are the same length
    const size_t margin = 2 * 4410;           // away from the join and the ends
    const auto track = Play("--replaygain track", a + " " + b);
    EXPECT_NEAR(GainDb(plain, track, margin, second - margin), -6.0, 0.01);
    EXPECT_NEAR(GainDb(plain, track, second + margin, plain.size() - margin), -2.0, 0.01);
    // Album mode, and automatic mode on two neighbours of one album.
    for (const char* mode : {"album", "auto"}) {
        const auto album = Play(std::string("--replaygain ") + mode, a + " " + b);
        EXPECT_NEAR(GainDb(plain, album, margin, second - margin), -3.5, 0.01) << mode;
        EXPECT_NEAR(GainDb(plain, album, second + margin, plain.size() - margin), -3.5, 0.01)
            << mode;
    }
    // +6 dB on a peak of 1.5 would clip: the gain keeps the peak at full scale.
    const std::string c =
        Mp3("c.mp3", {"REPLAYGAIN_TRACK_GAIN=+6.00 dB", "REPLAYGAIN_TRACK_PEAK=1.5"});
    const auto plainC = Play("", c);
    const auto held = Play("--replaygain track --preamp 0", c);
    EXPECT_NEAR(GainDb(plainC, held, margin, plainC.size() - margin), 20 * std::log10(1 / 1.5),
                0.01);
    EXPECT_EQ(Shell(env_ + kCli + " play --replaygain loud " + c + " 2>/dev/null"), 2);
}

TEST_F(ReplayGainCli, InfoShowsEachTagFamily) {
    const std::string a =
        Mp3("a.mp3", {"REPLAYGAIN_TRACK_GAIN=-6.00 dB", "REPLAYGAIN_TRACK_PEAK=0.3"});
    EXPECT_NE(Output(kCli + " info " + a).find("replaygain track: -6.00 dB, peak 0.300000"),
              std::string::npos);
    if (Shell("command -v ffmpeg >/dev/null 2>&1") != 0) return;
    const std::string tone = dir_ + "/tone.wav";
    struct Case {
        std::string file, metadata, expect;
    };
    const std::vector<Case> cases = {
        {"t.flac", "-metadata REPLAYGAIN_ALBUM_GAIN='-7.25 dB'", "replaygain album: -7.25 dB"},
        {"t.ogg", "-metadata replaygain_track_gain='+1.5 dB'", "replaygain track: +1.50 dB"},
        {"t.opus", "-c:a libopus -metadata R128_TRACK_GAIN=-1280", "replaygain track: +0.00 dB"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Shell("ffmpeg -loglevel error -y -i " + tone + " " + c.metadata + " " + dir_ +
                        "/" + c.file),
                  0);
        EXPECT_NE(Output(kCli + " info " + dir_ + "/" + c.file).find(c.expect), std::string::npos)
            << c.file;
    }
}

// Loudness and true peak as ffmpeg measures them; tags read back by ffprobe
// and by our reader, every other frame and the audio kept byte for byte.
TEST_F(ReplayGainCli, GainMeasuresAndWritesTagsKeepingTheRest) {
    TUNARA_SKIP_IF_MISSING(Shell("command -v ffmpeg ffprobe >/dev/null 2>&1") != 0, "ffmpeg");
    // Music-like material: a plucked chord with tremolo, then noise and a sweep.
    ASSERT_EQ(Shell("cd " + dir_ +
                    " && sox -n -r 44100 -c 2 -b 16 m1.wav synth 6 pluck C3 pluck G3 tremolo 3 60 "
                    "vol 0.6 2>/dev/null && sox -n -r 44100 -c 2 -b 16 m2.wav synth 4 pinknoise "
                    "vol 0.2 : synth 3 sine 100-3000 vol 0.9 2>/dev/null && ffmpeg -loglevel error "
                    "-i m2.wav -metadata TITLE=Two -metadata REPLAYGAIN_TRACK_GAIN='+9.99 dB' "
                    "m2.flac"),
              0);
    const std::string mp3 = dir_ + "/m1.mp3", flac = dir_ + "/m2.flac";
    ASSERT_EQ(Shell("lame --quiet -b 192 --tt One --tv TXXX=MOOD=calm --tv "
                    "'TXXX=replaygain_track_gain=+9.99 dB' " +
                    dir_ + "/m1.wav " + mp3),
              0);
    const auto before = Id3Frames(mp3);
    const std::string out = Output(kCli + " gain --album " + mp3 + " " + flac);
    const auto after = Id3Frames(mp3);

    std::vector<ReplayGainValues> read;
    for (const std::string& file : {mp3, flac}) {
        const auto [lufs, peak] = FfmpegLoudness(file, dir_);
        const ReplayGainValues v = ReadReplayGain(file);
        EXPECT_NEAR(v.trackGain, -18 - lufs, 0.1) << file;
        EXPECT_NEAR(20 * std::log10(v.trackPeak / peak), 0, 0.1) << file;
        EXPECT_NE(out.find(file + ": track " + GainText(v.trackGain)), std::string::npos) << out;
        read.push_back(v);
        const std::string probe = Output(
            "ffprobe -loglevel error -show_entries format_tags -of "
            "compact " +
            file);
        EXPECT_NE(probe.find("REPLAYGAIN_TRACK_GAIN=" + GainText(v.trackGain)), std::string::npos)
            << probe;
        EXPECT_NE(probe.find("REPLAYGAIN_ALBUM_PEAK=" + PeakText(v.albumPeak)), std::string::npos)
            << probe;
        EXPECT_EQ(probe.find("9.99"), std::string::npos) << "the old value is replaced";
    }
    // One album value for both, between the two, with the higher peak.
    EXPECT_EQ(read[0].albumGain, read[1].albumGain);
    EXPECT_LT(read[0].albumGain, read[0].trackGain);
    EXPECT_GT(read[0].albumGain, read[1].trackGain);
    EXPECT_EQ(read[1].albumPeak, std::max(read[0].trackPeak, read[1].trackPeak));

    std::vector<std::string> kept;
    for (const auto& frame : after.first)
        if (frame.find("REPLAYGAIN_") == std::string::npos) kept.push_back(frame);
    std::vector<std::string> old;
    for (const auto& frame : before.first)
        if (frame.find(std::string("r\0e\0p\0l\0a\0y\0g", 13)) == std::string::npos)
            old.push_back(frame);  // lame writes UTF-16
    EXPECT_EQ(kept, old);
    EXPECT_EQ(after.first.size(), old.size() + 4);
    EXPECT_TRUE(after.second == before.second) << "the audio is unchanged";
    EXPECT_TRUE(Output("ls -A " + dir_ + " | grep '^\\.'").empty()) << "no file left behind";

    // A tag it does not rewrite leaves the file as it was, and says so.
    std::string odd = Slurp(mp3);
    odd[5] = char(0x80);  // unsynchronised
    std::ofstream(mp3, std::ios::binary) << odd;
    EXPECT_EQ(Shell(kCli + " gain " + mp3 + " >/dev/null 2>&1"), 1);
    EXPECT_TRUE(Slurp(mp3) == odd);
}

// A rip tags every MP3 and FLAC file with its track values and, once the set
// is done, with the set's album values; the ID3v1 record of an MP3 stays.
TEST_F(ReplayGainCli, RipWritesTrackAndAlbumGain) {
    TUNARA_SKIP_IF_MISSING(Shell("command -v ffmpeg ffprobe >/dev/null 2>&1") != 0, "ffmpeg");
    const tunara::testing::CdImage image = tunara::testing::MakeCdImage(dir_ + "/img", {100, 90}, {150, 2000});
    const std::string rip = "XDG_CONFIG_HOME=" + dir_ + "/config TMPDIR=" + dir_ +
                            " TUNARA_CD_IMAGES=" + image.cue + " " + kCli + " rip 1,2 --to ";
    ASSERT_EQ(Shell(rip + dir_ + "/flac --encoder flac >/dev/null"), 0);
    ASSERT_EQ(Shell(rip + dir_ + "/mp3 --encoder fast >/dev/null"), 0);
    const std::string name = "/Unknown - Unknown - Track ";
    for (const std::string set : {"/flac", "/mp3"}) {
        const std::string ext = set == "/flac" ? ".flac" : ".mp3";
        const std::string one = dir_ + set + name + "1" + ext, two = dir_ + set + name + "2" + ext;
        const ReplayGainValues a = ReadReplayGain(one), b = ReadReplayGain(two);
        for (const auto& [file, v] : {std::pair{one, a}, std::pair{two, b}}) {
            EXPECT_NEAR(v.trackGain, -18 - FfmpegLoudness("'" + file + "'", dir_).first, 0.1)
                << file;
            EXPECT_NE(Output("ffprobe -loglevel error -show_entries format_tags '" + file + "'")
                          .find("REPLAYGAIN_ALBUM_GAIN=" + GainText(v.albumGain)),
                      std::string::npos)
                << file;
        }
        // The low tone weighs less: the two tracks differ, and the album lies between them.
        EXPECT_GT(a.trackGain, b.trackGain + 1);
        EXPECT_EQ(a.albumGain, b.albumGain);
        EXPECT_LT(a.albumGain, a.trackGain);
        EXPECT_GT(a.albumGain, b.trackGain);
        EXPECT_EQ(a.albumPeak, std::max(a.trackPeak, b.trackPeak));
    }
    const std::string mp3 = Slurp(dir_ + "/mp3" + name + "1.mp3");
    EXPECT_EQ(mp3.compare(mp3.size() - 128, 3, "TAG"), 0);
}

// Each tag family's track gain, as heard: ID3v2 RVA2, APEv2, Vorbis comments
// (FLAC), Opus R128, MP4 iTunes items and the LAME extension.
TEST_F(ReplayGainCli, EachTagFamilyAsHeard) {
    TUNARA_SKIP_IF_MISSING(Shell("command -v ffmpeg >/dev/null 2>&1") != 0, "ffmpeg");
    const std::string tone = dir_ + "/tone.wav";
    auto make = [&](const std::string& name, const std::string& command) {
        EXPECT_EQ(Shell(command + " >/dev/null 2>&1"), 0) << command;
        return dir_ + "/" + name;
    };
    auto ffmpeg = [&](const std::string& name, const std::string& options) {
        return make(name, "ffmpeg -y -i " + tone + " " + options + " " + dir_ + "/" + name);
    };
    auto lame = [&](const std::string& name, const std::string& options) {
        return make(name, "lame --quiet " + options + " " + tone + " " + dir_ + "/" + name);
    };
    struct Case {
        std::string file;
        double db;
    };
    std::vector<Case> cases;
    std::vector<int16_t> opus;

    // RVA2 "track", master volume: -7.5 dB in 1/512 dB steps, no peak.
    std::string rva2 = lame("rva2.mp3", "--noreplaygain -b 128");
    const std::string frame = std::string("track") + '\0' + '\1' + char(0xF1) + char(0x00) + '\0';
    const std::string body = "RVA2" + std::string{0, 0, 0, char(frame.size()), 0, 0} + frame;
    const std::string tag = std::string("ID3\4\0\0", 6) + std::string{0, 0, 0, char(body.size())};
    std::ofstream(rva2 + ".tagged", std::ios::binary) << tag + body + Slurp(rva2);
    cases.push_back({rva2 + ".tagged", -7.5});

    // APEv2 at the end.
    const std::string ape = lame("ape.mp3", "--noreplaygain -b 128");
    const std::string value = "-4.25 dB", key = "REPLAYGAIN_TRACK_GAIN";
    const std::string item = Le32(uint32_t(value.size())) + Le32(0) + key + '\0' + value;
    std::ofstream(ape, std::ios::binary | std::ios::app)
        << item + "APETAGEX" + Le32(2000) + Le32(uint32_t(item.size() + 32)) + Le32(1) + Le32(0) +
               std::string(8, 0);
    cases.push_back({ape, -4.25});

    cases.push_back({ffmpeg("t.flac", "-metadata REPLAYGAIN_TRACK_GAIN='-3.10 dB'"), -3.1});
    // Q7.8 against -23 LUFS: -2560 is -10 dB there, -5 dB against -18.
    cases.push_back({ffmpeg("t.opus", "-c:a libopus -metadata R128_TRACK_GAIN=-2560"), -5.0});

    const std::string m4a = ffmpeg("t.m4a", "-c:a aac -b:a 128k");
    AddMp4Item(m4a, "replaygain_track_gain", "-2.75 dB");
    cases.push_back({m4a, -2.75});

    // LAME's own analysis, as it reports it ("ReplayGain: -8.8dB").
    const std::string said =
        Output("lame --replaygain-accurate -b 128 " + tone + " " + dir_ + "/lame.mp3 2>&1");
    const size_t at = said.find("ReplayGain: ");
    ASSERT_NE(at, std::string::npos) << said;
    cases.push_back({dir_ + "/lame.mp3", std::stod(said.substr(at + 12))});

    for (const Case& c : cases) {
        const auto plain = Play("--replaygain off", c.file);
        if (c.file.find("opus") != std::string::npos) opus = plain;
        const auto heard = Play("--replaygain track", c.file);
        ASSERT_GT(plain.size(), 4u * 4410) << c.file;
        EXPECT_NEAR(GainDb(plain, heard, 4410, plain.size() - 4410), c.db, 0.01) << c.file;
    }

    // Opus's output gain is the decoder's to apply, once. A file normalised
    // into it has no R128_ALBUM_GAIN: album mode then shifts only the reference.
    const std::string normalised = ffmpeg("n.opus", "-c:a libopus -metadata R128_TRACK_GAIN=-512");
    SetOpusOutputGain(normalised, -6 * 256);
    const auto plain = Play("--replaygain off", normalised);
    EXPECT_NEAR(GainDb(opus, plain, 4410, plain.size() - 4410), -6.0, 0.01);
    const auto album = Play("--replaygain album", normalised);
    EXPECT_NEAR(GainDb(plain, album, 4410, plain.size() - 4410), 5.0, 0.01);
    EXPECT_NE(Output(kCli + " info " + normalised).find("opus output gain: -6.00 dB"),
              std::string::npos);
}

}  // namespace
