// readV1 over arbitrary files, then writeV1 with text taken from the input
// (any bytes, valid UTF-8 or not) and the record read back.
#include <cstring>
#include <string>

#include "ScratchFile.h"
#include "metadata/Id3Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = tunara::fuzz::Scratch().Hold(data, size);
    tunara::Id3Tag tag;
    if (tag.readV1(path) == tunara::kId3Ok) {
        if (tag.title().size() > 60 || tag.year().size() > 4) __builtin_trap();
    }
    if (size < 8) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t cut = data[0] % (size - 1) + 1;
    tunara::Id3Tag writer;
    if (writer.writeV1(path, (data[1] & 1) ? "1.1" : "1.0", text.substr(0, cut), text.substr(cut),
                       text, text.substr(size / 2), text, data[2], data[3]) != tunara::kId3Ok)
        return 0;
    tunara::Id3Tag back;
    if (back.readV1(path) != tunara::kId3Ok) __builtin_trap();
    if (back.genreIndex() != data[3]) __builtin_trap();
    return 0;
}
