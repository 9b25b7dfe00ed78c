#include "ui/core/CddbSettings.h"

#include <algorithm>
#include <cstdlib>

#include "metadata/Cddb.h"
#include "platform/profile/Profile.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"

namespace tunara {

cddb::LookupConfig CddbLookupConfig(const SettingsStore& settings) {
    cddb::LookupConfig c;
    c.server = settings.Text(settings::kCDDBAddr);
    c.useProxy = settings.Flag(settings::kUseProxy);
    c.proxyAddr = settings.Text(settings::kProxyAddr);
    c.proxyPort = settings.Text(settings::kProxyPort);
    c.cacheFile = profile::CdPlayerIniPath();
    c.source = static_cast<cddb::TitleSource>(
        std::min<uint32_t>(settings.Number(settings::kTitleSource), 2));
    c.musicBrainzServer = settings.Text(settings::kMusicBrainzAddr);
    // Lets tests and mirrors point the lookup elsewhere without a settings file.
    if (const char* server = std::getenv("TUNARA_MUSICBRAINZ_SERVER"); server && *server)
        c.musicBrainzServer = server;
    return c;
}

bool LoadCdTitles(CdDisc& disc, const SettingsStore& settings) {
    if (disc.Count() == 0) return false;
    const cddb::LookupConfig config = CddbLookupConfig(settings);
    if (disc.Info().ReadCache(config.cacheFile)) return true;
    if (!settings.Flag(settings::kAutoCDInfo)) return false;
    disc.Info().StartLookup(config);
    disc.Info().Wait();
    return disc.Info().Lookup().Found();
}

}  // namespace tunara
