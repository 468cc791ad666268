#pragma once
// The report SDK's one request: a POST with a fixed header list, fixed time-outs and the
// proxy named in "proxy.txt" beside the executable. Each call has a handle of its own, so the
// sending thread and a waiting caller can post at the same time.
#include <string>

class CSdkLog;

class CReportTransport {
public:
    static constexpr long kConnectTimeoutSeconds = 30;
    static constexpr long kTimeoutSeconds = 40;

    // exeFolder ends in a backslash; "proxy.txt" is looked for there at every request.
    CReportTransport(const std::wstring& exeFolder, CSdkLog* log) : m_exeFolder(exeFolder), m_log(log) {}

    // Status of the last response (after redirects), 0 when none arrived. Failures and
    // statuses other than 200 and 204 are written to the SDK log.
    int PostDataError(const std::string& address, const std::string& body) const;

    // The proxy of "proxy.txt": its first line, without a trailing carriage return and without
    // a UTF-8 byte order mark; "" when the file is missing or that line is empty.
    std::string ReadProxy() const;
    static std::string ProxyFromFileText(const std::string& text);

private:
    std::wstring m_exeFolder;
    CSdkLog* m_log;
};
