#include "download/PackageFile.h"

PackageFile::PackageFile(const std::string& path) : m_path(path) {}

PackageFile::~PackageFile() { close(); }

bool PackageFile::open(DWORD& error) {
    error = 0;
    if (isOpen()) return true;
    // Readers and the writers of this process may share it (an attempt that its owner left
    // behind still holds it until its driver ends); nobody may delete or rename it meanwhile.
    HANDLE h = CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    AcquireSRWLockExclusive(&m_lock);
    m_handle = h;
    m_writable = true;
    ReleaseSRWLockExclusive(&m_lock);
    return true;
}

size_t PackageFile::writeAt(int64_t pos, const char* data, size_t n) {
    size_t written = 0;
    AcquireSRWLockShared(&m_lock);
    if (m_writable && pos >= 0) {
        while (written < n) {
            OVERLAPPED at = {};
            const uint64_t offset = static_cast<uint64_t>(pos) + written;
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD chunk = static_cast<DWORD>(n - written > 0x40000000 ? 0x40000000 : n - written);
            DWORD done = 0;
            if (!WriteFile(m_handle, data + written, chunk, &done, &at) || done == 0) break;
            written += done;
        }
    }
    ReleaseSRWLockShared(&m_lock);
    return written;
}

size_t PackageFile::writeAt(int& slot, int64_t pos, const char* data, size_t n) {
    AcquireSRWLockShared(&m_lock);
    if (m_writable && (slot < 0 || static_cast<size_t>(slot) >= m_writers.size())) {
        ReleaseSRWLockShared(&m_lock);
        AcquireSRWLockExclusive(&m_lock);
        if (m_writable) {
            HANDLE h = CreateFileA(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                slot = static_cast<int>(m_writers.size());
                m_writers.push_back(h);
            }
        }
        ReleaseSRWLockExclusive(&m_lock);
        // Without a handle of its own the writer shares the file's (writes at an offset).
        if (slot < 0) return writeAt(pos, data, n);
        AcquireSRWLockShared(&m_lock);
    }
    size_t written = 0;
    if (m_writable && pos >= 0 && static_cast<size_t>(slot) < m_writers.size()) {
        HANDLE h = m_writers[static_cast<size_t>(slot)];
        LARGE_INTEGER at{};
        at.QuadPart = pos;
        if (SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) {
            while (written < n) {
                const DWORD chunk = static_cast<DWORD>(n - written > 0x40000000 ? 0x40000000 : n - written);
                DWORD done = 0;
                if (!WriteFile(h, data + written, chunk, &done, nullptr) || done == 0) break;
                written += done;
            }
        }
    }
    ReleaseSRWLockShared(&m_lock);
    return written;
}

bool PackageFile::flush() {
    AcquireSRWLockShared(&m_lock);
    const bool ok = m_writable && FlushFileBuffers(m_handle);
    ReleaseSRWLockShared(&m_lock);
    return ok;
}

int64_t PackageFile::size() const {
    LARGE_INTEGER size{};
    if (!isOpen() || !GetFileSizeEx(m_handle, &size)) return -1;
    return size.QuadPart;
}

bool PackageFile::cutTo(int64_t length) {
    AcquireSRWLockExclusive(&m_lock);
    bool ok = m_writable;
    LARGE_INTEGER size{};
    if (ok && GetFileSizeEx(m_handle, &size) && size.QuadPart > length) {
        // The file position serves nobody else: every write names its own offset.
        LARGE_INTEGER end{};
        end.QuadPart = length;
        ok = SetFilePointerEx(m_handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(m_handle);
    }
    ReleaseSRWLockExclusive(&m_lock);
    return ok;
}

void PackageFile::revokeWrites() {
    AcquireSRWLockExclusive(&m_lock);
    m_writable = false;
    ReleaseSRWLockExclusive(&m_lock);
}

void PackageFile::close() {
    AcquireSRWLockExclusive(&m_lock);
    m_writable = false;
    HANDLE h = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    std::vector<HANDLE> writers;
    writers.swap(m_writers);
    ReleaseSRWLockExclusive(&m_lock);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    for (HANDLE w : writers) CloseHandle(w);
}
