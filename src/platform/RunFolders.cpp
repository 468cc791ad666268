#include "platform/RunFolders.h"

#include <cwchar>

#include <windows.h>

namespace RunFolders {

std::wstring StartStampFor(const _SYSTEMTIME& t) {
    wchar_t text[32] = {};
    _snwprintf_s(text, _countof(text), _TRUNCATE, L"%.4d%.2d%.2d%.2d%.2d%.2d%.3d", t.wYear, t.wMonth, t.wDay, t.wHour,
                 t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

bool IsUsableBaseName(const std::wstring& baseName) {
    if (baseName.empty()) return false;
    for (wchar_t c : baseName)
        if (c < 0x20 || wcschr(L"\\/:*?\"<>|", c) != nullptr) return false;
    return true;
}

bool Compute(const std::wstring& baseName, const std::wstring& appData, const _SYSTEMTIME& localTime,
             const std::wstring& fallbackRoot, const std::vector<FuntionImpl::DriveFacts>& drives,
             RunFolderValues& out) {
    if (!IsUsableBaseName(baseName)) return false;
    RunFolderValues values;
    values.startStamp = StartStampFor(localTime);
    values.logFolder = appData + L"\\VUDezivazaru\\logs\\" + baseName;
    values.logFilePath = values.logFolder + L"\\" + baseName + L"_" + values.startStamp + L".log";

    std::wstring root = FuntionImpl::StartsWithDriveRoot(values.logFolder) ? values.logFolder.substr(0, 3)
                                                                           : fallbackRoot;
    values.workFolder = FuntionImpl::ReplaceDriveWithLargestFixed(root + L"VUDezivazaru\\" + baseName, drives);

    // The log file is opened through an ANSI path: it has to fit the classic path limit.
    for (const std::wstring* path : {&values.logFolder, &values.logFilePath, &values.workFolder})
        if (path->size() > kMaxPathChars) return false;
    out = values;
    return true;
}

}  // namespace RunFolders

// ---- The work folder ---------------------------------------------------------------------------

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? char(c) : '?');
    return out;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    for (const std::string& s : list)
        if (s == item) return true;
    return false;
}

}  // namespace

namespace RunFolders {

FolderVerdict Judge(const FolderFacts& facts, const std::vector<std::string>& trusted, std::string* detail) {
    auto say = [&](FolderVerdict verdict, const std::string& text) {
        if (detail) *detail = text;
        return verdict;
    };
    if (!facts.exists) return say(FolderVerdict::Missing, "");
    if (!facts.isDirectory) return say(FolderVerdict::NotAFolder, "");
    if (facts.isReparsePoint) return say(FolderVerdict::ReparsePoint, "");
    if (!facts.securityRead) return say(FolderVerdict::Unreadable, "");
    if (!Contains(trusted, facts.ownerSid)) return say(FolderVerdict::ForeignOwner, facts.ownerSid);
    if (!facts.hasAccessList) return say(FolderVerdict::NoAccessList, "");
    for (const AceFacts& ace : facts.aces)
        if (ace.allows && (ace.mask & kWriteRights) != 0 && !Contains(trusted, ace.sid))
            return say(FolderVerdict::ForeignWriter, ace.sid);
    return say(FolderVerdict::Trusted, "");
}

const char* VerdictText(FolderVerdict verdict) {
    switch (verdict) {
        case FolderVerdict::Missing: return "missing";
        case FolderVerdict::Trusted: return "protected";
        case FolderVerdict::NotAFolder: return "not a folder";
        case FolderVerdict::ReparsePoint: return "a junction or link";
        case FolderVerdict::Unreadable: return "its owner and access list cannot be read";
        case FolderVerdict::ForeignOwner: return "owned by someone else";
        case FolderVerdict::NoAccessList: return "open to everyone (no access list)";
        case FolderVerdict::ForeignWriter: return "writable by someone else";
    }
    return "?";
}

namespace {

// Makes sure path is a protected folder: creates it when missing, then judges what is there.
// A folder that appeared between the look and the creation is judged like any other.
bool EnsureProtected(const std::wstring& path, FolderSystem& system, const std::vector<std::string>& trusted,
                     std::vector<std::string>& notes) {
    std::string detail;
    FolderVerdict verdict = Judge(system.Inspect(path), trusted, &detail);
    if (verdict == FolderVerdict::Missing) {
        bool created = system.CreateProtected(path);
        verdict = Judge(system.Inspect(path), trusted, &detail);
        if (verdict == FolderVerdict::Missing) {
            notes.push_back(" Work folder: cannot create " + Narrow(path));
            return false;
        }
        if (created && verdict == FolderVerdict::Trusted) notes.push_back(" Work folder: created " + Narrow(path));
    }
    if (verdict == FolderVerdict::Trusted) return true;
    notes.push_back(" Work folder: " + Narrow(path) + " refused, " + VerdictText(verdict) +
                    (detail.empty() ? "" : " (" + detail + ")"));
    return false;
}

}  // namespace

WorkFolderChoice ChooseWorkFolder(const std::wstring& preferred, const std::vector<std::wstring>& otherRoots,
                                  FolderSystem& system) {
    WorkFolderChoice choice;
    static const std::wstring kFamily = L"VUDezivazaru";
    const bool shaped = FuntionImpl::StartsWithDriveRoot(preferred) && preferred.compare(3, kFamily.size() + 1, kFamily + L"\\") == 0;
    if (!shaped) {
        choice.notes.push_back(" Work folder: unexpected path " + Narrow(preferred));
        return choice;
    }
    const std::wstring base = preferred.substr(3 + kFamily.size() + 1);
    const std::vector<std::string> trusted = system.TrustedSids();
    std::vector<std::wstring> families = {kFamily};
    for (int n = 2; n <= 9; ++n) families.push_back(kFamily + L"-" + std::to_wstring(n));

    // An earlier download to resume, in a protected work folder on any of the drives.
    std::vector<std::wstring> roots = {preferred.substr(0, 3)};
    for (const std::wstring& root : otherRoots)
        if (root.size() >= 3 && _wcsnicmp(root.c_str(), roots[0].c_str(), 3) != 0) roots.push_back(root.substr(0, 3));
    for (const std::wstring& root : roots) {
        for (const std::wstring& family : families) {
            const std::wstring parent = root + family, folder = parent + L"\\" + base;
            if (Judge(system.Inspect(parent), trusted, nullptr) != FolderVerdict::Trusted) continue;
            if (Judge(system.Inspect(folder), trusted, nullptr) != FolderVerdict::Trusted) continue;
            if (!system.HoldsResumableDownload(folder)) continue;
            choice.folder = folder;
            choice.notes.push_back(" Work folder: " + Narrow(folder) + " (an earlier download to resume)");
            return choice;
        }
    }

    // The preferred drive: the family folder and the work folder in it, both protected.
    families.push_back(kFamily + L"-" + system.RandomSuffix());
    for (const std::wstring& family : families) {
        const std::wstring parent = roots[0] + family, folder = parent + L"\\" + base;
        if (folder.size() > kMaxPathChars) break;
        if (!EnsureProtected(parent, system, trusted, choice.notes)) continue;
        if (!EnsureProtected(folder, system, trusted, choice.notes)) continue;
        choice.folder = folder;
        choice.notes.push_back(" Work folder: " + Narrow(folder));
        return choice;
    }
    choice.notes.push_back(" Work folder: no protected folder could be made on " + Narrow(roots[0]));
    return choice;
}

}  // namespace RunFolders
