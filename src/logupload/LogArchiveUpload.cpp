#include "logupload/LogArchiveUpload.h"

#include <windows.h>

#include <easylogging++.h>

#include <cstdio>
#include <vector>

#include "base/ProcessEnvironment.h"
#include "base/ScopedHandle.h"
#include "base/TextCodec.h"
#include "deployment_values.h"
#include "logupload/CZipWriter.h"
#include "platform/FuntionImpl.h"
#include "platform/LinkFreeFolders.h"
#include "platform/RunFolders.h"

namespace LogUpload {

namespace {

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
    size_t n = wcslen(suffix);
    return text.size() >= n && _wcsicmp(text.c_str() + text.size() - n, suffix) == 0;
}

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Fits(const std::wstring& path) { return path.size() <= kMaxPathChars; }

}  // namespace

std::string ServiceUrl() { return "https://" + TextCodec::WideToUtf8(Deployment::LOG_UPLOAD_HOST()) + "/v1/productLogUpload"; }

LogUploadTarget DefaultTarget() {
    LogUploadTarget target;
    target.url = ServiceUrl();
    target.productId = kProductId;
    target.version = FuntionImpl::GetFileVersionText(ProcessEnvironment::ModulePath());
    target.limits.connectTimeoutSeconds = 30;
    target.limits.stallSeconds = 60;
    return target;
}

bool IsUsableLogName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name)
        if (c < 32 || wcschr(L"\\/:*?\"<>|", c) != nullptr) return false;
    return EndsWithNoCase(name, L".log") && name.size() > 4;
}

std::string RemoteNameFor(const std::wstring& name, const std::wstring& stamp) {
    size_t underscore = name.rfind(L'_');
    if (underscore == std::wstring::npos) return std::string();
    return TextCodec::WideToAnsi(name.substr(0, underscore)) + "_" + TextCodec::WideToUtf8(stamp) + ".zip";
}

std::string NoNameRemoteName(const std::string& archivePath, const std::wstring& stamp) {
    size_t slash = archivePath.find_last_of("\\/");
    size_t dot = archivePath.rfind('.');
    bool haveExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return "NoName_" + TextCodec::WideToUtf8(stamp) + (haveExtension ? archivePath.substr(dot) : std::string(".tmp"));
}

bool CopyFileInUse(const std::wstring& source, const std::wstring& target) {
    ScopedHandle in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in) return false;
    ScopedHandle out(LinkFreeFolders::CreateFileAt(target, GENERIC_WRITE, 0, CREATE_ALWAYS));
    if (!out) return false;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
        if (read == 0) return true;
        if (!WriteFile(out.get(), buffer.data(), read, &written, nullptr) || written != read) return false;
    }
}

}  // namespace LogUpload

namespace {

// One entry to pack: the file on disk and its name in the archive.
struct Entry {
    std::wstring source;
    std::wstring name;
};

// Every "*.dmp" file of the folder (folder ends with a backslash), in the order the system lists them.
std::vector<Entry> DumpsIn(const std::wstring& folder) {
    std::vector<Entry> dumps;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*.dmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return dumps;
    do {
        std::wstring name = found.cFileName;
        // The pattern also matches through short names ("a.dmpx" as "A~1.DMP"): check the long one.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == L"." || name == L".." ||
            name.size() < 4 || _wcsicmp(name.c_str() + name.size() - 4, L".dmp") != 0)
            continue;
        std::wstring path = folder + name;
        if (path.size() > LogUpload::kMaxPathChars) {
            LOG(INFO) << " Log archive: dump skipped, path too long: " << TextCodec::WideToUtf8(name);
            continue;
        }
        dumps.push_back({path, name});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return dumps;
}

// The extra file, when it lies directly in the folder (which ends with a backslash).
bool ExtraEntry(const std::wstring& folder, const std::wstring& extraFile, Entry& entry) {
    size_t slash = extraFile.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return false;
    std::wstring parent = extraFile.substr(0, slash + 1);
    std::wstring name = extraFile.substr(slash + 1);
    if (_wcsicmp(parent.c_str(), folder.c_str()) != 0 || name.empty() || name == L"." || name == L"..") return false;
    entry = {extraFile, name};
    return true;
}

}  // namespace

int UploadLogArchive(const std::wstring& logFolder, const std::wstring& name, const std::string& catalogue,
                     const std::wstring& extraFile, bool wantDumps, const LogUploadTarget& target) {
    using namespace LogUpload;
    if (logFolder.empty()) {
        LOG(INFO) << " Log archive refused: no log folder";
        return -1;
    }
    if (!IsUsableLogName(name)) {
        LOG(INFO) << " Log archive refused: not a log file name: " << TextCodec::WideToUtf8(name);
        return -1;
    }
    const std::wstring folder = logFolder.back() == L'\\' ? logFolder : logFolder + L"\\";

    // 1. A copy, so that the log itself stays in use by whoever writes it.
    const std::wstring copyPath = folder + name + L"_copy.log";
    const bool copyFits = Fits(copyPath);
    if (!copyFits)
        LOG(INFO) << " Log archive: log skipped, path too long";
    else
        CopyFileInUse(folder + name, copyPath);

    // 2-3. One time stamp for the archive and its remote name.
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::wstring stamp = RunFolders::StartStampFor(now);
    const std::wstring archivePath = folder + stamp + L".zip";
    CZipWriter zip;
    // The archive is a new file of the log folder, never one reached through a link: made and
    // checked first, then written by the ZIP writer.
    bool made = Fits(archivePath) && ScopedHandle(LinkFreeFolders::CreateFileAt(archivePath, GENERIC_WRITE, 0, CREATE_NEW));
    if (!made || !zip.Create(archivePath)) {
        LOG(INFO) << " Log archive: cannot create " << TextCodec::WideToUtf8(archivePath);
        return -1;
    }

    // 4. The entries, in order.
    std::vector<Entry> entries;
    if (copyFits) entries.push_back({copyPath, name});
    if (wantDumps) {
        const std::wstring namedDump = folder + name + L".dmp";
        if (Fits(namedDump) && IsFile(namedDump)) {
            entries.push_back({namedDump, name + L".dmp"});
        } else {
            for (const Entry& dump : DumpsIn(folder)) entries.push_back(dump);
        }
    }
    if (!extraFile.empty()) {
        Entry extra;
        if (ExtraEntry(folder, extraFile, extra) && Fits(extra.source))
            entries.push_back(extra);
        else
            LOG(INFO) << " Log archive: extra file skipped, not in the log folder: " << TextCodec::WideToUtf8(extraFile);
    }
    bool damaged = false;
    for (const Entry& entry : entries) {
        if (zip.AddFile(entry.source, TextCodec::WideToUtf8(entry.name)) == CZipWriter::AddResult::WriteFailed) {
            damaged = true;
            break;
        }
    }
    if (!zip.Close() || damaged) {
        // A damaged archive is never sent as if it were whole.
        LOG(INFO) << " Log archive: writing failed, removed " << TextCodec::WideToUtf8(archivePath);
        DeleteFileW(archivePath.c_str());
        return -1;
    }

    // 5. Upload; what was accepted goes, what was not stays for a later look.
    if (IsFile(archivePath)) {
        int posted = PostLogArchive(TextCodec::WideToUtf8(archivePath), RemoteNameFor(name, stamp), target.productId,
                                    target.version, catalogue.empty() ? "default" : catalogue, target.url, target.limits);
        LOG(INFO) << " Log archive upload: " << posted;
        if (posted == 0) {
            DeleteFileW(archivePath.c_str());
            if (copyFits) DeleteFileW(copyPath.c_str());
        }
    }
    return 0;
}

int PostLogArchive(const std::string& archivePathUtf8, std::string remoteName, const std::string& productId,
                   const std::string& version, const std::string& catalogue, const std::string& url,
                   const MultipartLimits& limits) {
    if (archivePathUtf8.size() <= 4) return -1;
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        fputs("Failed to initialize cURL\n", stderr);
        return -2;
    }
    if (remoteName.empty()) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        remoteName = LogUpload::NoNameRemoteName(archivePathUtf8, RunFolders::StartStampFor(now));
    }
    std::vector<MultipartField> fields;
    MultipartField file;
    file.name = "file";
    file.filePath = TextCodec::Utf8ToWide(archivePathUtf8);
    file.fileName = remoteName;
    fields.push_back(file);
    fields.push_back({"product_id", productId, L"", ""});
    fields.push_back({"version", version, L"", ""});
    if (!catalogue.empty()) fields.push_back({"catalogue", catalogue, L"", ""});

    long status = 0;
    std::string reply;
    CURLcode result = PostMultipartForm(handle, url, fields, {"content-type:multipart/form-data", "Accept:*/*"}, limits,
                                        status, reply);
    curl_easy_cleanup(handle);
    printf("Response from server:\n%s\n", reply.c_str());
    fflush(stdout);
    return result == CURLE_OK && status == 200 ? 0 : -3;
}
