// The KVMC movie encoder: the WAV through a five-packet window into a movie's sound track.
#include <algorithm>
#include <cstring>
#include <vector>

#include "record/FileEncoders.h"
#include "record/RecordFiles.h"
#include "record/WavInput.h"
#include "sources/PcmWaveStream.h"

#include "kvmc/KvmcEncoder.h"
#include "platform/movie/MovieWriter.h"

namespace tunara {

EncodeResult EncodeMovieFile(const std::string& wavPath, const std::string& outputPath, int bitRate,
                             const EncodeTags& tags, const EncodeProgressFn& progress) {
    EncodeResult result;
    using movie::MovieStatus;
    WavInput input(wavPath);
    if (!input.failure.empty()) {
        result.failure = input.failure;
        return result;
    }
    PcmWaveStream* wav = input.stream;
    const PcmWaveFormat& format = input.format;
    struct Resources {
        KvmcHandle encoder = nullptr;
        ~Resources() { kvmcClose(&encoder); }
    } res;
    if (format.bitsPerSample != 16) {
        result.failure = "KVMC takes 16-bit samples only; " + wavPath + " has " +
                         std::to_string(format.bitsPerSample) + " bits.";
        return result;
    }
    result.totalSamples = int64_t(wav->dataBytes / uint32_t(2 * std::max(format.channels, 1)));

    KvmcStreamInfo info{1, format.channels, format.sampleRate, bitRate, 0, 0, 0};
    if (kvmcStreamValues(&info) != kKvmcOk) {
        result.failure = "KVMC cannot hold audio of " + std::to_string(format.channels) +
                         " channels at " + std::to_string(format.sampleRate) + " Hz.";
        return result;
    }
    const KvmcParams params = kvmcRecordParams(bitRate);
    const int hop = info.samplesPerPacket;
    const int packetBytes = info.bytesPerPacket;
    const int channels = info.channels;

    movie::SoundDescription sound;
    sound.dataFormat = movie::FourCc("KVM2");
    sound.dataReferenceIndex = 1;
    sound.channels = uint16_t(channels);
    sound.sampleSize = 16;
    sound.sampleRateFixed = uint32_t(format.sampleRate) << 16;
    sound.samplesPerPacket = uint32_t(hop);
    sound.bytesPerPacket = uint32_t(packetBytes / 2);
    sound.bytesPerFrame = uint32_t(packetBytes);
    sound.bytesPerSample = 2;
    sound.waveExtension.resize(kKvmcExtensionBytes);
    kvmcWriteExtension(&info, &params, sound.waveExtension.data());

    movie::MovieWriter movie;
    MovieStatus status = movie.Create(outputPath);
    if (status == MovieStatus::kOk) status = movie.AddTrack(0, 0, 256);
    if (status == MovieStatus::kOk)
        status = movie.AddMedia(movie::FourCc("soun"), format.sampleRate);
    if (status == MovieStatus::kOk) status = movie.SetSoundDescription(sound);
    if (status == MovieStatus::kOk)
        status = movie.SetTexts(movie::MovieTexts{tags.title, tags.artist, tags.album, tags.year,
                                                  tags.genre, EncoderName(), tags.track,
                                                  tags.trackTotal});
    if (status != MovieStatus::kOk) {
        result.failure =
            "Cannot create the movie " + outputPath + ": " + movie::MovieStatusText(status) + ".";
        return result;
    }
    int32_t code = kvmcOpen(&res.encoder);
    if (code == kKvmcOk) code = kvmcConfigure(res.encoder, &info, &params);
    if (code != kKvmcOk) {
        movie.Discard();
        result.failure =
            std::string("The KVMC encoder cannot be set up: ") + kvmcStatusText(code) + ".";
        return result;
    }

    status = movie.BeginMediaEdits();
    // Five hops of look-ahead: four read ahead, the fifth each packet.
    const size_t hopSamples = size_t(hop) * size_t(channels);
    std::vector<int16_t> window(5 * hopSamples, 0);
    std::vector<uint8_t> packet(static_cast<size_t>(packetBytes));
    bool ok = true, stopped = false;
    for (int slot = 0; slot < 4 && ok; ++slot) {
        uint32_t length = uint32_t(hopSamples * 2);
        const int read = pcmWaveRead(window.data() + slot * hopSamples, &length, wav);
        ok = read == kPcmWaveOk || read == kPcmWaveEnd;
        result.samples += length / uint32_t(2 * channels);
    }
    if (!ok) result.failure = "Cannot read " + wavPath + ".";
    int countdown = 4;
    int64_t position = 0;
    while (ok && status == MovieStatus::kOk) {
        uint32_t length = uint32_t(hopSamples * 2);
        int16_t* fifth = window.data() + 4 * hopSamples;
        const int read = pcmWaveRead(fifth, &length, wav);
        if (read != kPcmWaveOk && read != kPcmWaveEnd) {
            result.failure = "Cannot read " + wavPath + ".";
            ok = false;
            break;
        }
        result.samples += length / uint32_t(2 * channels);
        // A hop that still held the input's last samples needs its packet too: the look-ahead
        // countdown starts with the first empty hop.
        if (length == 0) --countdown;
        code = kvmcEncodePacket(res.encoder, int32_t(window.size() * 2), window.data(), packetBytes,
                                packet.data());
        if (code != kKvmcOk) {
            result.failure = std::string("KVMC encoding failed: ") + kvmcStatusText(code) + ".";
            ok = false;
            break;
        }
        status = movie.AddMediaSample(packet.data(), uint32_t(packetBytes), 1, hop, 0);
        std::memmove(window.data(), window.data() + hopSamples, 4 * hopSamples * 2);
        std::memset(fifth, 0, hopSamples * 2);
        position += hop;
        if (progress &&
            !progress(std::min(position, result.samples), result.totalSamples, format.sampleRate)) {
            stopped = true;
            break;
        }
        if (countdown == 0) break;
    }
    if (ok && !stopped && status == MovieStatus::kOk) {
        status = movie.EndMediaEdits();
        // The last packet runs past the input's end with the codec's own tail: the track plays
        // the input's samples and no more.
        if (status == MovieStatus::kOk)
            status = movie.InsertMediaIntoTrack(
                0, 0, std::min<int64_t>(movie.MediaDuration(), result.samples), 0x10000);
        if (status == MovieStatus::kOk) status = movie.AddMovieResource();
        if (status == MovieStatus::kOk) status = movie.Close();
    }
    if (ok && !stopped && status != MovieStatus::kOk) {
        result.failure =
            "Cannot write the movie " + outputPath + ": " + movie::MovieStatusText(status) + ".";
        ok = false;
    }
    if (!ok || stopped) movie.Discard();
    result.outcome = !ok       ? EncodeOutcome::Failed
                     : stopped ? EncodeOutcome::Stopped
                               : EncodeOutcome::Written;
    return result;
}

}  // namespace tunara
