// Exception report bodies and their endpoint.
#include <gtest/gtest.h>

#include "analytics/FlowError.h"

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
    std::string test = FlowError::ExceptionReportEndpoint(true);
    std::string production = FlowError::ExceptionReportEndpoint(false);
    EXPECT_EQ(test.rfind("https://", 0), 0u) << test;
    EXPECT_EQ(test.substr(test.size() - 19), "/api/exception/send");
    EXPECT_EQ(production.substr(production.size() - 19), "/api/exception/send");
}

TEST(FlowErrorCodes, DownloadResults) {
    // EnumErrorCode of a download attempt to its flow error code; 1 is a finished download.
    const std::pair<int32_t, const char*> cases[] = {
        {1, ""},       {6, "DL012"},  {7, "DL027"},  {8, "DL028"},  {9, "DL010"},  {10, "DL011"},
        {11, "DL029"}, {12, "DL030"}, {13, "DL022"}, {15, "DL031"}, {14, "DL017"}, {0, "DL017"},
        {2, "DL017"},  {-1, "DL017"},
    };
    for (const auto& c : cases) EXPECT_EQ(FlowError::CodeForDownloadResult(c.first), c.second) << c.first;
}
