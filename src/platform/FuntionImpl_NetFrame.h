#pragma once
// Whether the machine lacks the .NET Framework version the product needs: the need comes from
// the requirement file "NetFrameCheck.db" shipped beside the product installer, the installed
// version from the registry's 32-bit view. The reading and the comparison are plain functions.
#include <cstdint>
#include <string>

namespace FuntionImpl {

// The needed version in the text of a requirement file (UTF-8, in sections): the value of the
// line "NetFrameworkVersion=..." inside "[Settings]"; reading stops at "[Text]". Empty when there
// is no such line. A line longer than 1024 characters is skipped whole.
std::string NeededNetFrameVersionFromText(const std::string& text);
// The needed version of the requirement file in the folder; empty when the file is missing,
// cannot be read or names no version.
std::string ReadNeededNetFrameVersion(const std::wstring& folder);

// A string value (REG_SZ or REG_EXPAND_SZ, at most 260 characters) under HKEY_LOCAL_MACHINE,
// read from the 32-bit view of the registry; empty on any failure.
std::wstring ReadMachineRegString32(const std::wstring& keyPath, const std::wstring& valueName);
// "Version" of "SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Client" in the 32-bit view.
std::string InstalledNetFrameVersion();

// The first four parts of a version split at "." (missing parts are 0, a part that is not a
// number is 0, parts past the fourth are not looked at).
void SplitVersion4(const std::string& version, int32_t parts[4]);
// True when the installed version is older than the needed one, comparing part by part.
bool IsNetFrameOlder(const std::string& installed, const std::string& needed);

// True when the folder's requirement file names a version newer than the installed one; false
// without a requirement, or when the installed version is equal or newer. Logs both versions.
bool WillShowNetFrameCheck(const std::wstring& folder);

}  // namespace FuntionImpl
