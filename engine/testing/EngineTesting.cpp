#include "engine/testing/EngineTesting.h"

namespace tunara::testing {

OutputEngine& TestEngine() {
    static OutputEngine* engine = new OutputEngine;
    return *engine;
}

}  // namespace tunara::testing
