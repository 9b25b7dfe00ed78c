// tunara-cli gain [--album] FILE...: measures ReplayGain 2.0 values and writes
// them into MP3 and FLAC files; other formats get them printed only.
#include <FLAC/stream_decoder.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "app/services/AppServices.h"
#include "engine/PcmStream.h"
#include "metadata/ReplayGain.h"
#include "metadata/ReplayGainScan.h"
#include "platform/io/OpenRegular.h"
#include "platform/ui/UserInteraction.h"
#include "sources/Mp3Source.h"
#include "sources/SourceFactory.h"

namespace tunara::cli {

namespace {

bool HasMagic(const std::string& path, const char* magic) {
    FILE* f = std::fopen(path.c_str(), "rb");
    char head[4] = {};
    const bool ok = f && std::fread(head, 1, 4, f) == 4 && std::string(head, 4) == magic;
    if (f) std::fclose(f);
    return ok;
}

// A percentage on the terminal for scans that take a while; nothing when
// standard error is not a terminal.
class Progress {
public:
    explicit Progress(const std::string& name) : name_(name), shown_(::isatty(2) == 1) {}
    ~Progress() {
        if (shown_ && last_ >= 0) std::fprintf(stderr, "\r\033[K");
    }
    void Update(int64_t done, int64_t total) {
        if (!shown_ || total <= 0) return;
        const int percent = int(std::min<int64_t>(done * 100 / total, 100));
        if (percent == last_) return;
        last_ = percent;
        std::fprintf(stderr, "\r\033[K%s: %d%%", name_.c_str(), percent);
        std::fflush(stderr);
    }

private:
    std::string name_;
    bool shown_;
    int last_ = -1;
};

struct FlacScan {
    std::unique_ptr<LoudnessMeter> meter;
    std::string failure;
    std::vector<float> block;
    unsigned bits = 0;
    int64_t total = 0, done = 0;
    Progress* progress = nullptr;
};

FLAC__StreamDecoderWriteStatus FlacWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const buffer[], void* data) {
    auto& scan = *static_cast<FlacScan*>(data);
    const unsigned channels = frame->header.channels, n = frame->header.blocksize;
    if (!scan.meter || unsigned(scan.meter->Channels()) != channels ||
        unsigned(scan.meter->SampleRate()) != frame->header.sample_rate) {
        scan.failure = "the stream's format changes";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const float scale = 1.0f / float(1u << (scan.bits - 1));
    scan.block.resize(size_t(n) * channels);
    for (unsigned i = 0; i < n; ++i)
        for (unsigned c = 0; c < channels; ++c)
            scan.block[size_t(i) * channels + c] = float(buffer[c][i]) * scale;
    scan.meter->AddFloat(scan.block.data(), n);
    scan.done += n;
    scan.progress->Update(scan.done, scan.total);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void FlacMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* data) {
    auto& scan = *static_cast<FlacScan*>(data);
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    const auto& info = m->data.stream_info;
    scan.bits = info.bits_per_sample;
    scan.total = int64_t(info.total_samples);
    scan.meter = std::make_unique<LoudnessMeter>(int(info.channels), int(info.sample_rate));
}

void FlacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data) {
    auto& scan = *static_cast<FlacScan*>(data);
    if (scan.failure.empty()) scan.failure = FLAC__StreamDecoderErrorStatusString[status];
}

std::unique_ptr<LoudnessMeter> MeasureFlac(const std::string& path, std::string& failure) {
    FlacScan scan;
    Progress progress(path);
    scan.progress = &progress;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    bool ok = decoder && FLAC__stream_decoder_init_file(decoder, path.c_str(), FlacWrite,
                                                        FlacMetadata, FlacError, &scan) ==
                             FLAC__STREAM_DECODER_INIT_STATUS_OK;
    ok = ok && FLAC__stream_decoder_process_until_end_of_stream(decoder);
    if (decoder) {
        FLAC__stream_decoder_finish(decoder);
        FLAC__stream_decoder_delete(decoder);
    }
    // A damaged frame would leave the values short of what the file holds.
    if (!ok || !scan.failure.empty() || !scan.meter || !scan.meter->Valid()) {
        failure = scan.failure.empty() ? "cannot be decoded" : scan.failure;
        return nullptr;
    }
    return std::move(scan.meter);
}

// Through the player's own sources, as the file would be heard: MP3 and WAV
// by our decoders, other sound through the media toolbox.
std::unique_ptr<LoudnessMeter> MeasureSource(const std::string& path, std::string& failure) {
    app::AppServices services(nullptr);  // messages go to standard error
    if (NeedsMediaToolbox(path)) services.StartMedia();
    std::unique_ptr<MediaSource> source = services.Sources().Create(path);
    PcmStream* pcm = source ? source->Pcm() : nullptr;
    if (!source || (source->SetLocation(path), !source->LoadInfo()) || !pcm || !pcm->OpenStream()) {
        if (source) PrintError(*source);
        failure = pcm || !source ? "cannot be decoded" : "cannot be measured (it is no sound file)";
        return nullptr;
    }
    const int32_t rate = pcm->StreamFormat().sampleRate, channels = pcm->StreamFormat().channels;
    auto meter = std::make_unique<LoudnessMeter>(channels, rate);
    if (!meter->Valid()) failure = "its sample format cannot be measured";
    Progress progress(path);
    const int64_t total = int64_t(source->GetDuration()) * rate / 1000;
    constexpr int kFrames = 4096;
    std::vector<uint8_t> block(size_t(kFrames) * size_t(std::max(channels, 1)) * 4);
    bool damaged = false;
    while (failure.empty()) {
        const int n = pcm->ReadFrames(block.data(), kFrames);
        if (PrintError(*source)) damaged = true;
        if (n <= 0) {
            auto* mp3 = dynamic_cast<Mp3Source*>(source.get());
            if (n == 0 && mp3 && mp3->NextPart()) continue;
            break;
        }
        const PcmStreamFormat now = pcm->StreamFormat();
        if (now.sampleRate != rate || now.channels != channels) {
            failure = "the stream's format changes";
            break;
        }
        meter->AddPcm(block.data(), size_t(n), now.bitsPerSample);
        progress.Update(meter->Frames(), total);
    }
    pcm->CloseStream();
    if (PrintError(*source)) damaged = true;
    if (failure.empty() && damaged) failure = "cannot be decoded to its end";
    return failure.empty() ? std::move(meter) : nullptr;
}

std::string Lufs(double gainDb) {
    char b[32];
    std::snprintf(b, sizeof b, "%.2f LUFS", kReplayGainReferenceLufs - gainDb);
    return b;
}

void Print(const std::string& path, const char* what, float gain, float peak) {
    if (std::isnan(gain))
        std::printf("%s: %s silent, peak %s\n", path.c_str(), what, PeakText(peak).c_str());
    else
        std::printf("%s: %s %s, peak %s (%s)\n", path.c_str(), what, GainText(gain).c_str(),
                    PeakText(peak).c_str(), Lufs(gain).c_str());
}

constexpr const char* kHelp =
    "Measures each FILE's ReplayGain 2.0 values (EBU R128 loudness against -18 LUFS, true\n"
    "peak) and writes them into MP3 (ID3v2) and FLAC (Vorbis comment) files; other tags stay\n"
    "as they were. Files of other formats get the values printed only.\n"
    "--album: the files are one album and get album values as well.\n";

int Gain(const std::vector<std::string>& args) {
    bool album = false;
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && a == "--album") {
            album = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "tunara-cli gain: unknown option %s\n", a.c_str());
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: tunara-cli gain [--album] FILE...\n%s", kHelp);
        return 2;
    }
    int exitCode = 0;
    std::vector<std::unique_ptr<LoudnessMeter>> meters;
    for (const std::string& path : files) {
        std::string failure;
        std::unique_ptr<LoudnessMeter> meter;
        if (io::IsLocalNonRegularFile(path))
            failure = "not a regular file";
        else if (HasMagic(path, "fLaC"))
            meter = MeasureFlac(path, failure);
        else
            meter = MeasureSource(path, failure);
        if (!meter) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), failure.c_str());
            exitCode = 1;
        }
        meters.push_back(std::move(meter));
    }
    ReplayGainValues albumValues;
    if (album) {
        std::vector<const LoudnessMeter*> all;
        for (const auto& m : meters) all.push_back(m.get());
        albumValues = LoudnessMeter::AlbumValues(all);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (!meters[i]) continue;
        ReplayGainValues v = meters[i]->TrackValues();
        Print(files[i], "track", v.trackGain, v.trackPeak);
        if (album) {
            v.albumGain = albumValues.albumGain;
            v.albumPeak = albumValues.albumPeak;
            Print(files[i], "album", v.albumGain, v.albumPeak);
        }
    }
    // Album values without every file of the album would be wrong for all of them.
    if (album && exitCode != 0) {
        std::fprintf(stderr, "tunara-cli gain: no file was changed\n");
        return exitCode;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (!meters[i]) continue;
        ReplayGainValues v = meters[i]->TrackValues();
        if (album) v.albumGain = albumValues.albumGain, v.albumPeak = albumValues.albumPeak;
        std::string failure;
        if (HasMagic(files[i], "fLaC"))
            failure = WriteFlacReplayGain(files[i], v);
        else if (SniffFile(files[i]) == FileContent::MpegLayer3)
            failure = WriteMp3ReplayGain(files[i], v);
        else
            continue;  // printed only
        if (!failure.empty()) {
            std::fprintf(stderr, "%s\n", failure.c_str());
            exitCode = 1;
        }
    }
    return exitCode;
}

Registration reg({"gain", "gain [--album] FILE...", &Gain, kHelp});

}  // namespace

}  // namespace tunara::cli
