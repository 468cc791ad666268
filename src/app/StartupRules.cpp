#include "app/StartupRules.h"

#include <cwchar>
#include <vector>

#include "DuiLib/Core/UIMarkup.h"
#include "base/CommandLine.h"
#include "platform/FuntionImpl.h"

void ApplyStartupKey(StartupValues& values, const std::wstring& key, const std::wstring& text) {
    if (key == L"Downloader_id") {
        values.downloaderIdText = text;
        values.downloaderId = FuntionImpl::ParseLeadingInt(text);
    } else if (key == L"Site_id") {
        values.siteId = FuntionImpl::ParseLeadingInt(text);
    } else if (key == L"Software_name") {
        values.softwareName = text;
    } else if (key == L"Software_version") {
        values.softwareVersion = text;
    } else if (key == L"Download_url" || key == L"Extra_download_url") {
        if (!values.startupUrlTaken && text.find(L"//cdn.") == std::wstring::npos &&
            text.find(L"//dl.") == std::wstring::npos) {
            values.startupUrl = text;
            values.startupUrlTaken = true;
        }
    } else if (key == L"MainPid") {
        values.mainPid = FuntionImpl::ParseLeadingInt(text);
    } else if (key == L"Support32System") {
        values.support32System = text;
    }
}

void ReadStartupValues(const DuiLib::CMarkup& markup, StartupValues& values) {
    const DuiLib::CMarkupNode* root = markup.GetRoot();
    if (root == nullptr || root->children.empty()) return;
    const DuiLib::CMarkupNode& productConfig = root->children.front();
    for (const DuiLib::CMarkupNode& label : productConfig.children) {
        if (label.attributes.size() < 2) continue;  // needs a key and a text
        ApplyStartupKey(values, label.attributes[0].second, label.attributes[1].second);
    }
}

std::wstring BaseNameFromUrl(const std::wstring& url) {
    size_t slash = url.rfind(L'/');
    if (slash == std::wstring::npos) return std::wstring();
    size_t dot = url.find(L'.', slash + 1);
    if (dot == std::wstring::npos) return std::wstring();
    return url.substr(slash + 1, dot - slash - 1);
}

MaintenanceCommand ParseMaintenanceCommand(const std::wstring& commandLine) {
    // The switches count only as whole arguments, so neither a word that contains one nor the
    // text of another argument turns a start into a maintenance run. The log file name is the
    // rest of the command line after the switch and one blank, as the restarts write it.
    MaintenanceCommand command;
    const std::vector<CommandLine::Argument> arguments = CommandLine::Split(commandLine);
    for (const CommandLine::Argument& argument : arguments) {
        // "-dmp" only with the blank after it.
        if (argument.text != L"-dmp" || argument.end >= commandLine.size() || commandLine[argument.end] != L' ') continue;
        command.mode = MaintenanceMode::CrashDump;
        command.logFileName = commandLine.substr(argument.end + 1);
        command.catalogue = L"CrashDmp";
        command.wantDumps = true;
        return command;
    }
    for (const CommandLine::Argument& argument : arguments) {
        // "-close" and the two characters of its tag ("close" and the close position's digits).
        if (argument.text.compare(0, 6, L"-close") != 0 || argument.text.size() > 8) continue;
        command.mode = MaintenanceMode::Close;
        command.catalogue = argument.text.substr(1);
        command.logFileName = argument.end + 1 <= commandLine.size() ? commandLine.substr(argument.end + 1) : std::wstring();
        command.wantDumps = false;
        return command;
    }
    return command;
}

bool KitFlagFor(int downloaderId) { return downloaderId == 277 || downloaderId == 278; }

bool ShouldRefuse32BitSystem(const std::wstring& support32System, bool isWow64Process) {
    return support32System == L"0" && !isWow64Process;
}

std::wstring WindowClassNameFor(const std::wstring& downloaderIdText) { return L"QV_UI_Frame_" + downloaderIdText; }

std::wstring InstanceMutexNameFor(int downloaderId) {
    wchar_t name[64];
    _snwprintf_s(name, _countof(name), _TRUNCATE, L"KDR_Downloader_%d", downloaderId);
    return name;
}
