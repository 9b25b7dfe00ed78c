#include "platform/cdaudio/Toc.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <strings.h>

#include <mutex>

#include "platform/cdaudio/CdAudio.h"

namespace tunara::cdaudio {

namespace {

// libcdio writes warnings about odd cue sheets to stderr; our own results
// say what went wrong.
void QuietLog(cdio_log_level_t, const char*) {}

}  // namespace

void InitCdio() {
    // libcdio's driver table is set up once, before any thread opens a drive.
    static std::once_flag once;
    std::call_once(once, [] {
        cdio_log_set_handler(QuietLog);
        cdio_init();
    });
}

CdIo_t* OpenCdio(const std::string& element) {
    InitCdio();
    if (!IsImageName(element)) return cdio_open(element.c_str(), DRIVER_DEVICE);
    // Letting libcdio guess would run every image reader over the file, and
    // they are not all safe on input meant for another.
    if (!CheckImage(element).empty()) return nullptr;
    const std::string cue = CueSheetOf(element);
    if (!cue.empty()) return cdio_open(cue.c_str(), DRIVER_BINCUE);
    return strcasecmp(element.c_str() + element.size() - 4, ".toc") == 0
               ? cdio_open(element.c_str(), DRIVER_CDRDAO)
               : nullptr;
}

void CloseCdio(CdIo_t* cdio) {
    if (cdio) cdio_destroy(cdio);
}

uint32_t CheckToc(const Toc& toc) {
    if (toc.tracks.empty() || toc.Count() > kMaxTracks) return kErrBadToc;
    int32_t previous = -1;
    for (const auto& t : toc.tracks) {
        if (t.startLsn <= previous || t.startLsn < 0 || t.startLsn >= kMaxLsn) return kErrBadToc;
        previous = t.startLsn;
    }
    if (toc.leadoutLsn <= previous || toc.leadoutLsn > kMaxLsn) return kErrBadToc;
    return kOk;
}

uint32_t ReadToc(CdIo_t* cdio, Toc& toc) {
    toc = Toc{};
    if (!cdio) return kErrNotReady;
    track_t first = cdio_get_first_track_num(cdio);
    track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK) return kErrNotReady;
    if (count == 0 || count > kMaxTracks || first == 0 || first + count - 1 > kMaxTracks)
        return kErrBadToc;
    for (int t = first; t < first + count; ++t) {
        lsn_t lsn = cdio_get_track_lsn(cdio, static_cast<track_t>(t));
        if (lsn == CDIO_INVALID_LSN) return kErrBadToc;
        Toc::Track track;
        track.startLsn = lsn;
        track.audio = cdio_get_track_format(cdio, static_cast<track_t>(t)) == TRACK_FORMAT_AUDIO;
        toc.tracks.push_back(track);
    }
    lsn_t leadout = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (leadout == CDIO_INVALID_LSN) return kErrBadToc;
    toc.leadoutLsn = leadout;
    uint32_t checked = CheckToc(toc);
    if (checked != kOk) toc = Toc{};
    return checked;
}

uint64_t MediaIdentityOf(const Toc& toc) {
    uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h ^= (v >> (8 * i)) & 0xff;
            h *= 0x100000001b3ull;
        }
    };
    mix(static_cast<uint32_t>(toc.Count()));
    for (const auto& t : toc.tracks) mix(static_cast<uint32_t>(t.startLsn));
    mix(static_cast<uint32_t>(toc.leadoutLsn));
    return h;
}

}  // namespace tunara::cdaudio
