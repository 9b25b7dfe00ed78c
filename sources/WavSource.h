#pragma once
// The playlist item for a RIFF/WAVE (or RF64) file of integer or float PCM.
// Float samples play as 32-bit integers; more than two channels are mixed
// down to stereo.
//
// The file is opened read-only, so write-protected files play; WriteFrames,
// which the player never calls, reopens it for writing on first use.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/PcmSource.h"
#include "sources/RiffFile.h"
#include "sources/RiffWave.h"

namespace tunara {

class WavSource : public PcmSource {
public:
    explicit WavSource(OutputEngine& engine);
    ~WavSource() override;

    // Fills title, format, rates, duration and the LIST/INFO tags; 0 (after
    // telling the user) when the file cannot be opened or is not PCM WAVE.
    int LoadInfo() override;
    // The INFO title when "UseID3Title" is on and the file has one, else the
    // file name without its extension.
    std::string GetTitle() const override;

    int OpenStream() override;
    int CloseStream() override;
    int ReadFrames(void* buffer, int frames) override;
    int WriteFrames(const void* buffer, int frames) override;
    uint32_t SeekFrame(uint32_t frame) override;

    // The "fmt " chunk as read, at least 18 bytes (extra size 0 when the
    // chunk has only 16); empty while no stream is open.
    const std::vector<uint8_t>& FormatRecord() const { return formatRecord_; }
    // Bytes of PCM in the data chunk that the file really holds.
    int64_t DataBytes() const { return dataEnd_ - dataStart_; }
    uint64_t BytesWritten() const { return bytesWritten_; }

private:
    int Invalid();
    bool MakeWritable();
    bool SetUpConversion(const WaveFormatRecord& f, bool isFloat, int containerBits);
    void Convert(const uint8_t* in, uint8_t* out, int64_t frames) const;
    void ReadInfoTags();

    std::unique_ptr<RiffFile> file_;
    RiffChunk riff_;
    RiffChunk data_;
    std::vector<uint8_t> formatRecord_;
    int blockAlign_ = 0;      // bytes per frame
    int64_t dataStart_ = 0;   // file offset of the first PCM byte
    int64_t dataEnd_ = 0;     // one past the last PCM byte present in the file
    int64_t readOffset_ = 0;  // file offset of the next byte to read; always a frame boundary
    uint64_t bytesWritten_ = 0;
    std::string tagTitle_;
    // Set when the file's samples are not what the device takes (float, or
    // more than two channels): ReadFrames converts through raw_.
    bool convert_ = false;
    bool floatIn_ = false;
    int inBytes_ = 0;  // bytes of one input sample
    int inChannels_ = 0;
    std::vector<float> mix_;  // per input channel: left then right gain
    std::vector<uint8_t> raw_;
    bool writable_ = false;
    bool dataGrown_ = false;  // WriteFrames went past the data chunk: sizes are fixed on close
};

}  // namespace tunara
