// Finding the installed product's program and starting it both ways, with the test product.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "analytics/CSingleUserLog.h"
#include "install/ProductLaunch.h"
#include "support/install_fixtures.h"
#include "support/log_capture.h"
#include "platform/FuntionImpl.h"
#include "support/recording_report.h"
#include "support/test_support.h"

using install_fixtures::ProcessName;

namespace {

void MakeFolder(const std::wstring& path) { SHCreateDirectoryExW(nullptr, path.c_str(), nullptr); }
bool PlaceProduct(const std::wstring& folder) {
    MakeFolder(folder);
    return CopyFileW(install_fixtures::ProductProgram().c_str(), (folder + L"\\" + ProcessName()).c_str(), FALSE) != FALSE;
}

class ProductLaunchTest : public ::testing::Test {
protected:
    void SetUp() override { analytics.reset(new CSingleUserLog(&report, AnalyticsFormat::Identity(), nullptr)); }
    void TearDown() override { install_fixtures::EndProcessesNamed({ProcessName()}); }
    std::vector<std::string> Ga4() {
        std::vector<std::string> out;
        for (const auto& c : report.Calls())
            if (c.slot == "ReportGa4") out.push_back(c.text);
        return out;
    }
    test_support::TempDir dir;
    RecordingReport report;
    std::unique_ptr<CSingleUserLog> analytics;
};

}  // namespace

TEST_F(ProductLaunchTest, MainProgramInTheFolderOrTheFirstListedSubfolder) {
    std::wstring app = dir.File(L"Orbala Lumeno");
    EXPECT_EQ(ProductLaunch::MainExePath(app, ProcessName(), true), L"");  // nothing installed
    ASSERT_TRUE(PlaceProduct(app + L"\\b\\deeper"));
    ASSERT_TRUE(PlaceProduct(app + L"\\a"));
    // The subfolder search: the folder the file system lists first wins, found at any depth.
    std::wstring first = FuntionImpl::FindFileInSubfolders(app + L"\\", ProcessName());
    EXPECT_TRUE(first == app + L"\\a\\" + ProcessName() || first == app + L"\\b\\deeper\\" + ProcessName()) << first;
    EXPECT_EQ(FuntionImpl::FindFileInSubfolders(app + L"\\b\\", ProcessName()), app + L"\\b\\deeper\\" + ProcessName());
    EXPECT_EQ(FuntionImpl::FindFileInSubfolders(app + L"\\", L"Other.exe"), L"");
    EXPECT_EQ(ProductLaunch::MainExePath(L"  " + app + L" ", ProcessName(), true), first);
    // The program directly in the folder comes before any subfolder.
    ASSERT_TRUE(PlaceProduct(app));
    EXPECT_EQ(ProductLaunch::MainExePath(L" " + app + L"  ", ProcessName(), true), app + L"\\" + ProcessName());
    // Not before the configuration is loaded.
    EXPECT_EQ(ProductLaunch::MainExePath(app, ProcessName(), false), L"");
}

TEST_F(ProductLaunchTest, WithTheInstallersRightsInItsOwnFolder) {
    std::wstring app = dir.File(L"Orbala Lumeno");
    ASSERT_TRUE(PlaceProduct(app));
    std::wstring command = L"\"" + app + L"\\" + ProcessName() + L"\"";
    EXPECT_EQ(FuntionImpl::StartTargetMainExe(command, 1, analytics.get()), 0);
    auto launches = install_fixtures::WaitForLaunches(app, 1);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].commandLine, install_fixtures::Utf8(command));
    EXPECT_EQ(launches[0].folder, install_fixtures::Utf8(app));
    EXPECT_TRUE(Ga4().empty());
}

TEST_F(ProductLaunchTest, AsTheDesktopUserThroughExplorer) {
    std::wstring app = dir.File(L"Orbala Lumeno");
    ASSERT_TRUE(PlaceProduct(app));
    std::wstring command = L"\"" + app + L"\\" + ProcessName() + L"\"";
    EXPECT_EQ(FuntionImpl::StartTargetMainExe(command, 0, analytics.get()), 0);
    auto launches = install_fixtures::WaitForLaunches(app, 1);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_NE(launches[0].commandLine.find(install_fixtures::Utf8(app + L"\\" + ProcessName())), std::string::npos);
}

TEST_F(ProductLaunchTest, FailuresAreReportedAndStartNothing) {
    std::wstring missing = L"\"" + dir.File(L"nowhere\\") + ProcessName() + L"\"";
    LogCapture log;
    EXPECT_EQ(FuntionImpl::StartTargetMainExe(missing, 0, analytics.get()), -1);
    EXPECT_TRUE(log.contains(" CreateProcess failed1 (2)")) << log.dump();
    EXPECT_EQ(FuntionImpl::StartTargetMainExe(missing, 1, analytics.get()), -1);
    EXPECT_TRUE(log.contains("CreateProcess failed3 (")) << log.dump();
    std::vector<std::string> ga4 = Ga4();
    ASSERT_EQ(ga4.size(), 2u);
    EXPECT_NE(ga4[0].find("ep.qv_category=Other&ep.qv_action=StartWindowError&ep.qv_label=2&"), std::string::npos) << ga4[0];
    EXPECT_NE(ga4[1].find("ep.qv_action=StartWindowError&ep.qv_label="), std::string::npos) << ga4[1];
    EXPECT_TRUE(install_fixtures::ProcessesNamed({ProcessName()}).empty());
}
