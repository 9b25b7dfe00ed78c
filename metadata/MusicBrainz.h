#pragma once
// The MusicBrainz side of a disc: its disc id from the table of contents, and
// the releases the web service names for that id.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tunara::musicbrainz {

// From the tracks' start frames and the lead-out, counted with the 150-frame lead-in, the first
// track being number `firstTrack`; empty for a table that cannot be a CD's.
std::string DiscId(const std::vector<uint32_t>& trackOffsets, uint32_t leadout, int firstTrack = 1);

// The disc's media catalogue number and its tracks' ISRCs as the drive reports
// them (empty texts where it does not); `device` is a drive, not an image.
struct DiscCodes {
    std::string mcn;
    std::vector<std::string> isrcs;  // by track, first track first
};
DiscCodes ReadDiscCodes(const std::string& device);

// The service asks every client to name itself with a way to reach its maker.
std::string UserAgent();
inline constexpr std::string_view kDefaultServer = "https://musicbrainz.org";

// The request path of a disc id's releases with their tracks and artists.
std::string LookupPath(std::string_view discId);

// Where a server setting points: "https://host[:port]", "http://host[:port]",
// or "host[:port]" (plain HTTP, as for CDDB servers). False for anything else.
struct Server {
    bool https = false;
    std::string host;
    int port = 80;
};
bool ParseServer(std::string_view text, Server& server);

struct TrackName {
    int number = 0;  // position on the medium: the disc's track number
    std::string title;
    std::string artist;
};

struct Release {
    std::string id;
    std::string title;
    std::string artist;
    std::string date;  // "YYYY", "YYYY-MM" or "YYYY-MM-DD"; may be empty
    std::string country;
    std::vector<TrackName> tracks;
    // "Artist – Title (date, country)" for a list to choose from.
    std::string Label() const;
};

enum class ReplyStatus { Ok, NotJson, NotADiscReply };

// Reads a disc id reply: each release with the medium that holds the disc
// (by its id, else the first medium with `trackCount` tracks); releases
// without such a medium are left out. Texts are valid UTF-8 without control
// characters. `error` explains a status other than Ok.
ReplyStatus ParseDiscReply(std::string_view body, std::string_view discId, int trackCount,
                           std::vector<Release>& releases, std::string& error);

// Spaces requests to the service at least `interval` apart across the whole
// process, as the service asks. Returns false when `cancelled` turned true
// while waiting.
bool WaitForTurn(const std::atomic<bool>& cancelled,
                 std::chrono::milliseconds interval = std::chrono::milliseconds(1000));

}  // namespace tunara::musicbrainz
