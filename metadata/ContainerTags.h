#pragma once
// Tags that some containers keep where the media toolbox does not look: the
// "NAME", "AUTH" and "ANNO" chunks of AIFF/AIFC, and the content description
// objects of ASF (WMA) files, genre included.
#include <string>

namespace tunara {

struct ContainerTags {
    std::string title;
    std::string artist;
    std::string album;
    std::string genre;
};

// Reads the tags of an AIFF/AIFC or ASF file (UTF-8, control characters
// replaced); false when the file is neither or cannot be read.
bool ReadContainerTags(const std::string& path, ContainerTags& tags);

}  // namespace tunara
