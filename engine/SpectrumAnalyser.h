#pragma once
// Level meter and band spectrum of the buffers the output device has
// finished. Analyse() runs on the device's thread, once per buffer; the
// getters run on the user-interface thread. Peaks are held until read: each
// read asks for them to be cleared before the next analysis.
//
// The shared values are single atomics with no lock between them: a reader
// may see a band set that the device thread is still updating.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace tunara {

class SpectrumAnalyser {
public:
    static constexpr int kFrames = 1024;  // frames analysed per buffer, its whole capacity
    static constexpr int kMaxBands = 512;
    static constexpr int kDefaultBands = 16;

    // The PCM of the buffers to come; set before the device opens.
    void SetFormat(int channels, int bitsPerSample);
    // One finished buffer of kFrames frames. Allocates nothing.
    void Analyse(const uint8_t* data);

    // Clears both level peaks and every band peak.
    void ClearPeaks();
    // 1 to 512; values outside are taken as the nearest limit. Computes the
    // band edges here, so the device's thread never does.
    void SetBandCount(int count);
    int BandCount() const { return bandCount_.load(std::memory_order_relaxed); }

    // The held level peaks, 0.0 to 1.0 (zeros when `stopped`); then asks for
    // them to be cleared.
    void GetLevels(float& left, float& right, bool stopped);
    // BandCount() values on a 40 dB scale: band power 0.1 gives 1.0 and
    // 0.00001 gives 0.0 (zeros when `stopped`); then asks for the band peaks
    // to be cleared.
    void GetSpectrum(float* bands, bool stopped);

    // The first power bin of each band for a band count, and one past the
    // last of the final band; for tests and displays.
    static int BandEdges(int count, int* firstBins);

private:
    std::array<std::atomic<float>, 2> levelPeak_{};
    std::array<std::atomic<float>, kMaxBands> bandPeak_{};
    std::atomic<int> bandCount_{kDefaultBands};
    std::atomic<bool> levelReset_{true};
    std::atomic<bool> bandReset_{true};

    // Band edges: the first bin of each band, then the end of the last.
    using Edges = std::array<int16_t, kMaxBands + 1>;
    struct BandLayout {
        int count = 0;
        Edges edges{};
    };
    static BandLayout MakeLayout(int count);
    // Written by SetBandCount under the lock; the device's thread takes a copy
    // when it can have the lock without waiting, and keeps its own otherwise.
    std::mutex layoutMutex_;
    BandLayout layout_ = MakeLayout(kDefaultBands);
    uint32_t layoutVersion_ = 0;
    BandLayout deviceLayout_ = MakeLayout(kDefaultBands);  // the device's thread only
    uint32_t deviceLayoutVersion_ = 0;

    int channels_ = 2;
    int bitsPerSample_ = 16;

    // Working storage of one analysis; only the device's thread touches it.
    alignas(32) float channel_[2][kFrames] = {};
    alignas(32) float mix_[kFrames + 2] = {};  // samples, then the 513 complex bins
    alignas(32) float power_[kFrames / 2] = {};
};

}  // namespace tunara
