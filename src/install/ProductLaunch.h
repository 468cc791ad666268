#pragma once
// Finding the installed product's main program and starting it, with the installer's rights or
// as the desktop user.
#include <string>

class CSingleUserLog;

namespace FuntionImpl {

// Starts the product. command: the program's path in double quotes. adminFlag not 0: a new
// process in the program's folder; 0: through Explorer ("explorer.exe /e, <command>"), so the
// program runs as the desktop user. 0 when started, -1 on failure (logged and sent as the event
// "Other" / "StartWindowError" with the error). analytics: null for the process's object.
int StartTargetMainExe(const std::wstring& command, int adminFlag, CSingleUserLog* analytics = nullptr);

// Depth-first search below folder (which ends in a backslash): for each subfolder in the order
// the file system lists them, the file directly in it, else the same search inside it. The
// first path found, or empty. Junctions and links (reparse points) are passed over, as folders
// and as the file: the search never leaves the folder.
std::wstring FindFileInSubfolders(const std::wstring& folder, const std::wstring& fileName);

}  // namespace FuntionImpl

namespace ProductLaunch {

// The installed main program: <install directory without surrounding blanks>\<process name>
// when that file exists, else the first match of the subfolder search; empty when nothing is
// found, when the configuration is not loaded, or when the process name is no plain name
// (base/PlainName) or the path would leave the install directory (logged " Product path refused: ").
std::wstring MainExePath(const std::wstring& installDirectory, const std::wstring& processName, bool configurationLoaded);

}  // namespace ProductLaunch
