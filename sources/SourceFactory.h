#pragma once
// Makes the playable item for a file, chosen by what the file holds; the
// extension decides only when its first bytes say nothing.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "engine/MediaSource.h"

namespace tunara {

class OutputEngine;

// The text after the last "." of the name (the whole name when there is none).
std::string FileExtension(const std::string& name);
// Case-insensitive comparison of an extension with a lower-case word.
bool ExtensionIs(const std::string& name, const char* lowerCaseExtension);

// What the first bytes of a file say it holds.
enum class FileContent {
    Unknown,     // nothing recognised (or not a readable regular file)
    Wave,        // RIFF/RF64 WAVE of integer or float PCM
    OtherWave,   // RIFF/RF64 WAVE of another coding (A-law, ADPCM, MP3...)
    MpegLayer3,  // MPEG audio Layer III, or anything behind an ID3v2 tag
    OtherMpeg,   // MPEG audio Layer I or II, ADTS AAC
    Movie,       // QuickTime/MP4 boxes
    OtherMedia,  // Ogg, FLAC, AIFF, AU, MIDI, ASF, Matroska...
};
// Judges the first bytes of a file (after any ID3v2 tag).
FileContent SniffContent(const uint8_t* bytes, size_t size);
// Judges a file's start, skipping ID3v2 tags; never blocks on a FIFO or device.
FileContent SniffFile(const std::string& fileName);

// By content: PCM WAVE -> WavSource, Layer III -> Mp3Source, our own movies
// -> KvmcMovieSource, media of sound alone (FLAC, Ogg, AIFF, AU, MIDI, AAC,
// WMA...) -> MediaPcmSource, other media -> the media toolbox source. Content that
// says nothing falls back on the extension: "wav" -> WavSource, "mp3" ->
// Mp3Source, anything else -> the media toolbox source. The new source is
// closed and has no location yet; its sound goes through `engine`.
std::unique_ptr<MediaSource> CreateSourceFor(OutputEngine& engine, const std::string& fileName);

// Whether the built-in factory gives this file to the media toolbox (which
// then has to be started first).
bool NeedsMediaToolbox(const std::string& fileName);

// Whether a file of the media toolbox holds sound alone (which the toolbox
// then decodes for our own output) rather than what may carry pictures.
bool IsSoundOnlyMedium(const std::string& fileName);

// What makes the items of the lists: CreateSourceFor over one engine, or
// (for tests) a function of their own. The composition root owns it and
// hands it to the lists and the controller.
class SourceFactory {
public:
    using Maker = std::function<std::unique_ptr<MediaSource>(const std::string& fileName)>;

    explicit SourceFactory(OutputEngine& engine) : engine_(engine) {}
    // Items from `make`, which may return null, instead of the built-in choice.
    SourceFactory(OutputEngine& engine, Maker make) : engine_(engine), make_(std::move(make)) {}

    std::unique_ptr<MediaSource> Create(const std::string& fileName) const {
        return make_ ? make_(fileName) : CreateSourceFor(engine_, fileName);
    }
    // The engine the items play through.
    OutputEngine& Engine() const { return engine_; }

private:
    OutputEngine& engine_;
    Maker make_;
};

}  // namespace tunara
