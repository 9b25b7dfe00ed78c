// The lookup against a CDDB server on the loopback address serving canned
// replies, hostile ones included.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "FakeCdDisc.h"
#include "metadata/Cddb.h"
#include "metadata/CddbLookup.h"
#include "platform/profile/Profile.h"
#include "support/FakeCddbServer.h"

using namespace tunara;
using namespace tunara::cddb;
using tunara::testing::FakeCddbServer;
using tunara::testing::FakeCdDisc;
using tunara::testing::JsonString;

namespace {

const char* kEntry =
    "210 rock 7a0a2e03 CD database entry follows (until terminating `.')\r\n"
    "# xmcd\r\n"
    "#\r\n"
    "DISCID=7a0a2e03\r\n"
    "DTITLE=Artist Name / Album Name\r\n"
    "DYEAR=1999\r\n"
    "TTITLE0=First\r\n"
    "TTITLE1=Second\r\n"
    "TTITLE2=Third\r\n"
    "EXTD=\r\n"
    ".\r\n";

// {"query": {"body": ...}, "read": {"body": ...}}
std::string Script(const std::string& queryBody, const std::string& readBody = kEntry) {
    return "{\"query\": {\"body\": " + JsonString(queryBody) +
           "}, \"read\": {\"body\": " + JsonString(readBody) + "}}";
}

class CddbLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("cddb-lookup-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        tunara::testing::ClearProxyEnvironment();
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    LookupConfig Config(const std::string& server) {
        LookupConfig c = tunara::testing::LoopbackLookupConfig(folder_ / "cdplayer.ini");
        c.server = server;
        return c;
    }

    // Runs one lookup on this thread; notices are recorded with the texts
    // they announce.
    void RunLookup(const std::string& script) {
        server_ = std::make_unique<FakeCddbServer>(folder_, script);
        RunAgainst(server_->Address());
    }
    void RunAgainst(const std::string& address) {
        lookup_ = std::make_unique<CddbLookup>(disc_);
        lookup_->SetNoticeSink([this](CddbNotice n) {
            std::string text = n == CddbNotice::Status  ? lookup_->StatusText()
                               : n == CddbNotice::Error ? lookup_->ErrorText()
                                                        : "";
            notices_.emplace_back(n, text);
        });
        lookup_->Run(Config(address));
    }

    bool Posted(CddbNotice n) const {
        for (const auto& [notice, text] : notices_)
            if (notice == n) return true;
        return false;
    }
    void ExpectTracksUntouched() {
        for (const auto& t : disc_.Tracks()) {
            EXPECT_EQ(t.title, "Track " + std::to_string(t.number));
            EXPECT_EQ(t.artist, "Unknown");
        }
    }

    std::filesystem::path folder_;
    FakeCdDisc disc_;
    std::unique_ptr<FakeCddbServer> server_;
    std::unique_ptr<CddbLookup> lookup_;
    std::vector<std::pair<CddbNotice, std::string>> notices_;
};

}  // namespace

// The worked example: offsets and length joined by plus signs, no gap; the
// hello names the client; protocol level 6.
TEST(CddbProtocol, QueryCommand_WorkedExample) {
    EXPECT_EQ(QueryCommand(0x0F04AE03, 3, {150, 15000, 45375}, 1198),
              "cddb+query+0f04ae03+3+150+15000+45375+1198");
    EXPECT_EQ(Hello("Test", "h", "KorvanPlayerPC", "1.0"), "Test+h+KorvanPlayerPC+1.0");
    EXPECT_EQ(RequestObject("cmd1", "hello1"), "/~cddb/cddb.cgi?cmd=cmd1&hello=hello1&proto=6");
}

// A server's category or id never adds parameters to the read request.
TEST(CddbProtocol, ReadCommand_EscapesServerText) {
    EXPECT_EQ(ReadCommand("rock", "7a0a2e03"), "cddb+read+rock+7a0a2e03");
    EXPECT_EQ(ReadCommand("a&cmd=x", "1#2"), "cddb+read+a%26cmd%3Dx+1%232");
}

// DTITLE splits at the first " / ", else at the first "/", and loses the
// blanks around it; without one both fields are the whole value.
TEST(CddbProtocol, DiscTitle_Split) {
    std::string artist, album;
    SplitDiscTitle("Artist Name / Album Name", artist, album);
    EXPECT_EQ(artist, "Artist Name");
    EXPECT_EQ(album, "Album Name");
    SplitDiscTitle("AC/DC / Back in Black", artist, album);
    EXPECT_EQ(artist, "AC/DC");
    EXPECT_EQ(album, "Back in Black");
    SplitDiscTitle("Artist/Album / Part 2", artist, album);
    EXPECT_EQ(artist, "Artist/Album");
    EXPECT_EQ(album, "Part 2");
    SplitDiscTitle("Artist/Album", artist, album);
    EXPECT_EQ(artist, "Artist");
    EXPECT_EQ(album, "Album");
    SplitDiscTitle(" Solo ", artist, album);
    EXPECT_EQ(artist, " Solo");
    EXPECT_EQ(album, "Solo ");
}

// The status line's code is its leading digits; none is code 0.
TEST(CddbProtocol, StatusLine_Code) {
    EXPECT_EQ(ParseStatusLine("200 rock 1234 A / B").code, 200);
    EXPECT_EQ(ParseStatusLine("200 rock 1234 A / B").rest, "rock 1234 A / B");
    EXPECT_EQ(ParseStatusLine("<html>").code, 0);
    EXPECT_EQ(ParseStatusLine("").code, 0);
    EXPECT_EQ(ParseStatusLine("99999999999999999999 x").code > 0, true);
    Match m;
    EXPECT_FALSE(ParseMatch("rock", m));
    EXPECT_FALSE(ParseMatch("", m));
    ASSERT_TRUE(ParseMatch("rock 7a0a2e03 Title", m));
    EXPECT_EQ(m.category, "rock");
    EXPECT_EQ(m.discId, "7a0a2e03");
}

// Values over several lines join; TTITLE0 names track 1; keys past the
// disc's tracks, or not numbered, are ignored; UTF-8 lines stay, others are
// Latin-1; escapes are undone.
TEST(CddbProtocol, ReadReply_JoinsAndBounds) {
    ReadReplyParser p(3);
    for (const char* l :
         {"# comment TTITLE0=no", "DTITLE=A Very Long Art", "DTITLE=ist / Alb", "DTITLE=um",
          "TTITLE0=Part one, ", "TTITLE0=part two, ", "TTITLE0=part three", "TTITLE1=Caf\xE9",
          "TTITLE2=Ca\xC3\xA9 \\\\ x\\ny", "TTITLE3=beyond", "TTITLE99999999999=huge",
          "TTITLEx=bad", "ttitle1=lower"})
        EXPECT_TRUE(p.Feed(l));
    EXPECT_FALSE(p.Feed("."));
    EXPECT_FALSE(p.Feed("TTITLE1=after the end"));
    const DiscText t = p.Result();
    EXPECT_EQ(t.artist, "A Very Long Artist");
    EXPECT_EQ(t.album, "Album");
    ASSERT_EQ(t.titles.size(), 3u);
    EXPECT_EQ(t.titles.at(0), "Part one, part two, part three");
    EXPECT_EQ(t.titles.at(1), "Café");
    EXPECT_EQ(t.titles.at(2), "Caé \\ x y");
}

// A server's control characters (C0, DEL, C1) never reach the texts; tabs
// and line breaks become blanks, and the match's category is cleaned too.
TEST(CddbProtocol, ReadReply_DropsControlCharacters) {
    ReadReplyParser p(2);
    EXPECT_TRUE(
        p.Feed("DTITLE=Bad\x1b[2J Band / Al\x7f\xC2\x9b"
               "bum\x07"));
    EXPECT_TRUE(
        p.Feed("TTITLE0=One\ttab\x0b"
               "end"));
    EXPECT_TRUE(p.Feed("TTITLE1=\x1b]0;title\x07Two"));
    const DiscText t = p.Result();
    EXPECT_EQ(t.artist, "Bad[2J Band");
    EXPECT_EQ(t.album, "Album");
    EXPECT_EQ(t.titles.at(0), "One tab end");
    EXPECT_EQ(t.titles.at(1), "]0;titleTwo");
    Match m;
    ASSERT_TRUE(
        ParseMatch("ro\x1b"
                   "ck 7a0a2e03 Title",
                   m));
    EXPECT_EQ(m.category, "rock");
}

// An exact match fills every track, the cache gets the disc, and the window
// hears "Accessing...", "CDDB Match Found", then done.
TEST_F(CddbLookupTest, ExactMatch_FillsTracksAndCache) {
    RunLookup(Script("200 rock 7a0a2e03 Artist Name / Album Name\r\n"));
    const auto tracks = disc_.Tracks();
    EXPECT_EQ(tracks[0].title, "First");
    EXPECT_EQ(tracks[2].title, "Third");
    for (const auto& t : tracks) {
        EXPECT_EQ(t.artist, "Artist Name");
        EXPECT_EQ(t.album, "Album Name");
        EXPECT_EQ(t.category, "rock");
    }
    ASSERT_EQ(notices_.size(), 3u);
    EXPECT_EQ(notices_[0].second, "Accessing CDDB(TM) server: " + server_->Address());
    EXPECT_EQ(notices_[1].second, "CDDB Match Found");
    EXPECT_EQ(notices_[2].first, CddbNotice::Done);

    const auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0],
              "GET /~cddb/cddb.cgi?cmd=cddb+query+7a0a2e03+3+150+15000+45375+1198&hello=Test+"
              "korvan.invalid+KorvanPlayerPC+" +
                  ClientVersion() + "&proto=6 HTTP/1.1");
    EXPECT_NE(requests[1].find("cmd=cddb+read+rock+7a0a2e03&"), std::string::npos);

    std::string value;
    profile::GetString(folder_ / "cdplayer.ini", "2A4B5C", "2", "", value, 257);
    EXPECT_EQ(value, "Third");
    EXPECT_EQ(profile::GetInt(folder_ / "cdplayer.ini", "2A4B5C", "numtracks", -1), 3);
}

// 211 (close matches) and 210 (several exact matches) both read the first
// match offered.
TEST_F(CddbLookupTest, MatchLists_TakeFirst) {
    for (const char* code : {"211 close matches found\r\n", "210 Found exact matches\r\n"}) {
        notices_.clear();
        RunLookup(Script(std::string(code) +
                         "jazz 0a0b0c0d First Offer / X\r\nrock 7a0a2e03 Second / Y\r\n.\r\n"));
        const auto requests = server_->Requests();
        ASSERT_EQ(requests.size(), 2u) << code;
        EXPECT_NE(requests[1].find("cmd=cddb+read+jazz+0a0b0c0d&"), std::string::npos) << code;
        EXPECT_EQ(disc_.Tracks()[1].title, "Second");
        EXPECT_EQ(disc_.Tracks()[1].category, "jazz");
    }
}

// 202 says so and changes nothing: no track text, no cache entry, no error.
TEST_F(CddbLookupTest, NoMatch_WritesNothing) {
    RunLookup(Script("202 No match for disc ID 7a0a2e03.\r\n"));
    ExpectTracksUntouched();
    EXPECT_FALSE(std::filesystem::exists(folder_ / "cdplayer.ini"));
    ASSERT_EQ(notices_.size(), 3u);
    EXPECT_EQ(notices_[1].second, "No CDDB Match Found");
    EXPECT_EQ(notices_[2].first, CddbNotice::Done);
    EXPECT_FALSE(Posted(CddbNotice::Error));
}

// Server refusals become the error text and code, then done; tracks stay.
TEST_F(CddbLookupTest, ServerRefusals_ReportCodeAndText) {
    const std::pair<const char*, const char*> cases[] = {
        {"403 Database entry is corrupt\r\n", "CDDB Database entry is corrupt"},
        {"409 No handshake\r\n", "No CDDB handshake"},
        {"500 Command syntax error\r\n", "Unknown CDDB code"},
        {"<html><body>Not a CDDB server</body></html>\r\n", "Unknown CDDB code"},
        {"", "Unknown CDDB code"},
    };
    for (const auto& [reply, text] : cases) {
        notices_.clear();
        RunLookup(Script(reply));
        EXPECT_EQ(lookup_->ErrorText(), text) << reply;
        EXPECT_EQ(lookup_->ErrorCode(), ParseStatusLine(reply).code) << reply;
        ASSERT_GE(notices_.size(), 2u);
        EXPECT_EQ(notices_[notices_.size() - 2].first, CddbNotice::Error);
        EXPECT_EQ(notices_.back().first, CddbNotice::Done);
        ExpectTracksUntouched();
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "cdplayer.ini"));
}

// The read's own status is checked: an error reply is not parsed as data.
TEST_F(CddbLookupTest, ReadRefused_IsAnError) {
    RunLookup(Script("200 rock 7a0a2e03 A / B\r\n",
                     "401 rock 7a0a2e03 No such CD entry in database.\r\n"
                     "TTITLE0=not data\r\n.\r\n"));
    EXPECT_EQ(lookup_->ErrorCode(), 401);
    EXPECT_EQ(lookup_->ErrorText(), "Unknown CDDB code");
    ExpectTracksUntouched();
}

// A Latin-1 entry and a UTF-8 entry give the same UTF-8 titles; a title
// spread over three lines is whole.
TEST_F(CddbLookupTest, Encodings_AndSplitTitle) {
    const std::string entry =
        "210 rock 7a0a2e03\r\nDTITLE=Bj\xF6rk / Homog\xE9nic\r\nTTITLE0=Caf\xE9\r\n"
        "TTITLE1=A title so long that CDDB spreads it over \r\nTTITLE1=three lines of the entry, "
        "\r\nTTITLE1=and every part counts\r\nTTITLE2=Track with no slash\r\n.\r\n";
    // JsonString() writes bytes >= 0x80 as characters; the server sends them in
    // Latin-1 or in UTF-8.
    for (bool latin1 : {true, false}) {
        RunLookup("{\"query\": {\"body\": \"200 rock 7a0a2e03 x\\r\\n\"}, \"read\": {\"body\": " +
                  JsonString(entry) + (latin1 ? ", \"latin1\": true" : "") + "}}");
        const auto tracks = disc_.Tracks();
        EXPECT_EQ(tracks[0].artist, "Björk");
        EXPECT_EQ(tracks[0].album, "Homogénic");
        EXPECT_EQ(tracks[0].title, "Café");
        EXPECT_EQ(
            tracks[1].title,
            "A title so long that CDDB spreads it over three lines of the entry, and every part "
            "counts");
        EXPECT_EQ(tracks[2].title, "Track with no slash");
    }
}

// A DTITLE without " / " names both artist and album.
TEST_F(CddbLookupTest, DiscTitleWithoutSlash) {
    RunLookup(Script("200 misc 7a0a2e03 x\r\n",
                     "210 misc 7a0a2e03\r\nDTITLE=Various\r\nTTITLE0=One\r\n.\r\n"));
    EXPECT_EQ(disc_.Tracks()[0].artist, "Various");
    EXPECT_EQ(disc_.Tracks()[0].album, "Various");
    EXPECT_EQ(disc_.Tracks()[1].title, "Track 2");  // no TTITLE1: kept
}

// A data track counts on the disc but is not in the list: titles go to the
// tracks by number, and the cache names the count of the disc.
TEST_F(CddbLookupTest, DataTrack_TitlesByNumber) {
    disc_.DropFromList(2);
    RunLookup(Script("200 rock 7a0a2e03 x\r\n"));
    const auto tracks = disc_.Tracks();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[1].number, 3);
    EXPECT_EQ(tracks[1].title, "Third");
    EXPECT_EQ(profile::GetInt(folder_ / "cdplayer.ini", "2A4B5C", "numtracks", -1), 3);
}

// With "UseProxy" the requests go to "ProxyAddr:ProxyPort" and name the
// CDDB server in full; the server's name is never resolved here.
TEST_F(CddbLookupTest, Proxy_CarriesRequests) {
    server_ = std::make_unique<FakeCddbServer>(folder_, Script("200 rock 7a0a2e03 x\r\n"));
    CddbLookup lookup(disc_);
    LookupConfig config = Config("cddb.example.invalid");
    config.useProxy = true;
    config.proxyAddr = "127.0.0.1";
    config.proxyPort = std::to_string(server_->Port());
    lookup.Run(config);
    EXPECT_EQ(lookup.ErrorCode(), 0);
    const auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("GET http://cddb.example.invalid", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find("/~cddb/cddb.cgi?cmd=cddb+query+"), std::string::npos);
    EXPECT_EQ(disc_.Tracks()[0].title, "First");
}

// Hostile or broken servers end the lookup with the error notice (no done,
// nothing changed): not HTTP, an HTTP error, an endless line, an endless
// body, a refused connection.
TEST_F(CddbLookupTest, BrokenServers_EndWithError) {
    const std::pair<std::string, http::Status> cases[] = {
        {"{\"query\": {\"raw\": \"SSH-2.0-OpenSSH\\r\\ngarbage\\r\\n\"}}",
         http::Status::BadResponse},
        {"{\"query\": {\"status\": 404}}", http::Status::BadResponse},
        {"{\"query\": {\"behaviour\": \"endless-line\"}}", http::Status::LineTooLong},
        {"{\"query\": {\"body\": \"200 rock 7a0a2e03 x\\r\\n\"}, \"read\": {\"behaviour\": "
         "\"endless-body\"}}",
         http::Status::BodyTooLarge},
    };
    for (const auto& [script, status] : cases) {
        notices_.clear();
        RunLookup(script);
        EXPECT_EQ(lookup_->ErrorCode(), static_cast<int>(status)) << script;
        EXPECT_EQ(lookup_->ErrorText(), http::StatusText(status));
        ASSERT_FALSE(notices_.empty());
        EXPECT_EQ(notices_.back().first, CddbNotice::Error) << script;
        ExpectTracksUntouched();
    }
    notices_.clear();
    RunAgainst("127.0.0.1:" + std::to_string(tunara::testing::RefusingPort()));
    EXPECT_EQ(lookup_->ErrorCode(), static_cast<int>(http::Status::CannotConnect));
    EXPECT_EQ(notices_.back().first, CddbNotice::Error);
    RunAgainst("");
    EXPECT_EQ(lookup_->ErrorCode(), static_cast<int>(http::Status::BadUrl));
}

// A server that accepts and never answers, or stops in the middle of the
// entry, ends the lookup at the total time-out with the error notice.
TEST_F(CddbLookupTest, SilentServer_TimesOut) {
    for (const std::string script :
         {"{\"query\": {\"behaviour\": \"stall\"}}",
          "{\"query\": {\"body\": \"200 rock 7a0a2e03 x\\r\\n\"}, \"read\": {\"behaviour\": "
          "\"stall-after\", \"body\": \"210 rock 7a0a2e03\\r\\nTTITLE0=Half\\r\\n\"}}"}) {
        notices_.clear();
        server_ = std::make_unique<FakeCddbServer>(folder_, script);
        lookup_ = std::make_unique<CddbLookup>(disc_);
        lookup_->SetNoticeSink([this](CddbNotice n) { notices_.emplace_back(n, ""); });
        LookupConfig config = Config(server_->Address());
        config.http.totalTimeout = std::chrono::milliseconds(800);
        lookup_->Run(config);
        EXPECT_EQ(lookup_->ErrorCode(), static_cast<int>(http::Status::Timeout)) << script;
        EXPECT_EQ(notices_.back().first, CddbNotice::Error);
        ExpectTracksUntouched();
    }
}

// The product waits about 10 s to connect and 30 s in all.
TEST(CddbConfig, ProductTimeouts) {
    LookupConfig c;
    EXPECT_EQ(c.http.connectTimeout, std::chrono::seconds(10));
    EXPECT_EQ(c.http.totalTimeout, std::chrono::seconds(30));
}

// Abandoning a lookup that waits on a silent server (with the product's long
// time-outs) ends its thread promptly; it posts nothing more and changes
// nothing.
TEST_F(CddbLookupTest, Abandon_EndsStalledLookup) {
    server_ = std::make_unique<FakeCddbServer>(folder_, "{\"query\": {\"behaviour\": \"stall\"}}");
    CddbLookup lookup(disc_);
    std::mutex m;
    std::condition_variable cv;
    std::vector<CddbNotice> seen;
    lookup.SetNoticeSink([&](CddbNotice n) {
        std::lock_guard lock(m);
        seen.push_back(n);
        cv.notify_all();
    });
    LookupConfig config = Config(server_->Address());
    config.http = http::Options{};  // 10 s / 30 s
    lookup.Start(config);
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return !seen.empty(); });  // the "Accessing" status
    }
    ASSERT_TRUE(server_->AwaitRequests(1));
    lookup.Abandon();
    EXPECT_FALSE(lookup.Running());
    std::lock_guard lock(m);
    EXPECT_EQ(seen.size(), 1u);
    ExpectTracksUntouched();
}

// Two lookups of one disc never overlap, and the user-interface thread can
// walk the track list while a lookup writes it (run under ThreadSanitizer).
TEST_F(CddbLookupTest, ConcurrentWalks) {
    server_ = std::make_unique<FakeCddbServer>(folder_, Script("200 rock 7a0a2e03 x\r\n"));
    CddbLookup lookup(disc_);
    std::atomic<int> notices{0};
    lookup.SetNoticeSink([&](CddbNotice) { notices++; });
    lookup.Start(Config(server_->Address()));
    lookup.Start(Config(server_->Address()));
    int walks = 0;
    while (lookup.Running()) {
        disc_.EditTracks([&](std::vector<CdTrackText>& tracks) {
            for (auto& t : tracks) walks += static_cast<int>(t.title.size() > 0);
        });
        (void)lookup.StatusText();
    }
    lookup.Wait();
    EXPECT_GT(walks, 0);
    EXPECT_EQ(notices.load(), 6);
    EXPECT_EQ(server_->Requests().size(), 4u);
    EXPECT_EQ(disc_.Tracks()[0].title, "First");
}
