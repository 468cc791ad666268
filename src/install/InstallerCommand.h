#pragma once
// The command line of the product's silent installer (an Inno Setup package):
//   " /VERYSILENT /SP- /NORESTART /DIR="<dir>" /LANG=<code> /LOG="<log>"<switch><value>"
// It is passed with the installer file as the application name, so it starts with a blank.
#include <windows.h>

#include <cstdint>
#include <string>

namespace InstallerCommand {

// The longest line the installer is started with (its buffer holds 1024 characters).
constexpr size_t kMaxLength = 1023;

// The installer's "/LANG=" code of a UI language (EnumLanguage); "en" outside 0 to 20.
// Japanese is "jp" for the downloader ids 117 to 120 and 122 to 125, else "ja".
std::wstring LanguageCode(int32_t language, int32_t downloaderId);

// "<software name>_Setup_YYYYMMDDhhmmss.log" for the given local time.
std::wstring LogFileName(const std::wstring& softwareName, const SYSTEMTIME& localTime);

// The value after the suffix switch: the setup's own file name (after its last backslash)
// when appending is wanted and the name contains "_", else "null".
std::wstring SuffixValue(const std::wstring& setupPath, bool appendFileName);

struct Inputs {
    std::wstring installDirectory;  // the chosen path with the product folder
    int32_t language = 0;           // EnumLanguage
    int32_t downloaderId = 0;
    std::wstring logFolder;         // without a trailing backslash
    std::wstring softwareName;
    SYSTEMTIME localTime{};         // when the line is built
    std::wstring setupPath;         // the running setup executable
    bool appendFileName = false;
};

// The whole line. Empty when it would be longer than kMaxLength: a line cut short would start
// the installer with a wrong folder or log, so it is not started at all.
std::wstring Build(const Inputs& inputs);

}  // namespace InstallerCommand
