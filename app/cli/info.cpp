// tunara-cli info: the descriptive fields a source reads from a file.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "app/services/AppServices.h"
#include "metadata/ReplayGain.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/SourceFactory.h"

namespace tunara::cli {

namespace {

int Info(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: tunara-cli info FILE\n");
        return 2;
    }
    const std::string& path = args[0];
    app::AppServices services(nullptr);  // messages go to standard error

    if (NeedsMediaToolbox(path)) services.StartMedia();
    auto source = services.Sources().Create(path);
    int ok = 0;
    if (source) {
        source->SetLocation(path);
        ok = source->LoadInfo();
    }
    if (!ok) {
        if (!source || !PrintError(*source))
            std::fprintf(stderr, "%s\n",
                         MessageOf(strings::kMediaFailedToOpen, path).Formatted().c_str());
        source.reset();
        return 1;
    }
    std::printf("title: %s\n", source->GetTitle().c_str());
    std::printf("artist: %s\n", source->GetArtist().c_str());
    std::printf("album: %s\n", source->GetAlbum().c_str());
    std::printf("genre: %s\n", source->GetCategory().c_str());
    std::printf("format: %s\n", source->GetFormatName().c_str());
    std::printf("bit rate: %d bits/s\n", source->GetBitRate());
    std::printf("sample rate: %d Hz\n", source->GetSampleRate());
    std::printf("channels: %d\n", source->GetChannels());
    std::printf("duration: %d ms\n", source->GetDuration());
    const ReplayGainValues rg = ReadReplayGain(path);
    if (rg.Any()) {
        std::printf("replaygain track: %s, peak %s\n", GainText(rg.trackGain).c_str(),
                    PeakText(rg.trackPeak).c_str());
        std::printf("replaygain album: %s, peak %s\n", GainText(rg.albumGain).c_str(),
                    PeakText(rg.albumPeak).c_str());
    }
    if (!std::isnan(rg.outputGain))
        std::printf("opus output gain: %s (applied in decoding)\n",
                    GainText(rg.outputGain).c_str());
    source.reset();
    return 0;
}

Registration reg({"info", "info FILE", &Info,
                  "Prints what the player shows for FILE: title, format, rate, channels,\n"
                  "bit rate, duration, tags and ReplayGain values.\n"});

}  // namespace

}  // namespace tunara::cli
