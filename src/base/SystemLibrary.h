#pragma once
// Where the setup's DLLs come from. The setup runs elevated, usually from the user's Downloads
// folder: any DLL that Windows would look for in the program's own folder is a DLL that anyone
// who can drop a file there gets to run with administrator rights. So every DLL of Windows is
// loaded from the system folder, by full path or with a search limited to it, and the process's
// DLL search is narrowed to the system folder before anything else loads.
#include <windows.h>

#include <string>

namespace SystemLibrary {

// What RestrictDllSearch could switch on (the calls are looked up by name: Windows 7 without
// update KB2533623 lacks SetDefaultDllDirectories).
struct SearchRestriction {
    bool defaultDirectoriesSystemOnly = false;  // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
    bool currentDirectoryRemoved = false;       // SetDllDirectoryW(L"")
    bool safeSearchPathMode = false;            // SetSearchPathMode(safe, permanent)
};

// Narrows the DLL search of the whole process to the system folder: LoadLibrary by bare name
// (also inside Windows' own DLLs) no longer looks in the program's folder or the current one.
// Call first thing in the process.
SearchRestriction RestrictDllSearch();

// One log line that says what RestrictDllSearch switched on.
std::string Describe(const SearchRestriction& restriction);

// True when name is a bare DLL file name ("version.dll"): no drive, no folder, no "..".
bool IsBareDllName(const std::wstring& name);

// Loads a DLL of Windows from the system folder only, never from the program's folder, the
// current folder or PATH. Null (last error ERROR_INVALID_PARAMETER) for a name that is not bare.
HMODULE Load(const std::wstring& name);
HMODULE Load(const char* name);

}  // namespace SystemLibrary
