// The install flow's arithmetic and decisions: progress bands, the install-time estimate and
// crawl, free space and the SSD choice, where a close happens, pending renames and the launch
// hint's version.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/TextCodec.h"
#include "platform/FuntionImpl.h"
#include "window/InstallFlowRules.h"

using namespace InstallFlowRules;

namespace {
constexpr uint64_t kGB = 1000ull * 1000 * 1000;
constexpr int64_t kMiB = 1048576;

// Free bytes per drive; a drive not in the map cannot be read.
FreeBytesFn Drives(std::map<std::wstring, uint64_t> free, int* reads = nullptr) {
    return [free, reads](const std::wstring& drive, uint64_t& out) {
        if (reads) ++*reads;
        auto it = free.find(drive);
        if (it == free.end()) return false;
        out = it->second;
        return true;
    };
}
}  // namespace

TEST(InstallFlowRules, DownloadPercentFillsTheDownloadBand) {
    struct Case {
        int64_t done, total;
        int percent;
    } cases[] = {
        {0, 100, 0}, {50, 100, 42}, {100, 100, 85}, {99, 100, 84}, {-5, 100, 0}, {10, 0, 0}, {10, -1, 0},
        {4 * kMiB * 1024, 8 * kMiB * 1024, 42},  // sizes beyond 32 bits
    };
    for (const Case& c : cases) EXPECT_EQ(DownloadPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST(InstallFlowRules, PackageSizeLabel) {
    EXPECT_EQ(PackageSizeText(200 * kMiB), "200.00MB");
    EXPECT_EQ(PackageSizeText(1536 * 1024), "1.50MB");
    EXPECT_EQ(PackageSizeText(0), "0.00MB");
}

TEST(InstallFlowRules, InstallEstimateAndCrawlPeriod) {
    // 100 MiB: 585 -> 5850 -> 5 s; with 20 s extra each of the ten steps takes 2.5 s.
    EXPECT_EQ(EstimateInstallSeconds(100 * kMiB), 5);
    EXPECT_EQ(InstallCrawlElapse(5, 20), 2500u);
    EXPECT_EQ(EstimateInstallSeconds(0), 0);
    EXPECT_EQ(EstimateInstallSeconds(17 * kMiB), 0);   // just under one second
    EXPECT_EQ(EstimateInstallSeconds(18 * kMiB), 1);
    EXPECT_EQ(EstimateInstallSeconds(2048 * kMiB), 119);
    // Nothing to estimate and no extra: the shortest period a timer takes, never 0.
    EXPECT_EQ(InstallCrawlElapse(0, 0), static_cast<UINT>(USER_TIMER_MINIMUM));
    EXPECT_EQ(InstallCrawlElapse(0, -30), static_cast<UINT>(USER_TIMER_MINIMUM));
}

TEST(InstallFlowRules, VerificationCrawlStopsAtNinetyOrWhenDone) {
    CrawlStep s = VerifyTick(85, false);
    EXPECT_TRUE(s.setProgress);
    EXPECT_EQ(s.next, 86);
    EXPECT_FALSE(s.stopTimer);
    s = VerifyTick(89, false);
    EXPECT_TRUE(s.setProgress);
    EXPECT_EQ(s.next, 90);
    s = VerifyTick(90, false);  // the flag never came: the crawl still ends at 90
    EXPECT_FALSE(s.setProgress);
    EXPECT_TRUE(s.stopTimer);
    s = VerifyTick(86, true);
    EXPECT_FALSE(s.setProgress);
    EXPECT_TRUE(s.stopTimer);
}

TEST(InstallFlowRules, InstallCrawlRestsAtNinetyNineAndFinishesAfterTheInstaller) {
    // Running: +1 until 99, then the timer stops and the bar rests.
    int bar = 90;
    int ticks = 0;
    for (;;) {
        CrawlStep s = InstallTick(bar, false);
        if (s.setProgress) bar = s.next;
        ++ticks;
        if (s.stopTimer) {
            EXPECT_FALSE(s.signalFinish);
            EXPECT_FALSE(s.startLastTimer);
            break;
        }
        ASSERT_LT(ticks, 20);
    }
    EXPECT_EQ(bar, 99);
    // Installer ended at 95: the crawl hands over to the last steps, which reach 100 and signal.
    CrawlStep s = InstallTick(95, true);
    EXPECT_TRUE(s.stopTimer);
    EXPECT_TRUE(s.startLastTimer);
    EXPECT_FALSE(s.signalFinish);
    bar = 95;
    int lastTicks = 0;
    bool signalled = false;
    while (!signalled) {
        CrawlStep last = LastTick(bar);
        if (last.setProgress) bar = last.next;
        signalled = last.signalFinish;
        ASSERT_LT(++lastTicks, 20);
    }
    EXPECT_EQ(bar, 99);
    EXPECT_EQ(lastTicks, 5);
    // Installer ended at 98: next is 99, the event is signalled at once.
    s = InstallTick(98, true);
    EXPECT_TRUE(s.signalFinish);
    EXPECT_FALSE(s.startLastTimer);
}

TEST(InstallFlowRules, FreeSpaceTable) {
    struct Case {
        const char* what;
        uint64_t size;
        std::map<std::wstring, uint64_t> free;
        const wchar_t* installDrive;
        int32_t result;
        uint64_t freeFound;
    } cases[] = {
        {"nothing known to check", 0, {}, L"C:", kSpaceEnough, 0},
        {"download drive exactly the package", kGB, {{L"C:", kGB}}, L"D:", kDownloadDriveShort, kGB},
        {"same drive needs three times", kGB, {{L"C:", 3 * kGB / 2}}, L"C:", kInstallDriveShort, 3 * kGB / 2},
        {"same drive with room", kGB, {{L"C:", 3 * kGB + 1}}, L"C:", kSpaceEnough, 0},
        {"other drive needs twice, exactly twice is short", kGB, {{L"C:", 10 * kGB}, {L"D:", 2 * kGB}}, L"D:",
         kInstallDriveShort, 2 * kGB},
        {"other drive with room", kGB, {{L"C:", 10 * kGB}, {L"D:", 2 * kGB + 1}}, L"D:", kSpaceEnough, 0},
        {"unreadable drives count as large", kGB, {}, L"D:", kSpaceEnough, 0},
    };
    for (const Case& c : cases) {
        SpaceCheck check = CheckFreeSpace(c.size, L"C:", c.installDrive, Drives(c.free));
        EXPECT_EQ(check.result, c.result) << c.what;
        EXPECT_EQ(check.freeFound, c.freeFound) << c.what;
    }
    // Size 0 asks no drive at all.
    int reads = 0;
    CheckFreeSpace(0, L"C:", L"C:", Drives({{L"C:", 1}}, &reads));
    EXPECT_EQ(reads, 0);
}

TEST(InstallFlowRules, SsdChoiceNeedsStrictlyMoreThanTheFactor) {
    // E: holds exactly twice the package: not enough; F: one byte more is.
    EXPECT_EQ(ChooseSsdLetter(kGB, L"EF", L"C:", Drives({{L"E:", 2 * kGB}, {L"F:", 2 * kGB + 1}})), L'F');
    // The download drive counts three times.
    EXPECT_EQ(ChooseSsdLetter(kGB, L"C", L"C:", Drives({{L"C:", 3 * kGB}})), 0);
    EXPECT_EQ(ChooseSsdLetter(kGB, L"C", L"C:", Drives({{L"C:", 3 * kGB + 1}})), L'C');
    EXPECT_EQ(ChooseSsdLetter(kGB, L"", L"C:", Drives({{L"E:", 100 * kGB}})), 0);
    EXPECT_EQ(ChooseSsdLetter(kGB, L"E", L"C:", Drives({})), 0);  // unreadable: not suggested
    EXPECT_EQ(TextCodec::WideToUtf8(OnDrive(L'E', L"C:\\Program Files\\Orbala")), "E:\\Program Files\\Orbala");
}

TEST(InstallFlowRules, ClosePositionTable) {
    struct Case {
        int mainPage, pagePage, bar;
        bool failure, launch, successRunning;
        const char* reason;
        const char* step;
        const char* duration;
        bool running;
    } cases[] = {
        {0, 0, 0, false, false, false, "close01", "BeforeDownload", "DurationFordownLoading", false},
        {1, 1, 0, false, false, false, "close02", "Downloading", "DownloadDuration", true},
        {1, 1, 84, false, false, false, "close02", "Downloading", "DownloadDuration", true},
        {1, 1, 85, false, false, false, "close04", "Md5Check", "VerificationDuration", true},
        {1, 1, 90, false, false, false, "close04", "Md5Check", "VerificationDuration", true},
        {1, 1, 91, false, false, false, "close03", "Installing", "ActualTime", true},
        {1, 1, 100, false, false, false, "close03", "Installing", "ActualTime", true},
        {0, 1, 42, true, false, false, "close05", "Installing", "", false},
        {0, 1, 100, false, true, false, "close07", "Starting", "", false},
        {0, 1, 100, false, false, false, "close06", "Installing", "", false},
        // Installed with the running page kept (the product starts from there): final, not running.
        {1, 1, 100, false, true, true, "close07", "Starting", "", false},
        {1, 1, 99, false, false, true, "close06", "Installing", "", false},
        {-1, -1, 0, false, false, false, "", "", "", false},
    };
    for (const Case& c : cases) {
        ClosePosition p = ClassifyClose(c.mainPage, c.pagePage, c.bar, c.failure, c.launch, c.successRunning);
        EXPECT_EQ(p.reason, c.reason) << c.mainPage << "/" << c.pagePage << " bar " << c.bar;
        EXPECT_EQ(p.step, c.step) << c.reason;
        EXPECT_EQ(p.durationName, c.duration) << c.reason;
        EXPECT_EQ(p.running, c.running) << c.reason;
    }
    EXPECT_EQ(ClassifyClose(1, 1, 85, false, false, false).durationKey, "UserVerificationUserCloses");
    EXPECT_EQ(SecondsSince(1000, 13600), "12");
    EXPECT_EQ(SecondsSince(0xFFFFF000u, 0x1000u), "8");  // across the tick wrap
}

TEST(InstallFlowRules, PendingRenamesAndTheirFreeNeighbour) {
    // Two operations (source, target pairs); the list ends in an empty text.
    const wchar_t list[] = L"\\??\\C:\\Apps\\Orbala Lumeno\\old.dll\0\0\\??\\C:\\Temp\\x.tmp\0\\??\\C:\\Temp\\y.tmp\0\0";
    const size_t chars = sizeof(list) / sizeof(wchar_t);
    EXPECT_TRUE(FuntionImpl::PendingRenameNamesFolder(list, chars, L"C:\\Apps\\Orbala Lumeno"));
    EXPECT_FALSE(FuntionImpl::PendingRenameNamesFolder(list, chars, L"C:\\Apps\\Orbala"));  // needs the backslash after it
    // The walk ends at the first empty text: what follows it is not looked at.
    EXPECT_FALSE(FuntionImpl::PendingRenameNamesFolder(list, chars, L"C:\\Temp"));
    const wchar_t unterminated[] = {L'C', L':', L'\\', L'A', L'\\', L'f'};
    EXPECT_TRUE(FuntionImpl::PendingRenameNamesFolder(unterminated, 6, L"C:\\A"));
    EXPECT_FALSE(FuntionImpl::PendingRenameNamesFolder(nullptr, 0, L"C:\\A"));

    std::map<std::wstring, bool> pending{{L"D:\\P", true}, {L"D:\\P 1", true}, {L"D:\\P 2", false}};
    EXPECT_EQ(TextCodec::WideToUtf8(ReplacementFolder(L"D:\\P", [&](const std::wstring& f) { return pending[f]; })),
              "D:\\P 2");
}

TEST(InstallFlowRules, LaunchHintVersion) {
    EXPECT_EQ(TextCodec::WideToUtf8(ShortVersion(L"1.0.0.0")), "1.0.0");
    EXPECT_EQ(TextCodec::WideToUtf8(ShortVersion(L"2.5")), "2.5");
    EXPECT_EQ(TextCodec::WideToUtf8(ShortVersion(L"3.1.4")), "3.1.4");
    EXPECT_EQ(TextCodec::WideToUtf8(ShortVersion(L"")), "");
}
