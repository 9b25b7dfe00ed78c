// The ReplayGain readers over arbitrary bytes: FLAC blocks, Ogg pages, APEv2
// items in memory, and the whole-file reader (ID3v2 frames, a tag at the end).
#include <cmath>

#include "ScratchFile.h"
#include "metadata/ReplayGain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tunara::ParseStreamReplayGain(data, size);
    tunara::ParseApeReplayGain(data, size);
    const std::string& path = tunara::fuzz::Scratch().Hold(data, size);
    const tunara::ReplayGainValues v = tunara::ReadReplayGain(path);
    // Whatever was taken is a number.
    if (v.Any() && !std::isfinite(v.trackGain) && !std::isfinite(v.albumGain)) __builtin_trap();
    return 0;
}
