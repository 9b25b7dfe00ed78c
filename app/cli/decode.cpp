// tunara-cli decode IN.mp3 OUT: decodes an MP3 file with our decoder. OUT ending in ".wav" gets
// a 16-bit WAV file at the stream's rate; any other OUT ("-" for standard output) gets the raw
// 16-bit little-endian samples, each MPEG frame at its own channel count. Junk before the first
// frame and the encoder's summary frame are skipped, its delay and padding trimmed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "app/cli/DecodeKvmc.h"
#include "metadata/Id3Tag.h"
#include "mpegdec/mpegdec.h"
#include "mpegdec/mpegstream.h"
#include "platform/io/WavHeader.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int32_t ReadFromMemory(uint8_t* dst, int32_t* count, void* user) {
    auto* in = static_cast<Input*>(user);
    size_t n = in->size - in->pos;
    if (n > size_t(*count)) n = size_t(*count);
    std::memcpy(dst, in->data + in->pos, n);
    in->pos += n;
    *count = int32_t(n);
    return 0;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) out.insert(out.end(), block, block + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Byte range of the audio: after an ID3v2 tag, before a trailing ID3v1 record,
// found by the same tag reader the player uses.
// Also the "iTunSMPB" comment's text, where the tag has one.
void AudioRange(const std::string& path, size_t fileSize, size_t& begin, size_t& end,
                std::string& smpb) {
    begin = 0;
    end = fileSize;
    tunara::Id3Tag v1;
    if (fileSize >= 128 && v1.readV1(path) == tunara::kId3Ok) end -= 128;
    tunara::Id3Tag v2;
    int64_t audioStart = 0;
    if (v2.readV2(path, 0, audioStart) == tunara::kId3Ok) {
        begin = std::min(end, size_t(std::max<int64_t>(audioStart, 0)));
        smpb = v2.smpb();
    }
}

void WriteWavHeader(FILE* f, int32_t channels, int32_t rate, uint64_t dataBytes) {
    uint8_t h[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({uint16_t(channels), uint32_t(rate), 16}, dataBytes, h);
    std::fwrite(h, 1, sizeof h, f);
}
bool EndsWith(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        const char a = s[s.size() - tail.size() + i];
        if ((a >= 'A' && a <= 'Z' ? char(a + 32) : a) != tail[i]) return false;
    }
    return true;
}

constexpr const char* kHelp =
    "Decodes IN to OUT: a 16-bit WAV file when OUT ends in .wav, else raw 16-bit\n"
    "little-endian samples; OUT \"-\" writes raw samples to standard output.\n"
    "The encoder's delay and padding are trimmed (gapless).\n";

int Decode(const std::vector<std::string>& args) {
    if (args.size() == 2 && (EndsWith(args[0], ".mov") || EndsWith(args[0], ".MOV")))
        return tunara::cli::DecodeKvmcMovie(args[0], args[1]);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tunara-cli decode IN.mp3 OUT\n%s", kHelp);
        return 2;
    }
    std::vector<uint8_t> file;
    if (!ReadWholeFile(args[0], file)) {
        std::fprintf(stderr, "cannot read %s\n", args[0].c_str());
        return 1;
    }
    size_t begin, end;
    std::string smpb;
    AudioRange(args[0], file.size(), begin, end, smpb);
    MpegStreamLayout layout;
    if (!mpegStreamLayout(file.data() + begin, end - begin, &layout)) {
        std::fprintf(stderr, "%s: %s\n", args[0].c_str(), mpegDecStatusText(kMpegDecNoFrameFound));
        return 1;
    }
    const int32_t frameSamples = mpegHeaderSamplesPerFrame(layout.first);
    int32_t delay = layout.summary.encoderDelay, padding = layout.summary.encoderPadding;
    if (delay < 0 || padding < 0) mpegStreamParseSmpb(smpb.c_str(), &delay, &padding);
    const MpegStreamTrim trim = mpegStreamTrim(layout.frames, frameSamples, delay, padding);
    Input input{file.data() + begin + size_t(layout.audioFrame),
                end - begin - size_t(layout.audioFrame), 0};

    const uint8_t options[4] = {1, 0, 0, 0};
    MpegDecHandle dec = nullptr;
    int32_t rc = mpegDecOpen(options, 0x008D, ReadFromMemory, &input, &dec);
    if (rc != kMpegDecOk) {
        std::fprintf(stderr, "decoder open failed: %s\n", mpegDecStatusText(rc));
        return 1;
    }
    const bool toStdout = args[1] == "-";
    FILE* out = toStdout ? stdout : std::fopen(args[1].c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", args[1].c_str());
        mpegDecClose(&dec);
        return 1;
    }
    static char outBuffer[1 << 16];
    std::setvbuf(out, outBuffer, _IOFBF, sizeof outBuffer);
    const bool wav = !toStdout && EndsWith(args[1], ".wav");
    const int32_t wavChannels = mpegHeaderChannels(layout.first);
    const int32_t rate = mpegHeaderSampleRate(layout.first);
    uint64_t dataBytes = 0;
    if (wav) WriteWavHeader(out, wavChannels, rate, 0);  // rewritten once the length is known

    int16_t pcm[1152 * 2];
    int16_t converted[1152 * 2];
    MpegPcmBlock block{0, 0, pcm};
    MpegHeaderWord header = 0;
    int exitCode = 0;
    bool located = false;
    int32_t lastChannels = wavChannels;
    int64_t decoded = 0;  // decoder output so far, samples per channel
    while (decoded < trim.skip + trim.keep) {
        rc = mpegDecDecodeFrame(&header, &block, nullptr, dec);
        if (rc == kMpegDecEndOfData) break;
        if (rc == kMpegDecOk && !located && block.samplesPerChannel == 0) {
            located = true;
            continue;
        }
        located = true;
        if (rc == kMpegDecBadSideInfo || (rc == kMpegDecOk && block.samplesPerChannel == 0)) {
            // That frame is lost; it keeps its time as silence and the stream goes on.
            std::fill(pcm, pcm + frameSamples * lastChannels, int16_t(0));
            block.channels = lastChannels;
            block.samplesPerChannel = frameSamples;
        } else if (rc != kMpegDecOk) {
            std::fprintf(stderr, "%s: %s\n", args[0].c_str(), mpegDecStatusText(rc));
            exitCode = 1;
            break;
        }
        if (rc == kMpegDecOk && mpegHeaderSampleRate(header) != rate) {
            // One WAV file holds one rate: stop rather than write the rest at the wrong speed.
            std::fprintf(stderr, "%s: the sample rate changes at sample %llu (%d Hz to %d Hz)\n",
                         args[0].c_str(),
                         static_cast<unsigned long long>(dataBytes / (2 * size_t(wavChannels))),
                         rate, mpegHeaderSampleRate(header));
            exitCode = 1;
            break;
        }
        lastChannels = block.channels;
        // Only the part of this frame inside the trimmed range is written.
        const int64_t from = std::max<int64_t>(trim.skip - decoded, 0);
        const int64_t to =
            std::min<int64_t>(block.samplesPerChannel, trim.skip + trim.keep - decoded);
        decoded += block.samplesPerChannel;
        if (to <= from) continue;
        const int32_t n = int32_t(to - from);
        const int16_t* samples = pcm + from * block.channels;
        int32_t channels = block.channels;
        // A WAV file has one channel count: mono frames are doubled, stereo ones mixed.
        if (wav && channels != wavChannels) {
            for (int32_t i = 0; i < n; ++i) {
                if (wavChannels == 2) {
                    converted[2 * i] = converted[2 * i + 1] = samples[i];
                } else {
                    converted[i] = int16_t((int32_t(samples[2 * i]) + samples[2 * i + 1]) / 2);
                }
            }
            samples = converted;
            channels = wavChannels;
        }
        const size_t count = size_t(n) * size_t(channels);
        if (std::fwrite(samples, sizeof(int16_t), count, out) != count) {
            std::fprintf(stderr, "write failed: %s\n", args[1].c_str());
            exitCode = 1;
            break;
        }
        dataBytes += count * sizeof(int16_t);
    }
    if (wav && std::fseek(out, 0, SEEK_SET) == 0) WriteWavHeader(out, wavChannels, rate, dataBytes);
    if (toStdout ? std::fflush(out) != 0 : std::fclose(out) != 0) exitCode = 1;
    mpegDecClose(&dec);
    return exitCode;
}

tunara::cli::Registration reg({"decode", "decode IN.mp3|IN.mov OUT(.wav|.pcm|-)", &Decode, kHelp});

}  // namespace
