#include "window/UnattendedRun.h"

#include "base/Unattended.h"
#include "download/DownloadResult.h"
#include "install/InstallWindow.h"
#include "window/MessageBoxKinds.h"

namespace UnattendedRun {

BoxOutcome ForMessageBox(int32_t kind) {
    BoxOutcome outcome;
    switch (kind) {
        case MsgAppExist: outcome.exitCode = Unattended::kProductRunning; break;
        case MsgPathError:
        case MsgNoEnoughSpace: outcome.exitCode = Unattended::kNoSpaceOrBadFolder; break;
        case MsgInstallRunTimeOut: outcome.exitCode = Unattended::kInstallerFailed; break;
        case MsgMD5Fail: outcome.exitCode = Unattended::kPackageRefused; break;
        case MsgInternetFail:
        case MsgUrlFail: outcome.exitCode = Unattended::kNoService; break;
        case MsgInternetTimeout: outcome.exitCode = Unattended::kDownloadFailed; break;
        case MsgNotSupportSystem: outcome.exitCode = Unattended::kSystemNotSupported; break;
        // Closing the passive window: the run ends, with no installation to show for it.
        case MsgCancel: outcome.exitCode = Unattended::kFailed; break;
        // The folder the administrator gave stays, even off a solid-state drive.
        case MsgSuggestSSD: outcome.answer = MessageBoxKinds::kResultSecond; break;
        // The licence is accepted by whoever gave the switch (the box is not reached: the licence
        // box is ticked from the start).
        case MsgAgree: break;
        default: break;
    }
    return outcome;
}

int ForDownloadFailure(WPARAM failure) {
    switch (failure) {
        case kDigestMismatch: return Unattended::kPackageRefused;
        case kNoUsableAddress:
        case ErrNetwork:
        case ErrSizeUnknown:  // the package's host never answered the size probes
        case ErrTooManyRedirects:
            return Unattended::kNoService;
        default: return Unattended::kDownloadFailed;
    }
}

}  // namespace UnattendedRun
