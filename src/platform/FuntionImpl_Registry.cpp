// Machine-wide string values under HKEY_LOCAL_MACHINE (the setup runs elevated).
#include "platform/FuntionImpl.h"

#include <windows.h>

namespace FuntionImpl {

std::wstring ReadMachineRegString(const std::wstring& keyPath, const std::wstring& valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return std::wstring();
    // 260 characters are read; one more stays zero, so a value stored without terminator ends.
    wchar_t buffer[261] = {};
    DWORD type = 0;
    DWORD size = 260 * sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::wstring();
    return std::wstring(buffer);
}

bool WriteMachineRegString(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text) {
    HKEY key = nullptr;
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str(), &key) != ERROR_SUCCESS) return false;
    // The terminator is stored with the text, as REG_SZ readers expect.
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    LONG rc = RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace FuntionImpl
