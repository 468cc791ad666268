#include "platform/LinkFreeFolders.h"

#include <fcntl.h>
#include <io.h>

#include <mutex>

#include "base/TextCodec.h"

namespace LinkFreeFolders {

namespace {

// The secured folders stay open until the process ends: while a handle without delete sharing
// is open, the folder can be neither renamed nor removed, so it cannot be swapped for a link.
std::mutex g_heldLock;
std::vector<HANDLE> g_held;

// The path Windows resolves an open handle to ("\\?\C:\..." or "\\?\UNC\..."), in the form of
// an ordinary path; empty when it cannot be told.
std::wstring FinalPath(HANDLE handle) {
    std::wstring path(512, L'\0');
    for (int round = 0; round < 2; ++round) {
        DWORD n = GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
            if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
            return path;
        }
        path.assign(n + 1, L'\0');
    }
    return std::wstring();
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                              TRUE) == CSTR_EQUAL;
}

// A folder handle that shares everything but deletion: it stands in nobody's way but a rename or
// removal of the folder. It asks for listing (a data access): a handle with attribute access alone
// takes part in no sharing check, so it would hold nothing.
HANDLE OpenFolder(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool Refuse(std::string* detail, const std::wstring& path, const char* why) {
    if (detail) *detail = TextCodec::WideToUtf8(path) + " " + why;
    return false;
}

std::vector<std::wstring> Split(const std::wstring& relative) {
    std::vector<std::wstring> names;
    size_t start = 0;
    for (;;) {
        size_t end = relative.find(L'\\', start);
        names.push_back(relative.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) return names;
        start = end + 1;
    }
}

bool IsPlainName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"/:") == std::wstring::npos;
}

}  // namespace

bool Secure(const std::wstring& base, const std::wstring& relative, std::string* detail) {
    if (base.empty()) return Refuse(detail, relative, "has no base folder");
    HANDLE baseHandle = OpenFolder(base);
    if (baseHandle == INVALID_HANDLE_VALUE) return Refuse(detail, base, "cannot be opened");
    // The base folder is the user's own (it may well be redirected): what lies below it is judged
    // against the place it really is.
    std::wstring expected = FinalPath(baseHandle);
    CloseHandle(baseHandle);
    if (expected.empty()) return Refuse(detail, base, "has no final path");
    std::wstring path = base;
    for (const std::wstring& name : Split(relative)) {
        if (!IsPlainName(name)) return Refuse(detail, relative, "is not a plain folder path");
        path += L"\\" + name;
        expected += L"\\" + name;
        CreateDirectoryW(path.c_str(), nullptr);  // an existing one is judged like a new one
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return Refuse(detail, path, "cannot be made");
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Refuse(detail, path, "refused, a junction or link");
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Refuse(detail, path, "refused, not a folder");
        HANDLE folder = OpenFolder(path);
        if (folder == INVALID_HANDLE_VALUE) return Refuse(detail, path, "cannot be opened");
        BY_HANDLE_FILE_INFORMATION info = {};
        bool real = GetFileInformationByHandle(folder, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        // A link anywhere on the way (also one made between the look above and the open) shows
        // as a final path that is not the expected one.
        if (!real || !SamePath(FinalPath(folder), expected)) {
            CloseHandle(folder);
            return Refuse(detail, path, "refused, a junction or link");
        }
        std::lock_guard<std::mutex> lock(g_heldLock);
        g_held.push_back(folder);
    }
    return true;
}

Choice Choose(const std::wstring& base, const std::wstring& family, const std::wstring& rest, const char* what) {
    Choice choice;
    if (base.empty()) {
        choice.notes.push_back(std::string(" ") + what + ": none, APPDATA is not set");
        return choice;
    }
    for (int n = 1; n <= 9; ++n) {
        std::wstring name = n == 1 ? family : family + L"-" + std::to_wstring(n);
        std::string detail;
        if (Secure(base, name + L"\\" + rest, &detail)) {
            choice.folder = base + L"\\" + name + L"\\" + rest;
            if (n > 1) choice.notes.push_back(std::string(" ") + what + ": " + TextCodec::WideToUtf8(choice.folder));
            return choice;
        }
        choice.notes.push_back(std::string(" ") + what + ": " + detail);
    }
    choice.notes.push_back(std::string(" ") + what + ": none could be had");
    return choice;
}

bool HandleIsAt(HANDLE file, const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return false;
    // The folder itself must not be a link either (the ones above it are the caller's: Secure).
    const std::wstring parent = path.substr(0, slash);
    DWORD attributes = GetFileAttributesW(parent.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    HANDLE folder = OpenFolder(parent);
    if (folder == INVALID_HANDLE_VALUE) return false;
    std::wstring expected = FinalPath(folder);
    CloseHandle(folder);
    BY_HANDLE_FILE_INFORMATION info = {};
    return !expected.empty() && GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1 &&
           SamePath(FinalPath(file), expected + path.substr(slash));
}

HANDLE CreateFileAt(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
    // A file is emptied only once it is known to be the right one.
    const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    DWORD open = disposition == CREATE_ALWAYS ? OPEN_ALWAYS : disposition == TRUNCATE_EXISTING ? OPEN_EXISTING : disposition;
    HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, open, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    if (!HandleIsAt(file, path)) {
        CloseHandle(file);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && !SetEndOfFile(file)) {
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return file;
}

FILE* OpenForAppend(const std::wstring& path, bool textMode) {
    HANDLE file = CreateFileAt(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | (textMode ? _O_TEXT : _O_BINARY));
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, textMode ? "a" : "ab");
    if (!stream) _close(descriptor);
    return stream;
}

}  // namespace LinkFreeFolders
