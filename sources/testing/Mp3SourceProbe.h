#pragma once
// What tests, benchmarks and fuzz targets look at inside an Mp3Source. Not for
// the program (tunara_sources_testing).
#include <cstdint>
#include <vector>

#include "sources/Mp3Source.h"

namespace tunara::testing {

class Mp3SourceProbe {
public:
    // File offsets of every frame, after the first OpenStream.
    static const std::vector<int64_t>& FrameIndex(const Mp3Source& s) { return s.frameIndex_; }
    static int64_t AudioBeginBytes(const Mp3Source& s) { return s.audioBegin_; }
    static int64_t AudioEndBytes(const Mp3Source& s) { return s.audioEnd_; }
    // Per channel: 1152 or 576.
    static int FrameSamples(const Mp3Source& s) { return s.frameSamples_; }
    // The furthest file offset the decoder has been handed.
    static int64_t DecoderReadEndBytes(const Mp3Source& s) { return s.maxReadEnd_; }
};

}  // namespace tunara::testing
