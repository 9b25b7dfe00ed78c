// tunara-cli encode: the entry of the encoders; each format's path lives in a file of its own.
#include <cstdio>

#include "app/cli/Cli.h"
#include "app/cli/EncodeKvmc.h"

namespace tunara::cli {
// encode_mp3.cpp
int RunEncodeMp3(const std::vector<std::string>& args);
}  // namespace tunara::cli

namespace {

int Encode(const std::vector<std::string>& args) {
    if (tunara::cli::WantsKvmc(args)) return tunara::cli::RunEncodeKvmc(args);
    return tunara::cli::RunEncodeMp3(args);
}

tunara::cli::Registration reg(
    {"encode",
     "encode IN.wav OUT.mp3 [--fast] [--bitrate KBPS] | "
     "encode IN.wav OUT.mov --kvmc [--bitrate KBPS]",
     &Encode,
     "Codes a WAV file (8 or 16 bit, one or two channels, 16 to 48 kHz) into\n"
     "an MP3 file (128 kbit/s by default; --fast for the quicker encoder) or,\n"
     "with --kvmc, a QuickTime movie with a KVMC sound track. Ctrl+C or a\n"
     "failure leaves no output file.\n"});

}  // namespace
