// The KVMC worker: the temporary WAV through the KVMC encoder into the sound
// track of a QuickTime movie, one packet at a time.
#include <cstring>
#include <vector>

#include "record/RecordFiles.h"
#include "record/RecordWorker.h"
#include "sources/PcmWaveStream.h"

#ifdef TUNARA_HAVE_KVMC
#include "kvmc/kvmc.h"
#include "platform/movie/MovieWriter.h"
#endif

namespace tunara {

namespace {

class KvmcWorker : public RecordWorker {
public:
    using RecordWorker::RecordWorker;

protected:
    bool Encode() override;
};

#ifdef TUNARA_HAVE_KVMC

bool KvmcWorker::Encode() {
    using movie::MovieStatus;
    PcmWaveStream* wav = nullptr;
    PcmWaveFormat format;
    if (pcmWaveOpen(&wav, wavPath_.c_str(), &format, nullptr, nullptr) != kPcmWaveOk) {
        failure_ = "Cannot read the ripped track " + wavPath_ + ".";
        return false;
    }
    struct Resources {
        PcmWaveStream* wav;
        KvmcHandle encoder = nullptr;
        ~Resources() {
            kvmcClose(&encoder);
            pcmWaveClose(wav);
        }
    } res{wav};
    if (format.bitsPerSample != 16) {
        // The encoder takes 16-bit samples only; the reader always writes them.
        failure_ =
            "The ripped track has samples of " + std::to_string(format.bitsPerSample) + " bits.";
        return false;
    }

    KvmcStreamInfo info{1, format.channels, format.sampleRate, bitRate_, 0, 0, 0};
    if (kvmcStreamValues(&info) != kKvmcOk) {
        failure_ = "KVMC cannot hold audio of " + std::to_string(format.channels) +
                   " channels at " + std::to_string(format.sampleRate) + " Hz.";
        return false;
    }
    const KvmcParams params = kvmcRecordParams(bitRate_);
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
    MovieStatus status = movie.Create(outputPath_);
    if (status == MovieStatus::kOk) status = movie.AddTrack(0, 0, 256);
    if (status == MovieStatus::kOk)
        status = movie.AddMedia(movie::FourCc("soun"), format.sampleRate);
    if (status == MovieStatus::kOk) status = movie.SetSoundDescription(sound);
    if (status != MovieStatus::kOk) {
        failure_ =
            "Cannot create the movie " + outputPath_ + ": " + movie::MovieStatusText(status) + ".";
        return false;
    }
    int32_t result = kvmcOpen(&res.encoder);
    if (result == kKvmcOk) result = kvmcConfigure(res.encoder, &info, &params);
    if (result != kKvmcOk) {
        movie.Discard();
        failure_ =
            std::string("The KVMC encoder cannot be set up: ") + kvmcStatusText(result) + ".";
        return false;
    }

    status = movie.BeginMediaEdits();
    // Five hops of look-ahead: four read ahead, the fifth each packet.
    const size_t hopSamples = size_t(hop) * size_t(channels);
    std::vector<int16_t> window(5 * hopSamples, 0);
    std::vector<uint8_t> packet(static_cast<size_t>(packetBytes));
    int readStatus = kPcmWaveOk;
    for (int slot = 0; slot < 4 && readStatus == kPcmWaveOk; ++slot) {
        uint32_t length = uint32_t(hopSamples * 2);
        readStatus = pcmWaveRead(window.data() + slot * hopSamples, &length, wav);
    }
    int countdown = 4;
    int64_t position = 0;
    bool ok = readStatus == kPcmWaveOk || readStatus == kPcmWaveEnd;
    if (!ok) failure_ = "Cannot read the ripped track " + wavPath_ + ".";
    while (ok && status == MovieStatus::kOk && !Stopping()) {
        uint32_t length = uint32_t(hopSamples * 2);
        int16_t* fifth = window.data() + 4 * hopSamples;
        readStatus = pcmWaveRead(fifth, &length, wav);
        if (readStatus == kPcmWaveEnd) {
            // A hop that still held the track's last samples needs its packet
            // too: the look-ahead countdown starts with the first empty hop.
            if (length == 0) --countdown;
        } else if (readStatus != kPcmWaveOk) {
            failure_ = "Cannot read the ripped track " + wavPath_ + ".";
            ok = false;
            break;
        }
        result = kvmcEncodePacket(res.encoder, int32_t(window.size() * 2), window.data(),
                                  packetBytes, packet.data());
        if (result != kKvmcOk) {
            failure_ = std::string("KVMC encoding failed: ") + kvmcStatusText(result) + ".";
            ok = false;
            break;
        }
        status = movie.AddMediaSample(packet.data(), uint32_t(packetBytes), 1, hop, 0);
        std::memmove(window.data(), window.data() + hopSamples, 4 * hopSamples * 2);
        std::memset(fifth, 0, hopSamples * 2);
        position += hop;
        ReportPosition(position, format.sampleRate);
        if (countdown == 0) break;
    }
    if (ok && status == MovieStatus::kOk && !Stopping()) {
        status = movie.EndMediaEdits();
        if (status == MovieStatus::kOk)
            status = movie.InsertMediaIntoTrack(0, 0, movie.MediaDuration(), 0x10000);
        if (status == MovieStatus::kOk) status = movie.AddMovieResource();
        if (status == MovieStatus::kOk) status = movie.Close();
    }
    if (ok && status != MovieStatus::kOk) {
        failure_ =
            "Cannot write the movie " + outputPath_ + ": " + movie::MovieStatusText(status) + ".";
        ok = false;
    }
    if (!ok || Stopping()) {
        movie.Discard();
        RemoveFile(outputPath_);
    }
    return ok;
}

#else

bool KvmcWorker::Encode() {
    failure_ = "This build has no KVMC encoder.";
    return false;
}

#endif

}  // namespace

std::unique_ptr<RecordWorker> MakeKvmcWorker(std::string outputPath, int bitRate,
                                             RecordWorker::PostFn post) {
    return std::make_unique<KvmcWorker>(std::move(outputPath), bitRate, std::move(post));
}

}  // namespace tunara
