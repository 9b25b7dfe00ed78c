// tunara-cli cd lookup: reads the disc's table of contents and prints its
// titles from the cache, or looks it up (always with --refresh) on the title
// source of the settings, CDDB or MusicBrainz, and prints what it found.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/Cli.h"
#include "engine/OutputEngine.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/ui/UserInteraction.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "sources/CdTrackSource.h"
#include "ui/core/CddbSettings.h"
#include "ui/core/SettingsStore.h"

namespace tunara::cli {

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tunara-cli cd lookup [DRIVE] [--cddb | --musicbrainz] [--server ADDRESS]\n"
                 "                            [--release N] [--refresh]\n");
    return 2;
}

int CdLookup(const std::vector<std::string>& args) {
    std::string drive;
    std::string server;
    bool refresh = false;
    std::optional<cddb::TitleSource> source;
    size_t release = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--refresh") {
            refresh = true;
        } else if (args[i] == "--musicbrainz") {
            source = cddb::TitleSource::MusicBrainz;
        } else if (args[i] == "--cddb") {
            source = cddb::TitleSource::Cddb;
        } else if (args[i] == "--release") {
            if (i + 1 >= args.size()) return Usage();
            const int n = std::atoi(args[++i].c_str());
            if (n < 1) return Usage();
            release = size_t(n - 1);
            refresh = true;
        } else if (args[i] == "--server") {
            if (i + 1 >= args.size()) return Usage();
            server = args[++i];
        } else if (args[i].rfind("--server=", 0) == 0) {
            server = args[i].substr(9);
        } else if (!args[i].empty() && args[i][0] == '-') {
            return Usage();
        } else if (drive.empty()) {
            drive = args[i];
        } else {
            return Usage();
        }
    }
    SetUiThread();

    std::vector<std::string> drives;
    for (const auto& d : cdaudio::ListDrives()) drives.push_back(d.name);
    SettingsStore settings(drives);
    if (drive.empty()) {
        const int current = settings.CurrentCdDrive();
        if (current < 0) {
            std::fprintf(stderr, "No CD drive found; name one (a device or a .cue image).\n");
            return 1;
        }
        drive = drives[static_cast<size_t>(current)];
    }

    OutputEngine engine;  // the tracks are looked up, never played
    CdDisc disc(engine, drive);
    bool failed = false;
    bool done = false;
    // Notices come from the lookup thread; the texts are taken there, at the
    // time of the notice, and printed on this thread.
    disc.SetNotifyWindow([&](int message) {
        std::string text;
        if (message == static_cast<int>(cddb::CddbNotice::Status)) text = disc.Info().StatusText();
        if (message == static_cast<int>(cddb::CddbNotice::Error))
            text = disc.Info().ErrorText() + " (" + std::to_string(disc.Info().ErrorCode()) + ")";
        UiQueue().Post([&, message, text] {
            switch (message) {
                case static_cast<int>(cddb::CddbNotice::Status):
                    std::printf("%s\n", text.c_str());
                    break;
                case static_cast<int>(cddb::CddbNotice::Error):
                    std::fflush(stdout);
                    std::fprintf(stderr, "%s\n", text.c_str());
                    failed = true;
                    break;
                case static_cast<int>(cddb::CddbNotice::Done):
                    done = true;
                    break;
            }
            std::fflush(stdout);
        });
    });
    disc.ReadToc();
    PrintError(disc);
    if (disc.Count() == 0) {
        std::fprintf(stderr, "No audio disc in %s.\n", drive.c_str());
        return 1;
    }
    std::printf("Disc id %08x, %d tracks, %d s\n", disc.DiscId(), disc.TrackCount(),
                disc.DiscLength());

    cddb::LookupConfig config = CddbLookupConfig(settings);
    if (source) config.source = *source;
    config.release = release;
    // --server names the server of the source asked (MusicBrainz's when it is the only one).
    if (!server.empty()) {
        if (config.source == cddb::TitleSource::MusicBrainz)
            config.musicBrainzServer = server;
        else
            config.server = server;
    }
    if (!refresh && disc.Info().ReadCache(config.cacheFile)) {
        std::printf("From the CD information cache\n");
        done = true;
    } else {
        disc.Info().StartLookup(config);
        while (disc.Info().Running()) {
            UiQueue().Deliver();
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        disc.Info().Wait();
        UiQueue().Deliver();
        if (failed) return 1;
    }

    const auto releases = disc.Info().Lookup().ReleaseChoices();
    if (releases.size() > 1) {
        std::printf("Releases of this disc (another one with --release N):\n");
        const size_t chosen = disc.Info().Lookup().ChosenRelease();
        for (size_t i = 0; i < releases.size(); ++i)
            std::printf("%c %zu  %s\n", i == chosen ? '*' : ' ', i + 1, releases[i].c_str());
    }

    MediaSource* first = disc.ItemAt(0);
    std::printf("Artist: %s\n", first->GetArtist().c_str());
    std::printf("Album: %s\n", first->GetAlbum().c_str());
    std::printf("Category: %s\n", first->GetCategory().c_str());
    for (int i = 0; i < disc.Count(); ++i) {
        auto* track = dynamic_cast<CdTrackSource*>(disc.ItemAt(i));
        std::printf("%2d  %s\n", track ? track->TrackNumber() : i + 1,
                    disc.ItemAt(i)->GetTitle().c_str());
    }
    return done ? 0 : 1;
}

const Registration registration(
    {"cd lookup",
     "cd lookup [DRIVE] [--cddb | --musicbrainz] [--server ADDRESS] [--release N] [--refresh]",
     CdLookup,
     "Prints the disc's titles from the CD information cache; a disc not in it\n"
     "(or any disc, with --refresh) is looked up on the title source of the\n"
     "settings (CDDB, MusicBrainz or both), or the one --cddb or --musicbrainz\n"
     "names, which also fills the cache. --server names the server asked.\n"
     "When MusicBrainz knows several releases of the disc they are listed and\n"
     "the first fills the titles; --release N takes the Nth instead.\n"
     "TUNARA_MUSICBRAINZ_SERVER overrides the MusicBrainz server setting.\n"});

}  // namespace

}  // namespace tunara::cli
