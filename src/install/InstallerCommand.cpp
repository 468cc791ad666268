#include "install/InstallerCommand.h"

#include <cwchar>

#include "deployment_values.h"

namespace InstallerCommand {

std::wstring LanguageCode(int32_t language, int32_t downloaderId) {
    static const wchar_t* const kCodes[] = {L"en", L"ja", L"zhcn", L"es", L"de", L"fr", L"ru",
                                            L"pt", L"ar", L"it", L"zhtw", L"ko", L"nl", L"id",
                                            L"tr", L"hi", L"th", L"my", L"se", L"cz", L"vi"};
    if (language < 0 || language >= static_cast<int32_t>(sizeof kCodes / sizeof kCodes[0])) return L"en";
    if (language == 1) {
        switch (downloaderId) {
            case 117: case 118: case 119: case 120: case 122: case 123: case 124: case 125:
                return L"jp";
            default:
                return L"ja";
        }
    }
    return kCodes[language];
}

std::wstring LogFileName(const std::wstring& softwareName, const SYSTEMTIME& t) {
    wchar_t stamp[32];
    swprintf(stamp, 32, L"_Setup_%.4d%.2d%.2d%.2d%.2d%.2d.log", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    return softwareName + stamp;
}

std::wstring SuffixValue(const std::wstring& setupPath, bool appendFileName) {
    std::wstring name = setupPath.substr(setupPath.find_last_of(L'\\') + 1);
    if (appendFileName && name.find(L'_') != std::wstring::npos) return name;
    return L"null";
}

std::wstring Build(const Inputs& in) {
    // Without a log folder (none could be had in the user's profile) the installer keeps no log:
    // "/LOG=\name" would put it at the root of the current drive.
    std::wstring log = in.logFolder.empty()
                           ? std::wstring()
                           : L" /LOG=\"" + in.logFolder + L"\\" + LogFileName(in.softwareName, in.localTime) + L"\"";
    std::wstring line = L" /VERYSILENT /SP- /NORESTART /DIR=\"" + in.installDirectory + L"\" /LANG=" +
                        LanguageCode(in.language, in.downloaderId) + log + Deployment::INSTALLER_SUFFIX_SWITCH() +
                        SuffixValue(in.setupPath, in.appendFileName);
    if (line.size() > kMaxLength) return std::wstring();
    return line;
}

}  // namespace InstallerCommand
