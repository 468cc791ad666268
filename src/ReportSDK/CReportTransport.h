#pragma once
// The report SDK's one request: a POST with a fixed header list, fixed time-outs and the
// proxy named in "proxy.txt" beside the executable.
//
// The transport keeps one library handle between requests, so the connection and the TLS session
// to a collector are used again instead of a new handshake per event. A caller that finds that
// handle busy (a waiting caller while the sending thread posts) uses a handle of its own for the
// one request, so the two can post at the same time.
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

class CSdkLog;

class CReportTransport {
public:
    // When a request in flight is given up: at once when now is set, or once the tick count
    // (GetTickCount64) reaches at (0: never).
    struct Cancel {
        std::atomic<bool> now{false};
        std::atomic<unsigned long long> at{0};
        bool Due() const;
    };

    static constexpr long kConnectTimeoutSeconds = 30;
    static constexpr long kTimeoutSeconds = 40;
    // What is kept of a response (headers and body; it is only ever logged): a collector that
    // answers with more is cut off there, its status still counts.
    static constexpr size_t kMaxResponseBytes = 64 * 1024;

    // A kept connection older than this is not used again: a collector or a box on the way drops
    // idle connections after some time, and a POST written into a connection that has just been
    // closed may be refused or, at worst, be sent again by the library on a fresh one.
    static constexpr long kMaxConnectionAgeSeconds = 20;

    // exeFolder ends in a backslash; "proxy.txt" is looked for there at every request.
    CReportTransport(const std::wstring& exeFolder, CSdkLog* log) : m_exeFolder(exeFolder), m_log(log) {}
    ~CReportTransport();
    CReportTransport(const CReportTransport&) = delete;
    CReportTransport& operator=(const CReportTransport&) = delete;

    // Status of the last response (after redirects), 0 when none arrived. Failures and
    // statuses other than 200 and 204 are written to the SDK log. Only http and https are
    // spoken, also after a redirect. When cancel is given and falls due, the request is given up
    // within about a second (the report object is ending).
    int PostDataError(const std::string& address, const std::string& body, const Cancel* cancel = nullptr) const;

    // The proxy of "proxy.txt": its first line, without a trailing carriage return and without
    // a UTF-8 byte order mark; "" when the file is missing or that line is empty.
    std::string ReadProxy() const;
    static std::string ProxyFromFileText(const std::string& text);

private:
    int Post(void* curl, const std::string& address, const std::string& body, const Cancel* cancel) const;

    std::wstring m_exeFolder;
    CSdkLog* m_log;
    // The kept handle (a libcurl easy handle; its connections and TLS sessions live in it), made
    // at the first request; used by one request at a time.
    mutable std::mutex m_keptLock;
    mutable void* m_kept = nullptr;
};
