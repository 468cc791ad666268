#pragma once
// When the download configuration is loaded: early, on a thread of its own that the window
// starts at initialisation, and at install time by the install worker. Both share the one
// reply stored in the configuration record.
#include <atomic>
#include <cstdint>

class CConfigure;
namespace DuiLib { class CPaintManagerUI; }

namespace ConfigurationLoad {

// Body of the early configuration thread: asks the primary host, then the alternate one when
// the first gave no reply, and parses the reply. Gives up (logging " GetDownloaderInfo(Async)
// abandon") without touching the record once workerStarted is set: after each request, and
// again at the moment the parse would begin. Returns 0.
int RunEarlyQuery(CConfigure& config, const std::atomic<bool>& workerStarted, int32_t uiLanguage);

// The install worker's order: unless the record is loaded, query (primary, then alternate),
// parse, update the analytics common values, and fall back to the skin labels of skin when the
// record is still not loaded.
void LoadAtInstallTime(CConfigure& config, int32_t uiLanguage, const DuiLib::CPaintManagerUI* skin);

}  // namespace ConfigurationLoad
