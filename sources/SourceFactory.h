#pragma once
// Makes the playable item for a file name, chosen by its extension.
#include <functional>
#include <memory>
#include <string>

#include "engine/MediaSource.h"

namespace tunara {

// The text after the last "." of the name (the whole name when there is none).
std::string FileExtension(const std::string& name);
// Case-insensitive comparison of an extension with a lower-case word.
bool ExtensionIs(const std::string& name, const char* lowerCaseExtension);

// "wav" -> WavSource, "mp3" -> Mp3Source, anything else -> the media toolbox
// source. The new source is closed and has no location yet. A test factory
// may return null.
std::unique_ptr<MediaSource> CreateSourceFor(const std::string& fileName);

// Whether the built-in factory gives this file to the media toolbox (which
// then has to be started first).
bool NeedsMediaToolbox(const std::string& fileName);

// Tests replace the factory; an empty function restores the built-in one.
using SourceFactory = std::function<std::unique_ptr<MediaSource>(const std::string& fileName)>;
void SetSourceFactory(SourceFactory factory);

}  // namespace tunara
