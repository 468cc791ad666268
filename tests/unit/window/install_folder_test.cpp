// The install folder box: the folder of a product installed before (from the uninstall key its
// installer wrote), the longest folder the installer is given, and the folder picker's start
// folder and callback.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "support/test_support.h"
#include "window/InstallFolder.h"
#include "window/WindowLanguage.h"
#include "window/WindowTexts.h"

namespace {

TEST(InstallFolder, InstallLocationBecomesTheBoxFolder) {
    struct Case {
        const wchar_t* location;
        const wchar_t* folder;
    } cases[] = {
        {L"D:\\Apps\\Orbala Lumeno\\", L"D:\\Apps\\Orbala Lumeno"},  // Inno Setup's own form
        {L"D:\\Apps\\Orbala Lumeno\\\\", L"D:\\Apps\\Orbala Lumeno"},
        {L"C:\\Program Files\\Orbala", L"C:\\Program Files\\Orbala"},
        {L"E:\\", L"E:\\"},  // a drive root keeps its backslash
        {L"\\\\server\\share\\Orbala\\", L"\\\\server\\share\\Orbala"},
        {L"", L""},
        {L"Orbala Lumeno", L""},  // not absolute: ignored
        {L"C:Orbala", L""},
        {L"\\Orbala", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InstallFolder::FolderFromInstallLocation(c.location), std::wstring(c.folder)) << c.location;
}

// The product's uninstall key under the machine key, as its installer writes it: the box shows
// its InstallLocation; no key, or no usable value, gives nothing.
TEST(InstallFolder, InstalledFolderComesFromTheUninstallKey) {
    const std::wstring product = L"install_folder_test product";
    WindowLanguage::ProductLanguageValue key;
    ASSERT_TRUE(WindowLanguage::PlanProductLanguage(0, 0, product, L"", WindowLanguage::FindUninstallRoot(), key));
    EXPECT_NE(key.key.find(L"{install_folder_test product}_is1"), std::wstring::npos);
    struct Case {
        const char* what;
        const wchar_t* value;  // null: no key at all
        const wchar_t* folder;
    } cases[] = {
        {"no key", nullptr, L""},
        {"installed", L"D:\\Apps\\Orbala Lumeno\\", L"D:\\Apps\\Orbala Lumeno"},
        {"empty value", L"", L""},
        {"relative value", L"Orbala", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteKeyW(key.root, key.key.c_str());
        if (c.value) {
            HKEY k = nullptr;
            ASSERT_EQ(RegCreateKeyExW(key.root, key.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS);
            const std::wstring v = c.value;
            RegSetValueExW(k, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                           static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(k);
        }
        EXPECT_EQ(InstallFolder::ReadInstalledFolder(product), std::wstring(c.folder));
    }
    RegDeleteKeyW(key.root, key.key.c_str());
    EXPECT_EQ(InstallFolder::ReadInstalledFolder(L""), L"");
}

// A folder the installer cannot take is refused, never cut: the limit holds for the folder as
// handed to the installer (the product name appended), in characters of UTF-16, with a pair of
// surrogates counting two.
TEST(InstallFolder, LongFoldersAreRefusedAtTheLimit) {
    const std::wstring name = L"Orbala Lumeno";
    auto folderOf = [](size_t length) { return L"C:\\" + std::wstring(length - 3, L'a'); };
    struct Case {
        std::wstring text;
        bool fits;
    } cases[] = {
        {folderOf(InstallFolder::kMaxInstallPathLength - name.size() - 1), true},
        {folderOf(InstallFolder::kMaxInstallPathLength - name.size()), false},
        {folderOf(InstallFolder::kMaxInstallPathLength - name.size() - 2) + L"\xD83D\xDE00", false},
        {folderOf(InstallFolder::kMaxInstallPathLength - name.size() - 3) + L"\xD83D\xDE00", true},
        {L"", false},
    };
    for (const Case& c : cases) {
        const std::wstring path = WindowTexts::ComposeInstallPath(c.text, name);
        EXPECT_EQ(InstallFolder::InstallPathFits(c.text.empty() ? c.text : path), c.fits) << path.size();
    }
}

TEST(InstallFolder, PickerStartsAtTheNearestExistingFolder) {
    test_support::TempDir dir;
    const std::wstring existing = dir.File(L"Apps");
    ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
    struct Case {
        std::wstring text;
        std::wstring start;
    } cases[] = {
        {existing, existing},
        {existing + L"\\", existing},
        {existing + L"\\Orbala", existing},  // not created yet: its parent
        {existing + L"\\Orbala\\deeper\\still", existing},
        {L"Q:\\nowhere\\Orbala", L""},  // a drive that does not exist
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(InstallFolder::PickerStartFolder(c.text), c.start) << c.text;
}

// The picker's callback selects the start folder when the picker is ready, and only then.
std::wstring g_selected;
int g_selections = 0;
LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == BFFM_SETSELECTIONW) {
        ++g_selections;
        g_selected = wParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST(InstallFolder, PickerCallbackSelectsTheStartFolder) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"install_folder_test_picker";
    RegisterClassW(&wc);
    HWND dialog = CreateWindowW(wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(dialog);
    struct Case {
        UINT message;
        const wchar_t* folder;
        int selections;
    } cases[] = {{BFFM_INITIALIZED, L"D:\\Apps", 1}, {BFFM_SELCHANGED, L"D:\\Apps", 0}, {BFFM_INITIALIZED, L"", 0}};
    for (const Case& c : cases) {
        g_selections = 0;
        g_selected.clear();
        InstallFolder::PickerStart start{c.folder};
        InstallFolder::PickerCallback(dialog, c.message, 0, reinterpret_cast<LPARAM>(&start));
        EXPECT_EQ(g_selections, c.selections) << c.message;
        if (c.selections) {
            EXPECT_EQ(g_selected, c.folder);
        }
    }
    DestroyWindow(dialog);
}

}  // namespace
