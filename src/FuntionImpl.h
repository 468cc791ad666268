#pragma once
// Free functions for system facts, paths, processes and the local settings file.
#include <cstdint>
#include <string>

namespace FuntionImpl {

// Local settings file "qv_downloader.cfg" beside the running executable, section "Settings".
// Each switch is read afresh at every call; it is on only when its value is exactly 1.
bool IsTestEnv();
bool IsAutoRun();
bool IsCrashTest();

// Path of the local settings file: drive and directory of the module file name + "qv_downloader.cfg".
std::wstring GetLocalSettingsPath();
// Reads one switch of the "Settings" section of the given INI file (on only for exactly 1).
bool ReadSettingsSwitch(const std::wstring& iniPath, const wchar_t* key);

// Leading decimal digits (after an optional sign) as a number; 0 when the text is not a number.
int32_t ParseLeadingInt(const std::wstring& text);
int64_t ParseLeadingInt64(const std::wstring& text);

}  // namespace FuntionImpl
