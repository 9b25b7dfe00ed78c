#pragma once
// The CD information of a disc: read from the cache file ("cdplayer.ini") or
// looked up on a CDDB server or the MusicBrainz web service on a thread of its
// own, and written into the disc's tracks.
//
// The disc is seen through CdInfoDisc, which the CD code implements; the
// lookup state (status and error texts, the lookup lock, the threads) lives
// in one CddbLookup per disc. A lookup thread holds the lookup lock for its
// whole run, so two lookups of one disc never overlap; it changes the tracks
// only through CdInfoDisc::EditTracks, under the disc's item lock; it reports
// by three notices and never talks to the user itself.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "metadata/MusicBrainz.h"
#include "platform/http/Http.h"

namespace tunara::cddb {

// The texts of one track as the cache and the lookup see them.
struct CdTrackText {
    int number = 0;  // 1-based track number on the disc
    std::string title;
    std::string artist;
    std::string album;
    std::string category;
    std::string year;   // "DYEAR"; empty when unknown
    std::string genre;  // "DGENRE"; empty when unknown
};

class CdInfoDisc {
public:
    virtual ~CdInfoDisc() = default;
    // Facts of the disc read from its table of contents. The lookup takes
    // them once, on the thread that starts it.
    virtual uint32_t DiscId() const = 0;
    virtual int TrackCount() const = 0;         // every track, audio and data
    virtual int DiscLengthSeconds() const = 0;  // lead-out in whole seconds, lead-in included
    virtual std::vector<uint32_t> TrackOffsets() const = 0;  // frames of 1/75 s, lead-in included
    virtual uint64_t MediaIdentity() const = 0;
    // The disc's MusicBrainz disc id; empty when it has none.
    virtual std::string MusicBrainzDiscId() const { return {}; }
    // Held by a lookup for its whole run.
    virtual std::mutex& LookupLock() = 0;
    // Calls `edit` with the texts of the list's tracks, in list order, under
    // the disc's item lock; the texts are stored back into the tracks before
    // the lock is released.
    virtual void EditTracks(const std::function<void(std::vector<CdTrackText>&)>& edit) = 0;
};

// Longest text the cache hands back for one value, in characters.
inline constexpr size_t kCacheTextChars = 256;

// The cache section of a disc: its media identity as "%X".
std::string CacheSection(uint64_t mediaIdentity);

// Fills the tracks from the cache when it holds this disc (its section's
// "numtracks" equals the disc's track count); returns whether it did.
// Values that are not valid UTF-8 (written by another program) are read as
// Latin-1.
bool ReadCdInfoCache(const std::filesystem::path& file, CdInfoDisc& disc);
// Saves the tracks' texts in the disc's section; false when the list is
// empty or the file could not be written. The lookup passes the identity and
// track count it took when it started.
bool WriteCdInfoCache(const std::filesystem::path& file, CdInfoDisc& disc);
bool WriteCdInfoCache(const std::filesystem::path& file, CdInfoDisc& disc, uint64_t mediaIdentity,
                      int trackCount);

// Posted notices: the values of the messages the window receives.
enum class CddbNotice : int {
    Status = 1045,  // status text changed
    Done = 1046,    // lookup finished; track information may have changed
    Error = 1047,   // error text and error code are set
};

// Where titles come from. With both, MusicBrainz is asked first and CDDB when
// it has no answer (no match, or the service cannot be reached).
enum class TitleSource : int { Cddb = 0, MusicBrainz = 1, Both = 2 };

inline constexpr std::string_view kTextMbAccessing = "Accessing MusicBrainz server: %s";
inline constexpr std::string_view kTextMbNoMatch = "No MusicBrainz Match Found";
inline constexpr std::string_view kTextMbMatchFound = "MusicBrainz Match Found";
inline constexpr std::string_view kTextMbBadReply = "The MusicBrainz reply could not be read";
inline constexpr std::string_view kTextMbBadServer = "The MusicBrainz server address is not valid";

// What one lookup needs besides the disc, taken from the settings when it
// starts.
struct LookupConfig {
    TitleSource source = TitleSource::Cddb;
    // "https://host[:port]", "http://host[:port]" or "host[:port]".
    std::string musicBrainzServer = std::string(musicbrainz::kDefaultServer);
    // Which of several MusicBrainz releases fills the tracks (0: the first);
    // the others stay on offer through ReleaseChoices.
    size_t release = 0;
    std::string server;  // "CDDBAddr": "host" (port 80) or "host:port"
    bool useProxy = false;
    std::string proxyAddr;
    std::string proxyPort;
    std::filesystem::path cacheFile;
    std::string userAgent = "Tunara";
    http::Options http;  // time-outs and reply limits
};

class CddbLookup {
public:
    // Called on the lookup thread; posts the notice to the user-interface
    // thread (it must not block on that thread).
    using NoticeSink = std::function<void(CddbNotice)>;

    explicit CddbLookup(CdInfoDisc& disc);
    // Abandons what is running (see Abandon).
    ~CddbLookup();
    CddbLookup(const CddbLookup&) = delete;
    CddbLookup& operator=(const CddbLookup&) = delete;

    // Where notices go; set before the first Start (the window's part).
    void SetNoticeSink(NoticeSink sink);

    // Starts a lookup thread with the disc's facts as they are now. A lookup
    // still running finishes first (the new thread waits for the lookup lock).
    void Start(const LookupConfig& config);
    // Ends every lookup of this disc and waits for their threads: a request
    // in progress is cancelled within a poll interval; an abandoned lookup
    // changes no track, writes no cache and posts nothing more. Call it before
    // the disc's tracks are rebuilt or destroyed (removal, new disc, exit).
    void Abandon();
    // True while a lookup thread has not ended.
    bool Running() const;
    // Waits for every started lookup to end (tests and the terminal front).
    void Wait();

    // True when the last lookup filled the tracks from either source.
    bool Found() const;

    // The releases the last MusicBrainz lookup of this disc offered when it
    // offered more than one, as labels to choose from; empty otherwise.
    std::vector<std::string> ReleaseChoices() const;
    // The index of the release now in the tracks.
    size_t ChosenRelease() const;
    // True once after a lookup that offered several releases (the window asks
    // the user then).
    bool TakeChoicePending();
    // Fills the tracks (and the cache) from another offered release. False
    // when there is no such choice, the disc has changed or a lookup is
    // running.
    bool ChooseRelease(size_t index);

    // Written by the lookup thread before it posts the notice that announces
    // them; read by the window when the notice arrives.
    std::string StatusText() const;
    std::string ErrorText() const;
    int ErrorCode() const;

    // The lookup itself, on the calling thread (the thread body; tests use it
    // directly). `cancel`, when given, abandons it from another thread.
    void Run(const LookupConfig& config, std::shared_ptr<std::atomic<bool>> cancel = nullptr);

private:
    struct Facts;
    enum class Outcome { Found, NoMatch, TransportFailed, ServerFailed, Cancelled };
    void RunWith(const LookupConfig& config, const Facts& facts,
                 const std::shared_ptr<std::atomic<bool>>& cancel);
    Outcome RunCddb(const LookupConfig& config, const Facts& facts,
                    const std::shared_ptr<std::atomic<bool>>& cancel);
    // With `quiet`, a failure becomes a status text rather than an error.
    Outcome RunMusicBrainz(const LookupConfig& config, const Facts& facts,
                           const std::shared_ptr<std::atomic<bool>>& cancel, bool quiet);
    void ApplyRelease(const musicbrainz::Release& release);
    void SetStatus(const std::string& text);
    void SetError(int code, std::string text);
    void Post(CddbNotice notice, const std::atomic<bool>& cancel);
    Facts TakeFacts() const;
    void Reap();

    CdInfoDisc& disc_;

    mutable std::mutex stateMutex_;  // guards the texts, the code and the sink
    std::string statusText_;
    std::string errorText_;
    int errorCode_ = 0;
    bool found_ = false;
    NoticeSink sink_;
    // The offered releases and the disc they belong to.
    std::vector<musicbrainz::Release> releases_;
    size_t chosen_ = 0;
    bool choicePending_ = false;
    uint64_t releasesIdentity_ = 0;
    int releasesTrackCount_ = 0;
    std::filesystem::path releasesCache_;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> cancel;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    mutable std::mutex workersMutex_;
    std::vector<Worker> workers_;
};

}  // namespace tunara::cddb
