// The toolbox calls: each packs its arguments for the dispatcher or a
// component and unpacks the results. Outputs are zeroed first so that a
// failed call (for instance with the module unloaded) leaves nothing stale.
#include <cstring>

#include "platform/media/MediaToolbox.h"

namespace tunara::media {

namespace {

uint64_t P(const void* p) {
    return reinterpret_cast<uint64_t>(p);
}
uint64_t I(int64_t v) {
    return static_cast<uint64_t>(v);
}

int32_t Call(uint32_t selector, uint64_t a0 = 0, uint64_t a1 = 0, uint64_t a2 = 0, uint64_t a3 = 0,
             uint64_t a4 = 0) {
    TmCall call{{a0, a1, a2, a3, a4, 0}};
    return Dispatch(selector, call);
}

int32_t Component(void* component, int16_t what, uint8_t paramSize, uint64_t p0 = 0,
                  uint64_t p1 = 0) {
    TmParamBlock block{};
    block.flags = 0;
    block.paramSize = paramSize;
    block.what = what;
    block.param[0] = p0;
    block.param[1] = p1;
    return CallComponent(component, block);
}

template <typename T>
void Zero(T* out) {
    if (out) std::memset(static_cast<void*>(out), 0, sizeof(T));
}

}  // namespace

const char* StatusText(int32_t status) {
    switch (status) {
        case kTmOk:
            return "no error";
        case kTmFileNotFound:
            return "file not found";
        case kTmBadParam:
            return "bad parameter";
        case kTmNoMemory:
            return "out of memory";
        case kTmNotLoaded:
            return "media module not loaded";
        case kTmBadSelector:
            return "unknown call";
        case kTmNotEntered:
            return "toolbox not entered";
        case kTmCantMakeMovie:
            return "not a playable medium";
        case kTmTimedOut:
            return "timed out";
        case kTmNoTrack:
            return "no such track";
        case kTmUserDataNotFound:
            return "no such user data";
        default:
            return "unknown status";
    }
}

int32_t EnterToolbox() {
    return Call(sel::kEnterToolbox);
}
int32_t ExitToolbox() {
    return Call(sel::kExitToolbox);
}

int32_t MakeFileSpec(const std::string& path, TmFileSpec* fileSpec) {
    Zero(fileSpec);
    return Call(sel::kMakeFileSpec, P(path.c_str()), P(fileSpec));
}
int32_t OpenMovieFile(const TmFileSpec& fileSpec, MovieFile* file, int permission) {
    Zero(file);
    return Call(sel::kOpenMovieFile, P(&fileSpec), P(file), I(permission));
}
int32_t MakeMovieFromFile(Movie* movie, MovieFile file, int flags) {
    Zero(movie);
    return Call(sel::kMovieFromFile, P(movie), P(file), I(flags));
}
int32_t CloseMovieFile(MovieFile file) {
    return Call(sel::kCloseMovieFile, P(file));
}
int32_t DisposeMovie(Movie movie) {
    return Call(sel::kDisposeMovie, P(movie));
}
int32_t MovieTimeScale(Movie movie, int32_t* scale) {
    Zero(scale);
    return Call(sel::kMovieTimeScale, P(movie), P(scale));
}
int32_t MovieDuration(Movie movie, int32_t* units) {
    Zero(units);
    return Call(sel::kMovieDuration, P(movie), P(units));
}
int32_t IndexedTrack(Movie movie, int index, uint32_t type, int flags, Track* track) {
    Zero(track);
    return Call(sel::kIndTrackType, P(movie), I(index), type, I(flags), P(track));
}
int32_t TrackMedia(Track track, Media* media) {
    Zero(media);
    return Call(sel::kTrackMedia, P(track), P(media));
}
int32_t MediaType(Media media, uint32_t* type) {
    Zero(type);
    return Call(sel::kMediaType, P(media), P(type));
}
int32_t MediaSampleDescription(Media media, int index, TmHandle* handle) {
    return Call(sel::kSampleDescription, P(media), I(index), P(handle));
}
int32_t MediaHandlerOf(Media media, MediaHandler* handler) {
    Zero(handler);
    return Call(sel::kMediaHandler, P(media), P(handler));
}
int32_t NewHandle(uint32_t size, TmHandle** handle) {
    Zero(handle);
    return Call(sel::kNewHandle, size, P(handle));
}
int32_t DisposeHandle(TmHandle* handle) {
    return Call(sel::kDisposeHandle, P(handle));
}
int32_t MovieUserDataText(Movie movie, uint32_t type, std::string* text) {
    if (!text) return kTmBadParam;
    text->clear();
    // Most tags fit the first buffer; a longer one is asked for again whole.
    std::string buffer(256, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        int32_t length = 0;
        const int32_t status = Call(sel::kMovieUserDataText, P(movie), type, P(buffer.data()),
                                    I(static_cast<int64_t>(buffer.size())), P(&length));
        if (status != kTmOk) return status;
        if (length < 0) return kTmBadParam;
        if (static_cast<size_t>(length) < buffer.size()) {
            text->assign(buffer.c_str(), static_cast<size_t>(length));
            return kTmOk;
        }
        buffer.assign(static_cast<size_t>(length) + 1, '\0');
    }
    // The item grew between the two calls: keep what fitted.
    text->assign(buffer.c_str());
    return kTmOk;
}
int32_t MovieBox(Movie movie, TmRect* box) {
    Zero(box);
    return Call(sel::kMovieBox, P(movie), P(box));
}
int32_t SetMovieBox(Movie movie, const TmRect& box) {
    return Call(sel::kSetMovieBox, P(movie), P(&box));
}
int32_t OffsetRect(TmRect* rect, int dx, int dy) {
    return Call(sel::kOffsetRect, P(rect), I(dx), I(dy));
}
int32_t NewController(Movie movie, const TmRect& box, int32_t flags, Controller* controller) {
    Zero(controller);
    return Call(sel::kNewController, P(movie), P(&box), I(flags), P(controller));
}
int32_t DisposeController(Controller controller) {
    return Call(sel::kDisposeController, P(controller));
}
int32_t SetPlayHints(Movie movie, uint32_t hints, uint32_t mask) {
    return Call(sel::kPlayHints, P(movie), hints, mask);
}
int32_t MovieTime(Movie movie, int32_t* units) {
    Zero(units);
    return Call(sel::kMovieTime, P(movie), P(units));
}
int32_t SetMovieTime(Movie movie, int32_t units) {
    return Call(sel::kSetMovieTime, P(movie), I(units));
}
int32_t IsMovieDone(Movie movie, int32_t* done) {
    Zero(done);
    return Call(sel::kIsMovieDone, P(movie), P(done));
}
int32_t MovieVolume(Movie movie, int16_t* volume) {
    Zero(volume);
    return Call(sel::kMovieVolume, P(movie), P(volume));
}
int32_t SetMovieVolume(Movie movie, int16_t volume) {
    return Call(sel::kSetMovieVolume, P(movie), I(volume));
}
int32_t AssociateWindow(VideoWindow* window, int32_t flags, int32_t kind) {
    return Call(sel::kAssociateWindow, P(window), I(flags), I(kind));
}
int32_t DissociateWindow(VideoWindow* window) {
    return Call(sel::kDissociateWindow, P(window));
}
int32_t WindowPort(VideoWindow* window, Port* port) {
    Zero(port);
    return Call(sel::kWindowPort, P(window), P(port));
}
int32_t SetMoviePort(Movie movie, Port port) {
    return Call(sel::kSetMoviePort, P(movie), P(port), 0);
}

int32_t ControllerAction(Controller controller, int16_t action, intptr_t parameter) {
    return Component(controller, comp::kControllerAction, 2 + sizeof(intptr_t), I(action),
                     static_cast<uint64_t>(parameter));
}
int32_t SetActionFilter(Controller controller, TmActionFilter filter, intptr_t refcon) {
    return Component(controller, comp::kSetActionFilter, 2 * sizeof(void*),
                     reinterpret_cast<uint64_t>(filter), static_cast<uint64_t>(refcon));
}
int32_t SetMetering(MediaHandler handler, int enable) {
    return Component(handler, comp::kSetMetering, 2, I(enable));
}
int32_t MeterLevels(MediaHandler handler, TmLevelRecord* levels) {
    Zero(levels);
    return Component(handler, comp::kMeterLevels, sizeof(void*), P(levels));
}
int32_t SetBandFrequencies(MediaHandler handler, int count, const uint32_t* frequencies16_16) {
    return Component(handler, comp::kSetBandFrequencies, 2 + sizeof(void*), I(count),
                     P(frequencies16_16));
}
int32_t BandLevels(MediaHandler handler, int count, uint8_t* levels) {
    if (levels && count > 0) std::memset(levels, 0, static_cast<size_t>(count));
    return Component(handler, comp::kBandLevels, 2 + sizeof(void*), I(count), P(levels));
}

}  // namespace tunara::media
