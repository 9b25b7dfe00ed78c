// The ReplayGain readers over arbitrary bytes: FLAC blocks, Ogg pages, APEv2
// items, a LAME extension and MP4 boxes in memory, and the whole-file reader (ID3v2 frames, a tag
// at the end); the ID3v2 rewriter, whose output must read back with the values it was given.
#include <cmath>
#include <string>
#include <vector>

#include "ScratchFile.h"
#include "metadata/ReplayGain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tunara::ParseStreamReplayGain(data, size);
    tunara::ParseApeReplayGain(data, size);
    tunara::ParseLameReplayGain(data, size);
    tunara::ParseMp4ReplayGain(data, size);
    const std::string& path = tunara::fuzz::Scratch().Hold(data, size);
    const tunara::ReplayGainValues v = tunara::ReadReplayGain(path);
    // Whatever was taken is a number.
    if (v.Any() && !std::isfinite(v.trackGain) && !std::isfinite(v.albumGain)) __builtin_trap();

    std::vector<uint8_t> tag;
    std::string why;
    const tunara::ReplayGainValues written{-3.25f, 0.5f, NAN, NAN};
    if (tunara::RewriteId3ReplayGain(data, size, written, tag, why)) {
        tag.insert(tag.end(), {0xFF, 0xFB, 0x90, 0x00});  // a frame header for the reader
        const tunara::ReplayGainValues back =
            tunara::ReadReplayGain(tunara::fuzz::Scratch().Hold(tag.data(), tag.size()));
        if (back.trackGain != written.trackGain) __builtin_trap();
    }
    return 0;
}
