#pragma once
// The install worker's flow error codes: which code a download attempt's result raises, and
// which code and exception report a failed verification sends.
#include <string>

#include "analytics/FlowError.h"

namespace InstallFlowCodes {

// The code of a failed download attempt (EnumErrorCode): 9 "DL010", 10 "DL011", 6 "DL012",
// 13 "DL022", 7 "DL027", 8 "DL028", 11 "DL029", 12 "DL030", 15 "DL031", any other "DL017".
// Empty for 1 (success).
std::string ForDownloadResult(int result);

struct VerificationFailure {
    bool failed = false;             // false: digest and signature both good, nothing to report
    std::string code;                // "DL013", "DL014" or "DL015"
    FlowError::ExceptionKind kind = FlowError::ExceptionKind::Md5CheckFail;
    bool stopsInstall = false;       // the signature did not verify
    bool downloadsAgain = false;     // the package is not the one the service named: refused,
                                     // deleted and fetched again like a failed download
};
// DL013: digest bad, signature good (the package is refused and downloaded again); DL014:
// digest good, signature bad; DL015: both bad (both stop the install).
VerificationFailure ForVerification(bool digestGood, bool signatureGood);

}  // namespace InstallFlowCodes
