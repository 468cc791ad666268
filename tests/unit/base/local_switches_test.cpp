// What the files beside setup.exe may change, in a test build and in a release: the switch file
// is read by test builds only, the configuration query's plain-HTTP test mode with it; in a release
// the query stays on checked HTTPS and the events go to the deployment's endpoints whatever the
// files say.
#include "support/local_services.h"
#include "support/services_environment.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "ReportSDK/CManagement.h"
#include "analytics/CSingleUserLog.h"
#include "base/LocalSwitches.h"
#include "base/TextCodec.h"
#include "config/CConfigure.h"
#include "deployment_values.h"
#include "platform/FuntionImpl.h"
#include "support/recording_report.h"
#include "support/test_support.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServicesEnvironment);

std::string ServicesHost() {
    std::string base = LocalServices::BaseUrl(true);
    return base.substr(base.find("//") + 2);
}

// "qv_downloader.cfg" beside the test program, removed again.
class LocalSettingsFile {
public:
    explicit LocalSettingsFile(const std::string& text) {
        std::ofstream out(FuntionImpl::GetLocalSettingsPath().c_str(), std::ios::binary | std::ios::trunc);
        out << text;
    }
    ~LocalSettingsFile() { DeleteFileW(FuntionImpl::GetLocalSettingsPath().c_str()); }
};

}  // namespace

TEST(LocalSwitches, BoundsOfTestAndReleaseBuilds) {
    EXPECT_TRUE(LocalSwitches::For(true).plainHttpConfigurationQuery);
    EXPECT_FALSE(LocalSwitches::For(false).plainHttpConfigurationQuery);
    // This build is the local deployment's, a test build.
    EXPECT_TRUE(LocalSwitches::ThisBuild().plainHttpConfigurationQuery);
    {
        LocalSwitches::ScopedBounds release(LocalSwitches::For(false));
        EXPECT_FALSE(LocalSwitches::ThisBuild().plainHttpConfigurationQuery);
    }
    EXPECT_TRUE(LocalSwitches::ThisBuild().plainHttpConfigurationQuery);
}

TEST(LocalSwitches, TheTestModeOfTheConfigurationQueryIsATestBuildSwitchOnly) {
    LocalSettingsFile settings("[Settings]\r\nTestEnv=1\r\n");
    ASSERT_TRUE(FuntionImpl::IsTestEnv());
    RecordingReport report;
    AnalyticsFormat::Identity id;
    CSingleUserLog analytics(&report, id, nullptr);
    // A test build takes the test mode: the primary host over plain HTTP. A release ignores the
    // file: the query goes where it goes without one (here the alternate host), over checked HTTPS.
    const struct {
        bool testBuild;
        std::string primary, alternate;
        const char* scheme;
        const char* listener;  // as the services recorded the query
    } cases[] = {{true, ServicesHost(), "alternate.invalid:1", "http://", "https-plain"},
                 {false, "primary.invalid:1", ServicesHost(), "https://", "https"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.testBuild ? "test build" : "release");
        ASSERT_TRUE(LocalServices::Reset());
        LocalSwitches::ScopedBounds bounds(LocalSwitches::For(c.testBuild));
        EXPECT_EQ(FuntionImpl::IsTestEnv(), c.testBuild);
        CConfigure config(486, 1033, 61);
        config.setQueryTargets({c.primary, c.alternate, &analytics});
        EXPECT_EQ(config.getDownloadInfoXml(true, true), 1);
        EXPECT_EQ(config.getQueryUrl().rfind(std::string(c.scheme) + ServicesHost() + "/queryDownloaderV2?", 0), 0u)
            << config.getQueryUrl();
        std::vector<Json::Value> queries = LocalServices::Requests("/queryDownloaderV2");
        ASSERT_EQ(queries.size(), 1u);
        EXPECT_EQ(queries[0]["listener"].asString(), c.listener);
    }
}
