#include "ReportSDK/CManagement.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <cwchar>
#include <memory>
#include <vector>

#include "platform/FuntionImpl.h"
#include "platform/LinkFreeFolders.h"
#include "base/LocalSwitches.h"
#include "base/TextCodec.h"
#include "deployment_values.h"
#include "base/JsonText.h"
#include "base/ProcessEnvironment.h"

namespace {

std::string IniText(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
    wchar_t buffer[261] = {};
    GetPrivateProfileStringW(section, key, L"", buffer, 260, path.c_str());
    return TextCodec::WideToUtf8(buffer);
}

std::string RegistryText(const wchar_t* keyPath, const wchar_t* valueName, DWORD maxBytes) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
    std::vector<wchar_t> buffer(maxBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = maxBytes;
    DWORD type = 0;
    LONG r = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
    return TextCodec::WideToUtf8(buffer.data());
}

std::string HexPairs(const BYTE* bytes, size_t length) {
    std::string out;
    char pair[4] = {};
    for (size_t i = 0; i < length; ++i) {
        snprintf(pair, sizeof(pair), "%02X", bytes[i]);
        if (i) out += ":";
        out += pair;
    }
    return out;
}

const char kSixBytes[] = "%02X:%02X:%02X:%02X:%02X:%02X";

}  // namespace

namespace {
constexpr bool kLocalDeployment = std::string_view(Deployment::kName) == "local";

CManagement* MakeInstance() {
    auto* instance = new CManagement(ProcessEnvironment::ModulePath(), ProcessEnvironment::EnvironmentValue(L"APPDATA"));
    if constexpr (kLocalDeployment) {
        std::string base = TextCodec::WideToUtf8(ProcessEnvironment::EnvironmentValue(L"ORBALA_REPORT_ENDPOINT"));
        if (!base.empty()) instance->SetTestEndpoints(base, base);
    }
    return instance;
}
}  // namespace

CManagement& CManagement::Instance() {
    static CManagement* instance = MakeInstance();
    return *instance;
}

CManagement::CManagement(const std::wstring& exePath, const std::wstring& appData)
    : m_exePath(exePath), m_appData(appData) {
    size_t slash = exePath.find_last_of(L"\\/");
    m_exeFolder = slash == std::wstring::npos ? std::wstring() : exePath.substr(0, slash + 1);
    ReadTestSwitchFile();
}

void CManagement::ReadTestSwitchFile() {
    // Only the switch: the file lies beside the executable, where anyone may put one, so in no
    // build does it name an address (tests set theirs through SetTestEndpoints).
    // A test switch: honoured by test builds only, like qv_downloader.cfg's.
    std::wstring path = m_exeFolder + L"test.wk";
    bool set = strtol(IniText(path, L"Configs", L"TestEnv").c_str(), nullptr, 10) != 0;
    m_testEnv = set && LocalSwitches::ThisBuild().honoursSwitchFiles;
    m_testSwitchIgnored = set && !m_testEnv;
}

void CManagement::SetTestEndpoints(const std::string& collectorBase, const std::string& ga4Base) {
    std::lock_guard<std::mutex> lock(m_fieldsLock);
    m_testCollectorBase = collectorBase;
    m_testGa4Base = ga4Base;
}

std::wstring CManagement::ProductFolder() const {
    std::lock_guard<std::mutex> lock(m_fieldsLock);
    if (m_productFolderChosen) return m_productFolder;
    return m_appData + L"\\RUZavaDuradeVIV\\" + std::to_wstring(m_fields.mainPid);
}

std::wstring CManagement::QueueFilePath() const {
    std::wstring folder = ProductFolder();
    return folder.empty() ? std::wstring() : folder + L"\\backup\\tempga.wk";
}

std::wstring CManagement::QueueFilePathFor(int32_t mainPid) const {
    return m_appData + L"\\RUZavaDuradeVIV\\" + std::to_wstring(mainPid) + L"\\backup\\tempga.wk";
}

std::wstring CManagement::LogPath() const {
    std::lock_guard<std::mutex> lock(m_fieldsLock);
    return m_logPath;
}

std::string CManagement::CollectorAddress() const {
    std::string base;
    {
        std::lock_guard<std::mutex> lock(m_fieldsLock);
        base = m_testCollectorBase;
    }
    if (base.empty())
        base = "https://" + TextCodec::WideToUtf8(m_testEnv ? Deployment::COLLECTOR_HOST_TEST()
                                                            : Deployment::COLLECTOR_HOST_PRODUCTION());
    return base + (m_testEnv ? "/collector" : "/collect");
}

std::string CManagement::Ga4Base() const {
    {
        std::lock_guard<std::mutex> lock(m_fieldsLock);
        if (!m_testGa4Base.empty()) return m_testGa4Base;
    }
    return "https://" + TextCodec::WideToUtf8(Deployment::GA4_HOST());
}

void CManagement::Init(int32_t type, int32_t mainPid, int32_t secondPid, const std::string& email,
                       const std::string& phone, const std::string& product, const std::string& productVersion,
                       const std::string& userId) {
    {
        std::lock_guard<std::mutex> lock(m_fieldsLock);
        m_fields.sdkType = type;
        m_fields.mainPid = mainPid;
    }
    m_log.Close();
    // The folders lie in the user's profile: used only when no folder on their way is a link
    // (else a sibling family folder; with none, the SDK keeps no files and sends from memory).
    LinkFreeFolders::Choice choice =
        LinkFreeFolders::Choose(m_appData, L"RUZavaDuradeVIV", std::to_wstring(mainPid), "SDK folder");
    std::string detail;
    for (const wchar_t* sub : {L"backup", L"logs"}) {
        if (!choice.folder.empty() && !LinkFreeFolders::Secure(choice.folder, sub, &detail)) {
            choice.notes.push_back(" SDK folder: " + detail);
            choice.folder.clear();
        }
    }
    const std::wstring productFolder = choice.folder;
    {
        std::lock_guard<std::mutex> lock(m_fieldsLock);
        m_productFolder = productFolder;
        m_productFolderChosen = true;
    }
    std::wstring logPath;
    if (!productFolder.empty()) {
        SYSTEMTIME today = {};
        GetLocalTime(&today);
        wchar_t date[16] = {};
        swprintf(date, 16, L"%4d%02d%02d", today.wYear, today.wMonth, today.wDay);
        logPath = productFolder + L"\\logs\\" + date + L".log";
        m_log.Open(logPath);
    }
    for (const std::string& note : choice.notes) m_log.Write("%s", note.c_str() + 1);
    if (m_testSwitchIgnored) m_log.Write("test.wk ignored in a release build: TestEnv");
    if (!productFolder.empty()) PruneSdkLogs(productFolder + L"\\logs", logPath);

    std::string sessionId = NewSessionId();
    std::string uid = TextCodec::WideToUtf8(FuntionImpl::GetSystemVolumeGuid());
    std::string os = ReadOsName();
    std::string osVersion = ReadOsVersion();
    std::string mac = ReadMacAddress();
    std::string brand = ReadBoardValue(L"BaseBoardManufacturer");
    std::string model = ReadBoardValue(L"BaseBoardProduct");
    {
        std::lock_guard<std::mutex> lock(m_fieldsLock);
        m_logPath = logPath;
        m_fields.secondPid = secondPid;
        m_fields.email = email;
        m_fields.phone = phone;
        m_fields.product = product;
        m_fields.productVersion = productVersion;
        m_fields.userId = userId;
        m_fields.sessionId = sessionId;
        m_fields.uid = uid;
        m_fields.os = os;
        m_fields.osVersion = osVersion;
        m_fields.mac = mac;
        m_fields.brand = brand;
        m_fields.model = model;
    }
    const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
    m_log.Write("SDK init ok, version %s, type %d, main_pid %d, %s %s, with curl %s", kSdkVersion, type, mainPid,
                product.c_str(), productVersion.c_str(), curl && curl->version ? curl->version : "");
}

void CManagement::SetCommonParams(int32_t downloaderId, int32_t kitType, const std::string& toolsLang,
                                  const std::string& toolsVersion) {
    std::lock_guard<std::mutex> lock(m_fieldsLock);
    m_fields.downloaderId = downloaderId;
    m_fields.kitType = kitType;
    m_fields.toolsLang = toolsLang;
    m_fields.toolsVersion = toolsVersion;
}

int32_t CManagement::SetExtraCommon(const std::string& json) {
    if (json.size() < 2) return -1;
    Json::Value parsed;
    std::string errors;
    bool ok = JsonText::Parse(json, parsed, &errors);
    if (!ok || !errors.empty()) {
        m_log.Write("Extra common parse failed: %s", errors.c_str());
        return 0;
    }
    if (!parsed.isObject()) return 0;  // only an object has members to take
    std::lock_guard<std::mutex> lock(m_fieldsLock);
    Json::Value extra = m_fields.extraCommon.isObject() ? m_fields.extraCommon : Json::Value(Json::objectValue);
    bool changed = false;
    for (const std::string& name : parsed.getMemberNames()) {
        if (ReportFormat::IsProtectedCommonName(name)) continue;
        extra[name] = parsed[name];
        changed = true;
    }
    if (changed) m_fields.extraCommon = extra;
    return 0;
}

std::string CManagement::CrossEndId() {
    std::call_once(m_crossEndOnce, [this] {
        int32_t type;
        {
            std::lock_guard<std::mutex> lock(m_fieldsLock);
            type = m_fields.sdkType;
        }
        std::string id;
        if (type == 1) {
            std::string text;
            if (FILE* file = _wfopen((m_exeFolder + L"SP.dat").c_str(), L"rb")) {
                char buffer[4096];
                size_t got;
                while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
                fclose(file);
            }
            if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
            id = ReportFormat::CrossEndIdFromSpText(text);
        } else if (type == 2) {
            size_t slash = m_exePath.find_last_of(L"\\/");
            id = ReportFormat::CrossEndIdFromFileName(
                slash == std::wstring::npos ? m_exePath : m_exePath.substr(slash + 1));
        }
        std::lock_guard<std::mutex> lock(m_fieldsLock);
        m_fields.crossEndId = id;
    });
    std::lock_guard<std::mutex> lock(m_fieldsLock);
    return m_fields.crossEndId;
}

ReportFormat::CommonFields CManagement::Fields() const {
    std::lock_guard<std::mutex> lock(m_fieldsLock);
    return m_fields;
}

int32_t CManagement::WrapEvent(const std::string& body, int64_t ts, std::string& key, std::string& content) {
    CrossEndId();
    Json::Value input;
    JsonText::Parse(body, input);  // a body that is not JSON wraps as null
    Json::Value event = ReportFormat::BuildFunnelEvent(Fields(), input, ts);
    int32_t check = ReportFormat::CheckFunnelEvent(event);
    if (check != 0) return check;
    key = ReportFormat::FunnelKey(event);
    content = event.toStyledString();
    return 0;
}

std::string CManagement::Ga4ClientId() {
    std::call_once(m_clientIdOnce, [this] {
        std::string mac;
        {
            std::lock_guard<std::mutex> lock(m_fieldsLock);
            mac = m_fields.mac;
        }
        if (mac.empty()) mac = ReadMacAddress();
        m_clientId = ReportFormat::Ga4ClientId(VolumeSerialHex(), mac);
    });
    return m_clientId;
}

void CManagement::WrapGa4(const std::string& query, int64_t ts, std::string& key, std::string& address) {
    std::string encoded = ReportFormat::PercentEncodeQuery(query);
    key = ReportFormat::Ga4Key(encoded, ts);
    address = ReportFormat::Ga4Address(Ga4Base(), Ga4ClientId(), encoded);
}

void CManagement::PruneSdkLogs(const std::wstring& logsFolder, const std::wstring& keep) {
    // "YYYYMMDD.log": the names sort by date.
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((logsFolder + L"\\*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        bool dated = name.size() == 12 && _wcsicmp(name.c_str() + 8, L".log") == 0 &&
                     std::all_of(name.begin(), name.begin() + 8, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
        if (dated && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (names.size() <= kSdkLogsKept) return;
    std::sort(names.begin(), names.end());
    for (size_t i = 0; i + kSdkLogsKept < names.size(); ++i) {
        std::wstring path = logsFolder + L"\\" + names[i];
        if (_wcsicmp(path.c_str(), keep.c_str()) == 0) continue;
        if (DeleteFileW(path.c_str())) m_log.Write("Old SDK log deleted: %s", TextCodec::WideToUtf8(names[i]).c_str());
    }
}

std::string CManagement::VolumeSerialHex() const {
    wchar_t systemDir[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(systemDir, MAX_PATH);
    if (n < 3 || n >= MAX_PATH) return std::string();
    std::wstring root(systemDir, 3);
    DWORD serial = 0;
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) return std::string();
    char text[16] = {};
    snprintf(text, sizeof(text), "%lX", static_cast<unsigned long>(serial));
    return text;
}

std::string CManagement::NewSessionId() {
    GUID guid = {};
    if (FAILED(CoCreateGuid(&guid))) return std::string();
    char text[40] = {};
    snprintf(text, sizeof(text), "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string CManagement::ReadOsName() {
    // The name table of the system facts, without the registry's build number: Windows 11 is
    // told from Windows 10 by the build number of the extended version query.
    FuntionImpl::OsVersionFacts facts = FuntionImpl::ReadOsVersionFacts();
    facts.isWindows11 = false;
    float number = 0;
    std::string name = FuntionImpl::OsNameFromFacts(facts, number);
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    bool versionOk = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
#pragma GCC diagnostic pop
    if (name == "Windows 10" && versionOk && version.dwBuildNumber >= 22000) name = "Windows 11";
    SYSTEM_INFO native = {};
    GetNativeSystemInfo(&native);
    bool wide = native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
    return name + (wide ? "-64" : "-32");
}

std::string CManagement::ReadOsVersion() {
    const wchar_t* keyPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
    RegCloseKey(key);
    return RegistryText(keyPath, L"DisplayVersion", 128) + "(" + RegistryText(keyPath, L"CurrentBuildNumber", 128) +
           ")";
}

std::string CManagement::ReadBoardValue(const wchar_t* valueName) {
    return RegistryText(L"HARDWARE\\DESCRIPTION\\System\\BIOS", valueName, 520);
}

std::string CManagement::ReadMacAddress() {
    ULONG size = 0;
    std::vector<BYTE> buffer;
    if (GetAdaptersInfo(nullptr, &size) == ERROR_BUFFER_OVERFLOW && size > 0) {
        buffer.resize(size);
        auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
        if (GetAdaptersInfo(list, &size) == NO_ERROR) {
            std::string first = HexPairs(list->Address, list->AddressLength);
            if (!first.empty()) return first;
            for (IP_ADAPTER_INFO* a = list; a; a = a->Next) {
                if (a->AddressLength != 6) continue;
                char text[24] = {};
                snprintf(text, sizeof(text), kSixBytes, a->Address[0], a->Address[1], a->Address[2], a->Address[3],
                         a->Address[4], a->Address[5]);
                return text;
            }
        }
    }
    size = 0;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    if (GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0)
        return std::string();
    buffer.assign(size, 0);
    auto* addresses = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, addresses, &size) != NO_ERROR) return std::string();
    for (IP_ADAPTER_ADDRESSES* a = addresses; a; a = a->Next) {
        if (a->PhysicalAddressLength != 6) continue;
        const BYTE* p = a->PhysicalAddress;
        char text[24] = {};
        snprintf(text, sizeof(text), kSixBytes, p[0], p[1], p[2], p[3], p[4], p[5]);
        return text;
    }
    return std::string();
}
