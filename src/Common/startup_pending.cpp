#include "Common/startup_pending.h"

namespace StartupPending {

void InstallCrashHandler() {}
void UploadLogArchive(const std::wstring&, const std::string&, const std::wstring&, bool) {}
void InitReport(int, int, const std::string&, const std::string&, const std::string&, bool, int) {}
void AddUserLogEvent(const std::string&, const std::string&, const std::string&, bool) {}
void ShowNotSupportSystemBox() {}
void RegisterWithFirewall(const std::wstring&) {}
void WaitReportThreadsForExit() {}

}  // namespace StartupPending
