#pragma once
// Where one run of the setup keeps its files: the log folder under APPDATA (this run's log,
// the product installer's log, crash dumps), named after the installer's base name, and the
// work folder for the download, on the fixed drive with the most free space. Plain functions
// over plain facts, so that the choices can be tested on any machine.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FuntionImpl.h"

struct RunFolderValues {
    std::wstring startStamp;   // local time, "%.4d%.2d%.2d%.2d%.2d%.2d%.3d"
    std::wstring logFolder;    // APPDATA\VUDezivazaru\logs\<base name>
    std::wstring logFilePath;  // <log folder>\<base name>_<start stamp>.log
    std::wstring workFolder;   // <best fixed drive root>VUDezivazaru\<base name>
};

namespace RunFolders {

// Longest path (in characters, without terminator) that the run values may have.
constexpr size_t kMaxPathChars = 259;

std::wstring StartStampFor(const _SYSTEMTIME& localTime);

// True when the base name can name a folder and a file: not empty, no path separators, no
// drive colon, no wildcard or other character Windows refuses in names, no control character.
bool IsUsableBaseName(const std::wstring& baseName);

// Computes the run values. appData may be empty (the log folder then starts with
// "\VUDezivazaru\logs\", on the current drive); the work folder then starts from
// fallbackRoot (the Windows drive's root) before it moves to the best fixed drive.
// False, with out untouched, when the base name is unusable or a path would be longer than
// kMaxPathChars.
bool Compute(const std::wstring& baseName, const std::wstring& appData, const _SYSTEMTIME& localTime,
             const std::wstring& fallbackRoot, const std::vector<FuntionImpl::DriveFacts>& drives,
             RunFolderValues& out);

}  // namespace RunFolders

// ---- The work folder: a folder no one else controls ------------------------------------------
//
// The work folder holds the package that the setup, running elevated, verifies and then starts.
// At a drive root any local user may create folders, so a work folder that someone else made
// first (or replaced by a junction) would let them swap the package between its check and its
// start. The work folder is therefore used only when it is a real folder (no junction, no
// symbolic link), owned by the administrators, SYSTEM or TrustedInstaller, and writable by no one
// else; the folder above it (the family folder, "VUDezivazaru") must be so too, since whoever
// controls a folder can rename what is in it. Missing folders are created with such an access
// list (administrators and SYSTEM: full control; users: read). When a folder is someone else's,
// a fresh family folder is made beside it: "VUDezivazaru-2" to "VUDezivazaru-9", then one with a
// random suffix that no one can guess in advance. Each decision becomes a log line.

// One entry of an access list: whom it is for (a SID as text), what it grants, and whether it
// allows (deny entries never give anyone access).
struct AceFacts {
    std::string sid;
    uint32_t mask = 0;
    bool allows = true;
};

// What a path is, as far as the trust decision goes.
struct FolderFacts {
    bool exists = false;
    bool isDirectory = false;
    bool isReparsePoint = false;  // a junction, symbolic link or other reparse point
    bool securityRead = false;    // owner and access list could be read
    std::string ownerSid;
    bool hasAccessList = false;   // false: no access list at all, everyone may do everything
    std::vector<AceFacts> aces;
};

enum class FolderVerdict { Missing, Trusted, NotAFolder, ReparsePoint, Unreadable, ForeignOwner, NoAccessList, ForeignWriter };

namespace RunFolders {

// The rights on a folder that let someone change what is in it or who may.
constexpr uint32_t kWriteRights = 0x00000002 /*add file*/ | 0x00000004 /*add subfolder*/ | 0x00000010 /*write EA*/ |
                                  0x00000040 /*delete child*/ | 0x00000100 /*write attributes*/ | 0x00010000 /*DELETE*/ |
                                  0x00040000 /*WRITE_DAC*/ | 0x00080000 /*WRITE_OWNER*/ | 0x02000000 /*MAXIMUM_ALLOWED*/ |
                                  0x10000000 /*GENERIC_ALL*/ | 0x40000000 /*GENERIC_WRITE*/;

// Whether a folder with these facts may hold the work. trusted: the SIDs that may own it and
// write to it. detail (may be null) gets what was wrong, for the log.
FolderVerdict Judge(const FolderFacts& facts, const std::vector<std::string>& trusted, std::string* detail);
const char* VerdictText(FolderVerdict verdict);

// What the work folder choice asks of the system (the seam its tests replace).
class FolderSystem {
public:
    virtual ~FolderSystem() = default;
    virtual FolderFacts Inspect(const std::wstring& path) = 0;
    // Creates one folder with the protected access list; false when it cannot (it exists, say).
    virtual bool CreateProtected(const std::wstring& path) = 0;
    // Whether the folder holds a download that can be resumed (a task file, "*.xml").
    virtual bool HoldsResumableDownload(const std::wstring& folder) = 0;
    // The SIDs that may own and write a work folder.
    virtual std::vector<std::string> TrustedSids() = 0;
    // Eight characters no one can guess in advance.
    virtual std::wstring RandomSuffix() = 0;
};

struct WorkFolderChoice {
    std::wstring folder;              // empty when no protected folder could be had
    std::vector<std::string> notes;   // log lines (each begins with a blank)
};

// The work folder of a run. preferred: "<root>VUDezivazaru\<base name>" on the drive chosen by
// Compute; otherRoots: the roots of the other drives a work folder may be on ("D:\"), where an
// earlier run may have left a download to resume (the best drive changes as a download fills
// it). An earlier protected work folder with a task file is used first (the preferred drive's,
// then the others' in order); otherwise the preferred one, made or checked as described above.
WorkFolderChoice ChooseWorkFolder(const std::wstring& preferred, const std::vector<std::wstring>& otherRoots,
                                  FolderSystem& system);

// The real system: Windows' security descriptors, reparse points and folder creation.
FolderSystem& WindowsFolderSystem();

// Drops the drives whose file system keeps no access lists (FAT, exFAT): no folder there can be
// protected, so a work folder is never put on one.
void KeepDrivesWithAccessLists(std::vector<FuntionImpl::DriveFacts>& drives);

}  // namespace RunFolders
