#include "metadata/CddbLookup.h"

#include <cstdio>
#include <utility>

#include "metadata/Cddb.h"
#include "metadata/TextCodec.h"
#include "platform/profile/Profile.h"

namespace tunara::cddb {

std::string CacheSection(uint64_t mediaIdentity) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(mediaIdentity));
    return text;
}

bool ReadCdInfoCache(const std::filesystem::path& file, CdInfoDisc& disc) {
    profile::ProfileFile p;
    if (!profile::Load(file, p)) return false;
    const std::string section = CacheSection(disc.MediaIdentity());
    const int n = p.GetInt(section, "numtracks", -1);
    if (n != disc.TrackCount()) return false;
    auto get = [&](std::string_view key) {
        std::string value;
        p.GetString(section, key, "", value, kCacheTextChars + 1);
        // An entry written by an older version may hold a server's control characters.
        return text::DropControls(text::Utf8OrLatin1(value));
    };
    const std::string artist = get("artist");
    const std::string album = get("title");
    const std::string category = get("category");
    const std::string year = get("year");
    const std::string genre = get("genre");
    disc.EditTracks([&](std::vector<CdTrackText>& tracks) {
        // An empty value knows less than what the tracks hold (CD-Text, "Track N").
        auto keep = [](std::string& field, std::string value) {
            if (!value.empty()) field = std::move(value);
        };
        for (auto& t : tracks) {
            keep(t.artist, artist);
            keep(t.album, album);
            keep(t.category, category);
            keep(t.year, year);
            keep(t.genre, genre);
            keep(t.title, get(std::to_string(t.number - 1)));
        }
    });
    return true;
}

bool WriteCdInfoCache(const std::filesystem::path& file, CdInfoDisc& disc) {
    return WriteCdInfoCache(file, disc, disc.MediaIdentity(), disc.TrackCount());
}

bool WriteCdInfoCache(const std::filesystem::path& file, CdInfoDisc& disc, uint64_t mediaIdentity,
                      int count) {
    std::vector<CdTrackText> tracks;
    disc.EditTracks([&](std::vector<CdTrackText>& t) { tracks = t; });
    if (tracks.empty()) return false;
    const std::string section = CacheSection(mediaIdentity);
    return profile::Edit(file, [&](profile::ProfileFile& p) {
        p.WriteString(section, "artist", tracks.front().artist);
        p.WriteString(section, "title", tracks.front().album);
        p.WriteString(section, "category", tracks.front().category);
        if (!tracks.front().year.empty()) p.WriteString(section, "year", tracks.front().year);
        if (!tracks.front().genre.empty()) p.WriteString(section, "genre", tracks.front().genre);
        p.WriteInt(section, "numtracks", count);
        for (const auto& t : tracks) p.WriteString(section, std::to_string(t.number - 1), t.title);
    });
}

struct CddbLookup::Facts {
    uint32_t discId = 0;
    int trackCount = 0;
    int lengthSeconds = 0;
    std::vector<uint32_t> offsets;
    uint64_t mediaIdentity = 0;
    std::string musicBrainzId;
};

CddbLookup::CddbLookup(CdInfoDisc& disc) : disc_(disc) {}

CddbLookup::~CddbLookup() {
    Abandon();
}

void CddbLookup::SetNoticeSink(NoticeSink sink) {
    std::lock_guard lock(stateMutex_);
    sink_ = std::move(sink);
}

CddbLookup::Facts CddbLookup::TakeFacts() const {
    Facts f;
    f.discId = disc_.DiscId();
    f.trackCount = disc_.TrackCount();
    f.lengthSeconds = disc_.DiscLengthSeconds();
    f.offsets = disc_.TrackOffsets();
    f.mediaIdentity = disc_.MediaIdentity();
    f.musicBrainzId = disc_.MusicBrainzDiscId();
    return f;
}

void CddbLookup::Reap() {
    // Joins threads that have ended; the caller holds workersMutex_.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->finished->load()) {
            if (it->thread.joinable()) it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CddbLookup::Start(const LookupConfig& config) {
    Facts facts = TakeFacts();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(workersMutex_);
    Reap();
    std::thread t([this, config, facts = std::move(facts), cancel, finished] {
        RunWith(config, facts, cancel);
        finished->store(true);
    });
    workers_.push_back(Worker{std::move(t), cancel, finished});
}

void CddbLookup::Abandon() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(workersMutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers) w.cancel->store(true);
    for (auto& w : workers)
        if (w.thread.joinable()) w.thread.join();
    // The offered releases belong to the disc that is going away.
    std::lock_guard lock(stateMutex_);
    releases_.clear();
    choicePending_ = false;
}

bool CddbLookup::Running() const {
    std::lock_guard lock(workersMutex_);
    for (const auto& w : workers_)
        if (!w.finished->load()) return true;
    return false;
}

void CddbLookup::Wait() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(workersMutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers)
        if (w.thread.joinable()) w.thread.join();
}

std::string CddbLookup::StatusText() const {
    std::lock_guard lock(stateMutex_);
    return statusText_;
}

std::string CddbLookup::ErrorText() const {
    std::lock_guard lock(stateMutex_);
    return errorText_;
}

int CddbLookup::ErrorCode() const {
    std::lock_guard lock(stateMutex_);
    return errorCode_;
}

void CddbLookup::SetStatus(const std::string& text) {
    std::lock_guard lock(stateMutex_);
    statusText_ = text;
}

void CddbLookup::SetError(int code, std::string text) {
    std::lock_guard lock(stateMutex_);
    errorCode_ = code;
    errorText_ = text::Utf8Prefix(text, 256);
}

void CddbLookup::Post(CddbNotice notice, const std::atomic<bool>& cancel) {
    if (cancel.load()) return;  // abandoned: nobody is waiting for news
    NoticeSink sink;
    {
        std::lock_guard lock(stateMutex_);
        sink = sink_;
    }
    if (sink) sink(notice);
}

void CddbLookup::Run(const LookupConfig& config, std::shared_ptr<std::atomic<bool>> cancel) {
    if (!cancel) cancel = std::make_shared<std::atomic<bool>>(false);
    RunWith(config, TakeFacts(), cancel);
}

void CddbLookup::RunWith(const LookupConfig& config, const Facts& facts,
                         const std::shared_ptr<std::atomic<bool>>& cancel) {
    std::lock_guard running(disc_.LookupLock());
    if (cancel->load()) return;
    {
        std::lock_guard lock(stateMutex_);
        found_ = false;
    }

    Outcome outcome = Outcome::NoMatch;
    if (config.source != TitleSource::Cddb) {
        outcome = RunMusicBrainz(config, facts, cancel, config.source == TitleSource::Both);
        if (outcome == Outcome::Found || outcome == Outcome::Cancelled) return;
        if (config.source == TitleSource::MusicBrainz) {
            // A broken connection says nothing more than its error, as with CDDB.
            if (outcome != Outcome::TransportFailed) Post(CddbNotice::Done, *cancel);
            return;
        }
    }
    outcome = RunCddb(config, facts, cancel);
    if (outcome == Outcome::Found) {
        std::lock_guard lock(stateMutex_);
        found_ = true;
    }
    if (outcome != Outcome::TransportFailed && outcome != Outcome::Cancelled)
        Post(CddbNotice::Done, *cancel);
}

// Proxy "ProxyAddr:ProxyPort"; without a proxy host the connection is direct.
static std::string ProxyOf(const LookupConfig& config) {
    if (!config.useProxy || config.proxyAddr.empty()) return {};
    return config.proxyPort.empty() ? config.proxyAddr : config.proxyAddr + ":" + config.proxyPort;
}

CddbLookup::Outcome CddbLookup::RunMusicBrainz(const LookupConfig& config, const Facts& facts,
                                               const std::shared_ptr<std::atomic<bool>>& cancel,
                                               bool quiet) {
    std::string status(kTextMbAccessing);
    status.replace(status.find("%s"), 2, config.musicBrainzServer);
    SetStatus(status);
    Post(CddbNotice::Status, *cancel);

    auto fail = [&](Outcome outcome, int code, std::string text) {
        if (cancel->load()) return Outcome::Cancelled;
        if (quiet) {
            SetStatus("MusicBrainz: " + text);
            Post(CddbNotice::Status, *cancel);
        } else {
            SetError(code, std::move(text));
            Post(CddbNotice::Error, *cancel);
        }
        return outcome;
    };
    auto noMatch = [&] {
        SetStatus(std::string(kTextMbNoMatch));
        Post(CddbNotice::Status, *cancel);
        return Outcome::NoMatch;
    };

    musicbrainz::Server server;
    if (!musicbrainz::ParseServer(config.musicBrainzServer, server))
        return fail(Outcome::TransportFailed, static_cast<int>(http::Status::BadUrl),
                    std::string(kTextMbBadServer));
    // A disc the service cannot name (no audio table) has nothing to ask.
    if (facts.musicBrainzId.empty()) return noMatch();

    // The whole reply is one line of JSON.
    http::Options options = config.http;
    options.maxLineBytes = options.maxBodyBytes;
    http::Session session(musicbrainz::UserAgent(), ProxyOf(config), options);
    session.ShareCancelFlag(cancel);
    http::Connection connection(session, server.host, server.port, server.https);
    if (!musicbrainz::WaitForTurn(*cancel)) return Outcome::Cancelled;
    http::Request request;
    http::Status s = connection.Get(musicbrainz::LookupPath(facts.musicBrainzId), request);
    // The service answers an unknown disc id with "Not Found".
    if (s == http::Status::BadResponse && request.HttpStatus() == 404) return noMatch();
    if (s == http::Status::BadResponse && request.HttpStatus() != 0)
        return fail(Outcome::ServerFailed, int(request.HttpStatus()),
                    "The MusicBrainz server refused the request (HTTP " +
                        std::to_string(request.HttpStatus()) + ")");
    std::string body;
    if (s == http::Status::Ok && !request.ReadBody(body)) s = request.Error();
    if (s != http::Status::Ok) {
        if (s == http::Status::Cancelled) return Outcome::Cancelled;
        return fail(Outcome::TransportFailed, static_cast<int>(s), http::StatusText(s));
    }

    std::vector<musicbrainz::Release> releases;
    std::string why;
    if (musicbrainz::ParseDiscReply(body, facts.musicBrainzId, facts.trackCount, releases, why) !=
        musicbrainz::ReplyStatus::Ok)
        return fail(Outcome::ServerFailed, static_cast<int>(http::Status::BadResponse),
                    std::string(kTextMbBadReply) + " (" + why + ")");
    if (releases.empty()) return noMatch();
    if (cancel->load()) return Outcome::Cancelled;

    const size_t chosen = config.release < releases.size() ? config.release : 0;
    SetStatus(std::string(kTextMbMatchFound));
    Post(CddbNotice::Status, *cancel);
    {
        std::lock_guard lock(stateMutex_);
        releasesIdentity_ = facts.mediaIdentity;
        releasesTrackCount_ = facts.trackCount;
        releasesCache_ = config.cacheFile;
        chosen_ = chosen;
        choicePending_ = releases.size() > 1;
        releases_ = releases.size() > 1 ? releases : std::vector<musicbrainz::Release>{};
        found_ = true;
    }
    ApplyRelease(releases[chosen]);
    WriteCdInfoCache(config.cacheFile, disc_, facts.mediaIdentity, facts.trackCount);
    Post(CddbNotice::Done, *cancel);
    return Outcome::Found;
}

void CddbLookup::ApplyRelease(const musicbrainz::Release& release) {
    disc_.EditTracks([&](std::vector<CdTrackText>& tracks) {
        for (auto& t : tracks) {
            t.album = release.title;
            t.artist = release.artist;
            if (release.date.size() >= 4) t.year = release.date.substr(0, 4);
            // The artist stays the release's: the window, the cache and file
            // names know one artist per disc.
            for (const auto& name : release.tracks)
                if (name.number == t.number && !name.title.empty()) t.title = name.title;
        }
    });
}

bool CddbLookup::Found() const {
    std::lock_guard lock(stateMutex_);
    return found_;
}

std::vector<std::string> CddbLookup::ReleaseChoices() const {
    std::lock_guard lock(stateMutex_);
    std::vector<std::string> labels;
    for (const auto& r : releases_) labels.push_back(r.Label());
    return labels;
}

size_t CddbLookup::ChosenRelease() const {
    std::lock_guard lock(stateMutex_);
    return chosen_;
}

bool CddbLookup::TakeChoicePending() {
    std::lock_guard lock(stateMutex_);
    return std::exchange(choicePending_, false);
}

bool CddbLookup::ChooseRelease(size_t index) {
    std::unique_lock running(disc_.LookupLock(), std::try_to_lock);
    if (!running.owns_lock()) return false;
    musicbrainz::Release release;
    std::filesystem::path cache;
    uint64_t identity = 0;
    int count = 0;
    {
        std::lock_guard lock(stateMutex_);
        if (index >= releases_.size() || disc_.MediaIdentity() != releasesIdentity_) return false;
        release = releases_[index];
        chosen_ = index;
        cache = releasesCache_;
        identity = releasesIdentity_;
        count = releasesTrackCount_;
    }
    ApplyRelease(release);
    WriteCdInfoCache(cache, disc_, identity, count);
    return true;
}

CddbLookup::Outcome CddbLookup::RunCddb(const LookupConfig& config, const Facts& facts,
                                        const std::shared_ptr<std::atomic<bool>>& cancel) {
    std::string status(kTextAccessing);
    status.replace(status.find("%s"), 2, config.server);
    SetStatus(status);
    Post(CddbNotice::Status, *cancel);

    auto httpError = [&](http::Status s) {
        if (s == http::Status::Cancelled || cancel->load()) return Outcome::Cancelled;
        SetError(static_cast<int>(s), http::StatusText(s));
        Post(CddbNotice::Error, *cancel);
        return Outcome::TransportFailed;
    };
    auto cddbError = [&](int code, std::string_view text) {
        SetError(code, std::string(text));
        Post(CddbNotice::Error, *cancel);
        return Outcome::ServerFailed;
    };

    http::Session session(config.userAgent, ProxyOf(config), config.http);
    session.ShareCancelFlag(cancel);
    std::string host;
    int port = kDefaultPort;
    if (!http::SplitHostPort(config.server, kDefaultPort, host, port)) {
        return httpError(http::Status::BadUrl);
    }
    http::Connection connection(session, host, port);
    const std::string hello = Hello();

    // Query.
    http::Request query;
    http::Status s = connection.Get(RequestObject(QueryCommand(facts.discId, facts.trackCount,
                                                               facts.offsets, facts.lengthSeconds),
                                                  hello),
                                    query);
    if (s != http::Status::Ok) return httpError(s);
    std::string line;
    if (!query.ReadLine(line) && query.Error() != http::Status::Ok) return httpError(query.Error());
    const StatusLine head = ParseStatusLine(line);
    std::string matchText;
    switch (head.code) {
        case kExactMatch:
            matchText = head.rest;
            break;
        case kExactMatches:  // several exact matches: like 211, take the first
        case kInexactMatches:
            if (!query.ReadLine(line)) {
                if (query.Error() != http::Status::Ok) return httpError(query.Error());
                line = ".";
            }
            if (!line.empty() && line.front() == '.') {  // an empty list
                SetStatus(std::string(kTextNoMatch));
                Post(CddbNotice::Status, *cancel);
                return Outcome::NoMatch;
            }
            matchText = DecodeLine(line);
            break;
        case kNoMatch:
            SetStatus(std::string(kTextNoMatch));
            Post(CddbNotice::Status, *cancel);
            return Outcome::NoMatch;
        default:
            return cddbError(head.code, ErrorTextFor(head.code));
    }
    query = http::Request();  // done with the query's connection

    SetStatus(std::string(kTextMatchFound));
    Post(CddbNotice::Status, *cancel);
    Match match;
    if (!ParseMatch(matchText, match)) return cddbError(head.code, kTextBadMatch);

    // Read.
    http::Request read;
    s = connection.Get(RequestObject(ReadCommand(match.category, match.discId), hello), read);
    if (s != http::Status::Ok) return httpError(s);
    if (!read.ReadLine(line)) {
        if (read.Error() != http::Status::Ok) return httpError(read.Error());
        line.clear();
    }
    const StatusLine readHead = ParseStatusLine(line);
    if (readHead.code != kExactMatches)
        return cddbError(readHead.code, ErrorTextFor(readHead.code));
    ReadReplyParser parser(facts.trackCount);
    while (read.ReadLine(line))
        if (!parser.Feed(line)) break;
    if (!parser.Ended() && read.Error() != http::Status::Ok) return httpError(read.Error());
    const DiscText text = parser.Result();

    if (cancel->load()) return Outcome::Cancelled;
    disc_.EditTracks([&](std::vector<CdTrackText>& tracks) {
        for (auto& t : tracks) {
            if (text.hasDiscTitle) {
                t.artist = text.artist;
                t.album = text.album;
            }
            t.category = match.category;
            if (!text.year.empty()) t.year = text.year;
            if (!text.genre.empty()) t.genre = text.genre;
            auto title = text.titles.find(t.number - 1);
            if (title != text.titles.end()) t.title = title->second;
        }
    });
    WriteCdInfoCache(config.cacheFile, disc_, facts.mediaIdentity, facts.trackCount);
    return Outcome::Found;
}

}  // namespace tunara::cddb
