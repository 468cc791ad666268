#include "base/ProcessEnvironment.h"

#include <windows.h>

#include <vector>

namespace ProcessEnvironment {

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);  // cut short: the path is longer than the buffer
    }
}

std::wstring ModuleFolder() {
    const std::wstring path = ModulePath();
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring value(needed, L'\0');
    DWORD written = GetEnvironmentVariableW(name, &value[0], needed);
    if (written == 0 || written >= needed) return std::wstring();
    value.resize(written);
    return value;
}

bool IsWow64() {
    // Looked up by name: the function is missing on the oldest systems, which are 32-bit.
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto fn = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (fn == nullptr || !fn(GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

}  // namespace ProcessEnvironment
