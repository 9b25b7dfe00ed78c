#pragma once
// The WAV file an encoder reads, open for the encoder's whole run and closed
// when it goes out of scope; with `measure`, what it reads is measured for
// ReplayGain on the way.
#include <memory>
#include <string>

#include "metadata/ReplayGainScan.h"
#include "sources/PcmWaveStream.h"

namespace tunara {

class WavInput {
public:
    explicit WavInput(const std::string& path, bool measure = false) {
        const int opened = pcmWaveOpen(&stream, path.c_str(), &format, nullptr, nullptr);
        if (opened != kPcmWaveOk) {
            stream = nullptr;
            failure = "Cannot read " + path + " (" + pcmWaveStatusText(opened) + ").";
        } else if (measure) {
            loudness = std::make_shared<LoudnessMeter>(format.channels, int(format.sampleRate));
        }
    }
    ~WavInput() {
        if (stream) pcmWaveClose(stream);
    }
    WavInput(const WavInput&) = delete;
    WavInput& operator=(const WavInput&) = delete;

    // pcmWaveRead, measuring whole frames of what came.
    int Read(void* buffer, uint32_t* length) {
        const int read = pcmWaveRead(buffer, length, stream);
        const uint32_t frameBytes = uint32_t(format.channels) * (format.bitsPerSample / 8u);
        if (loudness && frameBytes > 0 && (read == kPcmWaveOk || read == kPcmWaveEnd))
            loudness->AddPcm(static_cast<const uint8_t*>(buffer), *length / frameBytes,
                             format.bitsPerSample);
        return read;
    }

    PcmWaveStream* stream = nullptr;
    std::shared_ptr<LoudnessMeter> loudness;  // with `measure`
    PcmWaveFormat format{};
    std::string failure;  // empty when open
};

}  // namespace tunara
