#pragma once
// tunara-cli encode IN.wav OUT.mov --kvmc [--bitrate KBPS]: the recording job's KVMC steps
// without the dialog. The shared `encode` command hands over when --kvmc or a .mov output is
// given.
#include <string>
#include <vector>

namespace tunara::cli {

// True when `args` ask for a KVMC movie (--kvmc, or an output ending in ".mov").
bool WantsKvmc(const std::vector<std::string>& args);

// Exit status: 0 written, 1 failed (no output file left), 2 usage, 130 interrupted (no output
// file left).
int RunEncodeKvmc(const std::vector<std::string>& args);

}  // namespace tunara::cli
