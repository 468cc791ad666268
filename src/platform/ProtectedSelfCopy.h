#pragma once
// The one way the setup starts itself again: the "-sendrestlogs" delivery copy, the "-close" and
// "-dmp " log uploads and the automated restart.
//
// The setup runs elevated from the folder it was downloaded to, which its user (and any program
// of that user) can write: the running setup.exe can be renamed there and another program put
// under its name, which a start "of itself" by path would then run as administrator. So at
// start-up, while the file is still the one that was started (held open from the first line of
// the process, which keeps it from being changed, deleted or renamed), the setup copies itself
// into a folder only administrators can write, a subfolder of the protected work folder judged
// the same way, and keeps the copy's SHA-256 digest. Before each start the copy is opened denying
// writes and deletion, hashed again, and started only when the bytes are the same; that handle
// stays open until the new process exists, so what was checked is what runs. No copy, or a copy
// that changed: nothing is started (the caller logs why).
//
// The copy keeps the original's file name (the report SDK takes an id from it), and the files
// the setup reads beside itself are copied beside it: "proxy.txt" in every build, and in test
// builds also the local test switches ("qv_downloader.cfg", "test.wk"), so that a copy behaves
// as the original did at start-up.
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/RunFolders.h"

namespace ProtectedSelfCopy {

using Digest = std::array<uint8_t, 32>;

// SHA-256 of what the file handle reads from its start to its end; when `out` is a file handle,
// the bytes read are written there as well (one read makes the copy and its digest). False on
// any read, write or hash failure.
bool DigestOf(HANDLE file, Digest& digest, HANDLE out = INVALID_HANDLE_VALUE);

// The folder for copies of an executable with this digest: "<work folder>\setup-<16 hex digits>".
// One folder per content, so runs of the same setup share one copy (and one firewall entry).
std::wstring CopyFolderFor(const std::wstring& workFolder, const Digest& digest);

// The files beside the executable that a copy needs beside itself (see above).
std::vector<std::wstring> SideFileNames(bool testBuild);

enum class StartResult {
    Started,
    NoCopy,        // no protected copy was made in this process
    Unreadable,    // the copy could not be opened (denying writes) or hashed
    Changed,       // the copy's bytes are not those that were copied
    StartFailed,   // verified, but the system did not start it
};
const char* ResultText(StartResult result);

// Opens `path` denying writes and deletion, checks that it is a plain file (no link) whose
// SHA-256 is `expected`, and only then starts it with `parameters` after its quoted path, shown
// as `show`, in its own folder, inheriting no handle. The check's handle stays open until the
// process exists. `error` (may be null) gets the system's error of a failed open or start.
StartResult StartVerified(const std::wstring& path, const Digest& expected, const std::wstring& parameters, int show,
                          DWORD* error);

class Copy {
public:
    Copy() = default;
    ~Copy();
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;

    // Opens the source (the running executable) for reading, denying writes and deletion, which
    // also keeps it from being renamed, until Make has read it. False when it cannot be opened.
    bool HoldSource(const std::wstring& sourcePath);
    // Makes the copy from the held source: in CopyFolderFor(workFolder, digest), which is created
    // with the work folder's access list or else must be judged protected as the work folder is;
    // reuses a copy already there with the same bytes; copies the side files; removes the copies
    // of other versions no process uses any more. Lets the source go. notes gets log lines.
    // False, with nothing started later, when there is no work folder or no protected copy.
    bool Make(const std::wstring& workFolder, RunFolders::FolderSystem& system, bool testBuild,
              std::vector<std::string>& notes);

    bool Ready() const { return m_ready.load(); }
    // The copy's path; empty until Make succeeded.
    std::wstring Path() const { return Ready() ? m_path : std::wstring(); }
    Digest GetDigest() const { return m_digest; }

    // StartVerified on the copy; NoCopy when there is none.
    StartResult Start(const std::wstring& parameters, int show, DWORD* error = nullptr) const;

private:
    bool PlaceCopy(const std::wstring& folder, std::vector<std::string>& notes);
    void CopySideFiles(const std::wstring& folder, bool testBuild);
    void RemoveOtherVersions(const std::wstring& workFolder, const std::wstring& keep);
    void CloseSource();

    HANDLE m_source = INVALID_HANDLE_VALUE;
    std::wstring m_sourcePath;
    std::wstring m_path;
    Digest m_digest{};
    // The copy stays open (reading shared, nothing else) for the life of the process: no other
    // run removes or replaces it while this one may still start it.
    HANDLE m_hold = INVALID_HANDLE_VALUE;
    std::atomic<bool> m_ready{false};
};

// The copy of this process (made by the process entry of a normal run).
Copy& OfThisProcess();

}  // namespace ProtectedSelfCopy
