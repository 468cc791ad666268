// The log archive upload of the maintenance runs, against the local services: what goes into the
// archive and under which names, the form fields of the request, what is removed after the
// service accepted it and what stays when it did not, and the names that are refused.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "base/TextCodec.h"
#include "deployment_values.h"
#include "logupload/CZipWriter.h"
#include "logupload/LogArchiveUpload.h"
#include "support/local_services.h"
#include "support/log_capture.h"
#include "support/test_support.h"
#include "support/zip_reader.h"

namespace {

using test_support::FilesIn;
using test_support::ReadFile;
using test_support::WriteText;

const char kLogName[] = "Setup_20251208093000123.log";
const wchar_t kLogNameW[] = L"Setup_20251208093000123.log";

std::string UploadUrl() { return LocalServices::BaseUrl(true) + "/v1/productLogUpload"; }

LogUploadTarget Target() {
    LogUploadTarget target;
    target.url = UploadUrl();
    target.productId = LogUpload::kProductId;
    target.version = "3.1.4.1";
    target.limits.connectTimeoutSeconds = 10;
    target.limits.stallSeconds = 20;
    return target;
}

// One recorded upload, its form parts by name and the archive it carried.
struct Upload {
    Json::Value request;
    std::map<std::string, Json::Value> parts;
    zip_reader::Entries entries;
};

// The uploads the services recorded since the last reset, with their archives unpacked.
std::vector<Upload> Uploads(const std::wstring& scratch) {
    std::vector<Upload> uploads;
    for (const Json::Value& r : LocalServices::Requests("/v1/productLogUpload")) {
        Upload u;
        u.request = r;
        for (const Json::Value& part : r["form"]) u.parts[part["name"].asString()] = part;
        std::wstring zip = scratch + L"\\received" + std::to_wstring(uploads.size()) + L".zip";
        WriteText(zip, zip_reader::Base64Decode(u.parts["file"]["content_base64"].asString()));
        EXPECT_TRUE(zip_reader::ReadEntries(zip, u.entries)) << "the uploaded archive does not read back";
        DeleteFileW(zip.c_str());
        uploads.push_back(u);
    }
    return uploads;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string Content(const zip_reader::Entries& entries, const std::string& name) {
    for (const auto& e : entries)
        if (e.first == name) return e.second;
    return "<missing>";
}

class LogUploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalServices::Available());
        ASSERT_TRUE(LocalServices::Reset());
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    // A file of the log folder with the given content.
    void Put(const std::wstring& name, const std::string& content) { WriteText(folder_ + L"\\" + name, content); }
    std::vector<std::wstring> Left() const {
        auto names = FilesIn(folder_);
        std::sort(names.begin(), names.end());
        return names;
    }

    test_support::TempDir dir_;
    test_support::TempDir scratch_;
    std::wstring folder_ = dir_.File(L"logs");
};

}  // namespace

TEST_F(LogUploadTest, CrashRunSendsTheLogCopyAndItsDumpWithTheFormFields) {
    Put(kLogNameW, "first line\nsecond line\n");
    Put(std::wstring(kLogNameW) + L".dmp", std::string("MDMP\0\0dump bytes", 16));
    Put(L"Setup_20251201000000000.log.dmp", "an older dump");
    Put(L"notes.txt", "not sent");

    ASSERT_EQ(UploadLogArchive(folder_, kLogNameW, "CrashDmp", L"", true, Target()), 0);

    std::vector<Upload> uploads = Uploads(scratch_.path());
    ASSERT_EQ(uploads.size(), 1u);
    Upload& u = uploads[0];
    EXPECT_EQ(zip_reader::Names(u.entries), (std::vector<std::string>{kLogName, std::string(kLogName) + ".dmp"}));
    EXPECT_EQ(Content(u.entries, kLogName), "first line\nsecond line\n");
    EXPECT_EQ(Content(u.entries, std::string(kLogName) + ".dmp"), std::string("MDMP\0\0dump bytes", 16));

    EXPECT_TRUE(std::regex_match(u.parts["file"]["filename"].asString(), std::regex("Setup_[0-9]{17}\\.zip")))
        << u.parts["file"]["filename"].asString();
    EXPECT_EQ(u.parts["product_id"]["value"].asString(), "DAZurezuvi2900");
    EXPECT_EQ(u.parts["version"]["value"].asString(), "3.1.4.1");
    EXPECT_EQ(u.parts["catalogue"]["value"].asString(), "CrashDmp");
    EXPECT_EQ(u.parts.size(), 4u);
    EXPECT_EQ(u.request["method"].asString(), "POST");
    EXPECT_EQ(u.request["listener"].asString(), "https");
    EXPECT_EQ(u.request["headers"]["Accept"].asString(), "*/*");
    EXPECT_EQ(u.request["headers"]["Content-Type"].asString().rfind("multipart/form-data; boundary=", 0), 0u)
        << u.request["headers"]["Content-Type"].asString();

    // Accepted: the archive and the copy are gone; the log and the dumps stay.
    EXPECT_EQ(Left(), (std::vector<std::wstring>{L"Setup_20251201000000000.log.dmp", kLogNameW,
                                                 std::wstring(kLogNameW) + L".dmp", L"notes.txt"}));
}

TEST_F(LogUploadTest, CrashRunWithoutItsOwnDumpSendsEveryDumpOfTheFolder) {
    Put(kLogNameW, "log");
    Put(L"a.dmp", "dump a");
    Put(L"B.DMP", "dump b");
    Put(L"c.dmpx", "not a dump");
    CreateDirectoryW((folder_ + L"\\folder.dmp").c_str(), nullptr);

    ASSERT_EQ(UploadLogArchive(folder_, kLogNameW, "CrashDmp", L"", true, Target()), 0);

    std::vector<Upload> uploads = Uploads(scratch_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].entries.front().first, kLogName);
    EXPECT_EQ(Sorted(zip_reader::Names(uploads[0].entries)), (std::vector<std::string>{"B.DMP", kLogName, "a.dmp"}));
    EXPECT_EQ(Content(uploads[0].entries, "B.DMP"), "dump b");
}

TEST_F(LogUploadTest, CloseRunNeverPacksADump) {
    Put(kLogNameW, "closing");
    Put(std::wstring(kLogNameW) + L".dmp", "dump");
    Put(L"other.dmp", "dump");

    ASSERT_EQ(UploadLogArchive(folder_, kLogNameW, "close05", L"", false, Target()), 0);

    std::vector<Upload> uploads = Uploads(scratch_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(zip_reader::Names(uploads[0].entries), (std::vector<std::string>{kLogName}));
    EXPECT_EQ(uploads[0].parts["catalogue"]["value"].asString(), "close05");
}

TEST_F(LogUploadTest, CatalogueAndRemoteNameRules) {
    struct Case {
        const wchar_t* name;
        std::string catalogue;
        std::string sentCatalogue;
        const char* remoteName;  // pattern
    };
    const Case cases[] = {
        {L"Setup_20251208.log", "close03", "close03", "Setup_[0-9]{17}\\.zip"},
        {L"Setup.log", "CrashDmp", "CrashDmp", "NoName_[0-9]{17}\\.zip"},
        {L"My_Setup_x_1.log", "", "default", "My_Setup_x_[0-9]{17}\\.zip"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(LocalServices::Reset());
        Put(c.name, "text");
        ASSERT_EQ(UploadLogArchive(folder_, c.name, c.catalogue, L"", false, Target()), 0);
        std::vector<Upload> uploads = Uploads(scratch_.path());
        ASSERT_EQ(uploads.size(), 1u);
        EXPECT_EQ(uploads[0].parts["catalogue"]["value"].asString(), c.sentCatalogue);
        std::string remote = uploads[0].parts["file"]["filename"].asString();
        EXPECT_TRUE(std::regex_match(remote, std::regex(c.remoteName))) << remote;
    }
}

TEST_F(LogUploadTest, RefusedUploadKeepsTheArchiveAndTheCopy) {
    for (int status : {500, 201}) {
        ASSERT_TRUE(LocalServices::Reset());
        ASSERT_TRUE(LocalServices::AddFault("{\"path\":\"/v1/productLogUpload\",\"status\":" + std::to_string(status) + "}"));
        Put(kLogNameW, "kept");
        Put(std::wstring(kLogNameW) + L".dmp", "kept dump");

        ASSERT_EQ(UploadLogArchive(folder_, kLogNameW, "CrashDmp", L"", true, Target()), 0) << status;

        std::vector<std::wstring> left = Left();
        std::vector<std::wstring> zips;
        for (const auto& name : left)
            if (name.size() == 21 && name.compare(17, 4, L".zip") == 0) zips.push_back(name);
        ASSERT_EQ(zips.size(), 1u) << status;
        EXPECT_EQ(left.size(), 4u) << status;  // log, dump, copy, archive
        EXPECT_EQ(ReadFile(folder_ + L"\\" + kLogNameW + L"_copy.log"), "kept");
        zip_reader::Entries kept;
        ASSERT_TRUE(zip_reader::ReadEntries(folder_ + L"\\" + zips[0], kept));
        EXPECT_EQ(zip_reader::Names(kept), (std::vector<std::string>{kLogName, std::string(kLogName) + ".dmp"}));
        // The remote name carries the archive's own time stamp.
        std::vector<Upload> uploads = Uploads(scratch_.path());
        ASSERT_EQ(uploads.size(), 1u);
        std::string stamp(zips[0].begin(), zips[0].begin() + 17);
        EXPECT_EQ(uploads[0].parts["file"]["filename"].asString(), "Setup_" + stamp + ".zip");
        DeleteFileW((folder_ + L"\\" + zips[0]).c_str());
    }
}

TEST_F(LogUploadTest, ALogInUseForWritingIsStillCopied) {
    Put(kLogNameW, "written by a running setup\n");
    HANDLE writer = CreateFileW((folder_ + L"\\" + kLogNameW).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    int result = UploadLogArchive(folder_, kLogNameW, "close05", L"", false, Target());
    CloseHandle(writer);
    ASSERT_EQ(result, 0);
    std::vector<Upload> uploads = Uploads(scratch_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(Content(uploads[0].entries, kLogName), "written by a running setup\n");
}

TEST_F(LogUploadTest, MissingLogStillSendsTheDumps) {
    Put(std::wstring(kLogNameW) + L".dmp", "orphan dump");
    ASSERT_EQ(UploadLogArchive(folder_, kLogNameW, "CrashDmp", L"", true, Target()), 0);
    std::vector<Upload> uploads = Uploads(scratch_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(zip_reader::Names(uploads[0].entries), (std::vector<std::string>{std::string(kLogName) + ".dmp"}));
}

TEST_F(LogUploadTest, ExtraFileOnlyFromTheLogFolder) {
    Put(kLogNameW, "log");
    Put(L"Setup_Setup_20251208.log", "installer log");
    test_support::WriteText(scratch_.File(L"outside.txt"), "secret");
    struct Case {
        std::wstring extra;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {folder_ + L"\\Setup_Setup_20251208.log", {kLogName, "Setup_Setup_20251208.log"}},
        {scratch_.File(L"outside.txt"), {kLogName}},
        {folder_ + L"\\..\\logs\\Setup_Setup_20251208.log", {kLogName}},
        {folder_ + L"\\missing.log", {kLogName}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(LocalServices::Reset());
        ASSERT_EQ(UploadLogArchive(folder_, kLogNameW, "close05", c.extra, false, Target()), 0);
        std::vector<Upload> uploads = Uploads(scratch_.path());
        ASSERT_EQ(uploads.size(), 1u);
        EXPECT_EQ(zip_reader::Names(uploads[0].entries), c.entries) << TextCodec::WideToUtf8(c.extra);
    }
}

TEST_F(LogUploadTest, NamesOutsideTheLogFolderOrNotLogsAreRefused) {
    Put(L"a.dmp", "dump");
    Put(L"Setup_1.log", "log");
    Put(L"Setup_1.log.dmp", "dump");
    test_support::WriteText(dir_.File(L"Setup_2.log"), "a log one folder up");
    const wchar_t* names[] = {
        L"", L".", L"..", L"..\\Setup_2.log", L"../Setup_2.log", L"C:Setup_2.log", L"sub\\Setup_1.log",
        L"Setup_1.log.dmp", L"a.dmp", L"Setup_1.txt", L"*.log", L"Setup_?.log", L".log",
    };
    const std::vector<std::wstring> before = Left();
    for (const wchar_t* name : names) {
        LogCapture log;
        EXPECT_EQ(UploadLogArchive(folder_, name, "CrashDmp", L"", true, Target()), -1) << TextCodec::WideToUtf8(name);
        EXPECT_TRUE(log.contains(" Log archive refused: ")) << log.dump();
    }
    EXPECT_EQ(UploadLogArchive(dir_.File(L"absent"), kLogNameW, "CrashDmp", L"", true, Target()), -1);
    EXPECT_EQ(UploadLogArchive(L"", L"Setup_1.log", "CrashDmp", L"", true, Target()), -1);
    EXPECT_EQ(Left(), before);
    EXPECT_TRUE(LocalServices::Requests("/v1/productLogUpload").empty());
}

TEST_F(LogUploadTest, PathsTooLongAreSkippedNotCut) {
    // A log name that fits the folder but whose copy would not: the log entry is skipped (and
    // no shortened copy name is written); the dump of that name is still found by the search.
    std::wstring name = L"Setup_" + std::wstring(259 - folder_.size() - 1 - 6 - 4 - 5, L'x') + L".log";
    ASSERT_LE(folder_.size() + 1 + name.size(), 259u);
    ASSERT_GT(folder_.size() + 1 + name.size() + 9, 259u);
    Put(name, "log");
    Put(L"short.dmp", "dump");
    LogCapture log;
    ASSERT_EQ(UploadLogArchive(folder_, name, "CrashDmp", L"", true, Target()), 0);
    EXPECT_TRUE(log.contains(" Log archive: log skipped, path too long")) << log.dump();
    std::vector<Upload> uploads = Uploads(scratch_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(zip_reader::Names(uploads[0].entries), (std::vector<std::string>{"short.dmp"}));
    EXPECT_EQ(Left(), (std::vector<std::wstring>{name, L"short.dmp"}));
}

TEST(PostLogArchive, ResultCodes) {
    ASSERT_TRUE(LocalServices::Reset());
    test_support::TempDir dir;
    std::wstring archive = dir.File(L"20250101000000000.zip");
    {
        CZipWriter zip;
        ASSERT_TRUE(zip.Create(archive));
        ASSERT_TRUE(zip.Close());
    }
    const std::string path = TextCodec::WideToUtf8(archive);
    struct Case {
        std::string archive;
        std::string url;
        int result;
    };
    const Case cases[] = {
        {"a.zi", UploadUrl(), -1},
        {path, UploadUrl(), 0},
        {path, LocalServices::BaseUrl(false) + "/v1/productLogUpload", 0},
        {path, LocalServices::BaseUrl(true) + "/v1/elsewhere", -3},
        {path, "http://127.0.0.1:1/v1/productLogUpload", -3},
        {TextCodec::WideToUtf8(dir.File(L"missing.zip")), UploadUrl(), -3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PostLogArchive(c.archive, "r.zip", LogUpload::kProductId, "1.0.0.1", "", c.url), c.result)
            << c.archive << " " << c.url;
    // An empty catalogue leaves the field out; an empty remote name becomes the "NoName_" name.
    ASSERT_TRUE(LocalServices::Reset());
    ASSERT_EQ(PostLogArchive(path, "", LogUpload::kProductId, "1.0.0.1", "", UploadUrl()), 0);
    std::vector<Json::Value> requests = LocalServices::Requests("/v1/productLogUpload");
    ASSERT_EQ(requests.size(), 1u);
    std::set<std::string> names;
    for (const Json::Value& part : requests[0]["form"]) {
        names.insert(part["name"].asString());
        if (part["name"] == "file") {
            EXPECT_TRUE(std::regex_match(part["filename"].asString(), std::regex("NoName_[0-9]{17}\\.zip")))
                << part["filename"].asString();
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"file", "product_id", "version"}));
}

TEST(LogUploadNames, RemoteAndNoNameNames) {
    EXPECT_EQ(LogUpload::RemoteNameFor(L"Setup_20251208.log", L"20260102030405006"), "Setup_20260102030405006.zip");
    EXPECT_EQ(LogUpload::RemoteNameFor(L"a_b_c.log", L"1"), "a_b_1.zip");
    EXPECT_EQ(LogUpload::RemoteNameFor(L"Setup.log", L"1"), "");
    EXPECT_EQ(LogUpload::NoNameRemoteName("C:\\logs\\1.zip", L"7"), "NoName_7.zip");
    EXPECT_EQ(LogUpload::NoNameRemoteName("C:\\lo.gs\\archive", L"7"), "NoName_7.tmp");
}

TEST(LogUploadNames, DefaultTargetPointsAtTheDeploymentsService) {
    LogUploadTarget target = LogUpload::DefaultTarget();
    EXPECT_EQ(target.url, "https://" + TextCodec::WideToUtf8(Deployment::LOG_UPLOAD_HOST()) + "/v1/productLogUpload");
    EXPECT_EQ(target.productId, "DAZurezuvi2900");
    EXPECT_GT(target.limits.connectTimeoutSeconds, 0);
    EXPECT_GT(target.limits.stallSeconds, 0);
}
