#include "CSingleUserLog.h"

#include <windows.h>

#include "FuntionImpl.h"

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring value(needed, L'\0');
    DWORD written = GetEnvironmentVariableW(name, &value[0], needed);
    if (written == 0 || written >= needed) return std::wstring();
    value.resize(written);
    return value;
}

// Root ("C:\") of the drive that holds Windows; empty when unknown.
std::wstring WindowsDriveRoot() {
    wchar_t dir[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    if (n < 3 || n >= MAX_PATH) return std::wstring();
    std::wstring root(dir, 3);
    return FuntionImpl::StartsWithDriveRoot(root) ? root : std::wstring();
}

}  // namespace

CSingleUserLog* CSingleUserLog::GetInstance() {
    // Never destroyed: threads may still ask for it while the process ends.
    static CSingleUserLog* instance = new CSingleUserLog();
    return instance;
}

int CSingleUserLog::InitLogPath(const std::wstring& baseName) {
    if (m_initCalled) return m_initResult;
    m_initCalled = true;

    SYSTEMTIME now = {};
    GetLocalTime(&now);
    RunFolderValues values;
    if (!RunFolders::Compute(baseName, EnvironmentValue(L"APPDATA"), now, WindowsDriveRoot(),
                             FuntionImpl::ReadDriveFacts(true, false), values))
        return m_initResult = 0;
    FuntionImpl::CreateDirectoryPath(values.logFolder);
    FuntionImpl::CreateDirectoryPath(values.workFolder);
    m_run = values;
    return m_initResult = 1;
}
