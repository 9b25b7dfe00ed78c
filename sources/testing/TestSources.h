#pragma once
// The item factory tests build their lists with: the built-in choice, over
// the tests' engine.
#include "engine/testing/EngineTesting.h"
#include "sources/SourceFactory.h"

namespace tunara::testing {

inline const SourceFactory& TestSources() {
    static const SourceFactory sources(TestEngine());
    return sources;
}

}  // namespace tunara::testing
