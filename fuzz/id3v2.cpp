// readV2 over arbitrary files, at offset 0 and at an offset the input names.
#include "ScratchFile.h"
#include "metadata/Id3Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = tunara::fuzz::Scratch().Hold(data, size);
    int64_t audioStart = -1;
    tunara::Id3Tag tag;
    if (tag.readV2(path, 0, audioStart) == tunara::kId3Ok) {
        if (audioStart < 10 || audioStart + 1 >= int64_t(size)) __builtin_trap();
    }
    if (size > 0) {
        tunara::Id3Tag second;
        second.readV2(path, data[0] % (size + 2), audioStart);
    }
    return 0;
}
