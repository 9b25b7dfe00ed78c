#pragma once
// The CDDB lookup's settings, taken from the settings store when a lookup
// starts: the title source ("TitleSource"), the servers ("CDDBAddr",
// "MusicBrainzAddr", or TUNARA_MUSICBRAINZ_SERVER), proxy ("UseProxy", "ProxyAddr", "ProxyPort")
// and the cache file.
#include "metadata/CddbLookup.h"
#include "ui/core/SettingsStore.h"

namespace tunara {

class CdDisc;

cddb::LookupConfig CddbLookupConfig(const SettingsStore& settings);

// Gives a freshly read disc the best titles known, waiting for them: the
// cache, else a CDDB lookup when "AutoCDInfo" asks for one. Without either
// the tracks keep what the disc itself says (CD-Text, else "Track N").
// Returns true when the cache or the server answered.
bool LoadCdTitles(CdDisc& disc, const SettingsStore& settings);

}  // namespace tunara
