#pragma once
// Inside the toolbox module: the objects behind the opaque pointers the
// program holds. Everything here runs on the caller's (user-interface) thread
// unless a member says otherwise.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/MediaToolbox.h"

namespace tunara::media::module {

class Player;

enum class Kind { MovieFile, Movie, Track, Media, Handler, Controller, Handle, Port };

struct MovieObj;

struct HandlerObj {
    MovieObj* movie = nullptr;
};

struct MediaObj {
    uint32_t type = 0;  // "soun", "vide", "MPEG", "musi", "strm"
    bool hasSound = false;
    TmSoundDescription sound{};
    HandlerObj handler;
};

struct TrackObj {
    uint32_t type = 0;  // the media type, which is also the track's type
    bool enabled = true;
    bool ears = false, eyes = false, actn = false;
    MediaObj media;
};

struct MovieFileObj {
    std::string uri;
    bool network = false;
};

// What a discovery pass found out about a medium.
struct MovieInfo {
    bool network = false;
    bool seekable = true;
    int64_t durationNs = -1;  // -1: unknown or endless
    int audioRate = 0;
    int width = 0, height = 0;
    std::vector<std::unique_ptr<TrackObj>> tracks;
    std::map<uint32_t, std::string> userData;  // by item type (kUserDataTitle...), UTF-8
};

struct PortObj {
    VideoWindow* window = nullptr;
};

struct MovieObj {
    std::string uri;
    MovieInfo info;
    int32_t timeScale = 600;
    int32_t durationUnits = 0;
    TmRect box{};
    int16_t volume = 256;          // 8.8
    int32_t pendingTimeUnits = 0;  // movie time while no player exists
    PortObj* port = nullptr;
    bool metering = false;
    std::vector<double> bandEdgesHz;  // lower edge of each measured band
    std::unique_ptr<Player> player;
};

struct ControllerObj {
    MovieObj* movie = nullptr;
    TmActionFilter filter = nullptr;
    intptr_t refcon = 0;
    bool keysEnabled = false;
    TmRect box{};
    int32_t flags = 0;
};

// Discovery of a medium, bounded by the given time. Returns kTmOk and fills
// info, or kTmCantMakeMovie / kTmTimedOut.
int32_t Discover(const std::string& uri, bool network, MovieInfo& info);
void ShutdownDiscovery();

// Whether a file: URI names an AIFF file, whose parser must be fed by a
// pushing source ("push" before the URI) or it may stall while prerolling.
bool IsAiffUri(const std::string& fileUri);

// A stream-status notice for the controller's action filter.
struct Notice {
    int32_t flags = 0;
    std::string text;
};

}  // namespace tunara::media::module
