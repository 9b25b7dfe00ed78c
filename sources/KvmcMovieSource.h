#pragma once
// The playlist item for a movie whose sound track is KVMC 2 ("KVM2"), the movies the recording
// job writes: the movie's sample table gives the packets, our KVMC decoder turns them into
// 16-bit PCM, and the output engine plays them like any PCM source (seek, FF/RW, metering).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/PcmSource.h"
#include "kvmc/KvmcDecoder.h"
#include "platform/movie/MovieReader.h"

namespace tunara {

// True when `path` is a movie whose first sound track is KVMC 2 with a readable stream atom.
bool IsKvmcMovie(const std::string& path);

class KvmcMovieSource : public PcmSource {
public:
    explicit KvmcMovieSource(OutputEngine& engine);
    ~KvmcMovieSource() override;

    // Title, format "KVMC 2", bit rate, sample rate, channels and duration; 0 (after telling
    // the user) when the movie cannot be read.
    int LoadInfo() override;

    int OpenStream() override;
    int CloseStream() override;
    int ReadFrames(void* buffer, int frames) override;
    int WriteFrames(const void* buffer, int frames) override;
    uint32_t SeekFrame(uint32_t frame) override;

private:
    bool Describe(movie::MovieReader& reader);
    // Makes hop `packet` current, decoding the packets before it again after a jump (their
    // components reach into this hop).
    bool Load(int64_t packet);

    movie::MovieReader reader_;
    KvmcStreamInfo info_{};
    KvmcParams params_{};
    KvmcDecHandle decoder_ = nullptr;
    int64_t frames_ = 0;    // the source's length
    int64_t pos_ = 0;       // next frame to deliver
    int64_t current_ = -1;  // packet whose hop is in hop_
    std::vector<int16_t> hop_;
    std::vector<uint8_t> packet_;
    std::atomic<bool> readErrorShown_{false};  // one report per run, from the feeder thread
};

}  // namespace tunara
