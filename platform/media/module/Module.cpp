// The module's entry points: the dispatcher for toolbox calls and the
// component entry for controllers and media handlers. Every object pointer
// that comes in is checked against the objects this module made, so a stale
// or foreign pointer is refused instead of followed.
#include <gst/gst.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

#include "platform/media/module/Player.h"
#include "platform/media/module/Toolbox.h"

#define TM_EXPORT extern "C" __attribute__((visibility("default")))

namespace tunara::media::module {

namespace {

constexpr int32_t kIndefinite = 0x7FFFFFFF;

struct Module {
    bool entered = false;
    std::unordered_map<void*, Kind> live;
    std::map<VideoWindow*, PortObj*> ports;
};

Module& M() {
    static Module m;
    return m;
}

template <typename T>
T* As(uint64_t p, Kind kind) {
    void* ptr = reinterpret_cast<void*>(p);
    auto it = M().live.find(ptr);
    return it != M().live.end() && it->second == kind ? static_cast<T*>(ptr) : nullptr;
}

template <typename T>
T* Out(uint64_t p) {
    return reinterpret_cast<T*>(p);
}

void Register(void* p, Kind k) {
    M().live[p] = k;
}
void Forget(void* p) {
    M().live.erase(p);
}

int64_t UnitsToNs(const MovieObj& m, int64_t units) {
    return m.timeScale > 0 ? units * 1'000'000'000 / m.timeScale : 0;
}
int32_t NsToUnits(const MovieObj& m, int64_t ns) {
    int64_t units = ns * m.timeScale / 1'000'000'000;
    return static_cast<int32_t>(std::clamp<int64_t>(units, 0, kIndefinite - 1));
}

bool IsNetworkUri(const std::string& text) {
    auto colon = text.find("://");
    if (colon == std::string::npos) return false;
    return text.compare(0, colon, "file") != 0;
}

int32_t MakeFileSpec(const char* path, TmFileSpec* fileSpec) {
    if (!path || !fileSpec) return kTmBadParam;
    std::memset(fileSpec, 0, sizeof(*fileSpec));
    std::string p = path;
    std::string uri;
    int32_t status = kTmOk;
    if (p.find("://") != std::string::npos) {
        uri = p;
        fileSpec->network = IsNetworkUri(p);
    } else {
        gchar* u = gst_filename_to_uri(p.c_str(), nullptr);
        uri = u ? u : "";
        g_free(u);
        if (access(p.c_str(), R_OK) != 0) status = kTmFileNotFound;
    }
    if (uri.empty() || uri.size() >= sizeof(fileSpec->uri)) return kTmBadParam;
    std::memcpy(fileSpec->uri, uri.c_str(), uri.size() + 1);
    return status;
}

int32_t OpenMovieFile(const TmFileSpec* fileSpec, MovieFileObj** out) {
    if (!fileSpec || !out || !fileSpec->uri[0] ||
        !std::memchr(fileSpec->uri, 0, sizeof(fileSpec->uri)))
        return kTmBadParam;
    *out = nullptr;
    std::string uri = fileSpec->uri;
    bool network = fileSpec->network != 0;
    if (!network) {
        gchar* path = gst_uri_get_location(uri.c_str());
        bool readable = path && access(path, R_OK) == 0;
        g_free(path);
        if (!readable) return kTmFileNotFound;
    }
    if (!network && IsAiffUri(uri)) {
        // The AIFF parser can stall for good while prerolling a file it pulls
        // from; fed by a pushing source it does not.
        uri = "push" + uri;
    }
    auto* file = new MovieFileObj{uri, network};
    Register(file, Kind::MovieFile);
    *out = file;
    return kTmOk;
}

int32_t MakeMovie(MovieFileObj* file, MovieObj** out) {
    if (!file || !out) return kTmBadParam;
    *out = nullptr;
    auto movie = std::make_unique<MovieObj>();
    movie->uri = file->uri;
    int32_t status = Discover(file->uri, file->network, movie->info);
    if (status != kTmOk) return status;
    const MovieInfo& info = movie->info;
    bool hasVideo =
        std::any_of(info.tracks.begin(), info.tracks.end(), [](const auto& t) { return t->eyes; });
    // Sound-only movies count in samples; anything else in 1/600 s.
    movie->timeScale = (!hasVideo && info.audioRate > 0) ? info.audioRate : 600;
    if (info.durationNs < 0) {
        movie->durationUnits = kIndefinite;
    } else {
        int64_t units = info.durationNs * movie->timeScale / 1'000'000'000;
        if (units >= kIndefinite) {
            movie->timeScale = 600;
            units = info.durationNs * 600 / 1'000'000'000;
        }
        movie->durationUnits = static_cast<int32_t>(std::min<int64_t>(units, kIndefinite - 1));
    }
    movie->box = TmRect{0, 0, static_cast<int16_t>(info.height), static_cast<int16_t>(info.width)};
    for (auto& t : movie->info.tracks) {
        t->media.handler.movie = movie.get();
        Register(t.get(), Kind::Track);
        Register(&t->media, Kind::Media);
        Register(&t->media.handler, Kind::Handler);
    }
    *out = movie.release();
    Register(*out, Kind::Movie);
    return kTmOk;
}

Player* EnsurePlayer(MovieObj* m) {
    if (m->player) return m->player.get();
    Player::Options o;
    o.uri = m->uri;
    o.network = m->info.network;
    o.seekable = m->info.seekable;
    for (const auto& t : m->info.tracks) {
        o.hasAudio = o.hasAudio || t->ears;
        o.hasVideo = o.hasVideo || t->eyes;
    }
    o.volume = std::max<int16_t>(0, m->volume) / 256.0;
    o.window = m->port ? m->port->window : nullptr;
    m->player = std::make_unique<Player>(o);
    m->player->SetMetering(m->metering);
    m->player->SetBandEdges(m->bandEdgesHz);
    m->player->Start();
    if (m->pendingTimeUnits > 0) m->player->SeekNs(UnitsToNs(*m, m->pendingTimeUnits));
    return m->player.get();
}

void DisposeController(ControllerObj* c) {
    Forget(c);
    delete c;
}

void DisposeMovie(MovieObj* m) {
    for (auto& [ptr, kind] : M().live) {
        if (kind == Kind::Controller && static_cast<ControllerObj*>(ptr)->movie == m) {
            static_cast<ControllerObj*>(ptr)->movie = nullptr;
        }
    }
    m->player.reset();
    for (auto& t : m->info.tracks) {
        Forget(t.get());
        Forget(&t->media);
        Forget(&t->media.handler);
    }
    Forget(m);
    delete m;
}

void DisposeEverything() {
    auto live = M().live;
    for (auto& [ptr, kind] : live) {
        if (kind == Kind::Controller) DisposeController(static_cast<ControllerObj*>(ptr));
    }
    for (auto& [ptr, kind] : live) {
        switch (kind) {
            case Kind::Movie:
                DisposeMovie(static_cast<MovieObj*>(ptr));
                break;
            case Kind::MovieFile:
                delete static_cast<MovieFileObj*>(ptr);
                Forget(ptr);
                break;
            default:
                break;
        }
    }
}

bool Matches(const TrackObj& t, uint32_t type, int32_t flags) {
    if ((flags & kTrackEnabledOnly) && !t.enabled) return false;
    if (flags & kTrackByCharacteristic) {
        if (type == FourCc("ears")) return t.ears;
        if (type == FourCc("eyes")) return t.eyes;
        if (type == FourCc("actn")) return t.actn;
        return false;
    }
    return t.type == type;
}

void DeliverNotices(ControllerObj* c) {
    if (!c->movie || !c->movie->player) return;
    for (const Notice& n : c->movie->player->TakeNotices()) {
        if (!c->filter) continue;
        TmStatusString s{n.flags, n.text.c_str()};
        c->filter(c, action::kShowStatus, &s, c->refcon);
    }
}

int32_t ControllerCall(ControllerObj* c, const TmParamBlock& p) {
    switch (p.what) {
        case comp::kSetActionFilter:
            c->filter = reinterpret_cast<TmActionFilter>(p.param[0]);
            c->refcon = static_cast<intptr_t>(p.param[1]);
            return kTmOk;
        case comp::kControllerEvent:
            return 0;  // no events are taken yet
        case comp::kControllerAction:
            break;
        default:
            return kTmBadSelector;
    }
    auto actionCode = static_cast<int16_t>(p.param[0]);
    auto parameter = static_cast<int32_t>(static_cast<int64_t>(p.param[1]));
    MovieObj* m = c->movie;
    switch (actionCode) {
        case action::kIdle:
            if (m && m->player) {
                m->player->Idle();
                DeliverNotices(c);
            }
            return kTmOk;
        case action::kPlay:
        case action::kPrerollAndPlay:
            if (m) EnsurePlayer(m)->SetRate(parameter / 65536.0);
            return kTmOk;
        case action::kSetKeysEnabled:
            c->keysEnabled = parameter != 0;
            return kTmOk;
        default:
            return kTmOk;  // actions this controller has no use for
    }
}

int32_t HandlerCall(HandlerObj* h, const TmParamBlock& p) {
    MovieObj* m = h->movie;
    switch (p.what) {
        case comp::kSetMetering:
            m->metering = static_cast<int16_t>(p.param[0]) != 0;
            if (m->player) m->player->SetMetering(m->metering);
            return kTmOk;
        case comp::kMeterLevels: {
            auto* out = Out<TmLevelRecord>(p.param[0]);
            if (!out) return kTmBadParam;
            *out = m->player ? m->player->Levels() : TmLevelRecord{};
            return kTmOk;
        }
        case comp::kSetBandFrequencies: {
            int count = static_cast<int16_t>(p.param[0]);
            auto* freqs = Out<const uint32_t>(p.param[1]);
            if (count < 0 || (count > 0 && !freqs)) return kTmBadParam;
            m->bandEdgesHz.clear();
            for (int i = 0; i < count; ++i) m->bandEdgesHz.push_back(freqs[i] / 65536.0);
            if (m->player) m->player->SetBandEdges(m->bandEdgesHz);
            return kTmOk;
        }
        case comp::kBandLevels: {
            int count = static_cast<int16_t>(p.param[0]);
            auto* out = Out<uint8_t>(p.param[1]);
            if (count < 0 || (count > 0 && !out)) return kTmBadParam;
            if (count > 0) std::memset(out, 0, static_cast<size_t>(count));
            if (m->player) m->player->BandLevels(count, out);
            return kTmOk;
        }
        default:
            return kTmBadSelector;
    }
}

namespace {

void DropLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// The framework's own warnings (some elements complain about queries they
// were never meant to answer) are no business of the terminal or the user;
// TUNARA_MEDIA_DEBUG=1 lets them through for diagnosis.
void QuietFrameworkLog() {
    const char* debug = std::getenv("TUNARA_MEDIA_DEBUG");
    if (debug && *debug && std::strcmp(debug, "0") != 0) return;
    static bool done = false;
    if (done) return;
    done = true;
    for (const char* domain : {"GStreamer", "GStreamer-Base", "GStreamer-Audio", "GStreamer-Video",
                               "GStreamer-App", "GStreamer-Pbutils", "GStreamer-Tag",
                               "GStreamer-Riff", "GStreamer-Codecparsers", "GStreamer-GL"}) {
        g_log_set_handler(domain,
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING |
                                                      G_LOG_LEVEL_MESSAGE),
                          DropLog, nullptr);
    }
}

}  // namespace

int32_t Dispatch(uint32_t selector, const uint64_t* a) {
    Module& mod = M();
    switch (selector) {
        case sel::kEnterToolbox: {
            QuietFrameworkLog();
            if (!gst_init_check(nullptr, nullptr, nullptr)) return kTmNotEntered;
            mod.entered = true;
            return kTmOk;
        }
        case sel::kExitToolbox:
            if (mod.entered) {
                DisposeEverything();
                ShutdownDiscovery();
            }
            mod.entered = false;
            return kTmOk;
        case sel::kOffsetRect: {
            auto* r = Out<TmRect>(a[0]);
            if (!r) return kTmBadParam;
            auto dx = static_cast<int16_t>(a[1]), dy = static_cast<int16_t>(a[2]);
            r->left += dx;
            r->right += dx;
            r->top += dy;
            r->bottom += dy;
            return kTmOk;
        }
        case sel::kNewHandle: {
            auto** out = Out<TmHandle*>(a[1]);
            if (!out) return kTmBadParam;
            auto size = static_cast<uint32_t>(a[0]);
            auto* h = new TmHandle{std::calloc(1, size ? size : 1), size};
            if (!h->data) {
                delete h;
                return kTmNoMemory;
            }
            Register(h, Kind::Handle);
            *out = h;
            return kTmOk;
        }
        case sel::kDisposeHandle: {
            auto* h = As<TmHandle>(a[0], Kind::Handle);
            if (!h) return kTmBadParam;
            Forget(h);
            std::free(h->data);
            delete h;
            return kTmOk;
        }
        default:
            break;
    }
    if (!mod.entered) return kTmNotEntered;

    switch (selector) {
        case sel::kMakeFileSpec:
            return MakeFileSpec(Out<const char>(a[0]), Out<TmFileSpec>(a[1]));
        case sel::kOpenMovieFile:
            return OpenMovieFile(Out<const TmFileSpec>(a[0]), Out<MovieFileObj*>(a[1]));
        case sel::kMovieFromFile:
            return MakeMovie(As<MovieFileObj>(a[1], Kind::MovieFile), Out<MovieObj*>(a[0]));
        case sel::kCloseMovieFile: {
            auto* f = As<MovieFileObj>(a[0], Kind::MovieFile);
            if (!f) return kTmBadParam;
            Forget(f);
            delete f;
            return kTmOk;
        }
        case sel::kAssociateWindow: {
            auto* w = Out<VideoWindow>(a[0]);
            if (!w) return kTmBadParam;
            if (!mod.ports.count(w)) {
                auto* port = new PortObj{w};
                mod.ports[w] = port;
                Register(port, Kind::Port);
            }
            return kTmOk;
        }
        case sel::kDissociateWindow: {
            auto it = mod.ports.find(Out<VideoWindow>(a[0]));
            if (it == mod.ports.end()) return kTmBadParam;
            PortObj* port = it->second;
            for (auto& [ptr, kind] : mod.live) {
                auto* m = kind == Kind::Movie ? static_cast<MovieObj*>(ptr) : nullptr;
                if (m && m->port == port) {
                    m->port = nullptr;
                    if (m->player) m->player->SetWindow(nullptr);
                }
            }
            Forget(port);
            delete port;
            mod.ports.erase(it);
            return kTmOk;
        }
        case sel::kWindowPort: {
            auto* out = Out<PortObj*>(a[1]);
            auto it = mod.ports.find(Out<VideoWindow>(a[0]));
            if (!out || it == mod.ports.end()) return kTmBadParam;
            *out = it->second;
            return kTmOk;
        }
        case sel::kTrackMedia: {
            auto* t = As<TrackObj>(a[0], Kind::Track);
            auto** out = Out<MediaObj*>(a[1]);
            if (!t || !out) return kTmBadParam;
            *out = &t->media;
            return kTmOk;
        }
        case sel::kMediaType: {
            auto* media = As<MediaObj>(a[0], Kind::Media);
            auto* out = Out<uint32_t>(a[1]);
            if (!media || !out) return kTmBadParam;
            *out = media->type;
            return kTmOk;
        }
        case sel::kMediaHandler: {
            auto* media = As<MediaObj>(a[0], Kind::Media);
            auto** out = Out<HandlerObj*>(a[1]);
            if (!media || !out) return kTmBadParam;
            *out = &media->handler;
            return kTmOk;
        }
        case sel::kSampleDescription: {
            auto* media = As<MediaObj>(a[0], Kind::Media);
            auto* h = As<TmHandle>(a[2], Kind::Handle);
            if (!media || !h || static_cast<int32_t>(a[1]) != 1 || !media->hasSound)
                return kTmBadParam;
            if (h->size < sizeof(TmSoundDescription)) {
                void* grown = std::realloc(h->data, sizeof(TmSoundDescription));
                if (!grown) return kTmNoMemory;
                h->data = grown;
                h->size = sizeof(TmSoundDescription);
            }
            std::memcpy(h->data, &media->sound, sizeof(TmSoundDescription));
            return kTmOk;
        }
        case sel::kDisposeController: {
            auto* c = As<ControllerObj>(a[0], Kind::Controller);
            if (!c) return kTmBadParam;
            DisposeController(c);
            return kTmOk;
        }
        default:
            break;
    }

    // Everything below works on a movie named by the first argument.
    auto* m = As<MovieObj>(a[0], Kind::Movie);
    if (!m) return kTmBadParam;
    switch (selector) {
        case sel::kDisposeMovie:
            DisposeMovie(m);
            return kTmOk;
        case sel::kMovieTimeScale: {
            auto* out = Out<int32_t>(a[1]);
            if (!out) return kTmBadParam;
            *out = m->timeScale;
            return kTmOk;
        }
        case sel::kMovieDuration: {
            auto* out = Out<int32_t>(a[1]);
            if (!out) return kTmBadParam;
            *out = m->durationUnits;
            return kTmOk;
        }
        case sel::kIndTrackType: {
            auto index = static_cast<int32_t>(a[1]);
            auto type = static_cast<uint32_t>(a[2]);
            auto flags = static_cast<int32_t>(a[3]);
            auto** out = Out<TrackObj*>(a[4]);
            if (!out) return kTmBadParam;
            *out = nullptr;
            int seen = 0;
            for (auto& t : m->info.tracks) {
                if (Matches(*t, type, flags) && ++seen == index) {
                    *out = t.get();
                    return kTmOk;
                }
            }
            return kTmNoTrack;
        }
        case sel::kMovieUserDataText: {
            auto* text = Out<char>(a[2]);
            auto size = static_cast<int64_t>(a[3]);
            auto* length = Out<int32_t>(a[4]);
            if ((!text && size != 0) || size < 0 || !length) return kTmBadParam;
            auto it = m->info.userData.find(static_cast<uint32_t>(a[1]));
            if (it == m->info.userData.end()) return kTmUserDataNotFound;
            const std::string& item = it->second;
            *length = static_cast<int32_t>(item.size());
            if (size > 0) {
                size_t n = std::min<size_t>(item.size(), static_cast<size_t>(size - 1));
                std::memcpy(text, item.data(), n);
                text[n] = '\0';
            }
            return kTmOk;
        }
        case sel::kMovieBox: {
            auto* out = Out<TmRect>(a[1]);
            if (!out) return kTmBadParam;
            *out = m->box;
            return kTmOk;
        }
        case sel::kSetMovieBox: {
            auto* in = Out<const TmRect>(a[1]);
            if (!in) return kTmBadParam;
            m->box = *in;
            return kTmOk;
        }
        case sel::kNewController: {
            auto* box = Out<const TmRect>(a[1]);
            auto** out = Out<ControllerObj*>(a[3]);
            if (!out) return kTmBadParam;
            auto* c = new ControllerObj;
            c->movie = m;
            if (box) c->box = *box;
            c->flags = static_cast<int32_t>(a[2]);
            Register(c, Kind::Controller);
            EnsurePlayer(m);
            *out = c;
            return kTmOk;
        }
        case sel::kPlayHints:
            return kTmOk;  // playback quality is always the best available
        case sel::kMovieTime: {
            auto* out = Out<int32_t>(a[1]);
            if (!out) return kTmBadParam;
            *out = m->player ? NsToUnits(*m, m->player->PositionNs()) : m->pendingTimeUnits;
            return kTmOk;
        }
        case sel::kSetMovieTime: {
            int64_t units = std::max<int64_t>(0, static_cast<int32_t>(a[1]));
            if (m->durationUnits != kIndefinite) units = std::min<int64_t>(units, m->durationUnits);
            m->pendingTimeUnits = static_cast<int32_t>(units);
            if (m->player) m->player->SeekNs(UnitsToNs(*m, units));
            return kTmOk;
        }
        case sel::kIsMovieDone: {
            auto* out = Out<int32_t>(a[1]);
            if (!out) return kTmBadParam;
            if (m->player)
                *out = m->player->Done() ? 1 : 0;
            else
                *out = m->durationUnits != kIndefinite && m->pendingTimeUnits >= m->durationUnits;
            return kTmOk;
        }
        case sel::kMovieVolume: {
            auto* out = Out<int16_t>(a[1]);
            if (!out) return kTmBadParam;
            *out = m->volume;
            return kTmOk;
        }
        case sel::kSetMovieVolume:
            m->volume = static_cast<int16_t>(a[1]);
            if (m->player) m->player->SetVolume(std::max<int16_t>(0, m->volume) / 256.0);
            return kTmOk;
        case sel::kSetMoviePort: {
            PortObj* port = a[1] ? As<PortObj>(a[1], Kind::Port) : nullptr;
            if (a[1] && !port) return kTmBadParam;
            m->port = port;
            if (m->player) m->player->SetWindow(port ? port->window : nullptr);
            return kTmOk;
        }
        default:
            return kTmBadSelector;
    }
}

}  // namespace

}  // namespace tunara::media::module

namespace tunara::media::module {

bool IsAiffUri(const std::string& fileUri) {
    gchar* path = gst_uri_get_location(fileUri.c_str());
    if (!path) return false;
    char head[12] = {};
    FILE* f = std::fopen(path, "rb");
    g_free(path);
    if (!f) return false;
    size_t n = std::fread(head, 1, sizeof(head), f);
    std::fclose(f);
    return n == sizeof(head) && std::memcmp(head, "FORM", 4) == 0 &&
           (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0);
}

}  // namespace tunara::media::module

using namespace tunara::media;
using namespace tunara::media::module;

TM_EXPORT uint32_t tunaraMediaAbiVersion() {
    return TM_ABI_VERSION;
}

TM_EXPORT int32_t tunaraMediaDispatch(uint32_t selector, TmCall* call) {
    static const uint64_t kNone[6] = {};
    return Dispatch(selector, call ? call->arg : kNone);
}

TM_EXPORT int32_t tunaraMediaCallComponent(void* component, TmParamBlock* params) {
    if (!params) return kTmBadParam;
    auto it = M().live.find(component);
    if (it == M().live.end()) return kTmBadParam;
    if (it->second == Kind::Controller)
        return ControllerCall(static_cast<ControllerObj*>(component), *params);
    if (it->second == Kind::Handler)
        return HandlerCall(static_cast<HandlerObj*>(component), *params);
    return kTmBadParam;
}

TM_EXPORT int32_t tunaraMediaCallComponentWithStorage(void* storage, TmParamBlock* params,
                                                      TmComponentFunction function) {
    if (!params || !function) return kTmBadParam;
    return function(storage, params);
}
