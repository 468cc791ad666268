#include "window/InstallFlowRules.h"

#include <cstdio>

namespace InstallFlowRules {

int DownloadPercent(int64_t downloaded, int64_t total) {
    if (total <= 0) return 0;
    float p = static_cast<float>(downloaded) / static_cast<float>(total) * 85.0f;
    if (p < 0) return 0;
    return static_cast<int>(p);
}

std::string PackageSizeText(int64_t total) {
    char text[64] = {};
    std::snprintf(text, sizeof(text), "%.2fMB", static_cast<double>(static_cast<float>(total) / 1048576.0f));
    return text;
}

int64_t EstimateInstallSeconds(int64_t packageSize) {
    int64_t a = (packageSize * 4) / 716800;
    int64_t b = a * 10;
    return b / 1000;
}

UINT InstallCrawlElapse(int64_t estimateSeconds, int32_t extraSeconds) {
    int64_t total = estimateSeconds + extraSeconds;
    if (total < 0) total = 0;
    int64_t elapse = total * 100;
    if (elapse < USER_TIMER_MINIMUM) elapse = USER_TIMER_MINIMUM;
    if (elapse > USER_TIMER_MAXIMUM) elapse = USER_TIMER_MAXIMUM;
    return static_cast<UINT>(elapse);
}

CrawlStep VerifyTick(int barValue, bool verificationDone) {
    CrawlStep step;
    step.next = barValue + 1;
    if (verificationDone || step.next > kVerifyEnd) {
        step.stopTimer = true;
    } else {
        step.setProgress = true;
    }
    return step;
}

CrawlStep InstallTick(int barValue, bool installerFinished) {
    CrawlStep step;
    step.next = barValue + 1;
    if (!installerFinished && step.next < 100) {
        step.setProgress = true;
        return step;
    }
    step.stopTimer = true;
    if (installerFinished) {
        if (step.next >= kInstallLast) step.signalFinish = true;
        else step.startLastTimer = true;
    }
    return step;
}

CrawlStep LastTick(int barValue) {
    CrawlStep step;
    step.next = barValue + 1;
    if (step.next < 100) {
        step.setProgress = true;
    } else {
        step.stopTimer = true;
        step.signalFinish = true;
    }
    return step;
}

SpaceCheck CheckFreeSpace(uint64_t packageSize, const std::wstring& downloadDrive, const std::wstring& installDrive,
                          const FreeBytesFn& freeBytes) {
    SpaceCheck check;
    if (packageSize == 0) return check;
    uint64_t free = 0;
    if (freeBytes(downloadDrive, free) && packageSize >= free) {
        check.result = kDownloadDriveShort;
        check.freeFound = free;
        check.needed = packageSize;
        return check;
    }
    uint64_t factor = installDrive == downloadDrive ? 3 : 2;
    uint64_t need = packageSize * factor;
    free = 0;
    if (freeBytes(installDrive, free) && need >= free) {
        check.result = kInstallDriveShort;
        check.freeFound = free;
        check.needed = need;
    }
    return check;
}

wchar_t ChooseSsdLetter(uint64_t packageSize, const std::wstring& ssdLetters, const std::wstring& downloadDrive,
                        const FreeBytesFn& freeBytes) {
    for (wchar_t letter : ssdLetters) {
        std::wstring root(1, letter);
        root += L":";
        uint64_t factor = root == downloadDrive ? 3 : 2;
        uint64_t free = 0;
        if (freeBytes(root, free) && packageSize * factor < free) return letter;
    }
    return 0;
}

std::wstring OnDrive(wchar_t letter, const std::wstring& path) {
    if (path.empty()) return std::wstring(1, letter);
    return std::wstring(1, letter) + path.substr(1);
}

ClosePosition ClassifyClose(int mainPage, int pagePage, int barValue, bool failureTextShown, bool launchStarted,
                            bool successOnRunningPage) {
    ClosePosition p;
    if (mainPage == 0 && pagePage == 0) {
        p.reason = "close01";
        p.step = "BeforeDownload";
        p.durationName = "DurationFordownLoading";
        p.durationKey = "UserCloses";
        p.since = ClosePosition::kWindowStart;
    } else if (mainPage == 1 && successOnRunningPage) {
        // Installed, the product starting from the running page: nothing is left to run.
        p.reason = launchStarted ? "close07" : "close06";
        p.step = launchStarted ? "Starting" : "Installing";
    } else if (mainPage == 1 && barValue >= 0 && barValue <= 84) {
        p.reason = "close02";
        p.step = "Downloading";
        p.durationName = "DownloadDuration";
        p.durationKey = "UserCloses";
        p.since = ClosePosition::kInstallClick;
        p.running = true;
    } else if (mainPage == 1 && barValue >= 85 && barValue <= 90) {
        p.reason = "close04";
        p.step = "Md5Check";
        p.durationName = "VerificationDuration";
        p.durationKey = "UserVerificationUserCloses";
        p.since = ClosePosition::kVerifyStart;
        p.running = true;
    } else if (mainPage == 1 && barValue >= 91 && barValue <= 100) {
        p.reason = "close03";
        p.step = "Installing";
        p.durationName = "ActualTime";
        p.durationKey = "UserCloses";
        p.since = ClosePosition::kInstallStart;
        p.running = true;
    } else if (mainPage == 0 && pagePage == 1 && failureTextShown) {
        p.reason = "close05";
        p.step = "Installing";
    } else if (mainPage == 0 && pagePage == 1 && launchStarted) {
        p.reason = "close07";
        p.step = "Starting";
    } else if (mainPage == 0 && pagePage == 1) {
        p.reason = "close06";
        p.step = "Installing";
    }
    return p;
}

std::string SecondsSince(DWORD startTick, DWORD now) { return std::to_string(static_cast<DWORD>(now - startTick) / 1000); }

std::wstring ReplacementFolder(const std::wstring& path, const std::function<bool(const std::wstring&)>& pending) {
    for (unsigned n = 1;; ++n) {
        std::wstring candidate = path + L" " + std::to_wstring(n);
        if (!pending(candidate) || n == 1000) return candidate;
    }
}

std::wstring ShortVersion(const std::wstring& version) {
    size_t dot = std::wstring::npos;
    for (int i = 0; i < 3; ++i) {
        dot = version.find(L'.', dot == std::wstring::npos ? 0 : dot + 1);
        if (dot == std::wstring::npos) return version;
    }
    return version.substr(0, dot);
}

}  // namespace InstallFlowRules
