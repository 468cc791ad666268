#include "analytics/FlowError.h"

#include <curl/curl.h>

#include <easylogging++.h>

#include <cstdio>

#include "net/CLibcurlTool.h"
#include "analytics/CSingleUserLog.h"
#include "platform/FuntionImpl.h"
#include "base/TextCodec.h"
#include "deployment_values.h"

namespace FlowError {

void Raise(const std::string& code) { CSingleUserLog::GetInstance()->AddUserLogEvent("Other", "FlowError", code, false); }

std::string ExceptionReportBody(ExceptionKind kind, int32_t downloaderId, int32_t configSource,
                                const std::string& queryUrl, const std::string& downloadAddress) {
    char body[2048];
    size_t limit = sizeof(body);
    int n = 0;
    switch (kind) {
        case ExceptionKind::TooManyRedirects:
            n = snprintf(body, limit, "pid=%d&type=2&exception_code=Url_Too_Many_Redirects&other=%s,%s", downloaderId,
                         queryUrl.c_str(), downloadAddress.c_str());
            break;
        case ExceptionKind::Md5CheckFail:
        case ExceptionKind::HashCheckFail:
        case ExceptionKind::Md5HashCheckFail: {
            limit = 1024;
            const char* name = kind == ExceptionKind::Md5CheckFail    ? "MD5_Check_Fail_Cfg"
                               : kind == ExceptionKind::HashCheckFail ? "Hash_Check_Fail_Cfg"
                                                                      : "MD5_Hash_Check_Fail_Cfg";
            n = snprintf(body, limit, "pid=%d&type=2&exception_code=%s%d&other=%s,%s", downloaderId, name, configSource,
                         queryUrl.c_str(), downloadAddress.c_str());
            break;
        }
    }
    if (n < 0) return std::string();
    return std::string(body, std::min(static_cast<size_t>(n), limit - 1));
}

std::string ExceptionReportEndpoint(bool testEnv) {
    if (testEnv) return "https://" + TextCodec::WideToUtf8(Deployment::CONFIG_HOST_PRIMARY()) + "/api/exception/send";
    return TextCodec::WideToUtf8(Deployment::EXCEPTION_REPORT_URL());
}

int SendExceptionReportTo(CSingleUserLog* analytics, const std::string& endpoint, const std::string& code,
                          ExceptionKind kind, int32_t downloaderId, int32_t configSource, const std::string& queryUrl,
                          const std::string& downloadAddress) {
    analytics->AddUserLogEvent("Other", "FlowError", code, false);
    std::string body = ExceptionReportBody(kind, downloaderId, configSource, queryUrl, downloadAddress);
    std::string response;
    CLibcurlTool tool(nullptr);  // HttpPost makes and releases a handle of its own
    int result = tool.HttpPost(endpoint, body, response);
    // The answer is only logged; a service that answers with a flood does not flood the log.
    LOG(INFO) << (kind == ExceptionKind::TooManyRedirects ? " Send error report1, response is " : " Send error report2, response is ")
              << response.substr(0, kLoggedResponseBytes) << ", return " << result;
    return result;
}

int SendExceptionReport(const std::string& code, ExceptionKind kind, int32_t downloaderId, int32_t configSource,
                        const std::string& queryUrl, const std::string& downloadAddress) {
    return SendExceptionReportTo(CSingleUserLog::GetInstance(), ExceptionReportEndpoint(FuntionImpl::IsTestEnv()), code,
                                 kind, downloaderId, configSource, queryUrl, downloadAddress);
}

}  // namespace FlowError
