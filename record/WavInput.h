#pragma once
// The WAV file an encoder reads, open for the encoder's whole run and closed
// when it goes out of scope.
#include <string>

#include "sources/PcmWaveStream.h"

namespace tunara {

class WavInput {
public:
    explicit WavInput(const std::string& path) {
        const int opened = pcmWaveOpen(&stream, path.c_str(), &format, nullptr, nullptr);
        if (opened != kPcmWaveOk) {
            stream = nullptr;
            failure = "Cannot read " + path + " (" + pcmWaveStatusText(opened) + ").";
        }
    }
    ~WavInput() {
        if (stream) pcmWaveClose(stream);
    }
    WavInput(const WavInput&) = delete;
    WavInput& operator=(const WavInput&) = delete;

    PcmWaveStream* stream = nullptr;
    PcmWaveFormat format{};
    std::string failure;  // empty when open
};

}  // namespace tunara
