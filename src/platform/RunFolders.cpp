#include "platform/RunFolders.h"

#include <cwchar>

#include <windows.h>

namespace RunFolders {

std::wstring StartStampFor(const _SYSTEMTIME& t) {
    wchar_t text[32] = {};
    _snwprintf_s(text, _countof(text), _TRUNCATE, L"%.4d%.2d%.2d%.2d%.2d%.2d%.3d", t.wYear, t.wMonth, t.wDay, t.wHour,
                 t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

bool IsUsableBaseName(const std::wstring& baseName) {
    if (baseName.empty()) return false;
    for (wchar_t c : baseName)
        if (c < 0x20 || wcschr(L"\\/:*?\"<>|", c) != nullptr) return false;
    return true;
}

bool Compute(const std::wstring& baseName, const std::wstring& appData, const _SYSTEMTIME& localTime,
             const std::wstring& fallbackRoot, const std::vector<FuntionImpl::DriveFacts>& drives,
             RunFolderValues& out) {
    if (!IsUsableBaseName(baseName)) return false;
    RunFolderValues values;
    values.startStamp = StartStampFor(localTime);
    values.logFolder = appData + L"\\VUDezivazaru\\logs\\" + baseName;
    values.logFilePath = values.logFolder + L"\\" + baseName + L"_" + values.startStamp + L".log";

    std::wstring root = FuntionImpl::StartsWithDriveRoot(values.logFolder) ? values.logFolder.substr(0, 3)
                                                                           : fallbackRoot;
    values.workFolder = FuntionImpl::ReplaceDriveWithLargestFixed(root + L"VUDezivazaru\\" + baseName, drives);

    // The log file is opened through an ANSI path: it has to fit the classic path limit.
    for (const std::wstring* path : {&values.logFolder, &values.logFilePath, &values.workFolder})
        if (path->size() > kMaxPathChars) return false;
    out = values;
    return true;
}

}  // namespace RunFolders
