// The FLAC file encoder: the WAV's samples through libFLAC, with Vorbis comments.
#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "record/FileEncoders.h"
#include "record/RecordFiles.h"
#include "record/WavInput.h"
#include "sources/PcmWaveStream.h"

namespace tunara {

std::vector<std::pair<std::string, std::string>> FlacComments(const EncodeTags& tags) {
    std::vector<std::pair<std::string, std::string>> c;
    const auto add = [&c](const char* name, const std::string& value) {
        if (!value.empty()) c.emplace_back(name, value);
    };
    add("TITLE", tags.title);
    add("ARTIST", tags.artist);
    add("ALBUM", tags.album);
    if (tags.track > 0) add("TRACKNUMBER", std::to_string(tags.track));
    if (tags.trackTotal > 0) add("TRACKTOTAL", std::to_string(tags.trackTotal));
    add("DATE", tags.year);
    add("GENRE", tags.genre);
    add("DISCID", tags.cddbDiscId);
    add("MUSICBRAINZ_DISCID", tags.musicBrainzDiscId);
    for (const auto& [name, value] : tags.extra) add(name.c_str(), value);
    return c;
}

EncodeResult EncodeFlacFile(const std::string& wavPath, const std::string& outputPath,
                            const FlacFileSettings& settings, const EncodeProgressFn& progress) {
    EncodeResult result;
    WavInput input(wavPath, settings.measureLoudness);
    if (!input.failure.empty()) {
        result.failure = input.failure;
        return result;
    }
    PcmWaveStream* wav = input.stream;
    const PcmWaveFormat& format = input.format;
    struct Closer {
        FLAC__StreamEncoder* e = nullptr;
        FLAC__StreamMetadata* comments = nullptr;
        ~Closer() {
            if (e) FLAC__stream_encoder_delete(e);
            if (comments) FLAC__metadata_object_delete(comments);
        }
    } closer;
    if (format.channels < 1 || format.channels > 2 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16)) {
        result.failure =
            wavPath + ": only 8- or 16-bit samples in one or two channels can be coded.";
        return result;
    }
    const int channels = format.channels, bytesPerSample = format.bitsPerSample / 8;
    result.totalSamples = int64_t(wav->dataBytes / uint32_t(channels * bytesPerSample));

    FLAC__StreamEncoder* encoder = closer.e = FLAC__stream_encoder_new();
    if (!encoder) {
        result.failure = "The FLAC encoder cannot be opened.";
        return result;
    }
    FLAC__stream_encoder_set_channels(encoder, unsigned(channels));
    FLAC__stream_encoder_set_bits_per_sample(encoder, unsigned(format.bitsPerSample));
    FLAC__stream_encoder_set_sample_rate(encoder, unsigned(format.sampleRate));
    FLAC__stream_encoder_set_compression_level(encoder, unsigned(std::clamp(settings.level, 0, 8)));
    FLAC__stream_encoder_set_total_samples_estimate(encoder, FLAC__uint64(result.totalSamples));

    FLAC__StreamMetadata* comments = closer.comments =
        FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    bool ok = comments != nullptr;
    for (const auto& [name, value] : FlacComments(settings.tags)) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        if (!ok ||
            !FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                            value.c_str()) ||
            !FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, false))
            ok = false;
    }
    FLAC__StreamMetadata* blocks[1] = {comments};
    if (ok) ok = FLAC__stream_encoder_set_metadata(encoder, blocks, 1);
    if (!ok) {
        result.failure = "The FLAC file's tags cannot be made.";
        return result;
    }
    if (FLAC__stream_encoder_init_file(encoder, outputPath.c_str(), nullptr, nullptr) !=
        FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        result.failure = "Cannot create " + outputPath + ".";
        RemoveFile(outputPath);
        return result;
    }

    constexpr uint32_t kBlock = 32768;  // samples per channel read at a time
    std::vector<uint8_t> raw(size_t(kBlock) * size_t(channels * bytesPerSample));
    std::vector<FLAC__int32> pcm(size_t(kBlock) * size_t(channels));
    bool stopped = false;
    while (ok) {
        uint32_t length = uint32_t(raw.size());
        const int read = input.Read(raw.data(), &length);
        if (read != kPcmWaveOk && read != kPcmWaveEnd) {
            result.failure = "Cannot read " + wavPath + ".";
            ok = false;
            break;
        }
        const uint32_t frames = length / uint32_t(channels * bytesPerSample);
        const size_t values = size_t(frames) * size_t(channels);
        if (bytesPerSample == 2)
            for (size_t i = 0; i < values; ++i)
                pcm[i] = int16_t(uint16_t(raw[2 * i] | raw[2 * i + 1] << 8));
        else
            for (size_t i = 0; i < values; ++i) pcm[i] = int(raw[i]) - 128;
        if (frames > 0 && !FLAC__stream_encoder_process_interleaved(encoder, pcm.data(), frames)) {
            result.failure = "Cannot write " + outputPath + " (is the disk full?).";
            ok = false;
            break;
        }
        result.samples += frames;
        if (frames > 0 && progress &&
            !progress(result.samples, result.totalSamples, format.sampleRate)) {
            stopped = true;
            break;
        }
        if (read == kPcmWaveEnd || frames == 0) break;
    }
    // finish writes the STREAMINFO's sums and counts; a stopped file is removed anyway.
    if (!FLAC__stream_encoder_finish(encoder) && ok && !stopped) {
        result.failure = "Cannot write " + outputPath + " (is the disk full?).";
        ok = false;
    }
    if (!ok || stopped) RemoveFile(outputPath);
    if (ok && !stopped) result.loudness = input.loudness;
    result.outcome = !ok       ? EncodeOutcome::Failed
                     : stopped ? EncodeOutcome::Stopped
                               : EncodeOutcome::Written;
    return result;
}

}  // namespace tunara
