#pragma once
// The report SDK's settings, identity fields and log: one per process in the setup (Instance),
// or one per test with its own executable path and application data folder.
#include <cstdint>
#include <mutex>
#include <string>

#include "ReportSDK/CSdkLog.h"
#include "ReportSDK/ReportFormat.h"

class CManagement {
public:
    static constexpr const char* kSdkVersion = "1.0.0.13";
    // SDK log files kept in the "logs" folder (one a day): the newest, the rest are deleted at Init.
    static constexpr size_t kSdkLogsKept = 30;

    // The process's one object: the running executable and the folder of %APPDATA%.
    // Built on first use; never destroyed (the sending thread may use it until the process ends).
    // In a build for the local deployment (the stand-in services of the tests and the demo) the
    // environment variable ORBALA_REPORT_ENDPOINT, when set, is the base of both endpoints, so
    // a test can point a started setup.exe at services on ports of its own; a build for any
    // other deployment has no such override.
    static CManagement& Instance();

    // exePath: full path of the executable whose folder holds "test.wk", "SP.dat" and
    // "proxy.txt"; appData: the folder under which the SDK keeps its data and logs.
    CManagement(const std::wstring& exePath, const std::wstring& appData);
    CManagement(const CManagement&) = delete;
    CManagement& operator=(const CManagement&) = delete;

    // Stores the arguments, creates the SDK folders, opens the SDK log, reads the identity of
    // the machine and the run and writes "SDK init ok, ...".
    void Init(int32_t type, int32_t mainPid, int32_t secondPid, const std::string& email, const std::string& phone,
              const std::string& product, const std::string& productVersion, const std::string& userId);
    void SetCommonParams(int32_t downloaderId, int32_t kitType, const std::string& toolsLang,
                         const std::string& toolsVersion);
    // -1 for a text shorter than 2 characters, else 0 (also when it does not parse).
    int32_t SetExtraCommon(const std::string& json);

    // Wraps a funnel body into its event: result 0 with the task's key and content, or the
    // code of the first failed check.
    int32_t WrapEvent(const std::string& body, int64_t ts, std::string& key, std::string& content);
    // The GA4 task for a query: its key and the full collection address.
    void WrapGa4(const std::string& query, int64_t ts, std::string& key, std::string& address);

    // A copy of the common fields, taken under the lock that SetExtraCommon also takes.
    ReportFormat::CommonFields Fields() const;
    std::string CrossEndId();

    const std::wstring& ExeFolder() const { return m_exeFolder; }
    std::wstring ProductFolder() const;   // SDK root + "\" + MainPid (Init may choose a sibling root, or none)
    std::wstring QueueFilePath() const;   // product folder + "\backup\tempga.wk"; empty without a folder
    // The queue file a product would use, before Init has fixed the product.
    std::wstring QueueFilePathFor(int32_t mainPid) const;
    std::wstring LogPath() const;
    bool TestEnv() const { return m_testEnv; }
    // Where funnel events go: the test collector ("/collector") when TestEnv is on, else the
    // production collector ("/collect").
    std::string CollectorAddress() const;
    // Scheme and host of the GA4 collection endpoint.
    std::string Ga4Base() const;
    // Points both endpoints at stand-in services (scheme, host and port; the paths stay): for
    // tests and benchmarks, which call it before the first event. Nothing read from a file can
    // change the endpoints.
    void SetTestEndpoints(const std::string& collectorBase, const std::string& ga4Base);
    // The GA4 client id: the volume serial number and the MAC address without its colons; read
    // once, at the first GA4 event.
    std::string Ga4ClientId();
    // Volume serial number of the system drive as "%X"; "" when it cannot be read.
    std::string VolumeSerialHex() const;
    CSdkLog& Log() { return m_log; }

    // Identity readers (the system's answers; "" where a source is missing).
    static std::string NewSessionId();
    static std::string ReadOsName();
    static std::string ReadOsVersion();
    static std::string ReadMacAddress();
    static std::string ReadBoardValue(const wchar_t* valueName);

private:
    void ReadTestSwitchFile();
    void PruneSdkLogs(const std::wstring& logsFolder, const std::wstring& keep);

    std::wstring m_exePath;
    std::wstring m_exeFolder;  // ends in a backslash
    std::wstring m_appData;
    std::wstring m_logPath;
    std::wstring m_productFolder;        // chosen by Init; empty when no safe folder could be had
    bool m_productFolderChosen = false;  // before Init the folder is the default one
    bool m_testEnv = false;
    bool m_testSwitchIgnored = false;  // test.wk set TestEnv, and this build ignores it
    // Stand-in endpoints of tests (SetTestEndpoints); empty in the setup.
    std::string m_testCollectorBase;
    std::string m_testGa4Base;
    std::once_flag m_clientIdOnce;
    std::string m_clientId;

    mutable std::mutex m_fieldsLock;
    ReportFormat::CommonFields m_fields;
    std::once_flag m_crossEndOnce;
    CSdkLog m_log;
};
