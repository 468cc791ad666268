#pragma once
// The decisions of process start-up, as plain functions over plain data, so that they can be
// tested without starting the process: the start-up values of the configuration file, the
// maintenance command line, the names that keep one instance per product.
#include <string>

namespace DuiLib { class CMarkup; }

struct StartupValues {
    std::wstring downloaderIdText;
    int downloaderId = 0;
    int siteId = 0;
    std::wstring softwareName;
    std::wstring softwareVersion;
    std::wstring startupUrl;  // first of Download_url / Extra_download_url not on a CDN host
    int mainPid = 0;
    std::wstring support32System;
    bool startupUrlTaken = false;
};

// Applies one key/text pair of the configuration file; keys outside the start-up set are ignored.
void ApplyStartupKey(StartupValues& values, const std::wstring& key, const std::wstring& text);
// Walks root -> first child (Product_config) -> its children; the first attribute's value is the
// key, the second's the text. Stops quietly at the first missing level.
void ReadStartupValues(const DuiLib::CMarkup& markup, StartupValues& values);

// The installer's base name: the characters between the URL's last "/" and the first "." after
// it; empty when there is no "/" or no "." after the last one.
std::wstring BaseNameFromUrl(const std::wstring& url);

enum class MaintenanceMode { None, CrashDump, Close };
struct MaintenanceCommand {
    MaintenanceMode mode = MaintenanceMode::None;
    std::wstring logFileName;
    std::wstring catalogue;  // "CrashDmp" or the close tag
    bool wantDumps = false;
};
// The maintenance switches of the command line's arguments (the text after the program name):
// "-dmp" followed by a blank, or "-close" with its two-character tag, each only as a whole
// argument; "-dmp " wins over "-close". The log file name is the rest of the text after the
// switch and one blank. See the process entry for what each does.
MaintenanceCommand ParseMaintenanceCommand(const std::wstring& commandLine);

// True exactly for the installer ids 277 and 278.
bool KitFlagFor(int downloaderId);
// Refuse when the product says "0" and the process is not a 32-bit process on 64-bit Windows.
bool ShouldRefuse32BitSystem(const std::wstring& support32System, bool isWow64Process);

std::wstring WindowClassNameFor(const std::wstring& downloaderIdText);
std::wstring InstanceMutexNameFor(int downloaderId);
