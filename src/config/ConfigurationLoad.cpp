#include "config/ConfigurationLoad.h"

#include <easylogging++.h>

#include "config/CConfigure.h"
#include "analytics/CSingleUserLog.h"
#include "base/TextCodec.h"

namespace ConfigurationLoad {

namespace {

bool Abandoned(const std::atomic<bool>& workerStarted) {
    if (!workerStarted.load()) return false;
    LOG(INFO) << " GetDownloaderInfo(Async) abandon";
    return true;
}

void UpdateCommon(CConfigure& config, int32_t uiLanguage) {
    config.queryAnalytics()->UpdateCommon(uiLanguage, TextCodec::WideToUtf8(config.softwareVersion()));
}

}  // namespace

int RunEarlyQuery(CConfigure& config, const std::atomic<bool>& workerStarted, int32_t uiLanguage) {
    int r = config.getDownloadInfoXml(false, false);
    if (Abandoned(workerStarted)) return 0;
    if (r != 1) {
        config.getDownloadInfoXml(false, true);
        if (Abandoned(workerStarted)) return 0;
    }
    // The worker may have started since the last look; the parse looks again under the record's
    // load lock, so it either runs before the worker's parse or not at all.
    if (config.readDownloadInfoFromXmlUnless(workerStarted) < 0) {
        Abandoned(workerStarted);
        return 0;
    }
    UpdateCommon(config, uiLanguage);
    return 0;
}

void LoadAtInstallTime(CConfigure& config, int32_t uiLanguage, const DuiLib::CPaintManagerUI* skin) {
    if (config.loadState() == CConfigure::kLoaded) return;
    if (config.getDownloadInfoXml(true, false) != 1) config.getDownloadInfoXml(true, true);
    config.readDownloadInfoFromXml();
    UpdateCommon(config, uiLanguage);
    if (config.loadState() != CConfigure::kLoaded) config.loadFromConfigureXml(skin, true);
}

}  // namespace ConfigurationLoad
