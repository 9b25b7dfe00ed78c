#include "sources/SourceFactory.h"

#include <cctype>

#include "sources/KvmcMovieSource.h"
#include "sources/Mp3Source.h"
#include "sources/QuickTimeSource.h"
#include "sources/WavSource.h"

namespace tunara {

namespace {
SourceFactory& Override() {
    static SourceFactory factory;
    return factory;
}
}  // namespace

std::string FileExtension(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

bool ExtensionIs(const std::string& name, const char* lowerCaseExtension) {
    std::string ext = FileExtension(name);
    std::string want = lowerCaseExtension;
    if (ext.size() != want.size()) return false;
    for (size_t i = 0; i < ext.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(ext[i])) != want[i]) return false;
    return true;
}

bool NeedsMediaToolbox(const std::string& fileName) {
    if (ExtensionIs(fileName, "mov") && IsKvmcMovie(fileName)) return false;
    if (ExtensionIs(fileName, "mp3")) return IsMpegLayer12File(fileName);
    return !ExtensionIs(fileName, "wav");
}

std::unique_ptr<MediaSource> CreateSourceFor(const std::string& fileName) {
    if (Override()) return Override()(fileName);
    if (ExtensionIs(fileName, "wav")) return std::make_unique<WavSource>();
    // Layer I/II audio named ".mp3" is not for our Layer III decoder.
    if (ExtensionIs(fileName, "mp3") && !IsMpegLayer12File(fileName))
        return std::make_unique<Mp3Source>();
    // Our own recordings play through our own decoder.
    if (ExtensionIs(fileName, "mov") && IsKvmcMovie(fileName))
        return std::make_unique<KvmcMovieSource>();
    return std::make_unique<QuickTimeSource>();
}

void SetSourceFactory(SourceFactory factory) {
    Override() = std::move(factory);
}

}  // namespace tunara
