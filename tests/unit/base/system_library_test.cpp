// DLLs of Windows come from the system folder only, by bare name.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "base/SystemLibrary.h"

namespace {

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), towlower);
    return text;
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return Lower(path);
}

}  // namespace

TEST(SystemLibrary, OnlyBareNamesAreDllNames) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"version.dll", true},   {L"sensapi.dll", true},  {L"a", true},
        {L"", false},             {L".", false},           {L"..", false},
        {L"..\\version.dll", false}, {L"sub/version.dll", false}, {L"C:version.dll", false},
        {L"C:\\Windows\\System32\\version.dll", false}, {L"\\\\server\\share\\x.dll", false},
    };
    for (const auto& c : cases) EXPECT_EQ(SystemLibrary::IsBareDllName(c.first), c.second) << c.first;
}

TEST(SystemLibrary, LoadsFromTheSystemFolderAndRefusesPaths) {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    const std::wstring system = Lower(folder) + L"\\";

    HMODULE version = SystemLibrary::Load(L"version.dll");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(ModulePath(version).rfind(system, 0), 0u) << "not from the system folder";
    HMODULE narrow = SystemLibrary::Load("VERSION.dll");
    EXPECT_EQ(narrow, version);

    SetLastError(0);
    EXPECT_EQ(SystemLibrary::Load(std::wstring(folder) + L"\\version.dll"), nullptr) << "a full path is not a name";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SystemLibrary::Load("..\\version.dll"), nullptr);
    EXPECT_EQ(SystemLibrary::Load(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(SystemLibrary::Load("versi\xC3\xB6n.dll"), nullptr);
    EXPECT_EQ(SystemLibrary::Load(L"no_such_library_of_windows.dll"), nullptr);
}

TEST(SystemLibrary, RestrictingTheSearchSaysWhatTookEffect) {
    SystemLibrary::SearchRestriction done = SystemLibrary::RestrictDllSearch();
    // Every supported Windows (and Wine) has the three calls.
    EXPECT_TRUE(done.defaultDirectoriesSystemOnly);
    EXPECT_TRUE(done.currentDirectoryRemoved);
    EXPECT_EQ(SystemLibrary::Describe(done), " DLL search: system folder only, current folder removed"
                                             + std::string(done.safeSearchPathMode ? ", safe search path mode" : ""));
    SystemLibrary::SearchRestriction none;
    EXPECT_EQ(SystemLibrary::Describe(none),
              " DLL search: default order (SetDefaultDllDirectories missing), current folder kept");
    // After the restriction a bare name still loads from the system folder.
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    EXPECT_EQ(ModulePath(LoadLibraryW(L"sensapi.dll")).rfind(Lower(folder), 0), 0u);
}
