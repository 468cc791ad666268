// The defences that setup.exe carries as a program, seen from outside: the manifest it is built
// with, the Windows version it is told at run time, and which DLLs it loads when DLLs of the
// same names have been put beside it.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <tinyxml2.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "base/TextCodec.h"
#include "support/setup_process.h"
#include "support/test_support.h"

namespace {

const wchar_t* kClass = L"QV_UI_Frame_486";
const wchar_t* kBaseName = L"OrbalaLumeno_Setup";  // from the skin's download address
constexpr DWORD kStartLimitMs = 60000;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(tolower(c)); });
    return text;
}

// The manifest of an executable (resource 1 of type RT_MANIFEST); empty when it has none.
std::string ManifestOf(const std::wstring& exe) {
    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!image) return std::string();
    std::string text;
    if (HRSRC info = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        HGLOBAL data = LoadResource(image, info);
        const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
        if (bytes) text.assign(bytes, SizeofResource(image, info));
    }
    FreeLibrary(image);
    return text;
}

// The machine field of an executable's file header (0x14c for i686, 0x8664 for x86_64).
WORD MachineOf(const std::wstring& exe) {
    std::string bytes = test_support::ReadFile(exe);
    if (bytes.size() < 0x40) return 0;
    DWORD peOffset = *reinterpret_cast<const DWORD*>(bytes.data() + 0x3c);
    if (bytes.size() < peOffset + 6) return 0;
    return *reinterpret_cast<const WORD*>(bytes.data() + peOffset + 4);
}

// First element under parent along a path of element names; null when one is missing.
const tinyxml2::XMLElement* Find(const tinyxml2::XMLElement* parent, std::initializer_list<const char*> path) {
    for (const char* name : path) {
        if (!parent) return nullptr;
        parent = parent->FirstChildElement(name);
    }
    return parent;
}

std::string Attribute(const tinyxml2::XMLElement* e, const char* name) {
    const char* v = e ? e->Attribute(name) : nullptr;
    return v ? v : "";
}

void CheckManifest(const std::wstring& exe) {
    SCOPED_TRACE(TextCodec::WideToUtf8(exe));
    std::string text = ManifestOf(exe);
    ASSERT_FALSE(text.empty()) << "no manifest resource";
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(text.data(), text.size()), tinyxml2::XML_SUCCESS) << text;
    const tinyxml2::XMLElement* assembly = doc.RootElement();
    ASSERT_NE(assembly, nullptr);
    EXPECT_STREQ(assembly->Name(), "assembly");

    const WORD machine = MachineOf(exe);
    EXPECT_EQ(Attribute(Find(assembly, {"assemblyIdentity"}), "processorArchitecture"),
              machine == IMAGE_FILE_MACHINE_AMD64 ? "amd64" : "x86");

    const auto* level = Find(assembly, {"trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel"});
    EXPECT_EQ(Attribute(level, "level"), "requireAdministrator");
    EXPECT_EQ(Attribute(level, "uiAccess"), "false");

    std::set<std::string> supported;
    for (const auto* os = Find(assembly, {"compatibility", "application", "supportedOS"}); os;
         os = os->NextSiblingElement("supportedOS"))
        supported.insert(Lower(Attribute(os, "Id")));
    const struct {
        const char* system;
        const char* id;
    } kSystems[] = {{"Windows 7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"},
                    {"Windows 8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"},
                    {"Windows 8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"},
                    {"Windows 10 and 11", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}};
    for (const auto& s : kSystems) EXPECT_EQ(supported.count(s.id), 1u) << s.system << " is not declared";

    const auto* settings = Find(assembly, {"application", "windowsSettings"});
    ASSERT_NE(settings, nullptr);
    const auto* awareness = settings->FirstChildElement("dpiAwareness");
    ASSERT_NE(awareness, nullptr);
    std::string modes = awareness->GetText() ? awareness->GetText() : "";
    EXPECT_EQ(modes.rfind("PerMonitorV2", 0), 0u) << "per-monitor v2 first: " << modes;
    const auto* aware = settings->FirstChildElement("dpiAware");
    EXPECT_EQ(std::string(aware && aware->GetText() ? aware->GetText() : ""), "true/pm");

    const auto* controls = Find(assembly, {"dependency", "dependentAssembly", "assemblyIdentity"});
    EXPECT_EQ(Attribute(controls, "name"), "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(Attribute(controls, "version"), "6.0.0.0");
    EXPECT_EQ(Attribute(controls, "publicKeyToken"), "6595b64144ccf1df");
}

// Per-program Wine settings (HKCU\Software\Wine\AppDefaults\<exe name>): Windows ignores them.
// Removed again when the object goes.
class WineAppDefaults {
public:
    explicit WineAppDefaults(const std::wstring& exeName) : key_(L"Software\\Wine\\AppDefaults\\" + exeName) {}
    ~WineAppDefaults() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
    void Set(const std::wstring& subKey, const std::wstring& name, const std::wstring& value) {
        HKEY key = nullptr;
        std::wstring path = subKey.empty() ? key_ : key_ + L"\\" + subKey;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           DWORD((value.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }

private:
    std::wstring key_;
};

// setup.exe copied under another name into a fresh folder (Wine's per-program settings go by
// the file name, so each test's copy has a name of its own).
std::wstring SetupCopyNamed(const std::wstring& name) {
    std::wstring copy = CopySetupToTempFolder(BuiltSetupExe());
    if (copy.empty()) return copy;
    std::wstring renamed = copy.substr(0, copy.find_last_of(L'\\') + 1) + name;
    return MoveFileW(copy.c_str(), renamed.c_str()) ? renamed : std::wstring();
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// Runs the setup until its window shows, calls whileRunning with the process, closes the
// window and waits for the end. APPDATA points at appData.
void RunWithWindow(const std::wstring& exe, const std::wstring& appData,
                   const std::function<void(SetupProcess&)>& whileRunning) {
    wchar_t oldAppData[1024] = {};
    DWORD hadAppData = GetEnvironmentVariableW(L"APPDATA", oldAppData, 1024);
    SetEnvironmentVariableW(L"APPDATA", appData.c_str());  // inherited by setup.exe
    SetupProcess setup;
    bool started = setup.Start(exe);
    SetEnvironmentVariableW(L"APPDATA", hadAppData ? oldAppData : nullptr);
    ASSERT_TRUE(started);
    auto window = [&]() -> HWND {
        for (const auto& w : FindWindowsOfClass(kClass))
            if (w.second == setup.Pid()) return w.first;
        return nullptr;
    };
    ASSERT_TRUE(WaitUntil([&] { return window() != nullptr; }, kStartLimitMs)) << setup.Output();
    whileRunning(setup);
    PostMessageW(window(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(setup.WaitForExit(30000));
    EXPECT_EQ(setup.ExitCode(), 0u);
}

// The text of the newest log file of a run with APPDATA = appData.
std::string NewestLog(const std::wstring& appData) {
    const std::wstring folder = appData + L"\\VUDezivazaru\\logs\\" + kBaseName;
    std::vector<std::wstring> logs;
    for (const std::wstring& f : test_support::FilesIn(folder))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, L".log") == 0) logs.push_back(f);
    std::sort(logs.begin(), logs.end());
    // A window run's log comes before the one of the delivery copy started when it closed;
    // take the first that has the window's start.
    for (const std::wstring& f : logs) {
        std::string text = test_support::ReadFile(folder + L"\\" + f);
        if (text.find(" Windows: ") != std::string::npos) return text;
    }
    return std::string();
}

// Path (lower case) of each module of a process, by lower-case file name.
std::map<std::wstring, std::wstring> ModulesOf(DWORD pid) {
    std::map<std::wstring, std::wstring> modules;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
    if (snapshot == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Module32FirstW(snapshot, &entry); ok; ok = Module32NextW(snapshot, &entry)) {
        std::wstring name = entry.szModule, path = entry.szExePath;
        std::transform(name.begin(), name.end(), name.begin(), towlower);
        std::transform(path.begin(), path.end(), path.begin(), towlower);
        modules[name] = path;
    }
    CloseHandle(snapshot);
    return modules;
}

std::vector<std::wstring> PlantedNames() {
    std::vector<std::wstring> names;
    std::istringstream in(PLANTED_DLL_NAMES);
    for (std::string name; std::getline(in, name, ',');)
        if (!name.empty()) names.push_back(TextCodec::Utf8ToWide(name) + L".dll");
    return names;
}

}  // namespace

TEST(HardeningE2e, ManifestAsksForElevationDeclaresWindowsVersionsDpiAndCommonControls) {
    CheckManifest(BuiltSetupExe());
#ifdef SHIPPED_SETUP_EXE
    // The shipped 32-bit setup.exe, where this test runs from the 64-bit test build: a host that
    // cannot run 32-bit code still builds it beside this tree (./run build), so its manifest is
    // checked here as a file; running it is left to hosts that run 32-bit code, whose tests run
    // from the 32-bit tree against it. A missing file is a broken build, not a case to pass over.
    std::wstring shipped = test_support::WinePath(SHIPPED_SETUP_EXE);
    ASSERT_NE(GetFileAttributesW(shipped.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the shipped 32-bit setup.exe is missing: " << SHIPPED_SETUP_EXE << " (build it with ./run build)";
    EXPECT_EQ(MachineOf(shipped), IMAGE_FILE_MACHINE_I386) << SHIPPED_SETUP_EXE;
    CheckManifest(shipped);
#endif
}

// Windows tells a program the real version only when its manifest declares that version
// (others hear "6.2", Windows 8). Wine does the same when its prefix is set to a newer Windows:
// the test sets Windows 10 for its copy of the setup.
TEST(HardeningE2e, TheSetupIsToldTheRealWindowsVersion) {
    ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
    const std::wstring name = L"hardening_e2e_version.exe";
    std::wstring exe = SetupCopyNamed(name);
    ASSERT_FALSE(exe.empty());
    WineAppDefaults wine(name);
    wine.Set(L"", L"Version", L"win10");
    test_support::TempDir appData;
    RunWithWindow(exe, appData.path(), [](SetupProcess&) {});

    std::string log = NewestLog(appData.path());
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, std::regex(" Windows: (Windows [0-9.]+), version reported to this program ([0-9]+\\.[0-9]+)\\.")))
        << log;
    const std::map<std::string, std::string> expected = {
        {"Windows 7", "6.1"}, {"Windows 8", "6.2"}, {"Windows 8.1", "6.3"}, {"Windows 10", "10.0"}, {"Windows 11", "10.0"}};
    ASSERT_EQ(expected.count(m[1]), 1u) << m[1];
    EXPECT_EQ(m[2].str(), expected.at(m[1])) << "the version this program is told differs from " << m[1];
    // Its system was set to Windows 10 above: the setup must have seen that, not a default.
    EXPECT_EQ(m[1].str(), "Windows 10") << log;
    EXPECT_EQ(m[2].str(), "10.0") << log;
    // The start also says where the DLLs come from and which work folder it took.
    EXPECT_NE(log.find(" DLL search: system folder only"), std::string::npos) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(" Work folder: [A-Z]:\\\\VUDezivazaru(-[0-9a-f]+)?\\\\OrbalaLumeno_Setup")))
        << log;
}

// DLLs of the names the setup uses, put beside it, are never loaded: its own DLL search starts
// in the system folder. Wine, unlike Windows, prefers its own copy of a system DLL even when one
// lies beside the program; the test tells Wine to prefer a DLL found there (per-program setting),
// as Windows does. Not for version.dll: Wine's own user32 imports it (Windows' user32 does not),
// so with that setting Wine would hand the planted copy to its user32 before the setup's first
// instruction; version.dll is planted all the same, under Wine's usual preference.
TEST(HardeningE2e, DllsBesideTheSetupAreNotLoaded) {
    ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
    const std::wstring name = L"hardening_e2e_dlls.exe";
    std::wstring exe = SetupCopyNamed(name);
    ASSERT_FALSE(exe.empty());
    const std::wstring folder = FolderOf(exe);
    const std::wstring probe = test_support::WinePath(PLANTED_PROBE_DLL);
    WineAppDefaults wine(name);
    const std::vector<std::wstring> planted = PlantedNames();
    ASSERT_FALSE(planted.empty());
    for (const std::wstring& dll : planted) {
        ASSERT_TRUE(CopyFileW(probe.c_str(), (folder + L"\\" + dll).c_str(), FALSE)) << TextCodec::WideToUtf8(dll);
        if (dll != L"version.dll") wine.Set(L"DllOverrides", dll.substr(0, dll.size() - 4), L"native,builtin");
    }

    wchar_t systemFolder[MAX_PATH] = {};
    GetSystemDirectoryW(systemFolder, MAX_PATH);
    std::wstring system = systemFolder;
    std::transform(system.begin(), system.end(), system.begin(), towlower);
    std::wstring own = folder;
    std::transform(own.begin(), own.end(), own.begin(), towlower);

    test_support::TempDir appData;
    int loadedFromSystem = 0;
    RunWithWindow(exe, appData.path(), [&](SetupProcess& setup) {
        std::map<std::wstring, std::wstring> modules = ModulesOf(setup.Pid());
        ASSERT_FALSE(modules.empty());
        for (const std::wstring& dll : planted) {
            std::wstring lower = dll;
            std::transform(lower.begin(), lower.end(), lower.begin(), towlower);
            auto it = modules.find(lower);
            // Wine names a DLL after the file it found even when it maps its own copy instead,
            // which it does for version.dll here: for that one the mark alone tells.
            if (it == modules.end() || dll == L"version.dll") continue;
            EXPECT_EQ(it->second.rfind(own, 0), std::wstring::npos) << TextCodec::WideToUtf8(it->second);
            if (it->second.rfind(system, 0) == 0) ++loadedFromSystem;
        }
    });
    for (const std::wstring& dll : planted) {
        EXPECT_EQ(GetFileAttributesW((folder + L"\\" + dll + L".loaded").c_str()), INVALID_FILE_ATTRIBUTES)
            << TextCodec::WideToUtf8(dll) << " was loaded from the setup's folder";
    }
    EXPECT_GT(loadedFromSystem, 0) << "the run loaded none of the planted names from the system folder";
}
