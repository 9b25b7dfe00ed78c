#pragma once
// The CDDB lookup's settings, taken from the settings store when a lookup
// starts: server ("CDDBAddr"), proxy ("UseProxy", "ProxyAddr", "ProxyPort")
// and the cache file.
#include "metadata/CddbLookup.h"
#include "ui/core/SettingsStore.h"

namespace tunara {

cddb::LookupConfig CddbLookupConfig(const SettingsStore& settings);

}  // namespace tunara
