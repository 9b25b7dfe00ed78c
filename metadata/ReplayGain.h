#pragma once
// ReplayGain values as files carry them: ID3v2 user texts and volume
// adjustments, Vorbis comments (FLAC, Ogg Vorbis, Opus with its R128 gains),
// APEv2 items, MP4 iTunes items and the LAME extension of an MP3's first frame.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tunara {

// Gains in dB against the -18 LUFS reference, peaks as linear sample values
// (1.0 = full scale); NaN where the file does not say.
struct ReplayGainValues {
    float trackGain = NAN;
    float trackPeak = NAN;
    float albumGain = NAN;
    float albumPeak = NAN;
    // Opus: the header's output gain in dB, which decoders apply themselves; NaN for others.
    float outputGain = NAN;
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

// The values an encoder noted in the LAME extension of the Xing/Info block of an MPEG audio
// frame starting at `frame`.
ReplayGainValues ParseLameReplayGain(const uint8_t* frame, size_t size);

// The values in the body of an MP4 movie box: iTunes items "----" of the mean
// "com.apple.iTunes" named "replaygain_*".
ReplayGainValues ParseMp4ReplayGain(const uint8_t* moov, size_t size);

// The values in an APEv2 tag whose footer ends at `data + size`.
ReplayGainValues ParseApeReplayGain(const uint8_t* data, size_t size);

// "-6.20 dB" style text of a gain, "0.988" of a peak; "-" for none.
std::string GainText(float db);
std::string PeakText(float peak);

// Writing values into files: the values that are not NaN replace any of the same name (any letter
// case); every other tag entry stays as it was, byte for byte. The file is replaced whole by a
// new one written beside it, so it is seen complete or not at all. Empty on success, else a
// sentence for the user.
std::string WriteMp3ReplayGain(const std::string& path, const ReplayGainValues& values);
std::string WriteFlacReplayGain(const std::string& path, const ReplayGainValues& values);

// The ID3v2 tag (header and body, `size` bytes; none when null) with the values written in as
// user texts (TXXX), in its own version (2.3 or 2.4; a new tag is 2.4) and keeping its padding.
// False with `why` for tags that are not rewritten (v2.2, unsynchronised, extended headers,
// malformed frames).
bool RewriteId3ReplayGain(const uint8_t* tag, size_t size, const ReplayGainValues& values,
                          std::vector<uint8_t>& out, std::string& why);

}  // namespace tunara
