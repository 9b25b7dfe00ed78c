#include "metadata/MusicBrainz.h"

#include <discid/discid.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "metadata/Json.h"
#include "metadata/TextCodec.h"
#include "platform/http/Http.h"

namespace tunara::musicbrainz {

std::string DiscId(const std::vector<uint32_t>& trackOffsets, uint32_t leadout, int firstTrack) {
    const int last = firstTrack + int(trackOffsets.size()) - 1;
    if (trackOffsets.empty() || firstTrack < 1 || last > 99) return {};
    // libdiscid's layout: the lead-out first, then each track's start by its number.
    int offsets[100] = {};
    offsets[0] = int(leadout);
    for (size_t i = 0; i < trackOffsets.size(); ++i)
        offsets[size_t(firstTrack) + i] = int(trackOffsets[i]);
    ::DiscId* disc = discid_new();
    if (!disc) return {};
    std::string id;
    if (discid_put(disc, firstTrack, last, offsets)) id = discid_get_id(disc);
    discid_free(disc);
    return id;
}

DiscCodes ReadDiscCodes(const std::string& device) {
    DiscCodes codes;
    ::DiscId* disc = discid_new();
    if (!disc) return codes;
    if (discid_read_sparse(disc, device.c_str(), DISCID_FEATURE_MCN | DISCID_FEATURE_ISRC)) {
        codes.mcn = text::DropControls(text::SanitizeUtf8(discid_get_mcn(disc)));
        for (int t = discid_get_first_track_num(disc); t <= discid_get_last_track_num(disc); ++t)
            codes.isrcs.push_back(
                text::DropControls(text::SanitizeUtf8(discid_get_track_isrc(disc, t))));
    }
    discid_free(disc);
    // A drive that reports nothing gives zeros for the catalogue number.
    if (codes.mcn.find_first_not_of('0') == std::string::npos) codes.mcn.clear();
    return codes;
}

std::string UserAgent() {
#ifdef TUNARA_VERSION
    const char* version = TUNARA_VERSION;
#else
    const char* version = "0.1";
#endif
    return std::string("Tunara/") + version + " ( https://tunara.invalid/contact )";
}

std::string LookupPath(std::string_view discId) {
    return "/ws/2/discid/" + http::UrlEncode(discId) + "?inc=recordings+artist-credits&fmt=json";
}

bool ParseServer(std::string_view text, Server& server) {
    Server s;
    int defaultPort = 80;
    if (text.starts_with("https://")) {
        s.https = true;
        defaultPort = 443;
        text.remove_prefix(8);
    } else if (text.starts_with("http://")) {
        text.remove_prefix(7);
    }
    if (text.ends_with('/')) text.remove_suffix(1);
    if (text.find('/') != std::string_view::npos) return false;
    if (!http::SplitHostPort(text, defaultPort, s.host, s.port)) return false;
    server = s;
    return true;
}

std::string Release::Label() const {
    std::string label = artist.empty() ? title : artist + " \u2013 " + title;
    std::string details = date;
    if (!country.empty()) details += (details.empty() ? "" : ", ") + country;
    if (!details.empty()) label += " (" + details + ")";
    return label;
}

namespace {

// Longest text kept from a reply, in characters.
constexpr size_t kMaxTextChars = 256;
// A reply naming more releases than anyone would choose from is cut short.
constexpr size_t kMaxReleases = 50;

std::string Clean(const std::string& s) {
    return text::Utf8Prefix(text::DropControls(s), kMaxTextChars);
}

std::string Text(const json::Value& object, std::string_view key) {
    const json::Value* v = object.Find(key);
    return v ? Clean(v->Str()) : std::string();
}

// "A feat. B": each credited name followed by its join phrase.
std::string Credit(const json::Value& object) {
    const json::Value* credits = object.Find("artist-credit");
    if (!credits) return {};
    std::string out;
    for (const auto& c : credits->Items()) {
        std::string name = Text(c, "name");
        if (name.empty())
            if (const json::Value* a = c.Find("artist")) name = Text(*a, "name");
        out += name + Text(c, "joinphrase");
    }
    return Clean(out);
}

const json::Value* DiscMedium(const json::Value& release, std::string_view discId, int trackCount) {
    const json::Value* media = release.Find("media");
    if (!media) return nullptr;
    for (const auto& m : media->Items())
        if (const json::Value* discs = m.Find("discs"))
            for (const auto& d : discs->Items())
                if (const json::Value* id = d.Find("id"); id && id->Str() == discId) return &m;
    for (const auto& m : media->Items())
        if (const json::Value* tracks = m.Find("tracks");
            tracks && int(tracks->Items().size()) == trackCount)
            return &m;
    return nullptr;
}

}  // namespace

ReplyStatus ParseDiscReply(std::string_view body, std::string_view discId, int trackCount,
                           std::vector<Release>& releases, std::string& error) {
    releases.clear();
    json::Value root;
    if (!json::Parse(body, root, error)) return ReplyStatus::NotJson;
    const json::Value* list = root.Find("releases");
    if (!list || !list->IsArray()) {
        error = "no list of releases";
        return ReplyStatus::NotADiscReply;
    }
    for (const auto& r : list->Items()) {
        if (releases.size() >= kMaxReleases) break;
        const json::Value* medium = DiscMedium(r, discId, trackCount);
        if (!medium) continue;
        Release release;
        release.id = Text(r, "id");
        release.title = Text(r, "title");
        release.artist = Credit(r);
        release.date = Text(r, "date");
        release.country = Text(r, "country");
        const json::Value* tracks = medium->Find("tracks");
        int index = 0;
        for (const auto& t : tracks ? tracks->Items() : json::Value().Items()) {
            ++index;
            TrackName name;
            const double position = t.Find("position") ? t.Find("position")->Number(-1) : -1;
            name.number = position >= 1 && position <= 99 ? int(position) : index;
            name.title = Text(t, "title");
            const json::Value* recording = t.Find("recording");
            if (name.title.empty() && recording) name.title = Text(*recording, "title");
            name.artist = Credit(t);
            if (name.artist.empty() && recording) name.artist = Credit(*recording);
            if (name.artist.empty()) name.artist = release.artist;
            release.tracks.push_back(std::move(name));
        }
        releases.push_back(std::move(release));
    }
    return ReplyStatus::Ok;
}

bool WaitForTurn(const std::atomic<bool>& cancelled, std::chrono::milliseconds interval) {
    static std::mutex mutex;
    static std::chrono::steady_clock::time_point last{};
    static bool any = false;
    for (;;) {
        if (cancelled.load()) return false;
        std::chrono::steady_clock::duration wait{};
        {
            std::lock_guard lock(mutex);
            const auto now = std::chrono::steady_clock::now();
            if (!any || now >= last + interval) {
                last = now;
                any = true;
                return true;
            }
            wait = last + interval - now;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(wait, std::chrono::milliseconds(20)));
    }
}

}  // namespace tunara::musicbrainz
