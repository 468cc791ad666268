#include "analytics/CSingleUserLog.h"

#include <windows.h>

#include <easylogging++.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/FuntionImpl.h"
#include "platform/LinkFreeFolders.h"
#include "base/LanguageTables.h"
#include "ReportSDK/IWebLogNew.h"
#include "ReportSDK/WebLog.h"
#include "base/TextCodec.h"
#include "base/ProcessEnvironment.h"

namespace {

// Root ("C:\") of the drive that holds Windows; empty when unknown.
std::wstring WindowsDriveRoot() {
    wchar_t dir[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    if (n < 3 || n >= MAX_PATH) return std::wstring();
    std::wstring root(dir, 3);
    return FuntionImpl::StartsWithDriveRoot(root) ? root : std::wstring();
}

AnalyticsFormat::Identity IdentityOfThisProcess() {
    AnalyticsFormat::Identity id;
    std::wstring module = ProcessEnvironment::ModulePath();
    id.toolsVersion = FuntionImpl::GetFileVersionText(module);
    id.crossEndId = AnalyticsFormat::CrossEndIdFromPath(module);
    float versionNumber = 0;
    id.systemText = AnalyticsFormat::SystemText(FuntionImpl::GetOSVersionName(versionNumber), FuntionImpl::Is64BitSystem());
    AnalyticsFormat::SplitLanguageName(FuntionImpl::GetUILanguageName(), id.language, id.country);
    return id;
}

bool ReadWholeFile(const std::wstring& path, std::string& text) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

void WriteWholeFile(const std::wstring& path, const std::string& text) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << text;
}

// Creates a named manual-reset event in the signalled state, once per process.
void* CreateMarkerEvent(const wchar_t* name) { return CreateEventW(nullptr, TRUE, TRUE, name); }

}  // namespace

CSingleUserLog* CSingleUserLog::GetInstance() {
    // Never destroyed: threads may still report while the process ends. A function-local
    // static is built once even when two threads ask at the same moment.
    static CSingleUserLog* instance =
        new CSingleUserLog(::GetReportObj(), IdentityOfThisProcess(), &::DestroyReportObj, &WebLog::AbortDeliveries);
    return instance;
}

CSingleUserLog::CSingleUserLog(IWebLogNew* reportObject, const AnalyticsFormat::Identity& identity,
                               EndReportFn endReport, EndReportFn abortSends)
    : m_report(reportObject), m_endReport(endReport), m_abortSends(abortSends), m_identity(identity) {
    m_ga4Event = CreateMarkerEvent(L"UserLogGA4Mutex");
    m_funnelEvent = CreateMarkerEvent(L"UserLogFunnelMutex");
}

CSingleUserLog::~CSingleUserLog() {
    if (m_ga4Event) CloseHandle(m_ga4Event);
    if (m_funnelEvent) CloseHandle(m_funnelEvent);
}

int CSingleUserLog::InitLogPath(const std::wstring& baseName) {
    if (m_initCalled) return m_initResult;
    m_initCalled = true;

    SYSTEMTIME now = {};
    GetLocalTime(&now);
    RunFolderValues values;
    // A work folder is never put on a drive that keeps no access lists: it could not be protected.
    std::vector<FuntionImpl::DriveFacts> drives = FuntionImpl::ReadDriveFacts(true, false);
    RunFolders::KeepDrivesWithAccessLists(drives);
    const std::wstring appData = ProcessEnvironment::EnvironmentValue(L"APPDATA");
    if (!RunFolders::Compute(baseName, appData, now, WindowsDriveRoot(), drives, values)) return m_initResult = 0;
    // The log folder lies in the user's profile, which the user controls: it is used only when
    // no folder on its way is a link (else a sibling family folder, else no log at all).
    LinkFreeFolders::Choice log = LinkFreeFolders::Choose(appData, L"VUDezivazaru", L"logs\\" + baseName, "Log folder");
    m_runFolderNotes = log.notes;
    if (log.folder != values.logFolder) {
        values.logFolder = log.folder;
        values.logFilePath = log.folder.empty() ? std::wstring()
                                                : log.folder + L"\\" + baseName + L"_" + values.startStamp + L".log";
        if (values.logFilePath.size() > RunFolders::kMaxPathChars) {
            values.logFolder.clear();
            values.logFilePath.clear();
        }
    }
    // The work folder must be one that no one else controls (RunFolders::ChooseWorkFolder); its
    // decisions are logged once the log is set up (GetRunFolderNotes). Empty when none could be had.
    std::vector<std::wstring> otherRoots;
    for (const FuntionImpl::DriveFacts& drive : drives)
        if (FuntionImpl::IsFixedNonUsb(drive)) otherRoots.push_back(drive.root);
    RunFolders::WorkFolderChoice work =
        RunFolders::ChooseWorkFolder(values.workFolder, otherRoots, RunFolders::WindowsFolderSystem());
    values.workFolder = work.folder;
    m_runFolderNotes.insert(m_runFolderNotes.end(), work.notes.begin(), work.notes.end());
    m_run = values;
    PruneProgramLogs(baseName);
    return m_initResult = 1;
}

std::vector<std::wstring> CSingleUserLog::OldProgramLogs(const std::vector<std::wstring>& fileNames,
                                                         const std::wstring& baseName, size_t keep) {
    // <base name>_<start stamp: 17 digits>.log; the installer's own log (<base name>_Setup_...)
    // and the dumps (....log.dmp) do not match.
    std::vector<std::wstring> runs;
    const size_t length = baseName.size() + 1 + 17 + 4;
    for (const std::wstring& name : fileNames) {
        if (name.size() != length || _wcsnicmp(name.c_str(), baseName.c_str(), baseName.size()) != 0 ||
            name[baseName.size()] != L'_' || _wcsicmp(name.c_str() + length - 4, L".log") != 0)
            continue;
        const wchar_t* stamp = name.c_str() + baseName.size() + 1;
        if (std::all_of(stamp, stamp + 17, [](wchar_t c) { return c >= L'0' && c <= L'9'; })) runs.push_back(name);
    }
    std::sort(runs.begin(), runs.end());  // by start stamp, oldest first
    if (runs.size() <= keep) return {};
    runs.resize(runs.size() - keep);
    return runs;
}

void CSingleUserLog::PruneProgramLogs(const std::wstring& baseName) {
    if (m_run.logFolder.empty()) return;
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((m_run.logFolder + L"\\*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    // This run's file does not exist yet (the logging library makes it): it is the newest anyway.
    for (const std::wstring& name : OldProgramLogs(names, baseName, kProgramLogsKept - 1))
        DeleteFileW((m_run.logFolder + L"\\" + name).c_str());
}

std::wstring CSingleUserLog::DayMarkerPathIn(const std::wstring& logFolder) {
    // Without a log folder the path would be "\galog.json": the root of the current drive.
    if (logFolder.empty()) return std::wstring();
    return logFolder + L"\\galog.json";
}

std::wstring CSingleUserLog::DayMarkerPath() const { return DayMarkerPathIn(m_run.logFolder); }

bool CSingleUserLog::IsWindowThread() const {
    unsigned long id = m_windowThreadId.load();
    return id != 0 && id == GetCurrentThreadId();
}

void CSingleUserLog::InitReport(int32_t downloaderId, int32_t siteId, const std::string& productVersion,
                                const std::string& productName, const std::string& startupUrl, bool kitFlag,
                                int32_t mainPid) {
    m_siteId = siteId;
    m_productName = productName;
    m_startupUrl = startupUrl;
    m_kitFlag = kitFlag;
    m_mainPid = mainPid;

    m_windowThreadId = GetCurrentThreadId();

    SYSTEMTIME today = {};
    GetLocalTime(&today);
    std::wstring marker = DayMarkerPath();
    if (marker.empty()) {
        m_isNew = true;  // as for a marker that cannot be read
    } else {
        std::string text, newText;
        bool exists = ReadWholeFile(marker, text);
        m_isNew = AnalyticsFormat::DayMarkerUpdate(text, exists, today.wYear, today.wMonth, today.wDay, newText);
        if (!newText.empty()) WriteWholeFile(marker, newText);
    }

    std::shared_lock<std::shared_timed_mutex> lock(m_reportLock);
    if (m_report == nullptr || m_ending) return;
    m_report->Init(2, mainPid, mainPid, "", "", productName.c_str(), productVersion.c_str(), "");
    m_report->SetCommonParams(downloaderId, kitFlag ? 1 : 0, "en", m_identity.toolsVersion.c_str());
}

int32_t CSingleUserLog::AddUserLogEvent(const std::string& category, const std::string& action,
                                        const std::string& label, bool bWait) {
    if (FuntionImpl::IsAutoRun()) return kAutoRunRefused;
    if (category == "Other" && action == "FlowError")
        AddUserLog_funnelExPair("ErrorReporting", "Error", "MainErrorType", label, bWait, false);
    return AddUserLog(0, action, bWait, 0, "", label, category);
}

void CSingleUserLog::MirrorFunnelStep(bool toolKit, const std::string& label, bool bWait) {
    const char* coreName = toolKit ? "FlowIsChToolKitError" : "FlowError";
    bool opening = false;
    int32_t step = 0;
    {
        // Flag and step move together, so two reports at the same moment neither skip nor
        // repeat a step and only one of them opens the funnel.
        std::lock_guard<std::mutex> lock(m_funnelLock);
        bool& started = toolKit ? m_toolKitFunnelStarted : m_flowFunnelStarted;
        int32_t& next = toolKit ? m_toolKitStep : m_flowStep;
        opening = !started;
        started = true;
        step = next++;
    }
    if (opening) AddUserLog_funnel("CoreFuncEvent", coreName, 0, "Download", "CoreFuncStart", "null", bWait, toolKit);
    AddUserLog_funnel("CoreFuncEvent", coreName, step, "Download", label, "null", bWait, toolKit);
}

int32_t CSingleUserLog::AddUserLog(int32_t, const std::string& action, bool bWait, int32_t, const std::string&,
                                   const std::string& label, const std::string& category) {
    if (FuntionImpl::IsAutoRun()) return kAutoRunRefused;
    if (action == "FlowErrorIsChToolKitErrorCode") {
        MirrorFunnelStep(true, label, bWait);
    } else if (action == "FlowError") {
        MirrorFunnelStep(false, label, bWait);
    } else if (category == "CrashRate" && action == "Close") {
        bool flowStarted, toolKitStarted;
        {
            std::lock_guard<std::mutex> lock(m_funnelLock);
            flowStarted = m_flowFunnelStarted;
            toolKitStarted = m_toolKitFunnelStarted;
        }
        if (flowStarted) AddUserLog_funnel("CoreFuncEvent", "FlowError", 0, "Download", "CoreFuncEnd", "null", bWait, false);
        if (toolKitStarted)
            AddUserLog_funnel("CoreFuncEvent", "FlowIsChToolKitError", 0, "Download", "CoreFuncEnd", "null", bWait, false);
    }

    return SendGa4(category, action, label, bWait);
}

int32_t CSingleUserLog::SendGa4(const std::string& category, const std::string& action, const std::string& label,
                                bool bWait) {
    if (FuntionImpl::IsAutoRun()) return kAutoRunRefused;
    AnalyticsFormat::Ga4Fields fields;
    fields.siteCategory = FuntionImpl::GetSiteCategory(m_siteId);
    fields.channelLabel = FuntionImpl::GetChannelLabel(m_siteId, m_startupUrl);
    fields.productName = m_productName;
    fields.kitFlag = m_kitFlag;
    std::string query = AnalyticsFormat::Ga4Query(m_identity, fields, category, action, label);
    if (m_ending) return kNoReportObject;
    std::shared_lock<std::shared_timed_mutex> lock(m_reportLock);
    if (m_report == nullptr || m_ending) return kNoReportObject;
    if (query.empty()) {
        // Texts that would not fit the query are refused rather than cut into another event.
        LOG(INFO) << " GA4 event too long, not sent: " << category << "###" << action;
        return kEventTooLong;
    }
    // One offer: after any result the report object has either filed the event (offered again,
    // it would be filed and sent a second time under a new key) or would refuse it again.
    int32_t result = m_report->ReportGa4(query.c_str(), bWait && !IsWindowThread());
    if (result != 0)
        LOG(INFO) << "send ga4 fail, bWait = true, retry is max, retcode = " << result << ", " << category << "###"
                  << action;
    return result;
}

std::string CSingleUserLog::ProductVersion() {
    std::lock_guard<std::mutex> lock(m_cacheLock);
    if (!m_productVersion.empty()) return m_productVersion;
    IAnalyticsWindow* window = m_mainWindow.load();
    if (window == nullptr) return std::string();
    m_productVersion = TextCodec::WideToUtf8(window->AnalyticsProductVersion());
    return m_productVersion;
}

std::string CSingleUserLog::ToolsLanguage() {
    std::lock_guard<std::mutex> lock(m_cacheLock);
    if (LanguageFrozen.load()) return m_toolsLanguage;
    IAnalyticsWindow* window = m_mainWindow.load();
    m_toolsLanguage = window ? window->AnalyticsLanguageCode() : std::string();
    return m_toolsLanguage;
}

AnalyticsFormat::FunnelCommon CSingleUserLog::FunnelCommonValues() {
    AnalyticsFormat::FunnelCommon common;
    common.isNew = m_isNew;
    common.product = m_productName;
    common.productVersion = ProductVersion();
    common.toolsLang = ToolsLanguage();
    common.kitFlag = m_kitFlag;
    common.mainPid = m_mainPid;
    std::wstring marker = DayMarkerPath();
    if (m_firstFunnel.exchange(false) && !marker.empty()) {
        std::string text;
        bool exists = ReadWholeFile(marker, text);
        std::string newText = AnalyticsFormat::DayMarkerWithVersion(text, exists, m_identity.toolsVersion);
        if (!newText.empty()) WriteWholeFile(marker, newText);
    }
    return common;
}

int32_t CSingleUserLog::SendFunnelBody(const std::string& body, const std::string& category, const std::string& action,
                                       bool bWait) {
    if (m_ending) return kNoReportObject;
    std::shared_lock<std::shared_timed_mutex> lock(m_reportLock);
    if (m_report == nullptr || m_ending) return kNoReportObject;
    // One offer, as for GA4 events (SendGa4).
    int32_t result = m_report->ReportEvent(body.c_str(), bWait && !IsWindowThread());
    if (result != 0)
        LOG(INFO) << "send funnel fail, bWait = true, retry is max, retcode = " << result << ", " << category << "###"
                  << action;
    return result;
}

int32_t CSingleUserLog::AddUserLog_funnel(const std::string& eventType, const std::string& coreFuncName,
                                          int32_t funcStep, const std::string& category, const std::string& action,
                                          const std::string& label, bool bWait, bool isToolKit) {
    if (FuntionImpl::IsAutoRun()) return kAutoRunRefused;
    std::string body = AnalyticsFormat::FunnelBody(m_identity, FunnelCommonValues(), isToolKit, eventType, coreFuncName,
                                                   funcStep, category, action, label);
    return SendFunnelBody(body, category, action, bWait);
}

int32_t CSingleUserLog::AddUserLog_funnelEx(const std::string& category, const std::string& action,
                                            const std::map<std::string, std::string>& extras, bool bWait,
                                            bool isToolKit) {
    if (FuntionImpl::IsAutoRun()) return kAutoRunRefused;
    std::string body = AnalyticsFormat::FunnelExBody(m_identity, FunnelCommonValues(), isToolKit, category, action, extras);
    return SendFunnelBody(body, category, action, bWait);
}

int32_t CSingleUserLog::AddUserLog_funnelExPair(const std::string& category, const std::string& action,
                                                const std::string& key, const std::string& value, bool bWait,
                                                bool isToolKit) {
    return AddUserLog_funnelEx(category, action, {{key, value}}, bWait, isToolKit);
}

void CSingleUserLog::SetInstallMode(const std::string& mode) {
    // An extra common member: the report object keeps it beside the ones UpdateCommon passes and
    // puts it into the "common" object of every funnel event.
    Json::Value value(Json::objectValue);
    value["install_mode"] = mode;
    const std::string json = Json::writeString(Json::StreamWriterBuilder(), value);
    if (m_ending) return;
    std::shared_lock<std::shared_timed_mutex> lock(m_reportLock);
    if (m_report && !m_ending) m_report->SetExtraCommon(json.c_str());
}

void CSingleUserLog::UpdateCommon(int32_t uiLanguage, const std::string& productVersion) {
    std::string json = AnalyticsFormat::ExtraCommonJson(GetLanguageCode(uiLanguage), productVersion);
    if (m_ending) return;
    std::shared_lock<std::shared_timed_mutex> lock(m_reportLock);
    if (m_report && !m_ending) m_report->SetExtraCommon(json.c_str());
}

bool CSingleUserLog::WaitThreadForExit() {
    LOG(INFO) << "CSingleUserLog WaitThreadForExit";
    return true;
}

void CSingleUserLog::EndReportObject() {
    if (m_ending.exchange(true)) return;  // ended once
    // No new send starts from here on; the ones in progress give up their requests and pauses.
    if (m_abortSends) m_abortSends();
    std::unique_lock<std::shared_timed_mutex> lock(m_reportLock, std::chrono::milliseconds(kEndWaitMs));
    if (!lock.owns_lock()) {
        LOG(INFO) << " Report object still busy after " << kEndWaitMs << " ms; left as it is";
        return;
    }
    m_report = nullptr;
    if (m_endReport) m_endReport();
}

void CSingleUserLog::SetContentLength(const std::string& address, int64_t length) {
    if (address.empty() || length == 0) return;
    std::lock_guard<std::mutex> lock(m_lengthsLock);
    m_contentLengths[address] = length;
}

int64_t CSingleUserLog::GetContentLength(const std::string& address) {
    if (address.empty()) return 0;
    std::lock_guard<std::mutex> lock(m_lengthsLock);
    auto it = m_contentLengths.find(address);
    return it == m_contentLengths.end() ? 0 : it->second;
}

std::string DurationBucketText(int64_t seconds, const std::string& suffix) {
    return AnalyticsFormat::DurationBucketText(seconds, suffix);
}
