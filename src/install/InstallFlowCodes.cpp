#include "install/InstallFlowCodes.h"

namespace InstallFlowCodes {

std::string ForDownloadResult(int result) {
    switch (result) {
        case 1: return std::string();
        case 9: return "DL010";
        case 10: return "DL011";
        case 6: return "DL012";
        case 13: return "DL022";
        case 7: return "DL027";
        case 8: return "DL028";
        case 11: return "DL029";
        case 12: return "DL030";
        case 15: return "DL031";
        default: return "DL017";
    }
}

VerificationFailure ForVerification(bool digestGood, bool signatureGood) {
    VerificationFailure f;
    if (digestGood && signatureGood) return f;
    f.failed = true;
    f.stopsInstall = !signatureGood;
    // A digest that differs from the service's means another file than the one it named (an
    // older version signed by the same publisher, say): never installed.
    f.downloadsAgain = !digestGood && signatureGood;
    if (!digestGood && signatureGood) {
        f.code = "DL013";
        f.kind = FlowError::ExceptionKind::Md5CheckFail;
    } else if (digestGood) {
        f.code = "DL014";
        f.kind = FlowError::ExceptionKind::HashCheckFail;
    } else {
        f.code = "DL015";
        f.kind = FlowError::ExceptionKind::Md5HashCheckFail;
    }
    return f;
}

}  // namespace InstallFlowCodes
