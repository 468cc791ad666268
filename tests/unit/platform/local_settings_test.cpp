// The local settings file beside the executable: three switches, on only for exactly 1, read
// afresh at every call.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>

#include "base/LocalSwitches.h"
#include "platform/FuntionImpl.h"

namespace {

class LocalSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { path_ = FuntionImpl::GetLocalSettingsPath(); DeleteFileW(path_.c_str()); }
    void TearDown() override { DeleteFileW(path_.c_str()); }
    void Write(const std::string& content) {
        std::ofstream out(path_.c_str(), std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::wstring path_;
};

}  // namespace

TEST_F(LocalSettingsTest, FileSitsBesideTheExecutable) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring dir(module, wcsrchr(module, L'\\') + 1);
    EXPECT_EQ(path_, dir + L"qv_downloader.cfg");
}

TEST_F(LocalSettingsTest, MissingFileMeansEverySwitchOff) {
    EXPECT_FALSE(FuntionImpl::IsTestEnv());
    EXPECT_FALSE(FuntionImpl::IsAutoRun());
    EXPECT_FALSE(FuntionImpl::IsCrashTest());
}

TEST_F(LocalSettingsTest, OnlyExactlyOneSwitchesOn) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true}, {"0", false}, {"2", false}, {"-1", false}, {"yes", false}, {"", false}, {"true", false}, {"1x", true},
    };
    for (const auto& c : cases) {
        Write(std::string("[Settings]\r\nAutoRun=") + c.first + "\r\n");
        EXPECT_EQ(FuntionImpl::IsAutoRun(), c.second) << "AutoRun=" << c.first;
    }
}

TEST_F(LocalSettingsTest, EachSwitchReadsItsOwnKeyInTheSettingsSection) {
    Write("[Settings]\r\nTestEnv=1\r\n[Other]\r\nAutoRun=1\r\n");
    EXPECT_TRUE(FuntionImpl::IsTestEnv());
    EXPECT_FALSE(FuntionImpl::IsAutoRun());
    EXPECT_FALSE(FuntionImpl::IsCrashTest());
    Write("[Settings]\r\nCrashTest=1\r\n");
    EXPECT_FALSE(FuntionImpl::IsTestEnv());
    EXPECT_TRUE(FuntionImpl::IsCrashTest());
}

TEST_F(LocalSettingsTest, ChangesTakeEffectWithoutRestart) {
    Write("[Settings]\r\nAutoRun=1\r\n");
    EXPECT_TRUE(FuntionImpl::IsAutoRun());
    Write("[Settings]\r\nAutoRun=0\r\n");
    EXPECT_FALSE(FuntionImpl::IsAutoRun());
    DeleteFileW(path_.c_str());
    EXPECT_FALSE(FuntionImpl::IsAutoRun());
    Write("[Settings]\r\nAutoRun=1\r\n");
    EXPECT_TRUE(FuntionImpl::IsAutoRun());
}

// Whoever can put a file beside the setup (the Downloads folder) would otherwise tick the licence
// box and install (AutoRun), crash every click (CrashTest) or choose the test hosts (TestEnv) in the
// elevated setup: a release build reads none of them, and says so for the log.
TEST_F(LocalSettingsTest, AReleaseBuildIgnoresEverySwitchAndNamesThem) {
    Write("[Settings]\r\nTestEnv=1\r\nAutoRun=1\r\nCrashTest=1\r\n");
    {
        LocalSwitches::ScopedBounds release(LocalSwitches::For(false));
        EXPECT_FALSE(FuntionImpl::IsTestEnv());
        EXPECT_FALSE(FuntionImpl::IsAutoRun());
        EXPECT_FALSE(FuntionImpl::IsCrashTest());
        EXPECT_EQ(FuntionImpl::IgnoredLocalSwitches(), (std::vector<std::wstring>{L"TestEnv", L"AutoRun", L"CrashTest"}));
        Write("[Settings]\r\nAutoRun=1\r\nCrashTest=0\r\n");
        EXPECT_EQ(FuntionImpl::IgnoredLocalSwitches(), std::vector<std::wstring>{L"AutoRun"});
    }
    // This test program is a test build: the same file is honoured, and nothing is ignored.
    EXPECT_TRUE(FuntionImpl::IsAutoRun());
    EXPECT_FALSE(FuntionImpl::IsCrashTest());
    EXPECT_TRUE(FuntionImpl::IgnoredLocalSwitches().empty());
}

TEST(LeadingNumbers, ParseLikeTheConfigurationExpects) {
    EXPECT_EQ(FuntionImpl::ParseLeadingInt(L"486"), 486);
    EXPECT_EQ(FuntionImpl::ParseLeadingInt(L"486abc"), 486);
    EXPECT_EQ(FuntionImpl::ParseLeadingInt(L"abc"), 0);
    EXPECT_EQ(FuntionImpl::ParseLeadingInt(L""), 0);
    EXPECT_EQ(FuntionImpl::ParseLeadingInt(L"-5"), -5);
    EXPECT_EQ(FuntionImpl::ParseLeadingInt(L"99999999999"), INT32_MAX);
    EXPECT_EQ(FuntionImpl::ParseLeadingInt64(L"5368709120"), 5368709120LL);
    EXPECT_EQ(FuntionImpl::ParseLeadingInt64(L"99999999999999999999"), INT64_MAX);
}
