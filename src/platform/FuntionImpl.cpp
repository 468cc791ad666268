#include "platform/FuntionImpl.h"

#include "base/LocalSwitches.h"
#include "base/ProcessEnvironment.h"

#include <cwchar>

#include <windows.h>

namespace FuntionImpl {

std::wstring GetLocalSettingsPath() {
    return ProcessEnvironment::ModuleFolder() + L"qv_downloader.cfg";
}

bool ReadSettingsSwitch(const std::wstring& iniPath, const wchar_t* key) {
    return GetPrivateProfileIntW(L"Settings", key, 0, iniPath.c_str()) == 1;
}

namespace {
const wchar_t* const kLocalSwitchNames[] = {L"TestEnv", L"AutoRun", L"CrashTest"};

bool LocalSwitch(const wchar_t* key) {
    return LocalSwitches::ThisBuild().honoursSwitchFiles && ReadSettingsSwitch(GetLocalSettingsPath(), key);
}
}  // namespace

bool IsTestEnv() { return LocalSwitch(L"TestEnv"); }
bool IsAutoRun() { return LocalSwitch(L"AutoRun"); }
bool IsCrashTest() { return LocalSwitch(L"CrashTest"); }

std::vector<std::wstring> IgnoredLocalSwitches() {
    std::vector<std::wstring> ignored;
    if (LocalSwitches::ThisBuild().honoursSwitchFiles) return ignored;
    const std::wstring path = GetLocalSettingsPath();
    for (const wchar_t* key : kLocalSwitchNames)
        if (ReadSettingsSwitch(path, key)) ignored.push_back(key);
    return ignored;
}

int64_t ParseLeadingInt64(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        uint64_t next = value * 10 + static_cast<uint64_t>(text[i] - L'0');
        if (next / 10 != value || next > static_cast<uint64_t>(INT64_MAX)) return negative ? INT64_MIN : INT64_MAX;
        value = next;
    }
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

int32_t ParseLeadingInt(const std::wstring& text) {
    int64_t v = ParseLeadingInt64(text);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace FuntionImpl
