// The work folder's view of Windows: owners, access lists and reparse points of folders, the
// creation of protected folders, and which drives keep access lists at all.
#include "platform/RunFolders.h"

#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <cstdio>

namespace {

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return std::string();
    std::string out;
    for (const wchar_t* p = text; *p; ++p) out.push_back(char(*p));
    LocalFree(text);
    return out;
}

// The SID of this process's user, as text.
std::string ProcessUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
    BYTE buffer[256] = {};
    DWORD size = 0;
    std::string sid;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size))
        sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return sid;
}

bool ProcessIsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
                    elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

// Wine keeps no owners or access lists of its own: it makes them up from the Unix owner and mode
// of each file (the owner is always the Wine user, whatever was asked for). There the work
// folder can only be judged by what the mode says (a folder everyone may write is still
// refused), and the Wine user has to count as its own. Windows' ntdll has no wine_get_version.
bool SystemKeepsAccessLists() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return !ntdll || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

const char kSystem[] = "S-1-5-18";
const char kAdministrators[] = "S-1-5-32-544";
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The SID and mask of an access-allowed or access-denied entry; other kinds of entry (object
// entries) are reported as allowing everything to an unknown SID, so that they are refused.
AceFacts FactsOf(const ACE_HEADER* header) {
    AceFacts facts;
    switch (header->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
            facts.sid = SidText(const_cast<DWORD*>(&ace->SidStart));
            facts.mask = ace->Mask;
            facts.allows = true;
            break;
        }
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE: {
            const auto* ace = reinterpret_cast<const ACCESS_DENIED_ACE*>(header);
            facts.sid = SidText(const_cast<DWORD*>(&ace->SidStart));
            facts.mask = ace->Mask;
            facts.allows = false;
            break;
        }
        default:
            facts.sid = "(entry of type " + std::to_string(header->AceType) + ")";
            facts.mask = GENERIC_ALL;
            facts.allows = true;
    }
    return facts;
}

class WindowsSystem : public RunFolders::FolderSystem {
public:
    FolderFacts Inspect(const std::wstring& path) override {
        FolderFacts facts;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return facts;
        facts.exists = true;
        facts.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts.isReparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        // The folder itself, never what a reparse point leads to.
        HANDLE folder = CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (folder == INVALID_HANDLE_VALUE) return facts;
        BY_HANDLE_FILE_INFORMATION info = {};
        if (GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            facts.isReparsePoint = true;
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
            facts.securityRead = true;
            facts.ownerSid = SidText(owner);
            facts.hasAccessList = dacl != nullptr;
            for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
                void* ace = nullptr;
                if (GetAce(dacl, i, &ace)) facts.aces.push_back(FactsOf(static_cast<ACE_HEADER*>(ace)));
            }
            LocalFree(descriptor);
        }
        CloseHandle(folder);
        return facts;
    }

    bool CreateProtected(const std::wstring& path) override {
        // Administrators and SYSTEM: full control; users: read and run; nothing inherited from
        // above. A process that is not elevated cannot give the folder to the administrators,
        // and needs write access itself.
        std::wstring access = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
        std::wstring user;
        if (!ProcessIsElevated()) {
            std::string sid = ProcessUserSid();
            user.assign(sid.begin(), sid.end());
            if (!user.empty()) access += L"(A;OICI;FA;;;" + user + L")";
        }
        for (const std::wstring& owner : {std::wstring(L"O:BA"), std::wstring()}) {
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            if (!ConvertStringSecurityDescriptorToSecurityDescriptorW((owner + access).c_str(), SDDL_REVISION_1,
                                                                      &descriptor, nullptr))
                return false;
            SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
            const bool created = CreateDirectoryW(path.c_str(), &attributes) != FALSE;
            const DWORD error = GetLastError();
            LocalFree(descriptor);
            if (created) return true;
            if (error != ERROR_INVALID_OWNER) return false;
        }
        return false;
    }

    bool HoldsResumableDownload(const std::wstring& folder) override {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*.xml").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return false;
        bool any = false;
        do any = any || !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (!any && FindNextFileW(search, &found));
        FindClose(search);
        return any;
    }

    std::vector<std::string> TrustedSids() override {
        std::vector<std::string> sids = {kSystem, kAdministrators, kTrustedInstaller};
        if (!ProcessIsElevated() || !SystemKeepsAccessLists()) {
            std::string user = ProcessUserSid();
            if (!user.empty()) sids.push_back(user);
        }
        return sids;
    }

    std::wstring RandomSuffix() override {
        GUID guid = {};
        CoCreateGuid(&guid);
        wchar_t text[16] = {};
        _snwprintf_s(text, _countof(text), _TRUNCATE, L"%08lx", static_cast<unsigned long>(guid.Data1));
        return text;
    }
};

}  // namespace

namespace RunFolders {

FolderSystem& WindowsFolderSystem() {
    static WindowsSystem system;
    return system;
}

void KeepDrivesWithAccessLists(std::vector<FuntionImpl::DriveFacts>& drives) {
    std::vector<FuntionImpl::DriveFacts> kept;
    for (const FuntionImpl::DriveFacts& drive : drives) {
        DWORD flags = 0;
        if (drive.type == DRIVE_FIXED &&
            !(GetVolumeInformationW(drive.root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
              (flags & FILE_PERSISTENT_ACLS)))
            continue;
        kept.push_back(drive);
    }
    drives.swap(kept);
}

}  // namespace RunFolders
