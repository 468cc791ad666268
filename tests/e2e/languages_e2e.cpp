// Every window language end to end with the real setup.exe under Wine: the setup starts on a
// system whose UI language is that language (Wine takes it from the process's locale, so each
// case starts setup.exe through a shell with LC_ALL set to a locale compiled for this test), shows
// the texts of that language's file, hands its code to the product installer as /LANG and leaves
// it in the product's uninstall key.
// The system languages whose combo items the layout hides (Malay, Swedish, Czech, Vietnamese)
// cannot be chosen at all, neither from the system nor in the combo: on such a system the window
// starts in English, and the case checks exactly that.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "base/TextCodec.h"
#include "support/control_text_asker.h"
#include "support/install_fixtures.h"
#include "support/local_services.h"
#include "support/setup_driver.h"
#include "support/setup_process.h"
#include "support/test_support.h"

namespace {

const wchar_t* kClass = L"QV_UI_Frame_486";
const std::string kPackage = "OrbalaLumeno_Setup.exe";  // the skin's download file name

std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }
std::wstring W(const std::string& s) { return TextCodec::Utf8ToWide(s); }

struct LanguageCase {
    const char* locale;    // the system's locale (compiled for this test, see CMakeLists.txt)
    unsigned languageId;   // the UI language id Windows reports for it
    int shown;             // the window language it starts in (combo item)
    const char* file;      // that language's file under skin/language
    const char* code;      // its /LANG code and uninstall-key value
};

void PrintTo(const LanguageCase& c, std::ostream* out) { *out << c.locale << " (" << c.languageId << ")"; }

// Regional variants where the language has several ids, so the mapping by id list is exercised.
const LanguageCase kCases[] = {
    {"en_GB", 2057, 0, "language_english.xml", "en"},
    {"ja_JP", 1041, 1, "language_japanese.xml", "ja"},
    {"zh_CN", 2052, 2, "language_chinese.xml", "zhcn"},
    {"es_MX", 2058, 3, "language_spanish.xml", "es"},
    {"de_AT", 3079, 4, "language_german.xml", "de"},
    {"fr_CA", 3084, 5, "language_french.xml", "fr"},
    {"ru_RU", 1049, 6, "language_russian.xml", "ru"},
    {"pt_PT", 2070, 7, "language_portuguese.xml", "pt"},
    {"ar_SA", 1025, 8, "language_arabic.xml", "ar"},
    {"it_CH", 2064, 9, "language_italiano.xml", "it"},
    {"zh_TW", 1028, 10, "language_chinesetrad.xml", "zhtw"},
    {"ko_KR", 1042, 11, "language_korean.xml", "ko"},
    {"nl_BE", 2067, 12, "language_nederland.xml", "nl"},
    {"id_ID", 1057, 13, "language_indonesian.xml", "id"},
    {"tr_TR", 1055, 14, "language_turkish.xml", "tr"},
    {"hi_IN", 1081, 15, "language_hindi.xml", "hi"},
    {"th_TH", 1054, 16, "language_thai.xml", "th"},
    // Hidden combo items: the window falls back to English.
    {"ms_MY", 1086, 0, "language_english.xml", "en"},
    {"sv_SE", 1053, 0, "language_english.xml", "en"},
    {"cs_CZ", 1029, 0, "language_english.xml", "en"},
    {"vi_VN", 1066, 0, "language_english.xml", "en"},
};

std::string DecodeEntities(const std::string& text) {
    static const std::pair<const char*, const char*> kNamed[] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool done = false;
        for (const auto& e : kNamed)
            if (text.compare(i, strlen(e.first), e.first) == 0) {
                out += e.second;
                i += strlen(e.first);
                done = true;
                break;
            }
        if (!done && text.compare(i, 2, "&#") == 0) {
            size_t end = text.find(';', i);
            unsigned long value = std::strtoul(text.c_str() + i + 2, nullptr, 10);
            out += N(std::wstring(1, wchar_t(value)));
            i = end + 1;
            done = true;
        }
        if (!done) out += text[i++];
    }
    return out;
}

// The text of a label of the language file's "install_page" (UTF-8), or "" when it has none.
std::string FileText(const std::string& file, const std::string& key) {
    std::string xml = test_support::ReadFile(test_support::SourcePath("skin/language/" + file));
    size_t page = xml.find("name=\"install_page\"");
    if (page == std::string::npos) return "";
    size_t at = xml.find("<Label name=\"" + key + "\" text=\"", page);
    if (at == std::string::npos) return "";
    at = xml.find("text=\"", at) + 6;
    return DecodeEntities(xml.substr(at, xml.find('"', at) - at));
}

// The items of the language combo in the settings layout, in order.
std::vector<std::string> ComboItems() {
    std::string xml = test_support::ReadFile(test_support::SourcePath("skin/InstallSetting.xml"));
    std::vector<std::string> items;
    size_t at = xml.find("name=\"language_combox\"");
    size_t end = xml.find("</Combo>", at);
    while ((at = xml.find("<ListLabelElement text=\"", at)) != std::string::npos && at < end) {
        at += 24;
        items.push_back(DecodeEntities(xml.substr(at, xml.find('"', at) - at)));
    }
    return items;
}

// Log files under a folder, recursively.
void LogFiles(const std::wstring& folder, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring entry = data.cFileName;
        if (entry == L"." || entry == L"..") continue;
        std::wstring full = folder + L"\\" + entry;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            LogFiles(full, out);
        else if (entry.size() > 4 && lstrcmpiW(entry.c_str() + entry.size() - 4, L".log") == 0)
            out.push_back(full);
    } while (FindNextFileW(h, &data));
    FindClose(h);
}

// setup.exe started from a Linux shell with the system locale of the case: a Windows parent
// cannot hand a locale to a Windows child under Wine (the child inherits the parent's Linux
// environment), but a Linux program gets the Windows environment it is started with. Wine gives
// the setup the profile's application data folder, so the logs of this run are what the log
// files under it gained since the start.
class LanguagesE2E : public ::testing::TestWithParam<LanguageCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        ASSERT_TRUE(FindWindowsOfClass(kClass).empty()) << "another setup is already running";
        install_fixtures::EndProcessesNamed({install_fixtures::ProcessName()});
        install_fixtures::DeleteUninstallKey();
        ASSERT_TRUE(install_fixtures::TrustTestAuthority());
        exe_ = dir_.File(L"setup.exe");
        ASSERT_TRUE(CopyFileW(BuiltSetupExe().c_str(), exe_.c_str(), FALSE));
        wchar_t appData[MAX_PATH] = {};
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
        logRoot_ = std::wstring(appData) + L"\\VUDezivazaru";
        std::vector<std::wstring> files;
        LogFiles(logRoot_, files);
        for (const auto& f : files) logStart_[f] = test_support::ReadFile(f).size();
        ASSERT_TRUE(setup_driver::LayoutPoint(L"InstallMainWnd.xml", L"install_btn", -1, 360, installBtn_));
        Serve();
    }
    void TearDown() override {
        for (const auto& w : FindWindowsOfClass(kClass))
            if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, w.second)) {
                TerminateProcess(p, 1);
                WaitForSingleObject(p, 5000);
                CloseHandle(p);
            }
        if (process_) {
            WaitForSingleObject(process_, 5000);
            CloseHandle(process_);
        }
        install_fixtures::EndProcessesNamed({install_fixtures::ProcessName()});
        install_fixtures::DeleteUninstallKey();
        // The log files this case's run made (the profile's folder is shared by every run).
        std::vector<std::wstring> files;
        LogFiles(logRoot_, files);
        for (const auto& f : files)
            if (logStart_.find(f) == logStart_.end()) DeleteFileW(f.c_str());
    }

    void Serve() {
        std::wstring root = W(LocalServices::Root());
        ASSERT_TRUE(install_fixtures::CopyPackage(L"", root + L"\\" + W(kPackage)));
        std::string config = "{\"Process_name\": \"" + N(install_fixtures::ProcessName()) +
                             "\", \"Install_url\": \"\", \"Additional_time\": 0}";
        ASSERT_EQ(LocalServices::Control("POST", "/__control/config", config), 200);
    }

    // Starts the setup with the locale as the system's and waits for its window.
    void Start(const std::string& locale) {
        const std::string folder = LANGUAGES_E2E_DIR;
        std::string locales = folder + "/locales";
        ASSERT_NE(GetFileAttributesW(test_support::WinePath(locales + "/" + locale + ".UTF-8/LC_CTYPE").c_str()),
                  INVALID_FILE_ATTRIBUTES)
            << "locale " << locale << " was not compiled into " << locales << " (localedef and the package locales)";
        std::map<std::wstring, std::wstring> env = {
            {L"LC_ALL", W(locale + ".UTF-8")},
            {L"LOCPATH", W(locales)},
            {L"ORBALA_REPORT_ENDPOINT", W(LocalServices::BaseUrl(true))},
        };
        for (const auto& e : env) SetEnvironmentVariableW(e.first.c_str(), e.second.c_str());
        std::wstring command = L"Z:\\bin\\sh -c \"exec \\\"$WINE\\\" '" + exe_ + L"' >'" + W(folder) +
                               L"/setup-output.txt' 2>&1\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        for (const auto& e : env) SetEnvironmentVariableW(e.first.c_str(), nullptr);
        ASSERT_TRUE(started) << N(command);
        if (pi.hProcess) CloseHandle(pi.hProcess);
        if (pi.hThread) CloseHandle(pi.hThread);
        ASSERT_TRUE(WaitUntil([&] { return !FindWindowsOfClass(kClass).empty(); }, 60000)) << N(command);
        auto found = FindWindowsOfClass(kClass).front();
        window_ = found.first;
        process_ = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, found.second);
        ASSERT_NE(process_, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 30000));
    }

    // What the log files gained since the case started.
    std::string Log() {
        std::vector<std::wstring> files;
        LogFiles(logRoot_, files);
        std::string all;
        for (const auto& f : files) {
            std::string text = test_support::ReadFile(f);
            auto before = logStart_.find(f);
            size_t from = before == logStart_.end() || before->second > text.size() ? 0 : before->second;
            all += text.substr(from);
        }
        return all;
    }
    bool WaitForLog(const std::string& text, DWORD ms) {
        return WaitUntil([&] { return Log().find(text) != std::string::npos; }, ms);
    }

    test_support::TempDir dir_;
    std::wstring exe_, logRoot_;
    std::map<std::wstring, size_t> logStart_;
    HWND window_ = nullptr;
    HANDLE process_ = nullptr;
    POINT installBtn_{};
};

TEST_P(LanguagesE2E, StartsInTheSystemLanguageAndInstallsWithIt) {
    const LanguageCase& c = GetParam();
    Start(c.locale);
    // The setup read the system's UI language.
    const std::string chosen = " GetLanguageByLocalSystem: ";
    ASSERT_TRUE(WaitForLog(chosen, 20000)) << Log();
    std::string startLog = Log();
    EXPECT_EQ(std::strtoul(startLog.c_str() + startLog.find(chosen) + chosen.size(), nullptr, 10), c.languageId)
        << "the system's UI language as the setup saw it";

    // The window shows that language's texts, and the combo its item.
    ControlTextAsker asker;
    for (const char* key : {"install_btn", "select_language_text", "install_path_text"}) {
        std::string expected = FileText(c.file, key);
        ASSERT_FALSE(expected.empty()) << c.file << " has no " << key;
        std::wstring shown;
        ASSERT_TRUE(asker.Ask(window_, W(key), shown)) << key;
        EXPECT_EQ(N(shown), expected) << key;
    }
    std::vector<std::string> items = ComboItems();
    ASSERT_EQ(items.size(), 21u);
    std::wstring item;
    ASSERT_TRUE(asker.Ask(window_, L"language_combox", item));
    EXPECT_EQ(N(item), items[size_t(c.shown)]);
    setup_driver::Screenshot(ORBALA_E2E_ARTEFACTS, std::string("language-") + c.locale);

    // The product installer gets the language's code, and the product's uninstall key keeps it.
    setup_driver::ClickAt(window_, installBtn_);
    ASSERT_TRUE(WaitForLog("Setup command line: ", 120000)) << Log();
    std::string log = Log();
    size_t line = log.find("Setup command line: ");
    std::string commandLine = log.substr(line, log.find('\n', line) - line);
    EXPECT_NE(commandLine.find(std::string(" /LANG=") + c.code + " /LOG="), std::string::npos) << commandLine;
    ASSERT_TRUE(WaitForLog(" Install Totally Take ", 60000)) << Log();
    std::wstring language;
    ASSERT_TRUE(install_fixtures::ReadUninstallValue(L"Inno Setup: Language", language));
    EXPECT_EQ(N(language), c.code);
}

std::string CaseName(const ::testing::TestParamInfo<LanguageCase>& info) { return info.param.locale; }

INSTANTIATE_TEST_SUITE_P(EveryLanguage, LanguagesE2E, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
