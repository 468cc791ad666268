#pragma once
// Folders in the user's own profile that the elevated setup writes to and deletes in: the program
// log folder under APPDATA and the report SDK's folders. The user (and any program running as the
// user) can change everything there, which is harmless as long as the setup's writes land where
// its paths say. A folder replaced by a junction or symbolic link would send them elsewhere, and
// on Windows a junction to an object-manager folder turns "write the log" into "overwrite any file
// as administrator". So a folder is used only when every folder from below the user's base folder
// (APPDATA) down to it is a real folder reached by its own name, and it is then held open for the
// rest of the process without sharing deletion, so that it cannot be renamed, removed or turned
// into a link afterwards. Files opened for writing there are checked to be the files their paths
// name (not reached through a link, not a second name of another file).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace LinkFreeFolders {

// Creates what is missing of base\relative (relative: folder names joined by "\", no "." or
// ".."), checks each folder below base and holds it open. base itself (the user's APPDATA) is
// taken as it is. False when a folder is a link or reparse point, is not a folder, cannot be made,
// or is not reached by its own name; detail (may be null) then names it and why.
bool Secure(const std::wstring& base, const std::wstring& relative, std::string* detail);

struct Choice {
    std::wstring folder;             // base\<family>[-N]\rest, or empty when none could be had
    std::vector<std::string> notes;  // log lines, each beginning with a blank
};
// The folder base\family\rest when it can be secured; otherwise the same under "family-2" up to
// "family-9" (the first that can be), so that every run of the setup, and the copies it starts,
// find the same folder again. Empty, with a note, when base is empty (no APPDATA: nothing is
// written at a drive root instead) or none of them can be secured. what: the folder's role for
// the notes ("Log folder").
Choice Choose(const std::wstring& base, const std::wstring& family, const std::wstring& rest, const char* what);

// True when the open handle is the file at path: its folder is no link, the file's final path is
// the folder's final path and its name (compared without regard to case), so no link was followed
// from the folder on, and it has one name only. The folders above are the caller's (Secure).
bool HandleIsAt(HANDLE file, const std::wstring& path);

// CreateFileW for writing to a file in a secured folder, followed by HandleIsAt: a file reached
// through a link, or with a second name, is closed again and INVALID_HANDLE_VALUE is returned with
// ERROR_ACCESS_DENIED.
HANDLE CreateFileAt(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);

// A log file in a secured folder opened for appending (made when missing) through CreateFileAt,
// as a C stream ("a" in text mode, "ab" in binary); null when it cannot be opened or is not the
// file its path names. Others may read and write it meanwhile, as with _wfopen.
FILE* OpenForAppend(const std::wstring& path, bool textMode);

}  // namespace LinkFreeFolders
