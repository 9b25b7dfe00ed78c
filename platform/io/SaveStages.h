#pragma once
// Where a test stops an atomic save part-way, as a full disk or a crash would.
// Installed through platform/io/testing only.
#include <functional>
#include <string_view>

namespace tunara::io::internal {

// Asked at "write" (data written, not yet synced) and at "rename" (synced,
// not yet renamed); false stops the save there. Empty: every save runs through.
void SetSaveStageCheck(std::function<bool(std::string_view stage)> check);
bool SaveStageAllows(std::string_view stage);

}  // namespace tunara::io::internal
