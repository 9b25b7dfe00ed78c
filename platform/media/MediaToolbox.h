#pragma once
// The media toolbox as the program sees it: a shared module loaded at run
// time and every call the sources make of it. Until the module is loaded (or
// after it is unloaded) every call answers kTmNotLoaded and leaves its
// outputs zeroed, so callers need no separate "is it there" test.
//
// Threads: every call is made from the user-interface thread, except that
// video frames reach a VideoWindow on a media thread.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/ModuleAbi.h"

namespace tunara::media {

// Statuses. 0 is success; everything else is a failure.
enum TmStatus : int32_t {
    kTmOk = 0,
    kTmFileNotFound = -43,  // the file does not exist or cannot be read
    kTmBadParam = -50,      // a null or out-of-range argument
    kTmNoMemory = -108,
    kTmNotLoaded = -2000,         // the module is not loaded
    kTmBadSelector = -2001,       // the module does not know the call
    kTmNotEntered = -2002,        // the toolbox has not been entered
    kTmUserDataNotFound = -2026,  // the movie has no user data item of that type
    kTmCantMakeMovie = -2048,     // the file is not a medium the toolbox can open
    kTmTimedOut = -2049,          // the medium did not answer in time
    kTmNoTrack = -2050,           // no track of the kind asked for
};
// A short text for a status, for diagnostics.
const char* StatusText(int32_t status);

// Four-character codes as the toolbox uses them ("soun", "ears", ...).
constexpr uint32_t FourCc(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// Dispatcher selectors.
namespace sel {
inline constexpr uint32_t kEnterToolbox = 0x20001;
inline constexpr uint32_t kExitToolbox = 0x20002;
inline constexpr uint32_t kSetMoviePort = 0x20016;       // movie, port, 0
inline constexpr uint32_t kDisposeMovie = 0x20023;       // movie
inline constexpr uint32_t kMovieTimeScale = 0x20029;     // movie, out int32
inline constexpr uint32_t kMovieDuration = 0x2002b;      // movie, out int32 (units)
inline constexpr uint32_t kMovieVolume = 0x2002e;        // movie, out int16 (8.8)
inline constexpr uint32_t kSetMovieVolume = 0x2002f;     // movie, int16 (8.8)
inline constexpr uint32_t kMovieTime = 0x20039;          // movie, out int32 (units)
inline constexpr uint32_t kSetMovieTime = 0x2003d;       // movie, int32 (units)
inline constexpr uint32_t kTrackMedia = 0x20062;         // track, out media
inline constexpr uint32_t kMediaType = 0x2006f;          // media, out fourcc
inline constexpr uint32_t kMediaHandler = 0x20071;       // media, out handler
inline constexpr uint32_t kSampleDescription = 0x20078;  // media, index, handle
inline constexpr uint32_t kCloseMovieFile = 0x200d5;     // file ref
inline constexpr uint32_t kIsMovieDone = 0x200dd;        // movie, out int32
inline constexpr uint32_t kMovieFromFile = 0x200f0;      // out movie, file ref, flags
inline constexpr uint32_t kMovieBox = 0x200f9;           // movie, out rect
inline constexpr uint32_t kSetMovieBox = 0x200fa;        // movie, rect
inline constexpr uint32_t kNewController = 0x2018a;      // movie, rect, flags, out controller
inline constexpr uint32_t kDisposeController = 0x2018b;  // controller
inline constexpr uint32_t kOpenMovieFile = 0x20192;      // fileSpec, out file ref, permission
inline constexpr uint32_t kPlayHints = 0x201a1;          // movie, hints, mask
inline constexpr uint32_t kIndTrackType = 0x20208;       // movie, index, type, flags, out track
// movie, type, out text, text size, out length: the item as UTF-8, cut to
// fit and NUL-terminated; the length is that of the whole item.
inline constexpr uint32_t kMovieUserDataText = 0x2020c;
inline constexpr uint32_t kNewHandle = 0x15000a;         // size, out handle
inline constexpr uint32_t kDisposeHandle = 0x150032;     // handle
inline constexpr uint32_t kAssociateWindow = 0x1d0001;   // window, 0, 2
inline constexpr uint32_t kDissociateWindow = 0x1d0002;  // window
inline constexpr uint32_t kWindowPort = 0x1d0003;        // window, out port
inline constexpr uint32_t kWindowEvent = 0x1d000a;       // native event, out event
inline constexpr uint32_t kMakeFileSpec = 0x1d002e;      // path, out fileSpec
inline constexpr uint32_t kOffsetRect = 0x1e0026;        // rect, dx, dy
}  // namespace sel

// Component selectors.
namespace comp {
inline constexpr int16_t kControllerEvent = 7;
inline constexpr int16_t kControllerAction = 9;        // action, parameter
inline constexpr int16_t kSetActionFilter = 0x2d;      // filter, refcon
inline constexpr int16_t kSetMetering = 0x554;         // flag
inline constexpr int16_t kMeterLevels = 0x555;         // out TmLevelRecord
inline constexpr int16_t kSetBandFrequencies = 0x55b;  // count, 16.16 frequencies
inline constexpr int16_t kBandLevels = 0x55c;          // count, out level bytes
}  // namespace comp

// Controller actions.
namespace action {
inline constexpr int16_t kIdle = 1;
inline constexpr int16_t kPlay = 8;  // 16.16 rate: 0 stops, negative plays back
inline constexpr int16_t kSetKeysEnabled = 32;
inline constexpr int16_t kPrerollAndPlay = 55;  // 16.16 rate
inline constexpr int16_t kShowStatus = 69;      // TmStatusString*, to the action filter
}  // namespace action

// Flags of a stream-status notice (action 69).
inline constexpr int32_t kStatusIsStreaming = 4;
inline constexpr int32_t kStatusHasCode = 8;  // the code is flags / 65536
inline constexpr int32_t kStatusIsError = 0x10;

// User data item types: the medium's own tags ("\251" is the copyright
// sign that begins each type).
inline constexpr uint32_t kUserDataTitle = FourCc("\251nam");
inline constexpr uint32_t kUserDataArtist = FourCc("\251ART");
inline constexpr uint32_t kUserDataAlbum = FourCc("\251alb");
inline constexpr uint32_t kUserDataGenre = FourCc("\251gen");

// Track search flags.
inline constexpr int32_t kTrackByMediaType = 1;
inline constexpr int32_t kTrackByCharacteristic = 2;
inline constexpr int32_t kTrackEnabledOnly = 4;

// Opaque objects of the module.
using MovieFile = void*;
using Movie = void*;
using Track = void*;
using Media = void*;
using MediaHandler = void*;
using Controller = void*;
using Port = void*;

// Where decoded video goes. The skinned window implements it; frames arrive
// on a media thread and stay valid only during the call.
struct VideoFrame {
    const uint8_t* pixels;  // 32-bit BGRx rows
    int width;
    int height;
    int strideBytes;
    int64_t timeMs;
};
class VideoWindow {
public:
    virtual ~VideoWindow() = default;
    virtual void PresentFrame(const VideoFrame& frame) = 0;
};

// --- Loading. Initialisation is counted; the module is unloaded when the
// count returns to zero. The module is looked for, in order: already loaded
// in the process, the program's own folder, the system library path. The
// environment variable TUNARA_MEDIA_MODULE, when set, names the only file to
// try (tests, scripts).
int32_t InitializeClient();  // kTmOk, or kTmNotLoaded when no usable module was found
void TerminateClient();
bool IsLoaded();
int LoadCount();
// The search as above over explicit candidates (tests): each is a file path.
int32_t InitializeClientFrom(const std::vector<std::string>& candidates);

// Start-up: initialise the client, then enter the toolbox. False when either
// fails; the caller tells the user ("Failed to initialize QuickTime.").
bool StartMediaServices();
// Exit: leave the toolbox and terminate the client (after StartMediaServices
// succeeded).
void StopMediaServices();

// --- Raw entries (every call below goes through them).
int32_t Dispatch(uint32_t selector, TmCall& call);
int32_t CallComponent(void* component, TmParamBlock& params);
int32_t CallComponentWithStorage(void* storage, TmParamBlock& params, TmComponentFunction fn);

// --- Toolbox calls; each returns a status.
int32_t EnterToolbox();
int32_t ExitToolbox();
int32_t MakeFileSpec(const std::string& path, TmFileSpec* fileSpec);
int32_t OpenMovieFile(const TmFileSpec& fileSpec, MovieFile* file, int permission);
int32_t MakeMovieFromFile(Movie* movie, MovieFile file, int flags);
int32_t CloseMovieFile(MovieFile file);
int32_t DisposeMovie(Movie movie);
int32_t MovieTimeScale(Movie movie, int32_t* scale);
int32_t MovieDuration(Movie movie, int32_t* units);
int32_t IndexedTrack(Movie movie, int index, uint32_t type, int flags, Track* track);
int32_t TrackMedia(Track track, Media* media);
int32_t MediaType(Media media, uint32_t* type);
int32_t MediaSampleDescription(Media media, int index, TmHandle* handle);
int32_t MediaHandlerOf(Media media, MediaHandler* handler);
int32_t NewHandle(uint32_t size, TmHandle** handle);
int32_t DisposeHandle(TmHandle* handle);
// A user data item as text (empty on failure): kTmOk, kTmUserDataNotFound,
// kTmBadParam for a movie the module does not know.
int32_t MovieUserDataText(Movie movie, uint32_t type, std::string* text);
int32_t MovieBox(Movie movie, TmRect* box);
int32_t SetMovieBox(Movie movie, const TmRect& box);
int32_t OffsetRect(TmRect* rect, int dx, int dy);
int32_t NewController(Movie movie, const TmRect& box, int32_t flags, Controller* controller);
int32_t DisposeController(Controller controller);
int32_t SetPlayHints(Movie movie, uint32_t hints, uint32_t mask);
int32_t MovieTime(Movie movie, int32_t* units);
int32_t SetMovieTime(Movie movie, int32_t units);
int32_t IsMovieDone(Movie movie, int32_t* done);
int32_t MovieVolume(Movie movie, int16_t* volume);
int32_t SetMovieVolume(Movie movie, int16_t volume);
int32_t AssociateWindow(VideoWindow* window, int32_t flags, int32_t kind);
int32_t DissociateWindow(VideoWindow* window);
int32_t WindowPort(VideoWindow* window, Port* port);
int32_t SetMoviePort(Movie movie, Port port);

// --- Decoding a medium's sound to PCM (see TmPcmCalls), for the program's
// own output. Read and Seek may run on another thread than Open and Close.
int32_t OpenPcm(const std::string& location, TmPcmFormat* format, void** decoder);
int32_t ReadPcm(void* decoder, void* buffer, int32_t frames);
int64_t SeekPcm(void* decoder, int64_t frame);
void ClosePcm(void* decoder);

// --- Component calls.
int32_t ControllerAction(Controller controller, int16_t action, intptr_t parameter);
int32_t SetActionFilter(Controller controller, TmActionFilter filter, intptr_t refcon);
int32_t SetMetering(MediaHandler handler, int enable);
int32_t MeterLevels(MediaHandler handler, TmLevelRecord* levels);
int32_t SetBandFrequencies(MediaHandler handler, int count, const uint32_t* frequencies16_16);
int32_t BandLevels(MediaHandler handler, int count, uint8_t* levels);

}  // namespace tunara::media
