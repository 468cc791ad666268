#pragma once
// Calls of the start-up sequence into pieces that are not built yet. Each does nothing for now
// and is replaced by the real call when its piece lands; the start-up code calls only these.
#include <string>

namespace StartupPending {

void InstallCrashHandler();                                   // unhandled-exception filter
void UploadLogArchive(const std::wstring& logFileName, const std::string& catalogue,
                      const std::wstring& extraFile, bool wantDumps);
void InitReport(int downloaderId, int siteId, const std::string& softwareVersion,
                const std::string& softwareName, const std::string& startupUrl, bool kitFlag, int mainPid);
void AddUserLogEvent(const std::string& category, const std::string& action, const std::string& label, bool wait);
void ShowNotSupportSystemBox();                               // modal message box of kind 13
void RegisterWithFirewall(const std::wstring& modulePath);
void WaitReportThreadsForExit();

}  // namespace StartupPending
