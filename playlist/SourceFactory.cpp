#include "playlist/SourceFactory.h"

#include <cctype>

// Sources land one by one; an extension whose class is missing gives no item.
#if __has_include("sources/WavSource.h")
#include "sources/WavSource.h"
#define TUNARA_HAVE_WAV_SOURCE 1
#endif
#if __has_include("sources/Mp3Source.h")
#include "sources/Mp3Source.h"
#define TUNARA_HAVE_MP3_SOURCE 1
#endif
#if __has_include("sources/QuickTimeSource.h")
#include "sources/QuickTimeSource.h"
#define TUNARA_HAVE_MEDIA_SOURCE 1
#endif

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

std::unique_ptr<MediaSource> CreateSourceFor(const std::string& fileName) {
    if (Override()) return Override()(fileName);
    if (ExtensionIs(fileName, "wav")) {
#ifdef TUNARA_HAVE_WAV_SOURCE
        return std::make_unique<WavSource>();
#else
        return nullptr;
#endif
    }
    if (ExtensionIs(fileName, "mp3")) {
#ifdef TUNARA_HAVE_MP3_SOURCE
        return std::make_unique<Mp3Source>();
#else
        return nullptr;
#endif
    }
#ifdef TUNARA_HAVE_MEDIA_SOURCE
    return std::make_unique<QuickTimeSource>();
#else
    return nullptr;
#endif
}

void SetSourceFactory(SourceFactory factory) {
    Override() = std::move(factory);
}

}  // namespace tunara
