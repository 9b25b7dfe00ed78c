#pragma once
// The CDDB protocol as spoken over HTTP: the commands a lookup sends and the
// parsing of the replies it gets. No I/O here; the lookup (CddbLookup.h)
// feeds reply lines in.
//
// Replies are requested at protocol level 6, which sends UTF-8. A reply line
// that is not valid UTF-8 (an old server, a hand-edited entry) is read as
// Latin-1, so all text leaving this file is UTF-8.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tunara::cddb {

inline constexpr int kProtocolLevel = 6;
inline constexpr std::string_view kCgiPath = "/~cddb/cddb.cgi";
inline constexpr int kDefaultPort = 80;
inline constexpr std::string_view kHelloUser = "Test";
inline constexpr std::string_view kHelloHost = "korvan.invalid";
inline constexpr std::string_view kClientName = "KorvanPlayerPC";
inline constexpr std::string_view kDefaultClientVersion = "1.0";

// Reply codes a lookup acts on.
enum ReplyCode : int {
    kExactMatch = 200,      // query: one match on the first line
    kExactMatches = 210,    // query: a list of exact matches follows; read: entry follows
    kInexactMatches = 211,  // query: a list of close matches follows
    kNoMatch = 202,
    kEntryCorrupt = 403,
    kNoHandshake = 409,
};

// Texts of the lookup's outcomes, shown as they stand.
inline constexpr std::string_view kTextAccessing = "Accessing CDDB(TM) server: %s";
inline constexpr std::string_view kTextNoMatch = "No CDDB Match Found";
inline constexpr std::string_view kTextMatchFound = "CDDB Match Found";
inline constexpr std::string_view kTextCorrupt = "CDDB Database entry is corrupt";
inline constexpr std::string_view kTextNoHandshake = "No CDDB handshake";
inline constexpr std::string_view kTextUnknownCode = "Unknown CDDB code";
inline constexpr std::string_view kTextBadMatch = "Invalid CDDB match line";

// The error text for a reply code that ends a lookup (403, 409, any other).
std::string_view ErrorTextFor(int code);

// The product version sent in the hello ("1.0" when the build has none).
std::string ClientVersion();

// "cddb+query+<id %08x>+<count>+<offset>+...+<length s>"
std::string QueryCommand(uint32_t discId, int trackCount,
                         const std::vector<uint32_t>& offsetsFrames, int discLengthSeconds);
// "cddb+read+<category>+<id>", both URL-escaped: they come from the server.
std::string ReadCommand(std::string_view category, std::string_view discId);
// "<user>+<host>+<client>+<version>", each URL-escaped.
std::string Hello(std::string_view user = kHelloUser, std::string_view host = kHelloHost,
                  std::string_view client = kClientName, std::string_view version = {});
// "<cgiPath>?cmd=<command>&hello=<hello>&proto=6"
std::string RequestObject(std::string_view command, std::string_view hello,
                          std::string_view cgiPath = kCgiPath);

// The code before the first space of a reply's first line (leading digits
// only; 0 when there are none) and the text after that space.
struct StatusLine {
    int code = 0;
    std::string rest;
};
StatusLine ParseStatusLine(std::string_view line);

// "<category> <discid> <title...>" of a query match. False when either of the
// first two fields is missing.
struct Match {
    std::string category;
    std::string discId;
};
bool ParseMatch(std::string_view text, Match& match);

// A reply line as UTF-8 (see above), without a trailing "\r".
std::string DecodeLine(std::string_view line);

// What a read reply says about a disc.
struct DiscText {
    bool hasDiscTitle = false;
    std::string artist;
    std::string album;
    std::string year;   // DYEAR
    std::string genre;  // DGENRE
    // Track index (0 = track 1) to title; indices past the disc's tracks are
    // dropped.
    std::map<int, std::string> titles;
};

// Reads the data lines of a read reply (after its status line), one at a
// time, until the "." line. Values spread over several lines with the same
// key are joined; "\n", "\t" and "\\" in titles are unescaped (line breaks and
// tabs become spaces). Control characters never reach the result.
class ReadReplyParser {
public:
    explicit ReadReplyParser(int trackCount) : trackCount_(trackCount) {}
    // Returns false once the terminating "." has been seen (further lines are
    // ignored).
    bool Feed(std::string_view rawLine);
    bool Ended() const { return ended_; }
    // The joined values, DTITLE split into artist and album.
    DiscText Result() const;

private:
    int trackCount_;
    bool ended_ = false;
    bool hasDiscTitle_ = false;
    std::string discTitle_;
    std::string year_;
    std::string genre_;
    std::map<int, std::string> titles_;
};

// Splits a DTITLE value at its first " / " (or, without one, its first "/"):
// artist before it without trailing blanks, album after it without leading
// blanks; without a "/" both are the whole value, trimmed the same way.
void SplitDiscTitle(std::string_view value, std::string& artist, std::string& album);

}  // namespace tunara::cddb
