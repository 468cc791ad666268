// Finding, and ending, the processes that run a given program file.
#include "platform/FuntionImpl.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <easylogging++.h>

#include <cwctype>

namespace FuntionImpl {

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

}  // namespace

int32_t FindProcessByFullPath(const std::wstring& fullPath, bool kill, bool includeSetupLoader) {
    const std::wstring name = Lower(fullPath.substr(fullPath.find_last_of(L'\\') + 1));
    // The ".tmp" loader an Inno Setup installer starts: the name with "tmp" for its last three characters.
    const std::wstring loaderName =
        includeSetupLoader && name.size() >= 3 ? name.substr(0, name.size() - 3) + L"tmp" : std::wstring();
    const std::wstring wanted = Lower(fullPath);

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -2;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!Process32FirstW(snapshot, &entry)) {
        CloseHandle(snapshot);
        return -2;
    }
    int32_t found = -1;
    // The first entry (the system's idle process) is not examined.
    while (Process32NextW(snapshot, &entry)) {
        const std::wstring exe = Lower(entry.szExeFile);
        if (exe != name && (loaderName.empty() || exe != loaderName)) continue;
        LOG(INFO) << " Find proc: " << entry.th32ProcessID;
        if (entry.th32ProcessID == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
        if (!process) continue;
        wchar_t module[MAX_PATH] = {};
        DWORD length = K32GetModuleFileNameExW(process, nullptr, module, MAX_PATH);
        LOG(INFO) << " Get proc info: " << length << ", " << wcslen(module);
        if (length == 0) {
            // Some systems cannot read another process's module list early in its life; its image
            // name says the same.
            DWORD size = MAX_PATH;
            if (QueryFullProcessImageNameW(process, 0, module, &size)) length = size;
        }
        const std::wstring modulePath = Lower(module);
        bool matches = length != 0 &&
                       (modulePath == wanted || (includeSetupLoader && modulePath.find(L".tmp") != std::wstring::npos));
        if (matches) {
            found = static_cast<int32_t>(entry.th32ProcessID);
            if (kill) {
                BOOL ended = TerminateProcess(process, 0);
                LOG(INFO) << " Kill proc: " << ended << ", " << GetLastError();
                // Ending is asynchronous; the callers want the file free when this returns.
                if (ended) WaitForSingleObject(process, 5000);
            }
        }
        CloseHandle(process);
        if (matches && !includeSetupLoader) break;
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace FuntionImpl
