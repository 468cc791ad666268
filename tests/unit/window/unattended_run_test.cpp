// What an unattended run makes of each message box and each download failure: the exit code the
// deployment script sees, and the answer that lets the flow go on to its end.
#include <gtest/gtest.h>

#include "base/Unattended.h"
#include "download/DownloadResult.h"
#include "install/InstallWindow.h"
#include "window/MessageBoxKinds.h"
#include "window/UnattendedRun.h"

TEST(UnattendedRun, EveryMessageBoxBecomesItsExitCode) {
    const struct {
        int32_t kind;
        int exitCode;  // -1: the run goes on
        int32_t answer;
    } cases[] = {
        {MsgAppExist, Unattended::kProductRunning, 1},
        {MsgPathError, Unattended::kNoSpaceOrBadFolder, 1},
        {MsgNoEnoughSpace, Unattended::kNoSpaceOrBadFolder, 1},
        {MsgInstallRunTimeOut, Unattended::kInstallerFailed, 1},
        {MsgMD5Fail, Unattended::kPackageRefused, 1},
        {MsgUrlFail, Unattended::kNoService, 1},
        {MsgInternetFail, Unattended::kNoService, 1},
        {MsgInternetTimeout, Unattended::kDownloadFailed, 1},
        {MsgNotSupportSystem, Unattended::kSystemNotSupported, 1},
        {MsgCancel, Unattended::kFailed, 1},
        // The administrator's folder stays off the suggested drive; the licence is accepted.
        {MsgSuggestSSD, -1, MessageBoxKinds::kResultSecond},
        {MsgAgree, -1, MessageBoxKinds::kResultFirst},
    };
    for (const auto& c : cases) {
        UnattendedRun::BoxOutcome outcome = UnattendedRun::ForMessageBox(c.kind);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << "kind " << c.kind;
        EXPECT_EQ(outcome.answer, c.answer) << "kind " << c.kind;
    }
}

TEST(UnattendedRun, DownloadFailuresTellTheServiceFromTheDownload) {
    const struct {
        WPARAM failure;
        int exitCode;
    } cases[] = {
        {kNoUsableAddress, Unattended::kNoService},
        {ErrNetwork, Unattended::kNoService},
        {ErrSizeUnknown, Unattended::kNoService},
        {ErrTooManyRedirects, Unattended::kNoService},
        {kDigestMismatch, Unattended::kPackageRefused},
        {ErrNoProgress, Unattended::kDownloadFailed},
        {ErrCdnFailures, Unattended::kDownloadFailed},
        {ErrShortFile, Unattended::kDownloadFailed},
        {ErrMainDownloadTooSmall, Unattended::kDownloadFailed},
        {ErrOpenFile, Unattended::kDownloadFailed},
        {ErrNoThreads, Unattended::kDownloadFailed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnattendedRun::ForDownloadFailure(c.failure), c.exitCode) << "failure " << c.failure;
}
