// The MP3 worker: the temporary WAV through the MP3 encoder into the output
// file, one MPEG frame at a time.
#include <cstring>
#include <string>
#include <vector>

#include "mpeg/Header.h"
#include "record/RecordFiles.h"
#include "record/RecordWorker.h"
#include "sources/OutputFileStream.h"
#include "sources/PcmWaveStream.h"

#ifdef TUNARA_HAVE_MP3ENC
#include "mp3enc/mp3enc.h"
#include "mp3enc/mp3enctail.h"
#endif

namespace tunara {

namespace {

// MPEG ID and sampling-rate index of a rate; false for a rate MPEG audio lacks.
bool RateFields(int rate, uint32_t& id, uint32_t& rateIndex) {
    for (int32_t i = 0; i < 2; ++i)
        for (int32_t r = 0; r < 3; ++r)
            if (mpeg::SampleRate(i, r) == rate) {
                id = uint32_t(i);
                rateIndex = uint32_t(r);
                return true;
            }
    return false;
}

// Layer III bitrate index of `bitRate` (bit/s) for the ID; 0 when none.
uint32_t BitrateIndex(uint32_t id, int bitRate) {
    for (int32_t index = 1; index <= 14; ++index)
        if (mpeg::Bitrate(int32_t(id), index) == bitRate) return uint32_t(index);
    return 0;
}

#ifdef TUNARA_HAVE_MP3ENC
// The encoder's write callback onto the output stream.
int32_t WriteToStream(const uint8_t* bytes, int32_t* count, void* user) {
    uint32_t length = uint32_t(*count);
    outStreamWrite(bytes, &length, user);
    *count = int32_t(length);
    return 0;
}
#endif

class Mp3Worker : public RecordWorker {
public:
    Mp3Worker(std::string outputPath, int bitRate, bool fast, PostFn post)
        : RecordWorker(std::move(outputPath), bitRate, std::move(post)), fast_(fast) {}

protected:
    bool Encode() override;

private:
    bool fast_;
};

bool Mp3Worker::Encode() {
    PcmWaveStream* wav = nullptr;
    PcmWaveFormat format;
    if (pcmWaveOpen(&wav, wavPath_.c_str(), &format, nullptr, nullptr) != kPcmWaveOk) {
        failure_ = "Cannot read the ripped track " + wavPath_ + ".";
        return false;
    }
    struct WavCloser {
        PcmWaveStream*& w;
        ~WavCloser() {
            if (w) pcmWaveClose(w);
        }
    } wavCloser{wav};

    uint32_t mode = 1;  // joint stereo
    uint8_t options[7] = {1, 0, 0, 0, 0, 0, 0};
    if (format.channels == 1) {
        mode = 3;
        options[4] = 0x40;
    } else if (format.channels == 2) {
        options[4] = 0x86;
    } else {
        failure_ = "The ripped track has " + std::to_string(format.channels) + " channels.";
        return false;
    }
    const int bytesPerSample = format.bitsPerSample == 8 ? 1 : 2;
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
        failure_ =
            "The ripped track has samples of " + std::to_string(format.bitsPerSample) + " bits.";
        return false;
    }
    if (bytesPerSample == 1) options[0] = 0;
    uint32_t id = 0, rateIndex = 0;
    if (!RateFields(format.sampleRate, id, rateIndex)) {
        failure_ = "MP3 files cannot hold audio at " + std::to_string(format.sampleRate) + " Hz.";
        return false;
    }
    uint32_t bitrateIndex = BitrateIndex(id, bitRate_);
    if (bitrateIndex == 0) {
        failure_ = "MP3 files cannot be written at " + std::to_string(bitRate_ / 1000) + " kbit/s.";
        return false;
    }
    // Layer III, no CRC, padding bit set, copyright and original, no emphasis.
    MpegHeaderWord header =
        mpeg::PackHeaderWord(0, id, 1, 1, bitrateIndex, rateIndex, 1, 0, mode, 0, 1, 1, 0);

#ifdef TUNARA_HAVE_MP3ENC
    OutputFileStream* out = nullptr;
    if (outStreamOpen(&out, outputPath_.c_str()) != kOutStreamOk) {
        failure_ = "Cannot create " + outputPath_ + ".";
        return false;
    }
    Mp3EncHandle encoder = nullptr;
    int32_t samplesPerFrame = 0;
    int32_t status =
        mp3EncOpen(WriteToStream, out, header, options, &samplesPerFrame, fast_ ? 1 : 0, &encoder);
    if (status != 0) {
        outStreamClose(out);
        RemoveFile(outputPath_);
        failure_ =
            std::string("The MP3 encoder cannot be opened: ") + mp3EncStatusText(status) + ".";
        return false;
    }

    const int channels = format.channels;
    const uint32_t blockBytes = uint32_t(samplesPerFrame * channels * bytesPerSample);
    std::vector<uint8_t> raw(blockBytes);
    std::vector<int16_t> pcm(size_t(samplesPerFrame * channels));
    Mp3EncConfig config{header, {}};
    std::copy(options, options + 7, config.options);
    Mp3PcmBlock block{channels, samplesPerFrame, pcm.data()};
    const Mp3AncillaryBlock ancillary{0, nullptr};
    int64_t position = 0;
    int64_t trackSamples = 0;  // per channel, without the padding of the last block
    bool ok = true;
    while (!Stopping()) {
        uint32_t length = blockBytes;
        int read = pcmWaveRead(raw.data(), &length, wav);
        if (read != kPcmWaveOk && read != kPcmWaveEnd) {
            failure_ = "Cannot read the ripped track " + wavPath_ + ".";
            ok = false;
            break;
        }
        // A track that ends on a frame boundary needs no frame of silence.
        if (read == kPcmWaveEnd && length == 0 && position > 0) break;
        if (bytesPerSample == 2)
            std::memcpy(pcm.data(), raw.data(), blockBytes);
        else  // the encoder takes 16-bit samples only
            for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t((int(raw[i]) - 128) << 8);
        status = mp3EncEncodeFrame(&config, &block, &ancillary, encoder);
        if (status != 0) {
            failure_ = std::string("MP3 encoding failed: ") + mp3EncStatusText(status) + ".";
            ok = false;
            break;
        }
        position += samplesPerFrame;
        trackSamples += length / uint32_t(channels * bytesPerSample);
        ReportPosition(position, format.sampleRate);
        if (read == kPcmWaveEnd) break;
    }
    // Without the frames of silence the encoder's delay would keep the track's last
    // moments out of the file.
    if (ok && !Stopping()) {
        status = mp3EncEncodeTail(&config, channels, samplesPerFrame, trackSamples, encoder);
        if (status != 0) {
            failure_ = std::string("MP3 encoding failed: ") + mp3EncStatusText(status) + ".";
            ok = false;
        }
    }
    if (mp3EncClose(&encoder) != 0 && ok) {
        failure_ = "The MP3 encoder failed at the end of the track.";
        ok = false;
    }
    if (outStreamClose(out) != kOutStreamOk && ok) {
        failure_ = "Cannot write " + outputPath_ + " (is the disk full?).";
        ok = false;
    }
    if (!ok || Stopping()) RemoveFile(outputPath_);
    return ok;
#else
    (void)fast_;
    failure_ = "This build has no MP3 encoder.";
    return false;
#endif
}

}  // namespace

std::unique_ptr<RecordWorker> MakeMp3Worker(std::string outputPath, int bitRate, bool fast,
                                            RecordWorker::PostFn post) {
    return std::make_unique<Mp3Worker>(std::move(outputPath), bitRate, fast, std::move(post));
}

}  // namespace tunara
