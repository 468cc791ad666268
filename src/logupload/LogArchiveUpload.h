#pragma once
// The log archive upload of the maintenance runs ("-dmp " after a crash, "-close" after certain
// closes): the run's log is copied, the copy (and, after a crash, the dumps) are packed into a
// ZIP archive in the log folder, and the archive is posted as a multipart form to the log-upload
// service. What the service accepted is removed; after a failed upload the archive and the copy
// stay in the log folder.
//
// Only files inside the log folder are ever packed, sent or removed: the log file name comes
// from the command line, so it must be a plain ".log" file name.
#include <string>

#include "net/MultipartPost.h"

struct LogUploadTarget {
    std::string url;        // the log-upload service, path included
    std::string productId;  // form field "product_id"
    std::string version;    // form field "version": file version of the running executable
    MultipartLimits limits;
};

namespace LogUpload {

constexpr char kProductId[] = "DAZurezuvi2900";
// Room for every path built here (MAX_PATH without terminator): a longer one is skipped, never cut.
constexpr size_t kMaxPathChars = 259;

// "https://" + the deployment's log-upload host + "/v1/productLogUpload".
std::string ServiceUrl();
// The service, the product id, this executable's file version, and limits that keep a dead
// service from holding the maintenance process forever (30 s to connect, 60 s without progress).
LogUploadTarget DefaultTarget();

// A plain file name (no folder, drive or wildcard, not "." or "..") ending in ".log".
bool IsUsableLogName(const std::wstring& name);
// Remote file name: the text before the name's last "_" (in the ANSI code page), "_", the stamp
// and ".zip"; empty when the name has no "_" (the upload then names it "NoName_...").
std::string RemoteNameFor(const std::wstring& name, const std::wstring& stamp);
// "NoName_" + stamp + the archive file name's extension from its last "." (".tmp" without one).
std::string NoNameRemoteName(const std::string& archivePath, const std::wstring& stamp);
// Copies a file that may be open elsewhere (also for writing), replacing the target. False
// when the source cannot be opened or the copy cannot be written.
bool CopyFileInUse(const std::wstring& source, const std::wstring& target);

}  // namespace LogUpload

// Packs and posts the log `name` of the log folder. Entries: the copy of the log as `name`; with
// wantDumps, `name`.dmp, or every "*.dmp" of the folder when that one does not exist; the extra
// file when it is given, exists and lies in the log folder. 0 when the archive was created
// (whatever the upload did), -1 when it was not (unusable folder or name, the archive could not
// be created or written; a damaged archive is removed).
int UploadLogArchive(const std::wstring& logFolder, const std::wstring& name, const std::string& catalogue,
                     const std::wstring& extraFile, bool wantDumps, const LogUploadTarget& target);

// Posts the archive as the form field "file" under remoteName (or the "NoName_" name when that is
// empty) with "product_id", "version" and, when not empty, "catalogue". 0 accepted (status 200);
// -1 archive path of 4 characters or fewer; -2 no transfer handle; -3 transfer error or another
// status.
int PostLogArchive(const std::string& archivePathUtf8, std::string remoteName, const std::string& productId,
                   const std::string& version, const std::string& catalogue, const std::string& url,
                   const MultipartLimits& limits = MultipartLimits());
