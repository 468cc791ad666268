// Exception report bodies and their endpoint. (The flow error code of a download result is the
// install worker's, tested in install_rules_test.)
#include <gtest/gtest.h>

#include "analytics/FlowError.h"
#include "base/TextCodec.h"
#include "deployment_values.h"

using FlowError::ExceptionKind;

TEST(ExceptionReport, BodiesCarryTheSourceAndTheAddressesAsTheyAre) {
    struct Case {
        ExceptionKind kind;
        int source;
        const char* expected;
    } cases[] = {
        {ExceptionKind::TooManyRedirects, 1, "pid=486&type=2&exception_code=Url_Too_Many_Redirects&other=https://q/x?a=1&b=2,https://d/p.exe"},
        {ExceptionKind::Md5CheckFail, 1, "pid=486&type=2&exception_code=MD5_Check_Fail_Cfg1&other=https://q/x?a=1&b=2,https://d/p.exe"},
        {ExceptionKind::HashCheckFail, 2, "pid=486&type=2&exception_code=Hash_Check_Fail_Cfg2&other=https://q/x?a=1&b=2,https://d/p.exe"},
        {ExceptionKind::Md5HashCheckFail, 1, "pid=486&type=2&exception_code=MD5_Hash_Check_Fail_Cfg1&other=https://q/x?a=1&b=2,https://d/p.exe"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FlowError::ExceptionReportBody(c.kind, 486, c.source, "https://q/x?a=1&b=2", "https://d/p.exe"), c.expected);
}

TEST(ExceptionReport, LongBodiesAreCutToTheirLimits) {
    std::string longUrl(5000, 'u');
    EXPECT_EQ(FlowError::ExceptionReportBody(ExceptionKind::TooManyRedirects, 486, 1, longUrl, "a").size(), 2047u);
    EXPECT_EQ(FlowError::ExceptionReportBody(ExceptionKind::HashCheckFail, 486, 2, longUrl, "a").size(), 1023u);
}

TEST(ExceptionReport, EndpointFollowsTheTestSwitch) {
    // Test mode: the configuration service's primary host; otherwise the service's own address.
    // The deployment gives the two different hosts, so a switch that is ignored either way shows.
    const std::string test = FlowError::ExceptionReportEndpoint(true);
    const std::string production = FlowError::ExceptionReportEndpoint(false);
    ASSERT_NE(test, production) << "this deployment gives both modes one exception address: the switch cannot be seen";
    EXPECT_EQ(test, "https://" + TextCodec::WideToUtf8(Deployment::CONFIG_HOST_PRIMARY()) + "/api/exception/send");
    EXPECT_EQ(production, TextCodec::WideToUtf8(Deployment::EXCEPTION_REPORT_URL()));
    EXPECT_EQ(production.rfind("https://", 0), 0u) << production;
    EXPECT_EQ(production.substr(production.size() - 19), "/api/exception/send") << production;
}
