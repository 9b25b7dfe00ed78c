#include "ui/core/CddbSettings.h"

#include "platform/profile/Profile.h"

namespace tunara {

cddb::LookupConfig CddbLookupConfig(const SettingsStore& settings) {
    cddb::LookupConfig c;
    c.server = settings.Text(settings::kCDDBAddr);
    c.useProxy = settings.Flag(settings::kUseProxy);
    c.proxyAddr = settings.Text(settings::kProxyAddr);
    c.proxyPort = settings.Text(settings::kProxyPort);
    c.cacheFile = profile::CdPlayerIniPath();
    return c;
}

}  // namespace tunara
