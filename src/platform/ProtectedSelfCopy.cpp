#include "platform/ProtectedSelfCopy.h"

#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>

namespace ProtectedSelfCopy {

namespace {

// A side file larger than this is not one of ours (a switch file is a few lines).
constexpr DWORD kMaxSideFileBytes = 64 * 1024;
// ERROR_ELEVATION_REQUIRED, which the headers here do not name.
constexpr DWORD kErrorElevationRequired = 740;

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? char(c) : '?');
    return out;
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

// Opens a file for reading, sharing reading only (no writer, no deletion, no rename while open),
// without following a link. INVALID_HANDLE_VALUE when it cannot, or when it is not a plain file.
HANDLE OpenDenyingWrites(const std::wstring& path, DWORD* error) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return file;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        if (error) *error = ERROR_INVALID_HANDLE;
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// The protected folder for the copy: made with the work folder's access list when missing,
// otherwise judged as the work folder is.
bool EnsureProtectedFolder(const std::wstring& folder, RunFolders::FolderSystem& system,
                           std::vector<std::string>& notes) {
    const std::vector<std::string> trusted = system.TrustedSids();
    std::string detail;
    FolderVerdict verdict = RunFolders::Judge(system.Inspect(folder), trusted, &detail);
    if (verdict == FolderVerdict::Missing) {
        system.CreateProtected(folder);
        verdict = RunFolders::Judge(system.Inspect(folder), trusted, &detail);
    }
    if (verdict == FolderVerdict::Trusted) return true;
    notes.push_back(" Protected copy: " + Narrow(folder) + " refused, " + RunFolders::VerdictText(verdict) +
                    (detail.empty() ? "" : " (" + detail + ")"));
    return false;
}

}  // namespace

bool DigestOf(HANDLE file, Digest& digest, HANDLE out) {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return false;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
    HCRYPTHASH hash = 0;
    bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != FALSE;
    std::vector<BYTE> buffer(64 * 1024);
    while (ok) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            ok = false;
            break;
        }
        if (read == 0) break;
        if (!CryptHashData(hash, buffer.data(), read, 0)) ok = false;
        DWORD written = 0;
        if (ok && out != INVALID_HANDLE_VALUE && (!WriteFile(out, buffer.data(), read, &written, nullptr) || written != read))
            ok = false;
    }
    DWORD size = static_cast<DWORD>(digest.size());
    if (ok && !CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &size, 0)) ok = false;
    if (ok && size != digest.size()) ok = false;
    if (hash) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return ok;
}

std::wstring CopyFolderFor(const std::wstring& workFolder, const Digest& digest) {
    wchar_t hex[17] = {};
    for (int i = 0; i < 8; ++i) swprintf(hex + 2 * i, 3, L"%02x", digest[i]);
    return workFolder + L"\\setup-" + hex;
}

std::vector<std::wstring> SideFileNames(bool testBuild) {
    if (testBuild) return {L"proxy.txt", L"qv_downloader.cfg", L"test.wk"};
    return {L"proxy.txt"};
}

const char* ResultText(StartResult result) {
    switch (result) {
        case StartResult::Started: return "started";
        case StartResult::NoCopy: return "no protected copy";
        case StartResult::Unreadable: return "the protected copy cannot be read";
        case StartResult::Changed: return "the protected copy has changed";
        case StartResult::StartFailed: return "the start failed";
    }
    return "?";
}

StartResult StartVerified(const std::wstring& path, const Digest& expected, const std::wstring& parameters, int show,
                          DWORD* error) {
    if (error) *error = 0;
    HANDLE file = OpenDenyingWrites(path, error);
    if (file == INVALID_HANDLE_VALUE) return StartResult::Unreadable;
    Digest now{};
    if (!DigestOf(file, now)) {
        if (error) *error = GetLastError();
        CloseHandle(file);
        return StartResult::Unreadable;
    }
    if (now != expected) {
        CloseHandle(file);
        return StartResult::Changed;
    }

    // The file stays open, refusing writers, until the process exists.
    const std::wstring folder = FolderOf(path);
    std::wstring line = L"\"" + path + L"\"";
    if (!parameters.empty()) line += (parameters[0] == L' ' ? L"" : L" ") + parameters;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION info = {};
    StartResult result = StartResult::Started;
    if (CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    } else if (GetLastError() == kErrorElevationRequired) {
        // A setup that was started without elevation (a compatibility setting, say) starts its
        // copy as the shell would, with the consent prompt.
        SHELLEXECUTEINFOW shell = {};
        shell.cbSize = sizeof(shell);
        shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
        shell.lpVerb = L"open";
        shell.lpFile = path.c_str();
        shell.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
        shell.lpDirectory = folder.empty() ? nullptr : folder.c_str();
        shell.nShow = show;
        if (ShellExecuteExW(&shell)) {
            if (shell.hProcess) CloseHandle(shell.hProcess);
        } else {
            result = StartResult::StartFailed;
        }
    } else {
        result = StartResult::StartFailed;
    }
    if (result == StartResult::StartFailed && error) *error = GetLastError();
    CloseHandle(file);
    return result;
}

Copy::~Copy() {
    CloseSource();
    CloseIfOpen(m_hold);
}

void Copy::CloseSource() { CloseIfOpen(m_source); }

bool Copy::HoldSource(const std::wstring& sourcePath) {
    CloseSource();
    m_sourcePath = sourcePath;
    m_source = sourcePath.empty() ? INVALID_HANDLE_VALUE : OpenDenyingWrites(sourcePath, nullptr);
    return m_source != INVALID_HANDLE_VALUE;
}

bool Copy::Make(const std::wstring& workFolder, RunFolders::FolderSystem& system, bool testBuild,
                std::vector<std::string>& notes) {
    if (m_ready.load()) return true;
    struct LetSourceGo {
        Copy& copy;
        ~LetSourceGo() { copy.CloseSource(); }
    } letGo{*this};
    if (m_source == INVALID_HANDLE_VALUE) {
        notes.push_back(" Protected copy: the running setup could not be held open: " + Narrow(m_sourcePath));
        return false;
    }
    if (workFolder.empty()) {
        notes.push_back(" Protected copy: no protected work folder");
        return false;
    }
    // Copied and hashed in one read into the work folder, then moved into the folder named
    // after the digest (same volume, so the move keeps the bytes and the access list).
    const std::wstring name = FileNameOf(m_sourcePath);
    const std::wstring temp = workFolder + L"\\" + name + L"." + std::to_wstring(GetCurrentProcessId()) + L".selfcopy";
    HANDLE out = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        notes.push_back(" Protected copy: cannot write " + Narrow(temp) + ", error " + std::to_string(GetLastError()));
        return false;
    }
    const bool copied = DigestOf(m_source, m_digest, out);
    CloseHandle(out);
    if (!copied) {
        DeleteFileW(temp.c_str());
        notes.push_back(" Protected copy: cannot copy " + Narrow(m_sourcePath));
        return false;
    }
    const std::wstring folder = CopyFolderFor(workFolder, m_digest);
    if (!EnsureProtectedFolder(folder, system, notes)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    const std::wstring path = folder + L"\\" + name;
    bool placed = false;
    // A copy of the same bytes left by an earlier run (or in use by another run) serves.
    HANDLE earlier = OpenDenyingWrites(path, nullptr);
    if (earlier != INVALID_HANDLE_VALUE) {
        Digest digest{};
        if (DigestOf(earlier, digest) && digest == m_digest) {
            m_hold = earlier;
            placed = true;
        } else {
            CloseHandle(earlier);
        }
    }
    if (placed) {
        DeleteFileW(temp.c_str());
    } else {
        if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            notes.push_back(" Protected copy: cannot place " + Narrow(path) + ", error " + std::to_string(GetLastError()));
            DeleteFileW(temp.c_str());
            return false;
        }
        m_hold = OpenDenyingWrites(path, nullptr);
        Digest digest{};
        if (m_hold == INVALID_HANDLE_VALUE || !DigestOf(m_hold, digest) || digest != m_digest) {
            CloseIfOpen(m_hold);
            notes.push_back(" Protected copy: " + Narrow(path) + " does not hold what was copied");
            return false;
        }
    }
    CopySideFiles(folder, testBuild);
    RemoveOtherVersions(workFolder, folder);
    m_path = path;
    m_ready.store(true);
    notes.push_back(" Protected copy: " + Narrow(path));
    return true;
}

void Copy::CopySideFiles(const std::wstring& folder, bool testBuild) {
    const std::wstring from = FolderOf(m_sourcePath);
    for (const std::wstring& name : SideFileNames(testBuild)) {
        const std::wstring target = folder + L"\\" + name;
        // What is beside the original now is what the copy finds: a file that is gone there is
        // gone beside the copy too. Links and oversized files are not followed or copied.
        HANDLE in = CreateFileW((from + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        std::string content;
        bool present = false;
        if (in != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info = {};
            if (GetFileInformationByHandle(in, &info) &&
                (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
                info.nFileSizeHigh == 0 && info.nFileSizeLow <= kMaxSideFileBytes) {
                content.resize(info.nFileSizeLow);
                DWORD read = 0;
                present = content.empty() ||
                          (ReadFile(in, &content[0], static_cast<DWORD>(content.size()), &read, nullptr) &&
                           read == content.size());
            }
            CloseHandle(in);
        }
        if (!present) {
            DeleteFileW(target.c_str());
            continue;
        }
        HANDLE out = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE) continue;
        DWORD written = 0;
        if (!content.empty()) WriteFile(out, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(out);
    }
}

void Copy::RemoveOtherVersions(const std::wstring& workFolder, const std::wstring& keep) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((workFolder + L"\\setup-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> folders;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            folders.push_back(workFolder + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& folder : folders) {
        if (_wcsicmp(folder.c_str(), keep.c_str()) == 0) continue;
        // The programs first: one that runs (or that another run holds) cannot be deleted, and
        // then its folder stays as it is.
        std::vector<std::wstring> programs, others;
        HANDLE files = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (files == INVALID_HANDLE_VALUE) continue;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::wstring file = found.cFileName;
            bool program = file.size() > 4 && _wcsicmp(file.c_str() + file.size() - 4, L".exe") == 0;
            (program ? programs : others).push_back(folder + L"\\" + file);
        } while (FindNextFileW(files, &found));
        FindClose(files);
        bool allGone = true;
        for (const std::wstring& file : programs) allGone = DeleteFileW(file.c_str()) && allGone;
        if (!allGone) continue;
        for (const std::wstring& file : others) DeleteFileW(file.c_str());
        RemoveDirectoryW(folder.c_str());
    }
}

StartResult Copy::Start(const std::wstring& parameters, int show, DWORD* error) const {
    if (error) *error = 0;
    if (!m_ready.load()) return StartResult::NoCopy;
    return StartVerified(m_path, m_digest, parameters, show, error);
}

Copy& OfThisProcess() {
    // Never destroyed: the crash handler may start the copy while the process ends.
    static Copy* copy = new Copy();
    return *copy;
}

}  // namespace ProtectedSelfCopy
