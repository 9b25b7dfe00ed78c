// tunara-cli encode: the entry of the encoders; each format's path lives in a file of its own.
#include <cstdio>

#include "app/cli/Cli.h"
#include "app/cli/EncodeKvmc.h"

namespace {

int Encode(const std::vector<std::string>& args) {
    if (tunara::cli::WantsKvmc(args)) return tunara::cli::RunEncodeKvmc(args);
    std::fprintf(stderr, "usage: tunara-cli encode IN.wav OUT.mov --kvmc [--bitrate KBPS]\n");
    return 2;
}

tunara::cli::Registration reg({"encode", "encode IN.wav OUT.mov --kvmc [--bitrate KBPS]", &Encode});

}  // namespace
