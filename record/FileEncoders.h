#pragma once
// WAV files into MP3 files, FLAC files and KVMC movies: the one path both `tunara-cli encode` and
// the recording workers take.
//
// MP3: an ID3v2.4 tag when any text is given, an "Info" frame that notes the frame and byte
// counts and the encoder's delay and padding (so that decoders give back exactly the input's
// samples), the audio, and an ID3v1 record when asked for. The file is written in place at
// `outputPath`; callers write to a hidden name and rename (see RecordFiles.h).
//
// KVMC: a QuickTime movie whose track plays exactly the input's samples, with the texts as
// user data. The movie writer keeps its own hidden name until the end.
//
// FLAC: lossless, with the texts as Vorbis comments; written in place like MP3.
//
// A stopped or failed encoding leaves no file at `outputPath`.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tunara {

class LoudnessMeter;

struct EncodeTags {
    std::string title, artist, album, year, genre;
    int track = 0, trackTotal = 0;
    std::string cddbDiscId, musicBrainzDiscId;  // empty when not known
    // Further name/value pairs for files that carry free-form comments (FLAC), e.g. gain values.
    std::vector<std::pair<std::string, std::string>> extra;
};

// Called after each frame or packet with the samples per channel coded so far and in all (as the
// WAV header announces them); false stops.
using EncodeProgressFn = std::function<bool(int64_t samples, int64_t total, int sampleRate)>;

enum class EncodeOutcome { Written, Stopped, Failed };

struct EncodeResult {
    EncodeOutcome outcome = EncodeOutcome::Failed;
    std::string failure;       // for Failed: a sentence for the user
    int64_t samples = 0;       // per channel, of the input
    int64_t totalSamples = 0;  // per channel, as the WAV header announced
    // The input's ReplayGain measurement, for a written file when it was asked for.
    std::shared_ptr<const LoudnessMeter> loudness;
};

struct Mp3FileSettings {
    int bitRate = 128000;  // bit/s
    bool fast = false;
    int vbrQuality = -1;  // 0 (best) to 9 (smallest): variable bit rate, bitRate unused
    EncodeTags tags;
    // An ID3v1 record at the end with this comment (the genre by name, 255 when none matches).
    bool id3v1 = false;
    std::string id3v1Comment;
    bool measureLoudness = false;  // fills EncodeResult::loudness
};

EncodeResult EncodeMp3File(const std::string& wavPath, const std::string& outputPath,
                           const Mp3FileSettings& settings, const EncodeProgressFn& progress);

struct FlacFileSettings {
    int level = 5;  // libFLAC's compression level, 0-8
    EncodeTags tags;
    bool measureLoudness = false;  // fills EncodeResult::loudness
};

EncodeResult EncodeFlacFile(const std::string& wavPath, const std::string& outputPath,
                            const FlacFileSettings& settings, const EncodeProgressFn& progress);

// The Vorbis comments a FLAC file gets for `tags`, in order; empty texts are left out.
std::vector<std::pair<std::string, std::string>> FlacComments(const EncodeTags& tags);

EncodeResult EncodeMovieFile(const std::string& wavPath, const std::string& outputPath, int bitRate,
                             const EncodeTags& tags, const EncodeProgressFn& progress);

// "Tunara" and the version: the encoder named in written files.
const char* EncoderName();

// The Info frame written at the front of an MP3 stream (exposed for tests). `header` describes the
// stream's frames; frames and bytes count the audio after it (bytes without it); the delay and
// padding are the encoder's, without a decoder's 529 samples. Empty when no frame of the stream's
// version and rate holds the block.
// With a VBR quality (0..9) the block reads "Xing" and carries `toc`, the 100-entry seek table.
std::vector<uint8_t> BuildInfoFrame(uint32_t header, int64_t frames, int64_t audioBytes,
                                    int32_t delay, int32_t padding, uint16_t musicCrc,
                                    int32_t vbrQuality = -1, const uint8_t* toc = nullptr);

// CRC-16 (polynomial 0x8005, reflected, starting at 0) as the Info frame's checks use it.
uint16_t InfoCrc16(const uint8_t* data, size_t size, uint16_t crc = 0);

}  // namespace tunara
