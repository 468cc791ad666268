#pragma once
// The install folder box's helpers: the folder of a product already installed (the InstallLocation
// of the uninstall key its installer wrote, the same key the setup writes the product's language
// to), the longest install folder the installer is given, and the folder picker's start folder
// and prompt.
#include <windows.h>

#include <string>

namespace InstallFolder {

// The longest install folder (as handed to the installer) the setup accepts: the folder box holds
// no more, and a longer one is refused with the path message, never cut.
constexpr size_t kMaxInstallPathLength = 240;

// An uninstall key's InstallLocation as a folder for the box: trailing backslashes removed (a
// drive root keeps its own), empty unless it is an absolute path ("X:\..." or "\\server\...").
std::wstring FolderFromInstallLocation(const std::wstring& installLocation);

// The installed product's folder from its uninstall key under HKEY_LOCAL_MACHINE; empty when the
// product is not installed or the key has no usable InstallLocation.
std::wstring ReadInstalledFolder(const std::wstring& softwareName);

// Whether an install folder can be handed to the installer as it is.
bool InstallPathFits(const std::wstring& path);

// The folder the picker opens at for the box's text: the text itself when it exists, else the
// nearest existing folder above it; empty when none exists.
std::wstring PickerStartFolder(const std::wstring& boxText);

// What the picker gets to start with: its start folder (may be empty).
struct PickerStart {
    std::wstring folder;
};
// The picker's callback: once it is initialised it selects the start folder (a PickerStart*
// in data).
int CALLBACK PickerCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data);

}  // namespace InstallFolder
