#include "app/MaintenanceUpload.h"

#include "analytics/CSingleUserLog.h"
#include "logupload/LogArchiveUpload.h"

int RunLogArchiveUpload(const std::wstring& logFileName, const std::string& catalogue, const std::wstring& extraFile,
                        bool wantDumps) {
    return UploadLogArchive(CSingleUserLog::GetInstance()->GetLogFolder(), logFileName, catalogue, extraFile, wantDumps,
                            LogUpload::DefaultTarget());
}
