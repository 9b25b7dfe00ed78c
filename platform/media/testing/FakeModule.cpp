// A stand-in toolbox module for tests: one movie of 5 s at a time scale of
// 1000 with a scriptable sound description, user data, meter and stream
// notices. Built as four variants: FULL and OTHER (identical but for their
// name), NOENTRY, which lacks the component entry point, and OLDABI, built
// for another interface version.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/media/MediaToolbox.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

using namespace tunara::media;

namespace {

struct Fake {
    int enters = 0;
    bool entered = false;
    uint32_t mediaType = FourCc("soun");
    TmSoundDescription sound{};
    bool hasSound = true;
    bool hasVideo = false;
    int32_t timeScale = 1000;
    int32_t duration = 5000;
    int32_t time = 0;
    int16_t volume = 256;
    bool done = false;
    int32_t lastRate = 0x7fffffff;
    int metering = -1;
    TmLevelRecord levels{2, 0, 0};
    uint8_t bands[8] = {};
    std::vector<uint32_t> frequencies;
    TmActionFilter filter = nullptr;
    intptr_t refcon = 0;
    std::vector<std::pair<int32_t, std::string>> notices;
    // A vector, not a map: a map's insertion brings in a process-unique
    // symbol, which would keep this module from ever being unloaded.
    std::vector<std::pair<uint32_t, std::string>> userData;
    std::vector<uint32_t> calls;  // selectors and component selectors, in order
    int liveMovies = 0;
} g;

// Objects are tagged addresses inside this block.
char objects[8];
void* const kFile = &objects[1];
void* const kMovie = &objects[2];
void* const kTrack = &objects[3];
void* const kMedia = &objects[4];
void* const kHandler = &objects[5];
void* const kController = &objects[6];

template <typename T>
T* Out(uint64_t p) {
    return reinterpret_cast<T*>(p);
}

}  // namespace

FAKE_EXPORT const char* tunaraFakeVariant() {
#if defined(TM_FAKE_OTHER)
    return "other";
#elif defined(TM_FAKE_NOENTRY)
    return "noentry";
#elif defined(TM_FAKE_OLDABI)
    return "oldabi";
#else
    return "full";
#endif
}

FAKE_EXPORT void tunaraFakeReset() {
    g = Fake{};
}
FAKE_EXPORT void tunaraFakeSetSound(const TmSoundDescription* d, uint32_t mediaType, int hasSound) {
    if (d) g.sound = *d;
    g.mediaType = mediaType;
    g.hasSound = hasSound != 0;
}
// A null text removes the item.
FAKE_EXPORT void tunaraFakeSetUserData(uint32_t type, const char* text) {
    auto& items = g.userData;
    items.erase(std::remove_if(items.begin(), items.end(),
                               [type](const auto& item) { return item.first == type; }),
                items.end());
    if (text) items.emplace_back(type, text);
}
FAKE_EXPORT void tunaraFakeSetVideo(int hasVideo) {
    g.hasVideo = hasVideo != 0;
}
FAKE_EXPORT void tunaraFakeSetLevels(int channels, int left, int right) {
    g.levels = TmLevelRecord{static_cast<int16_t>(channels), static_cast<uint8_t>(left),
                             static_cast<uint8_t>(right)};
}
FAKE_EXPORT void tunaraFakeSetBands(const uint8_t* bands) {
    std::memcpy(g.bands, bands, 8);
}
FAKE_EXPORT void tunaraFakeSetDone(int done) {
    g.done = done != 0;
}
FAKE_EXPORT void tunaraFakeQueueNotice(int32_t flags, const char* text) {
    g.notices.emplace_back(flags, text ? text : "");
}
FAKE_EXPORT int32_t tunaraFakeLastRate() {
    return g.lastRate;
}
FAKE_EXPORT int tunaraFakeMetering() {
    return g.metering;
}
FAKE_EXPORT int tunaraFakeEnters() {
    return g.enters;
}
FAKE_EXPORT int tunaraFakeLiveMovies() {
    return g.liveMovies;
}
FAKE_EXPORT int tunaraFakeFrequencies(uint32_t* out, int max) {
    int n = 0;
    for (uint32_t f : g.frequencies)
        if (n < max) out[n++] = f;
    return static_cast<int>(g.frequencies.size());
}
FAKE_EXPORT int tunaraFakeCalls(uint32_t* out, int max) {
    int n = 0;
    for (uint32_t c : g.calls)
        if (n < max) out[n++] = c;
    return static_cast<int>(g.calls.size());
}

FAKE_EXPORT int32_t tunaraMediaDispatch(uint32_t selector, TmCall* call) {
    const uint64_t* a = call->arg;
    g.calls.push_back(selector);
    if (selector == sel::kEnterToolbox) {
        ++g.enters;
        g.entered = true;
        return kTmOk;
    }
    if (selector == sel::kExitToolbox) {
        g.entered = false;
        return kTmOk;
    }
    if (!g.entered) return kTmNotEntered;
    switch (selector) {
        case sel::kMakeFileSpec: {
            std::string path = Out<const char>(a[0]);
            std::strncpy(Out<TmFileSpec>(a[1])->uri, path.c_str(), sizeof(TmFileSpec::uri) - 1);
            return path.find("missing") != std::string::npos ? kTmFileNotFound : kTmOk;
        }
        case sel::kOpenMovieFile: {
            *Out<void*>(a[1]) = kFile;
            return kTmOk;
        }
        case sel::kMovieFromFile:
            if (g.mediaType == 0) return kTmCantMakeMovie;  // scripted "damaged file"
            *Out<void*>(a[0]) = kMovie;
            ++g.liveMovies;
            return kTmOk;
        case sel::kCloseMovieFile:
            return kTmOk;
        case sel::kDisposeMovie:
            --g.liveMovies;
            return kTmOk;
        case sel::kMovieTimeScale:
            *Out<int32_t>(a[1]) = g.timeScale;
            return kTmOk;
        case sel::kMovieDuration:
            *Out<int32_t>(a[1]) = g.duration;
            return kTmOk;
        case sel::kIndTrackType: {
            auto type = static_cast<uint32_t>(a[2]);
            bool found =
                (type == FourCc("ears") && (g.hasSound || g.mediaType != FourCc("soun"))) ||
                (type == FourCc("eyes") && g.hasVideo) ||
                (type == FourCc("strm") && g.mediaType == FourCc("strm"));
            *Out<void*>(a[4]) = found ? kTrack : nullptr;
            return found ? kTmOk : kTmNoTrack;
        }
        case sel::kMovieUserDataText: {
            const auto type = static_cast<uint32_t>(a[1]);
            auto it = std::find_if(g.userData.begin(), g.userData.end(),
                                   [type](const auto& item) { return item.first == type; });
            if (it == g.userData.end()) return kTmUserDataNotFound;
            auto size = static_cast<size_t>(a[3]);
            *Out<int32_t>(a[4]) = static_cast<int32_t>(it->second.size());
            if (size > 0) {
                size_t n = std::min(size - 1, it->second.size());
                std::memcpy(Out<char>(a[2]), it->second.data(), n);
                Out<char>(a[2])[n] = '\0';
            }
            return kTmOk;
        }
        case sel::kTrackMedia:
            *Out<void*>(a[1]) = kMedia;
            return kTmOk;
        case sel::kMediaType:
            *Out<uint32_t>(a[1]) = g.mediaType;
            return kTmOk;
        case sel::kMediaHandler:
            *Out<void*>(a[1]) = kHandler;
            return kTmOk;
        case sel::kSampleDescription: {
            auto* h = Out<TmHandle>(a[2]);
            if (!h || h->size < sizeof(TmSoundDescription)) return kTmBadParam;
            std::memcpy(h->data, &g.sound, sizeof(g.sound));
            return kTmOk;
        }
        case sel::kNewHandle: {
            auto size = static_cast<uint32_t>(a[0]);
            *Out<TmHandle*>(a[1]) = new TmHandle{new char[size](), size};
            return kTmOk;
        }
        case sel::kDisposeHandle: {
            auto* h = Out<TmHandle>(a[0]);
            delete[] static_cast<char*>(h->data);
            delete h;
            return kTmOk;
        }
        case sel::kMovieBox:
            *Out<TmRect>(a[1]) = TmRect{0, 0, 120, 160};
            return kTmOk;
        case sel::kNewController:
            *Out<void*>(a[3]) = kController;
            return kTmOk;
        case sel::kDisposeController:
            return kTmOk;
        case sel::kPlayHints:
            return kTmOk;
        case sel::kMovieTime:
            *Out<int32_t>(a[1]) = g.time;
            return kTmOk;
        case sel::kSetMovieTime:
            g.time = static_cast<int32_t>(a[1]);
            return kTmOk;
        case sel::kIsMovieDone:
            *Out<int32_t>(a[1]) = g.done;
            return kTmOk;
        case sel::kMovieVolume:
            *Out<int16_t>(a[1]) = g.volume;
            return kTmOk;
        case sel::kSetMovieVolume:
            g.volume = static_cast<int16_t>(a[1]);
            return kTmOk;
        default:
            return kTmBadSelector;
    }
}

FAKE_EXPORT uint32_t tunaraMediaAbiVersion() {
#if defined(TM_FAKE_OLDABI)
    return TM_ABI_VERSION - 1;
#else
    return TM_ABI_VERSION;
#endif
}

#if !defined(TM_FAKE_NOENTRY)
FAKE_EXPORT int32_t tunaraMediaCallComponent(void* component, TmParamBlock* p) {
    g.calls.push_back(0x10000000u | static_cast<uint16_t>(p->what));
    if (component == kController) {
        if (p->what == comp::kSetActionFilter) {
            g.filter = reinterpret_cast<TmActionFilter>(p->param[0]);
            g.refcon = static_cast<intptr_t>(p->param[1]);
            return kTmOk;
        }
        if (p->what != comp::kControllerAction) return kTmBadSelector;
        auto act = static_cast<int16_t>(p->param[0]);
        if (act == action::kPlay || act == action::kPrerollAndPlay)
            g.lastRate = static_cast<int32_t>(static_cast<int64_t>(p->param[1]));
        if (act == action::kIdle && g.filter) {
            for (auto& [flags, text] : g.notices) {
                TmStatusString s{flags, text.c_str()};
                g.filter(component, action::kShowStatus, &s, g.refcon);
            }
            g.notices.clear();
        }
        return kTmOk;
    }
    if (component != kHandler) return kTmBadParam;
    switch (p->what) {
        case comp::kSetMetering:
            g.metering = static_cast<int>(p->param[0]);
            return kTmOk;
        case comp::kMeterLevels:
            *Out<TmLevelRecord>(p->param[0]) = g.levels;
            return kTmOk;
        case comp::kSetBandFrequencies: {
            auto* f = Out<const uint32_t>(p->param[1]);
            g.frequencies.assign(f, f + static_cast<int>(p->param[0]));
            return kTmOk;
        }
        case comp::kBandLevels: {
            int n = static_cast<int>(p->param[0]);
            std::memcpy(Out<uint8_t>(p->param[1]), g.bands, static_cast<size_t>(n < 8 ? n : 8));
            return kTmOk;
        }
        default:
            return kTmBadSelector;
    }
}
#endif

FAKE_EXPORT int32_t tunaraMediaCallComponentWithStorage(void* storage, TmParamBlock* params,
                                                        TmComponentFunction function) {
    return function ? function(storage, params) : kTmBadParam;
}
