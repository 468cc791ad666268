#pragma once
// The output file of one download attempt. Every worker writes its segment's bytes at their
// own positions with positioned writes (WriteFile with an offset): no seek, so no shared file
// position, and no lock that another process could take or hold. The only lock is the
// attempt's own, taken shared by each write and exclusively once, when the attempt gives the
// file up: after revokeWrites no write of this attempt reaches the file any more, so an
// attempt left behind by its owner never writes into a package the next attempt is filling.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class PackageFile {
public:
    explicit PackageFile(const std::string& path);  // ANSI path
    ~PackageFile();
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    // Opens the file for writing, keeping what it holds (created empty when missing); false with
    // the system error when it cannot be opened. Other programs may read it meanwhile.
    bool open(DWORD& error);
    bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    const std::string& path() const { return m_path; }

    // Writes n bytes at pos; returns the number written (0 once writes are revoked).
    size_t writeAt(int64_t pos, const char* data, size_t n);
    // The same through a handle of one writer's own (slot: -1 until the first write opens it):
    // its own file position, so it seeks and writes without any lock of the file and without
    // the completion notice a write at an offset costs (a round trip to the Wine server).
    size_t writeAt(int& slot, int64_t pos, const char* data, size_t n);
    // Makes the bytes written so far durable; false when that failed or writes are revoked.
    bool flush();
    // Size of the file, -1 when it is not open.
    int64_t size() const;
    // Cuts the file to length when it is longer.
    bool cutTo(int64_t length);
    // Waits for the writes in progress and refuses every later one.
    void revokeWrites();
    // Revokes the writes and closes the file.
    void close();

private:
    std::string m_path;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    SRWLOCK m_lock = SRWLOCK_INIT;
    bool m_writable = false;  // guarded by m_lock
    std::vector<HANDLE> m_writers;  // one per writer, guarded by m_lock
};
