#pragma once
// The upload of the maintenance runs ("-dmp " and "-close"): the named log of this product's log
// folder (and, after a crash, its dumps) to the log-upload service of this deployment.
#include <string>

// UploadLogArchive over the run's log folder, with the deployment's service and this
// executable's version; its result.
int RunLogArchiveUpload(const std::wstring& logFileName, const std::string& catalogue, const std::wstring& extraFile,
                        bool wantDumps);
