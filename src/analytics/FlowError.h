#pragma once
// Flow error codes ("DL002" to "DL031") and the exception reports that follow the ones that
// point to a bad download.
#include <cstdint>
#include <string>

class CSingleUserLog;

namespace FlowError {

// Reports a flow error code as the analytics event "Other" / "FlowError" with the code as label.
void Raise(const std::string& code);

// What of a service's answer goes into the log: at most this many bytes.
constexpr size_t kLoggedResponseBytes = 1024;

enum class ExceptionKind {
    TooManyRedirects,  // "Url_Too_Many_Redirects", with DL022
    Md5CheckFail,      // "MD5_Check_Fail_Cfg<source>", with DL013
    HashCheckFail,     // "Hash_Check_Fail_Cfg<source>", with DL014
    Md5HashCheckFail,  // "MD5_Hash_Check_Fail_Cfg<source>", with DL015
};

// The form body of an exception report; values go in as they are. The body is cut to 2047
// bytes for the redirect report and to 1023 bytes for the check failures.
std::string ExceptionReportBody(ExceptionKind kind, int32_t downloaderId, int32_t configSource,
                                const std::string& queryUrl, const std::string& downloadAddress);
// "https://<primary configuration host>/api/exception/send" in test mode, else the service's address.
std::string ExceptionReportEndpoint(bool testEnv);

// Raises the code through the analytics object, then posts the report to endpoint and logs the
// answer. Returns the transfer result.
int SendExceptionReportTo(CSingleUserLog* analytics, const std::string& endpoint, const std::string& code,
                          ExceptionKind kind, int32_t downloaderId, int32_t configSource, const std::string& queryUrl,
                          const std::string& downloadAddress);
// The same through the process's analytics object to the deployment's endpoint.
int SendExceptionReport(const std::string& code, ExceptionKind kind, int32_t downloaderId, int32_t configSource,
                        const std::string& queryUrl, const std::string& downloadAddress);

}  // namespace FlowError
