// tunara-cli cd: the CD drives and their discs; cd play: a disc through the
// player controller with the screen and keys of `play`.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "engine/OutputEngine.h"
#include "metadata/MusicBrainz.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/Playlist.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "ui/core/PlayerController.h"

namespace tunara::cli {

namespace {

std::string Clock(uint32_t frames, bool withFrames) {
    char text[32];
    if (withFrames)
        std::snprintf(text, sizeof text, "%02u:%02u.%02u", frames / 4500, frames / 75 % 60,
                      frames % 75);
    else
        std::snprintf(text, sizeof text, "%u:%02u", frames / 4500, frames / 75 % 60);
    return text;
}

// False when the drive holds no disc that can be read.
bool ListDisc(const std::string& drive) {
    OutputEngine engine;  // the tracks are listed, never played
    CdDisc disc(engine, drive);
    disc.ReadToc();
    PrintError(disc);
    if (disc.TrackCount() == 0) {
        std::printf("  no disc\n");
        return false;
    }
    std::printf("  disc id %08x  %d tracks  %s  media identity %llu\n", disc.DiscId(),
                disc.TrackCount(),
                Clock(disc.LeadoutFrames() - disc.TrackOffsets()[0], false).c_str(),
                static_cast<unsigned long long>(disc.MediaIdentity()));
    const std::string mbId = disc.Info().MusicBrainzDiscId();
    std::printf("  MusicBrainz disc id %s\n", mbId.empty() ? "(none)" : mbId.c_str());
    // Only a drive reports these, and only when the disc carries them.
    musicbrainz::DiscCodes codes;
    if (!cdaudio::IsImageName(drive)) codes = musicbrainz::ReadDiscCodes(drive);
    if (!codes.mcn.empty()) std::printf("  media catalogue number %s\n", codes.mcn.c_str());
    std::printf("  track  start     length    (mm:ss.frames)\n");
    const auto& offsets = disc.TrackOffsets();
    for (size_t i = 0; i < offsets.size(); ++i) {
        uint32_t end = i + 1 < offsets.size() ? offsets[i + 1] : disc.LeadoutFrames();
        const char* kind = "data";
        for (int k = 0; k < disc.Count(); ++k) {
            auto* t = static_cast<CdTrackSource*>(disc.ItemAt(k));
            if (t->TrackNumber() == static_cast<int>(i + 1)) kind = "audio";
        }
        const std::string isrc = i < codes.isrcs.size() ? codes.isrcs[i] : "";
        std::printf("  %5zu  %s  %s  %s%s%s\n", i + 1, Clock(offsets[i], true).c_str(),
                    Clock(end - offsets[i], true).c_str(), kind, isrc.empty() ? "" : "  ISRC ",
                    isrc.c_str());
    }
    return true;
}

int ListCd(const std::vector<std::string>& args) {
    std::vector<std::string> names;
    if (args.empty()) {
        for (const auto& d : cdaudio::ListDrives()) names.push_back(d.name);
    } else {
        names = args;
    }
    if (names.empty()) {
        std::fprintf(stderr,
                     "No CD drive was found (name disc images in TUNARA_CD_IMAGES, "
                     "colon-separated).\n");
        return 1;
    }
    // A drive without a readable disc is listed as such and makes the exit status 1.
    bool all = true;
    for (const auto& name : names) {
        std::printf("%s%s\n", name.c_str(), cdaudio::IsImageName(name) ? " (image)" : "");
        all = ListDisc(name) && all;
    }
    return all ? 0 : 1;
}

bool IsNumber(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

int PlayCd(const std::vector<std::string>& args) {
    std::string drive;
    int track = 1;
    size_t next = 0;
    if (next < args.size() && !IsNumber(args[next])) drive = args[next++];
    if (next < args.size()) {
        if (!IsNumber(args[next])) {
            std::fprintf(stderr, "tunara-cli: TRACK must be a number\n");
            return 2;
        }
        track = std::atoi(args[next++].c_str());
    }
    if (next < args.size()) {
        std::fprintf(stderr, "usage: tunara-cli cd play [DRIVE] [TRACK]\n");
        return 2;
    }
    if (drive.empty()) {
        auto drives = cdaudio::ListDrives();
        if (drives.empty()) {
            std::fprintf(stderr,
                         "tunara-cli: no CD drives (name disc images in TUNARA_CD_IMAGES)\n");
            return 1;
        }
        drive = drives.front().name;
    }

    PlayerSession session;
    session.beforeStart = [&](PlayerController& c) { c.SetCdDrives({drive}); };
    session.afterStart = [&](PlayerController& c) {
        CdDisc* disc = c.CurrentCd();
        int index = -1;
        for (int i = 0; i < disc->Count(); ++i)
            if (static_cast<CdTrackSource*>(disc->ItemAt(i))->TrackNumber() == track) index = i;
        if (index < 0) {
            if (disc->TrackCount() == 0)
                std::fprintf(stderr, "tunara-cli: no disc in %s\n", drive.c_str());
            else
                std::fprintf(stderr, "tunara-cli: track %d of %s is not an audio track\n", track,
                             drive.c_str());
            return false;
        }
        c.PlayRow(*disc, index);
        return true;
    };
    return RunPlayer(session);
}

int Cd(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "play")
        return PlayCd(std::vector<std::string>(args.begin() + 1, args.end()));
    return ListCd(args);
}

Registration reg({"cd", "cd [DRIVE...] | cd play [DRIVE] [TRACK]", &Cd,
                  "Lists the drives' tracks and disc ids, or plays a track with the keys of\n"
                  "play. Disc images named in TUNARA_CD_IMAGES act as drives.\n"
                  "Exit status 1 when a drive holds no disc that can be read.\n"});

}  // namespace

}  // namespace tunara::cli
