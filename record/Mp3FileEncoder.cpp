// The MP3 file encoder: tag, Info frame, audio frames, optional ID3v1 record.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "metadata/Id3Tag.h"
#include "mpeg/Header.h"
#include "record/FileEncoders.h"
#include "record/RecordFiles.h"
#include "record/WavInput.h"
#include "sources/PcmWaveStream.h"

#include "mp3enc/mp3enc.h"
#include "mp3enc/mp3enctail.h"
#include "platform/io/WriteAll.h"

#ifndef TUNARA_VERSION
#define TUNARA_VERSION "0"
#endif

namespace tunara {

const char* EncoderName() {
    return "Tunara " TUNARA_VERSION;
}

uint16_t InfoCrc16(const uint8_t* data, size_t size, uint16_t crc) {
    static const auto table = [] {
        std::vector<uint16_t> t(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? (c >> 1) ^ 0xA001 : c >> 1;
            t[i] = uint16_t(c);
        }
        return t;
    }();
    for (size_t i = 0; i < size; ++i) crc = uint16_t(crc >> 8 ^ table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

namespace {

void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Header, side information, the Xing-layout block and its 36-byte extension.
constexpr int32_t kInfoBlockBytes = 120 + 36;

}  // namespace

std::vector<uint8_t> BuildInfoFrame(uint32_t header, int64_t frames, int64_t audioBytes,
                                    int32_t delay, int32_t padding, uint16_t musicCrc,
                                    int32_t vbrQuality, const uint8_t* toc) {
    const bool vbr = vbrQuality >= 0 && toc;
    const int32_t id = mpegHeaderId(header), rateIndex = mpegHeaderRateIndex(header);
    const int32_t channels = mpegHeaderChannels(header);
    const int32_t sideInfo = mpeg::SideInfoBytes(id, channels);
    // Low bit rates at low sampling rates give frames too small for the block: the Info frame
    // then takes the smallest rate that holds it, as it carries no audio.
    int32_t bitrateIndex = mpegHeaderBitrateIndex(header), frameBytes = 0;
    for (; bitrateIndex <= 14; ++bitrateIndex) {
        frameBytes = mpeg::FrameLengthNoPadding(id, rateIndex, bitrateIndex);
        if (frameBytes >= 4 + sideInfo + kInfoBlockBytes) break;
    }
    if (bitrateIndex > 14) return {};
    std::vector<uint8_t> f(size_t(frameBytes), 0);
    f[0] = 0xFF;
    f[1] = uint8_t(0xE0 | (id == 1 ? 0x18 : 0x10) | 0x02 | 0x01);  // Layer III, no CRC
    f[2] = uint8_t(bitrateIndex << 4 | rateIndex << 2);
    f[3] =
        uint8_t(mpegHeaderMode(header) << 6 | mpegHeaderModeExt(header) << 4 |
                ((header >> 23) & 1) << 3 | ((header >> 22) & 1) << 2 | mpegHeaderEmphasis(header));
    uint8_t* x = f.data() + 4 + sideInfo;
    const int64_t totalBytes = audioBytes + frameBytes;
    std::memcpy(x, vbr ? "Xing" : "Info", 4);
    Put32(x + 4, 0x0F);  // frames, bytes, seek table, quality
    Put32(x + 8, uint32_t(frames));
    Put32(x + 12, uint32_t(totalBytes));
    for (int i = 0; i < 100; ++i) x[16 + i] = vbr ? toc[i] : uint8_t(i * 256 / 100);
    Put32(x + 116, vbr ? uint32_t(100 - 10 * vbrQuality) : 0);
    uint8_t* e = x + 120;
    // Decoders trust the delay and padding below only under a name they know, and every one of
    // them knows this block's layout by "LAME"; our own name is in the ID3v2 tag's TSSE frame.
    const std::string name = "LAMET" TUNARA_VERSION;
    std::memset(e, ' ', 9);
    std::memcpy(e, name.data(), std::min<size_t>(9, name.size()));
    e[9] = vbr ? 0x04 : 0x01;  // revision 0, variable or constant bit rate
    const int32_t kbps = mpeg::Bitrate(id, mpegHeaderBitrateIndex(header)) / 1000;
    e[20] = uint8_t(std::min(kbps, 255));
    e[21] = uint8_t(delay >> 4);
    e[22] = uint8_t((delay & 15) << 4 | (padding >> 8 & 15));
    e[23] = uint8_t(padding);
    const int32_t rate = mpeg::SampleRate(id, rateIndex);
    e[24] = uint8_t((rate <= 32000 ? 0 : rate == 44100 ? 1 : 2) << 6);
    Put32(e + 28, uint32_t(totalBytes));
    e[32] = uint8_t(musicCrc >> 8);
    e[33] = uint8_t(musicCrc);
    const uint16_t tagCrc = InfoCrc16(f.data(), size_t(e + 34 - f.data()));
    e[34] = uint8_t(tagCrc >> 8);
    e[35] = uint8_t(tagCrc);
    return f;
}

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

uint32_t BitrateIndex(uint32_t id, int bitRate) {
    for (int32_t index = 1; index <= 14; ++index)
        if (mpeg::Bitrate(int32_t(id), index) == bitRate) return uint32_t(index);
    return 0;
}

struct Sink {
    int fd = -1;
    off_t end = 0;
    uint16_t crc = 0;
    bool failed = false;
};

int32_t WriteToSink(const uint8_t* bytes, int32_t* count, void* user) {
    auto* s = static_cast<Sink*>(user);
    if (s->failed || io::WriteAllAt(s->fd, bytes, size_t(*count), s->end) != 0) {
        s->failed = true;
        *count = 0;
        return 0;
    }
    s->crc = InfoCrc16(bytes, size_t(*count), s->crc);
    s->end += *count;
    return 0;
}

// The encoder counts its delay with a decoder's 529 samples; the Info frame without them.
constexpr int32_t kDecoderDelay = 529;

}  // namespace

EncodeResult EncodeMp3File(const std::string& wavPath, const std::string& outputPath,
                           const Mp3FileSettings& settings, const EncodeProgressFn& progress) {
    EncodeResult result;
    WavInput input(wavPath, settings.measureLoudness);
    if (!input.failure.empty()) {
        result.failure = input.failure;
        return result;
    }
    PcmWaveStream* wav = input.stream;
    const PcmWaveFormat& format = input.format;

    uint8_t options[7] = {1, 0, 0, 0, 0, 0, 0};
    uint32_t mode = 1;  // joint stereo
    if (format.channels == 1) {
        mode = 3;
        options[4] = 0x40;
    } else if (format.channels == 2) {
        options[4] = 0x80;
    } else {
        result.failure = "Only one or two channels can be coded; " + wavPath + " has " +
                         std::to_string(format.channels) + ".";
        return result;
    }
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
        result.failure = "Only 8- and 16-bit samples can be coded; " + wavPath + " has " +
                         std::to_string(format.bitsPerSample) + " bits.";
        return result;
    }
    const int bytesPerSample = format.bitsPerSample / 8;
    if (bytesPerSample == 1) options[0] = 0;
    uint32_t id = 0, rateIndex = 0;
    if (!RateFields(format.sampleRate, id, rateIndex)) {
        result.failure = std::to_string(format.sampleRate) +
                         " Hz: sampling rate not supported by MP3 files (16000, 22050, 24000, "
                         "32000, 44100 and 48000 Hz are).";
        return result;
    }
    const bool vbr = settings.vbrQuality >= 0;
    // A variable-rate stream's frames choose their own rates; the opening one only sizes the
    // Xing frame.
    const uint32_t bitrateIndex = vbr ? 9 : BitrateIndex(id, settings.bitRate);
    if (bitrateIndex == 0) {
        result.failure = std::to_string(settings.bitRate / 1000) +
                         " kbit/s: bit rate not available in MP3 files at " +
                         std::to_string(format.sampleRate) + " Hz.";
        return result;
    }
    result.totalSamples = int64_t(wav->dataBytes / uint32_t(format.channels * bytesPerSample));
    // Layer III, no CRC, padding bit set, copyright and original, no emphasis.
    const MpegHeaderWord header =
        mpeg::PackHeaderWord(0, id, 1, 1, bitrateIndex, rateIndex, 1, 0, mode, 0, 1, 1, 0);

    Sink sink;
    sink.fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (sink.fd < 0) {
        result.failure = "Cannot create " + outputPath + ".";
        return result;
    }
    bool ok = true;
    const auto fail = [&](const std::string& text) {
        if (ok) result.failure = text;
        ok = false;
    };

    Id3v2Fields fields{settings.tags.title, settings.tags.artist,    settings.tags.album,
                       settings.tags.year,  settings.tags.genre,     EncoderName(),
                       settings.tags.track, settings.tags.trackTotal};
    const std::vector<uint8_t> tag = BuildId3v24Tag(fields);
    // The Info frame's place is kept and filled in once the counts are known.
    const std::vector<uint8_t> placeholder = BuildInfoFrame(header, 0, 0, 0, 0, 0);
    std::vector<uint8_t> front = tag;
    front.insert(front.end(), placeholder.size(), 0);
    if (placeholder.empty() || io::WriteAllAt(sink.fd, front.data(), front.size(), 0) != 0)
        fail("Cannot write " + outputPath + " (is the disk full?).");
    sink.end = off_t(front.size());

    Mp3EncHandle encoder = nullptr;
    int32_t samplesPerFrame = 0;
    if (ok) {
        const int32_t status = mp3EncOpen(WriteToSink, &sink, header, options, &samplesPerFrame,
                                          settings.fast ? 1 : 0, &encoder);
        const int32_t vbrStatus =
            status == kMp3EncOk && vbr ? mp3EncSetVbr(encoder, settings.vbrQuality) : kMp3EncOk;
        if (status != kMp3EncOk || vbrStatus != kMp3EncOk)
            fail(std::string("The MP3 encoder cannot be opened: ") +
                 mp3EncStatusText(status != kMp3EncOk ? status : vbrStatus) + ".");
    }

    const int channels = format.channels;
    const uint32_t blockBytes = uint32_t(samplesPerFrame * channels * bytesPerSample);
    std::vector<uint8_t> raw(blockBytes);
    std::vector<int16_t> pcm(size_t(samplesPerFrame) * size_t(channels));
    const Mp3PcmBlock block{channels, samplesPerFrame, pcm.data()};
    int64_t frames = 0;
    bool stopped = false;
    // Frame lengths, for the seek table of a variable-rate stream.
    std::vector<int32_t> frameBytes;
    Mp3EncConfig config{};
    const auto encodeFrame = [&] {
        const int32_t status = mp3EncEncodeFrame(&config, &block, nullptr, encoder);
        if (status == kMp3EncOk) {
            ++frames;
            if (vbr) frameBytes.push_back(mpegHeaderFrameBytes(config.header));
        }
        return status;
    };
    const auto writeFailure = [&] {
        return "Cannot write " + outputPath + " (is the disk full?).";
    };
    while (ok) {
        uint32_t length = blockBytes;
        const int read = input.Read(raw.data(), &length);
        if (read != kPcmWaveOk && read != kPcmWaveEnd) {
            fail("Cannot read " + wavPath + ".");
            break;
        }
        if (length == 0) break;
        if (bytesPerSample == 2)
            std::memcpy(pcm.data(), raw.data(), blockBytes);
        else  // the encoder takes 16-bit samples only
            for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t((int(raw[i]) - 128) << 8);
        const int32_t status = encodeFrame();
        if (status != kMp3EncOk) {
            fail(sink.failed
                     ? writeFailure()
                     : std::string("MP3 encoding failed: ") + mp3EncStatusText(status) + ".");
            break;
        }
        result.samples += length / uint32_t(channels * bytesPerSample);
        if (progress && !progress(result.samples, result.totalSamples, format.sampleRate)) {
            stopped = true;
            break;
        }
        if (read == kPcmWaveEnd) break;
    }
    // Silence after the last block brings the input's last samples past the encoder's delay.
    if (ok && !stopped && result.samples > 0) {
        std::fill(pcm.begin(), pcm.end(), int16_t(0));
        for (int32_t i = mp3EncTailFrames(result.samples, samplesPerFrame); i > 0 && ok; --i) {
            const int32_t status = encodeFrame();
            if (status != kMp3EncOk)
                fail(sink.failed
                         ? writeFailure()
                         : std::string("MP3 encoding failed: ") + mp3EncStatusText(status) + ".");
        }
    }
    if (encoder && mp3EncClose(&encoder) != kMp3EncOk)
        fail(sink.failed ? writeFailure() : "The MP3 encoder failed at the end of the file.");
    if (ok && !stopped) {
        const int64_t audioBytes = int64_t(sink.end) - int64_t(front.size());
        const int32_t delay = result.samples > 0 ? MP3ENC_STREAM_DELAY - kDecoderDelay : 0;
        const int32_t padding =
            result.samples > 0 ? int32_t(frames * samplesPerFrame - delay - result.samples) : 0;
        // Entry i: where the frame at i% of the stream starts, in 256ths of the whole size.
        uint8_t toc[100] = {};
        if (vbr && !frameBytes.empty()) {
            const int64_t total = audioBytes + int64_t(placeholder.size());
            int64_t at = int64_t(placeholder.size());
            size_t frame = 0;
            for (int i = 0; i < 100; ++i) {
                const size_t wanted = size_t(int64_t(i) * int64_t(frameBytes.size()) / 100);
                for (; frame < wanted; ++frame) at += frameBytes[frame];
                toc[i] = uint8_t(std::min<int64_t>(255, at * 256 / total));
            }
        }
        const std::vector<uint8_t> info =
            BuildInfoFrame(header, frames, audioBytes, delay, padding, sink.crc,
                           vbr ? settings.vbrQuality : -1, toc);
        if (io::WriteAllAt(sink.fd, info.data(), info.size(), int64_t(tag.size())) != 0)
            fail(writeFailure());
    }
    if (ok && !stopped && ::fsync(sink.fd) != 0) fail(writeFailure());
    if (::close(sink.fd) != 0) fail(writeFailure());
    if (ok && !stopped && settings.id3v1) {
        Id3Tag v1;
        v1.setGenreName(settings.tags.genre);
        const Id3Result status = v1.writeV1(
            outputPath, "1.1", settings.tags.title, settings.tags.artist, settings.tags.album,
            settings.tags.year, settings.id3v1Comment, settings.tags.track, v1.genreIndex());
        if (status != kId3Ok)
            fail("Cannot write the tag of " + outputPath + ": " + Id3StatusText(status) + ".");
    }
    if (!ok || stopped) RemoveFile(outputPath);
    if (ok && !stopped) result.loudness = input.loudness;
    result.outcome = !ok       ? EncodeOutcome::Failed
                     : stopped ? EncodeOutcome::Stopped
                               : EncodeOutcome::Written;
    return result;
}

}  // namespace tunara
