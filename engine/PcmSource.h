#pragma once
// The base of the playlist items whose sound is PCM they produce themselves
// (MP3, WAV, CD tracks, media-toolbox sound, KVMC movies): the item is its
// own PcmStream, and its transport is the output engine's for that stream.
#include <cstdint>
#include <utility>

#include "engine/MediaSource.h"
#include "engine/OutputEngine.h"
#include "engine/PcmStream.h"

namespace tunara {

class PcmSource : public MediaSource, public PcmStream {
public:
    explicit PcmSource(OutputEngine& engine) : engine_(engine) {}
    // Derived destructors call LeaveEngine first; this one only makes sure.
    ~PcmSource() override { engine_.Detach(*this); }

    int32_t GetPosition() override { return engine_.GetPosition(*this); }
    void Seek(int32_t positionMs) override { engine_.Seek(*this, positionMs); }
    void GetLevels(float& left, float& right) override { engine_.GetLevels(*this, left, right); }
    void GetSpectrum(float* bands) override { engine_.GetSpectrum(*this, bands); }
    int Open() override {
        const int opened = engine_.Open(*this);
        if (auto error = engine_.TakeError()) SetError(std::move(*error));
        return opened;
    }
    void Close() override { engine_.Close(*this); }
    void Play() override { engine_.Play(*this); }
    void Stop() override { engine_.Stop(*this); }
    void FastForward() override { engine_.FastForward(*this); }
    void Rewind() override { engine_.Rewind(*this); }
    void Tick() override {}
    int IsPlaying() override { return engine_.IsPlaying(*this); }
    int LoadInfo() override { return 1; }
    void EnableMetering(int) override {}
    void SetBandCount(int count) override { engine_.SetBandCount(count); }
    PcmStream* Pcm() override { return this; }

    PcmStreamFormat StreamFormat() const override {
        return {channels_, sampleRate_, bitsPerSample_};
    }
    int32_t GetBitsPerSample() const { return bitsPerSample_; }
    // Appends frames; returns how many were written (0 where the item is
    // read-only).
    virtual int WriteFrames(const void*, int) { return 0; }

protected:
    // Derived destructors call it before their stream goes: the engine may be
    // reading it.
    void LeaveEngine() { engine_.Detach(*this); }
    OutputEngine& Engine() { return engine_; }

    int32_t bitsPerSample_ = 0;  // 8, 16, 24 or 32; set by LoadInfo/OpenStream

private:
    OutputEngine& engine_;
};

}  // namespace tunara
