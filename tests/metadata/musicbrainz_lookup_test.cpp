// Titles from the MusicBrainz web service: the JSON reader on hostile input,
// the reply's releases, and lookups against a loopback server.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "FakeCdDisc.h"
#include "metadata/CddbLookup.h"
#include "metadata/Json.h"
#include "metadata/MusicBrainz.h"
#include "platform/profile/Profile.h"
#include "support/FakeCddbServer.h"
#include "support/TempDir.h"

using namespace tunara;
using namespace tunara::cddb;
using tunara::testing::FakeCddbServer;
using tunara::testing::FakeCdDisc;
using tunara::testing::JsonString;

namespace {

const std::string kDiscId = FakeCdDisc().musicBrainzId;

// A release of the fake disc's three tracks; `extra` goes into the first
// track (a track artist, say).
std::string ReleaseJson(const std::string& title, const std::string& date,
                        const std::string& firstTrackExtra = "") {
    return R"({"id": "rel-)" + title + R"(", "title": ")" + title + R"(", "date": ")" + date +
           R"(", "country": "XE",
        "artist-credit": [{"name": "Band", "joinphrase": " & "}, {"artist": {"name": "Friend"}}],
        "media": [
          {"position": 1, "discs": [{"id": "other"}], "tracks": [{"position": 1, "title": "Wrong"}]},
          {"position": 2, "discs": [{"id": ")" +
           kDiscId + R"("}], "tracks": [
            {"position": 1, "title": "Opening")" +
           firstTrackExtra + R"(},
            {"position": 2, "title": "", "recording": {"title": "From the recording"}},
            {"position": 3, "title": "Bj\u00f6rk\u0007 \ud83c\udfb5"}]}]})";
}

std::string Reply(const std::vector<std::string>& releases) {
    std::string list;
    for (const auto& r : releases) list += (list.empty() ? "" : ",") + r;
    return R"({"id": ")" + kDiscId + R"(", "releases": [)" + list + "]}";
}

std::string Path() {
    return "/ws/2/discid/" + kDiscId;
}

}  // namespace

// Garbage ends in a reason, never a crash or a half value; escapes and
// surrogates decode; bytes that are not UTF-8 are replaced.
TEST(JsonReader, HostileInput) {
    json::Value v;
    std::string error;
    for (std::string bad :
         {"", "   ", "{", "[1,]", "{\"a\" 1}", "{\"a\":1,}", "\"open", "\"\\x\"", "\"\\u12\"",
          "tru", "01", "1.", "-", "1e", "[1] 2", "\"tab\there\"", "{1: 2}", "<html>"}) {
        EXPECT_FALSE(json::Parse(bad, v, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(v.GetKind(), json::Value::Kind::Null) << bad;
    }
    EXPECT_FALSE(json::Parse(std::string(100000, '['), v, error));
    EXPECT_NE(error.find("too deep"), std::string::npos);

    ASSERT_TRUE(json::Parse(
        R"( {"s": "a\"\\\/\n\u00e9\ud83c\udfb5\ud800x\udc00", "n": -1.5e2, "big": 1e999,
             "l": [true, false, null, {}], "s": "second"} )",
        v, error))
        << error;
    EXPECT_EQ(v.Find("s")->Str(), "a\"\\/\n\xC3\xA9\xF0\x9F\x8E\xB5\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(v.Find("n")->Number(), -150);
    EXPECT_GT(v.Find("big")->Number(), 1e300);
    EXPECT_EQ(v.Find("l")->Items().size(), 4u);
    EXPECT_EQ(v.Find("missing"), nullptr);
    EXPECT_EQ(v.Find("n")->Str(), "");
    ASSERT_TRUE(json::Parse("\"caf\xE9 \xC3\xA9\"", v, error));
    EXPECT_EQ(v.Str(), "caf\xEF\xBF\xBD \xC3\xA9");
}

// The medium that holds the disc is the one read; track titles fall back to
// the recording's; credits join; control characters go.
TEST(MusicBrainzReply, ReleasesOfTheDisc) {
    std::vector<musicbrainz::Release> releases;
    std::string error;
    const std::string unrelated =
        R"({"title": "Box", "media": [{"discs": [{"id": "x"}], "tracks": [{"title": "a"}]}]})";
    ASSERT_EQ(musicbrainz::ParseDiscReply(
                  Reply({ReleaseJson("Album", "1999-03-01",
                                     R"(, "artist-credit": [{"name": "Guest\u001b[2J"}])"),
                         unrelated}),
                  kDiscId, 3, releases, error),
              musicbrainz::ReplyStatus::Ok);
    ASSERT_EQ(releases.size(), 1u);
    const auto& r = releases[0];
    EXPECT_EQ(r.artist, "Band & Friend");
    EXPECT_EQ(r.Label(), "Band & Friend \u2013 Album (1999-03-01, XE)");
    ASSERT_EQ(r.tracks.size(), 3u);
    EXPECT_EQ(r.tracks[0].title, "Opening");
    EXPECT_EQ(r.tracks[0].artist, "Guest[2J");
    EXPECT_EQ(r.tracks[1].title, "From the recording");
    EXPECT_EQ(r.tracks[1].artist, "Band & Friend");
    EXPECT_EQ(r.tracks[2].title, "Bj\u00f6rk \U0001F3B5");

    EXPECT_EQ(musicbrainz::ParseDiscReply("<html>busy</html>", kDiscId, 3, releases, error),
              musicbrainz::ReplyStatus::NotJson);
    EXPECT_EQ(musicbrainz::ParseDiscReply(R"({"error": "Not Found"})", kDiscId, 3, releases, error),
              musicbrainz::ReplyStatus::NotADiscReply);
    EXPECT_TRUE(releases.empty());
}

TEST(MusicBrainzService, ServerAddressAndRateLimit) {
    musicbrainz::Server s;
    ASSERT_TRUE(musicbrainz::ParseServer("https://musicbrainz.org/", s));
    EXPECT_TRUE(s.https);
    EXPECT_EQ(s.port, 443);
    ASSERT_TRUE(musicbrainz::ParseServer("127.0.0.1:8080", s));
    EXPECT_FALSE(s.https);
    EXPECT_EQ(s.port, 8080);
    EXPECT_FALSE(musicbrainz::ParseServer("http://host/path", s));
    EXPECT_FALSE(musicbrainz::ParseServer("", s));
    EXPECT_EQ(musicbrainz::LookupPath("a.b_c-"),
              "/ws/2/discid/a.b_c-?inc=recordings+artist-credits&fmt=json");

    // Requests from any thread of the process keep their distance.
    std::atomic<bool> cancelled{false};
    const auto interval = std::chrono::milliseconds(150);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(musicbrainz::WaitForTurn(cancelled, interval));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * interval);
    cancelled = true;
    EXPECT_FALSE(musicbrainz::WaitForTurn(cancelled, interval));
}

namespace {

class MusicBrainzLookupTest : public ::testing::Test {
protected:
    void SetUp() override { tunara::testing::ClearProxyEnvironment(); }
    LookupConfig Config(TitleSource source, const std::string& mbServer,
                        const std::string& cddbServer = "127.0.0.1:1") {
        LookupConfig c = tunara::testing::LoopbackLookupConfig(dir_.path / "cdplayer.ini");
        c.source = source;
        c.musicBrainzServer = mbServer;
        c.server = cddbServer;
        return c;
    }
    // {path: action} as the fake server's script.
    void Serve(const std::string& script) {
        server_ = std::make_unique<FakeCddbServer>(dir_.path, script);
    }
    std::string MbAnswer(const std::string& body) {
        return "\"" + Path() + "\": {\"body\": " + JsonString(body) + "}";
    }
    void Run(const LookupConfig& config) {
        notices_.clear();
        lookup_.SetNoticeSink([this](CddbNotice n) {
            notices_.push_back(n == CddbNotice::Error  ? "error: " + lookup_.ErrorText()
                               : n == CddbNotice::Done ? "done"
                                                       : lookup_.StatusText());
        });
        lookup_.Run(config);
    }
    std::string Cached(const std::string& key) {
        std::string value;
        profile::GetString(dir_.path / "cdplayer.ini", "2A4B5C", key, "", value, 257);
        return value;
    }

    tunara::testing::TempDir dir_;
    FakeCdDisc disc_;
    CddbLookup lookup_{disc_};
    std::unique_ptr<FakeCddbServer> server_;
    std::vector<std::string> notices_;
};

}  // namespace

// A MusicBrainz answer fills names and tags and the shared cache; the
// request names the disc id with recordings and credits.
TEST_F(MusicBrainzLookupTest, FillsTracksAndCache) {
    Serve("{" +
          MbAnswer(Reply(
              {ReleaseJson("Album", "1999-03-01", R"(, "artist-credit": [{"name": "Guest"}])")})) +
          "}");
    Run(Config(TitleSource::MusicBrainz, server_->Address()));
    EXPECT_TRUE(lookup_.Found());
    const auto tracks = disc_.Tracks();
    EXPECT_EQ(tracks[0].title, "Opening");
    EXPECT_EQ(tracks[1].title, "From the recording");
    for (const auto& t : tracks) {
        EXPECT_EQ(t.album, "Album");
        EXPECT_EQ(t.artist, "Band & Friend");
        EXPECT_EQ(t.year, "1999");
    }
    EXPECT_EQ(notices_,
              (std::vector<std::string>{"Accessing MusicBrainz server: " + server_->Address(),
                                        std::string(kTextMbMatchFound), "done"}));
    ASSERT_EQ(server_->Requests().size(), 1u);
    EXPECT_EQ(server_->Requests()[0], "GET " + musicbrainz::LookupPath(kDiscId) + " HTTP/1.1");
    EXPECT_TRUE(lookup_.ReleaseChoices().empty());

    // A later start finds the disc in the cache.
    FakeCdDisc again;
    ASSERT_TRUE(ReadCdInfoCache(dir_.path / "cdplayer.ini", again));
    EXPECT_EQ(again.Tracks()[2].title, "Bj\u00f6rk \U0001F3B5");
    EXPECT_EQ(Cached("artist"), "Band & Friend");
}

// With both sources, whichever answers fills the tracks: MusicBrainz first,
// CDDB when MusicBrainz is down or does not know the disc.
TEST_F(MusicBrainzLookupTest, BothSources_EitherAnswers) {
    const int refused = tunara::testing::RefusingPort();
    const std::string down = "127.0.0.1:" + std::to_string(refused);
    Serve("{" + MbAnswer(Reply({ReleaseJson("Album", "2001")})) +
          R"(, "query": {"body": "200 rock 7a0a2e03 C / D\r\n"},
              "read": {"body": "210 rock 7a0a2e03\r\nDTITLE=Cddb Artist / Cddb Album\r\nTTITLE0=From CDDB\r\n.\r\n"}})");

    Run(Config(TitleSource::Both, server_->Address(), down));
    EXPECT_TRUE(lookup_.Found());
    EXPECT_EQ(disc_.Tracks()[0].title, "Opening");
    EXPECT_EQ(lookup_.ErrorCode(), 0);

    Run(Config(TitleSource::Both, down, server_->Address()));
    EXPECT_TRUE(lookup_.Found());
    EXPECT_EQ(disc_.Tracks()[0].title, "From CDDB");
    EXPECT_EQ(lookup_.ErrorCode(), 0);
    EXPECT_EQ(notices_.front(), "Accessing MusicBrainz server: " + down);
    EXPECT_EQ(notices_.back(), "done");

    // Both down (MusicBrainz over TLS): the error is CDDB's, the last asked.
    Run(Config(TitleSource::Both, "https://" + down, down));
    EXPECT_FALSE(lookup_.Found());
    EXPECT_NE(lookup_.ErrorCode(), 0);
}

// Several releases: the first (or the configured one) fills the tracks, the
// others stay on offer once, and choosing one refills tracks and cache.
TEST_F(MusicBrainzLookupTest, SeveralReleases_OfferAChoice) {
    Serve("{" +
          MbAnswer(Reply({ReleaseJson("Original", "1990"), ReleaseJson("Remaster", "2010")})) +
          "}");
    Run(Config(TitleSource::MusicBrainz, server_->Address()));
    EXPECT_EQ(disc_.Tracks()[0].album, "Original");
    EXPECT_EQ(lookup_.ReleaseChoices(),
              (std::vector<std::string>{"Band & Friend \u2013 Original (1990, XE)",
                                        "Band & Friend \u2013 Remaster (2010, XE)"}));
    EXPECT_TRUE(lookup_.TakeChoicePending());
    EXPECT_FALSE(lookup_.TakeChoicePending());

    ASSERT_TRUE(lookup_.ChooseRelease(1));
    EXPECT_EQ(lookup_.ChosenRelease(), 1u);
    EXPECT_EQ(disc_.Tracks()[0].album, "Remaster");
    EXPECT_EQ(disc_.Tracks()[0].year, "2010");
    EXPECT_EQ(Cached("title"), "Remaster");
    EXPECT_FALSE(lookup_.ChooseRelease(2));

    auto config = Config(TitleSource::MusicBrainz, server_->Address());
    config.release = 1;
    Run(config);
    EXPECT_EQ(disc_.Tracks()[0].album, "Remaster");

    // A new disc takes the offer away.
    lookup_.Abandon();
    EXPECT_TRUE(lookup_.ReleaseChoices().empty());
    EXPECT_FALSE(lookup_.ChooseRelease(0));
}

// Garbage and refusals are clear errors that leave the tracks alone; an
// unknown disc is no match, not an error.
TEST_F(MusicBrainzLookupTest, BadReplies_AreClearErrors) {
    Serve("{" + MbAnswer("<html>Service Temporarily Unavailable</html>") + "}");
    Run(Config(TitleSource::MusicBrainz, server_->Address()));
    EXPECT_EQ(lookup_.ErrorText(),
              std::string(kTextMbBadReply) + " (an unexpected character at byte 0)");
    EXPECT_FALSE(lookup_.Found());
    EXPECT_EQ(disc_.Tracks()[0].title, "Track 1");
    EXPECT_FALSE(std::filesystem::exists(dir_.path / "cdplayer.ini"));

    for (const auto& [status, text] :
         {std::pair{404, std::string(kTextMbNoMatch)},
          std::pair{503,
                    std::string("error: The MusicBrainz server refused the request (HTTP 503)")}}) {
        Serve("{\"" + Path() + "\": {\"status\": " + std::to_string(status) + "}}");
        Run(Config(TitleSource::MusicBrainz, server_->Address()));
        EXPECT_EQ(notices_.at(1), text) << status;
        EXPECT_EQ(notices_.back(), "done");
        EXPECT_EQ(disc_.Tracks()[0].title, "Track 1");
    }
}
