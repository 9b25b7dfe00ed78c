#pragma once
// ReplayGain values as files carry them: ID3v2 user texts and volume
// adjustments, Vorbis comments (FLAC, Ogg Vorbis, Opus with its R128 gains)
// and APEv2 items.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tunara {

// Gains in dB against the -18 LUFS reference, peaks as linear sample values
// (1.0 = full scale); NaN where the file does not say.
struct ReplayGainValues {
    float trackGain = NAN;
    float trackPeak = NAN;
    float albumGain = NAN;
    float albumPeak = NAN;
    bool Any() const { return !std::isnan(trackGain) || !std::isnan(albumGain); }
};

// Takes one named value ("REPLAYGAIN_TRACK_GAIN" = "-6.20 dB", any letter
// case; "R128_TRACK_GAIN" = "-1280"); false when the name is none of them
// or the value is not a number.
bool TakeReplayGainField(std::string_view name, std::string_view value, ReplayGainValues& values);

// Reads the values from the file's own tags; none when it has none or cannot be read.
ReplayGainValues ReadReplayGain(const std::string& path);

// The values in the head of a FLAC or Ogg (Vorbis, Opus) file held in memory
// (its first pages or metadata blocks); none for anything else.
ReplayGainValues ParseStreamReplayGain(const uint8_t* data, size_t size);

// The values in an APEv2 tag whose footer ends at `data + size`.
ReplayGainValues ParseApeReplayGain(const uint8_t* data, size_t size);

// "-6.20 dB" style text of a gain, "0.988" of a peak; "-" for none.
std::string GainText(float db);
std::string PeakText(float peak);

}  // namespace tunara
