// Finding the installed product's program and starting it both ways, with the test product.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

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

TEST_F(ProductLaunchTest, SubfolderSearchFollowsNoLinks) {
    // A standard user who can write the install folder (chosen by the user) links a subfolder to a
    // folder of theirs: what is found there would start with the installer's rights. (Wine shows a
    // host link to a folder as a reparse point, but follows one to a file as a plain file, so the
    // refusal of a linked program file is not shown here.)
    std::wstring app = dir.File(L"Orbala Lumeno");
    std::wstring outside = dir.File(L"outside");
    ASSERT_TRUE(PlaceProduct(outside));
    MakeFolder(app);
    if (!test_support::MakeLink(outside, app + L"\\linked"))
        GTEST_SKIP() << "no symbolic link could be made with the host's ln under this Wine";
    ASSERT_NE(GetFileAttributesW((app + L"\\linked").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "Wine no longer shows a host link as a reparse point";
    EXPECT_EQ(FuntionImpl::FindFileInSubfolders(app + L"\\", ProcessName()), L"");
    EXPECT_EQ(ProductLaunch::MainExePath(app, ProcessName(), true), L"");
    // The program of a real subfolder is found, whatever the order of the listing.
    ASSERT_TRUE(PlaceProduct(app + L"\\real"));
    EXPECT_EQ(ProductLaunch::MainExePath(app, ProcessName(), true), app + L"\\real\\" + ProcessName());
}

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

TEST_F(ProductLaunchTest, ProgramOnlyFromItsExactPathInTheInstallFolder) {
    // The program is started with the installer's rights: a name that leads out of the install
    // folder finds nothing, even where a program waits at the end of the path.
    std::wstring app = dir.File(L"Orbala Lumeno");
    std::wstring outside = dir.File(L"outside");
    ASSERT_TRUE(PlaceProduct(app));
    ASSERT_TRUE(PlaceProduct(outside));
    ASSERT_TRUE(CopyFileW(install_fixtures::ProductProgram().c_str(), (outside + L"\\marker.exe").c_str(), FALSE));
    const std::wstring names[] = {
        L"..\\outside\\marker.exe",
        L"..\\outside\\" + ProcessName(),
        L"sub\\..\\..\\outside\\marker.exe",
        L"../outside/marker.exe",
        outside + L"\\marker.exe",
        L"marker.exe\"",
    };
    for (const std::wstring& name : names) {
        LogCapture log;
        EXPECT_EQ(ProductLaunch::MainExePath(app, name, true), L"") << install_fixtures::Utf8(name);
        EXPECT_TRUE(log.contains(" Product path refused: ")) << log.dump();
    }
    EXPECT_EQ(ProductLaunch::MainExePath(app, ProcessName(), true), app + L"\\" + ProcessName());
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
