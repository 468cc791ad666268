#pragma once
// Where one run of the setup keeps its files: the log folder under APPDATA (this run's log,
// the product installer's log, crash dumps), named after the installer's base name, and the
// work folder for the download, on the fixed drive with the most free space. Plain functions
// over plain facts, so that the choices can be tested on any machine.
#include <string>
#include <vector>

#include "platform/FuntionImpl.h"

struct RunFolderValues {
    std::wstring startStamp;   // local time, "%.4d%.2d%.2d%.2d%.2d%.2d%.3d"
    std::wstring logFolder;    // APPDATA\VUDezivazaru\logs\<base name>
    std::wstring logFilePath;  // <log folder>\<base name>_<start stamp>.log
    std::wstring workFolder;   // <best fixed drive root>VUDezivazaru\<base name>
};

namespace RunFolders {

// Longest path (in characters, without terminator) that the run values may have.
constexpr size_t kMaxPathChars = 259;

std::wstring StartStampFor(const _SYSTEMTIME& localTime);

// True when the base name can name a folder and a file: not empty, no path separators, no
// drive colon, no wildcard or other character Windows refuses in names, no control character.
bool IsUsableBaseName(const std::wstring& baseName);

// Computes the run values. appData may be empty (the log folder then starts with
// "\VUDezivazaru\logs\", on the current drive); the work folder then starts from
// fallbackRoot (the Windows drive's root) before it moves to the best fixed drive.
// False, with out untouched, when the base name is unusable or a path would be longer than
// kMaxPathChars.
bool Compute(const std::wstring& baseName, const std::wstring& appData, const _SYSTEMTIME& localTime,
             const std::wstring& fallbackRoot, const std::vector<FuntionImpl::DriveFacts>& drives,
             RunFolderValues& out);

}  // namespace RunFolders
