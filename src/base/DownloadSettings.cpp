#include "base/DownloadSettings.h"

DownloadSettings& GetDownloadSettings() {
    static DownloadSettings settings;
    return settings;
}
