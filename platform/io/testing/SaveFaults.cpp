#include "platform/io/testing/SaveFaults.h"

#include "platform/io/SaveStages.h"

namespace tunara::testing {

ScopedSaveFailure::ScopedSaveFailure(std::string stage) {
    io::internal::SetSaveStageCheck(
        [stage = std::move(stage)](std::string_view at) { return at != stage; });
}

ScopedSaveFailure::~ScopedSaveFailure() {
    io::internal::SetSaveStageCheck({});
}

}  // namespace tunara::testing
