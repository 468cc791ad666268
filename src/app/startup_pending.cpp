#include "app/startup_pending.h"

namespace StartupPending {

void InstallCrashHandler() {}
void UploadLogArchive(const std::wstring&, const std::string&, const std::wstring&, bool) {}
void ShowNotSupportSystemBox() {}
void RegisterWithFirewall(const std::wstring&) {}

}  // namespace StartupPending
