#include "base/SystemLibrary.h"

#include <cwchar>

namespace SystemLibrary {

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE
#define BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE 0x00000001
#define BASE_SEARCH_PATH_PERMANENT 0x00008000
#endif

template <typename Fn>
Fn Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel32, name))) : nullptr;
}

// LoadLibraryExW understands the LOAD_LIBRARY_SEARCH_* flags where AddDllDirectory exists
// (Windows 8, and Windows 7 with KB2533623); elsewhere such a flag makes the call fail.
bool HasSearchFlags() {
    static const bool has = Kernel32Function<void*>("AddDllDirectory") != nullptr;
    return has;
}

}  // namespace

SearchRestriction RestrictDllSearch() {
    SearchRestriction done;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (auto fn = Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories"))
        done.defaultDirectoriesSystemOnly = fn(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    if (auto fn = Kernel32Function<SetDllDirectoryFn>("SetDllDirectoryW")) done.currentDirectoryRemoved = fn(L"") != FALSE;
    using SetSearchPathModeFn = BOOL(WINAPI*)(DWORD);
    if (auto fn = Kernel32Function<SetSearchPathModeFn>("SetSearchPathMode"))
        done.safeSearchPathMode = fn(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT) != FALSE;
    return done;
}

std::string Describe(const SearchRestriction& r) {
    std::string text = " DLL search: ";
    text += r.defaultDirectoriesSystemOnly ? "system folder only" : "default order (SetDefaultDllDirectories missing)";
    text += r.currentDirectoryRemoved ? ", current folder removed" : ", current folder kept";
    text += r.safeSearchPathMode ? ", safe search path mode" : "";
    return text;
}

bool IsBareDllName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    return name.find_first_of(L"\\/:") == std::wstring::npos;
}

HMODULE Load(const std::wstring& name) {
    if (!IsBareDllName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (HasSearchFlags()) return LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Older systems: the full path, and the DLL's own dependencies searched from its folder.
    wchar_t folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring path = std::wstring(folder, n) + L"\\" + name;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE Load(const char* name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // DLL names are ASCII; anything else is not a DLL of Windows.
    std::wstring wide;
    for (const char* p = name; *p; ++p) {
        if (static_cast<unsigned char>(*p) > 0x7F) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        wide.push_back(static_cast<wchar_t>(*p));
    }
    return Load(wide);
}

}  // namespace SystemLibrary
