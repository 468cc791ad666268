// The supervised download against the local services: complete and resumed downloads, a file
// that changed on the server, the supervisor's limits (network, no progress, CDN failures,
// short main download), the MD5 check, and reliability under broken connections, a killed
// process and a package beyond 4 GiB.
#include "support/local_services.h"
#include "support/services_environment.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <tlhelp32.h>

#include "download/CDownloadTaskManager.h"
#include "download/CDownloader.h"
#include "download/DownLoadImpl.h"
#include "base/DownloadSettings.h"
#include "support/download_test_support.h"
#include "support/log_capture.h"
#include "support/test_support.h"

using namespace dltest;

namespace {

const int64_t kPackage = 9 * 1048576 + 3;   // two segments
const int64_t kBig = 64 * 1048576;
const int64_t kFiveGiB = int64_t(5) << 30;
const int64_t kSlice = 4194304;

class Environment : public ServicesEnvironment {
protected:
    void Prepare() override {
        ASSERT_TRUE(Serve("pkg.exe", kPackage));
        ASSERT_TRUE(Serve("small.exe", 100000));
        ASSERT_TRUE(Serve("big.bin", kBig));
        ASSERT_TRUE(Serve("kill.exe", 24 * 1048576));
        // 5 GiB, sparse but for the bytes of its last two segments.
        ASSERT_TRUE(WriteAt(ServedPath("five.exe"), kFiveGiB - 2 * kSlice, SourceBytes(kFiveGiB - 2 * kSlice, 2 * kSlice),
                            kFiveGiB));
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

std::string Md5Of(const std::wstring& path) { return CDownLoadImpl::FileMd5(path); }

std::vector<Json::Value> Gets(const std::string& path) {
    std::vector<Json::Value> out;
    for (const auto& r : LocalServices::Requests(path))
        if (r["method"].asString() == "GET") out.push_back(r);
    return out;
}

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        LocalServices::Reset();
        limits_ = CDownLoadImpl::GetLimits();
    }
    void TearDown() override {
        CDownLoadImpl::SetLimits(limits_);
        CDownLoadImpl::SetProgressCallback(nullptr);
    }
    void ShortenNoProgress(DWORD ms) {
        CDownLoadImpl::Limits l = limits_;
        l.noProgressMs = ms;
        CDownLoadImpl::SetLimits(l);
    }
    int Run(const std::string& url, const std::wstring& local, bool main = true) {
        std::string cdn;
        return CDownLoadImpl::SuperDownloadFile(Wide(url), local, cdn, main);
    }
    // Attempts as the install worker makes them: up to 12, each resuming the last.
    int RunAttempts(const std::string& url, const std::wstring& local, int* used = nullptr) {
        int result = 0;
        for (int i = 1; i <= 12; ++i) {
            result = Run(url, local);
            if (used) *used = i;
            if (result == 1) break;
        }
        return result;
    }
    std::wstring Out(const wchar_t* name) { return dir_.File(name); }

    test_support::TempDir dir_;
    SettingsGuard settings_;
    CDownLoadImpl::Limits limits_;
};

TEST_F(Download, CompletesAndAFinishedFileStopsAtOnce) {
    std::mutex lock;
    std::vector<std::pair<int64_t, int64_t>> progress;
    CDownLoadImpl::SetProgressCallback([&](int64_t done, int64_t total, int32_t) {
        std::lock_guard<std::mutex> l(lock);
        progress.emplace_back(done, total);
        return 0;
    });
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe");
    {
        LogCapture log;
        Reports reports;
        ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
        EXPECT_TRUE(log.contains(" Average speed: "));
        EXPECT_TRUE(log.contains(" Download speed range "));
        EXPECT_EQ(reports.count("funnel|Download|SliceDownloading|"), 1);
    }
    EXPECT_EQ(Md5Of(Out(L"pkg.exe")), Md5Of(ServedPath("pkg.exe")));
    EXPECT_EQ(FileSize(Out(L"pkg.exe")), kPackage);
    const std::string taskFile = test_support::ReadFile(Out(L"pkg.exe.xml"));
    EXPECT_EQ(std::count(taskFile.begin(), taskFile.end(), '\n'), 5 + 2 * 10);
    EXPECT_EQ(taskFile.find("<TaskStatus>0"), std::string::npos);
    {
        std::lock_guard<std::mutex> l(lock);
        ASSERT_FALSE(progress.empty());
        for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i].first, progress[i - 1].first);
        EXPECT_EQ(progress.back().second, kPackage);
        progress.clear();
    }

    // Everything was complete at load time: no segment is requested and the window sees 100 %.
    LocalServices::Reset();
    LogCapture again;
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    EXPECT_TRUE(Gets("/download/pkg.exe").empty());
    EXPECT_FALSE(again.contains(" Average speed: "));
    std::lock_guard<std::mutex> l(lock);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(kPackage, kPackage));
}

TEST_F(Download, ResumesAHalfDoneTaskFileAndRepairsNothingElse) {
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe");
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    {
        // The second segment stopped 1000 bytes in; what follows in the file is not yet there.
        CDownloadTaskManager m(url, Narrow(Out(L"pkg.exe")), Narrow(Out(L"pkg.exe.xml")));
        ASSERT_TRUE(m.loadTaskFromFile(0));
        m.allTasks()[1]->DownloadedPos = kSlice + 1000;
        m.allTasks()[1]->TaskStatus = 2;
        m.saveTaskToFile();
        ASSERT_TRUE(WriteAt(Out(L"pkg.exe"), kSlice + 1000, std::vector<char>(100000, 0), -1, false));
    }
    LocalServices::Reset();
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    EXPECT_EQ(Md5Of(Out(L"pkg.exe")), Md5Of(ServedPath("pkg.exe")));
    auto gets = Gets("/download/pkg.exe");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0]["headers"]["Range"].asString(),
              "bytes=" + std::to_string(kSlice + 1000) + "-" + std::to_string(kPackage));
}

// An attempt that ends before it has running tasks (the size probe fails, the probe meets a
// redirect loop, the package cannot be opened) leaves the task file and the package exactly as
// it found them; the next, healthy attempt fetches only what was missing.
TEST_F(Download, StartFailuresLeaveTheResumeForTheNextAttempt) {
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe");
    struct Case {
        const char* name;
        const char* fault;   // rule for the probe, or ""
        const wchar_t* held; // a file another program holds open without sharing, or null
        int result;
    } cases[] = {
        {"size probe fails", R"({"path":"/download/pkg.exe","method":"HEAD","status":503})", nullptr, 6},
        {"redirect loop", R"({"path":"/download/pkg.exe","method":"HEAD","redirect_loop":true})", nullptr, 13},
        {"package cannot be opened", "", L"pkg.exe", 7},
        // A task file that is busy is not damaged: neither it nor the package is discarded.
        {"task file held by another program", "", L"pkg.exe.xml", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalServices::Reset();
        DeleteFileW(Out(L"pkg.exe.xml").c_str());
        ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
        {
            // The second segment stopped 1000 bytes in.
            CDownloadTaskManager m(url, Narrow(Out(L"pkg.exe")), Narrow(Out(L"pkg.exe.xml")));
            ASSERT_TRUE(m.loadTaskFromFile(0));
            m.allTasks()[1]->DownloadedPos = kSlice + 1000;
            m.allTasks()[1]->TaskStatus = 2;
            m.saveTaskToFile();
            ASSERT_TRUE(WriteAt(Out(L"pkg.exe"), kSlice + 1000, std::vector<char>(100000, 0), -1, false));
        }
        const std::string taskFile = test_support::ReadFile(Out(L"pkg.exe.xml"));
        const std::string package = test_support::ReadFile(Out(L"pkg.exe"));
        if (*c.fault) {
            ASSERT_TRUE(LocalServices::AddFault(c.fault));
        }
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.held) {
            held = CreateFileW(Out(c.held).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        EXPECT_EQ(Run(url, Out(L"pkg.exe")), c.result);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(test_support::ReadFile(Out(L"pkg.exe.xml")), taskFile);
        EXPECT_TRUE(test_support::ReadFile(Out(L"pkg.exe")) == package);

        LocalServices::Reset();
        ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
        EXPECT_EQ(Md5Of(Out(L"pkg.exe")), Md5Of(ServedPath("pkg.exe")));
        auto gets = Gets("/download/pkg.exe");
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_EQ(gets[0]["headers"]["Range"].asString(),
                  "bytes=" + std::to_string(kSlice + 1000) + "-" + std::to_string(kPackage));
    }
}

// The task file names an address that no longer works (an expired signed link, or the
// configuration now names another address for the same file): the resumed segments are asked
// of the address this attempt was given and probed.
TEST_F(Download, ResumedSegmentsUseTheAddressJustProbed) {
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe");
    const std::string expired = LocalServices::DownloadUrl(false, "pkg-expired.exe") + "?sig=old";
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    {
        CDownloadTaskManager m(url, Narrow(Out(L"pkg.exe")), Narrow(Out(L"pkg.exe.xml")));
        ASSERT_TRUE(m.loadTaskFromFile(0));
        for (const auto& t : m.allTasks()) t->RemotePath = expired;
        m.allTasks()[1]->DownloadedPos = kSlice + 1000;
        m.allTasks()[1]->TaskStatus = 2;
        m.saveTaskToFile();
        ASSERT_TRUE(WriteAt(Out(L"pkg.exe"), kSlice + 1000, std::vector<char>(100000, 0), -1, false));
    }
    LocalServices::Reset();
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    EXPECT_EQ(Md5Of(Out(L"pkg.exe")), Md5Of(ServedPath("pkg.exe")));
    EXPECT_TRUE(LocalServices::Requests("/download/pkg-expired.exe").empty());
    ASSERT_EQ(Gets("/download/pkg.exe").size(), 1u);
    // The task file now names the address that works.
    const std::string taskFile = test_support::ReadFile(Out(L"pkg.exe.xml"));
    EXPECT_EQ(taskFile.find("pkg-expired"), std::string::npos);
}

// A package left over from another download (no task file) and longer than the new content:
// a fresh download cuts it to the new length, so none of its stale bytes remain.
TEST_F(Download, FreshDownloadCutsALongerLeftoverPackage) {
    ASSERT_TRUE(WriteAt(Out(L"long.exe"), 0, std::vector<char>(100000, 'L'), 3 * kPackage));
    ASSERT_EQ(Run(LocalServices::DownloadUrl(false, "pkg.exe"), Out(L"long.exe")), 1);
    EXPECT_EQ(FileSize(Out(L"long.exe")), kPackage);
    EXPECT_EQ(Md5Of(Out(L"long.exe")), Md5Of(ServedPath("pkg.exe")));
}

// The file was replaced on the server by another of the same size between two attempts: its
// validator (entity tag) tells, and the download starts afresh instead of mixing the bytes of
// both files.
TEST_F(Download, SameSizeChangeOnTheServerStartsAfresh) {
    const std::string url = LocalServices::DownloadUrl(false, "same.exe");
    ASSERT_TRUE(Serve("same.exe", kPackage));
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/same.exe","headers":{"ETag":"\"v1\""}})"));
    ASSERT_EQ(Run(url, Out(L"same.exe")), 1);
    const std::string first = test_support::ReadFile(Out(L"same.exe.xml"));
    EXPECT_NE(first.find("<Validator>"), std::string::npos) << first;
    EXPECT_NE(first.find("v1"), std::string::npos) << first;
    {
        CDownloadTaskManager m(url, Narrow(Out(L"same.exe")), Narrow(Out(L"same.exe.xml")));
        ASSERT_TRUE(m.loadTaskFromFile(0));
        m.allTasks()[1]->DownloadedPos = kSlice + 1000;
        m.allTasks()[1]->TaskStatus = 2;
        m.saveTaskToFile();
    }
    // Other bytes, the same size, another entity tag.
    ASSERT_TRUE(WriteAt(ServedPath("same.exe"), 0, SourceBytes(777, size_t(kPackage)), kPackage));
    LocalServices::Reset();
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/same.exe","headers":{"ETag":"\"v2\""}})"));
    Reports reports;
    ASSERT_EQ(Run(url, Out(L"same.exe")), 1);
    EXPECT_EQ(reports.count("flow|Other|FlowError|DL025"), 1);
    EXPECT_EQ(Md5Of(Out(L"same.exe")), Md5Of(ServedPath("same.exe")));
    // Every segment request carried the validator of the file it belongs to.
    for (const auto& g : Gets("/download/same.exe")) EXPECT_EQ(g["headers"]["If-Range"].asString(), "\"v2\"");
}

TEST_F(Download, FileThatChangedOnTheServerStartsAfresh) {
    const std::string url = LocalServices::DownloadUrl(false, "changing.exe");
    ASSERT_TRUE(Serve("changing.exe", kPackage));
    ASSERT_EQ(Run(url, Out(L"changing.exe")), 1);
    ASSERT_TRUE(Serve("changing.exe", kPackage + 5000));
    Reports reports;
    ASSERT_EQ(Run(url, Out(L"changing.exe")), 1);
    EXPECT_EQ(reports.count("flow|Other|FlowError|DL025"), 1);
    EXPECT_EQ(FileSize(Out(L"changing.exe")), kPackage + 5000);
    EXPECT_EQ(Md5Of(Out(L"changing.exe")), Md5Of(ServedPath("changing.exe")));
}

// A resume from an address that names no validator (another mirror, or the same one without
// its entity tag) compares the size, and Last-Modified where both sides name one: the same
// bytes are resumed, not refused (a correct server answers an If-Range it cannot match with the
// whole file) and not discarded. Only a validator of the same kind that differs starts afresh.
TEST_F(Download, ResumeComparesOnlyValidatorsBothSidesName) {
    const std::string url = LocalServices::DownloadUrl(false, "mirror.exe");
    ASSERT_TRUE(Serve("mirror.exe", kPackage));
    const char* kFirst =
        R"({"path":"/download/mirror.exe","headers":{"ETag":"\"v1\"","Last-Modified":"Tue, 01 Dec 2026 10:00:00 GMT"}})";
    struct Case {
        const char* name;
        const char* secondHost;  // rule of the address resumed from, or ""
        const char* ifRange;     // what the resumed requests send as If-Range, "" = none
        bool discarded;
    } cases[] = {
        {"no validator", "", "", false},
        {"the same entity tag", R"({"path":"/download/mirror.exe","headers":{"ETag":"\"v1\""}})", "\"v1\"", false},
        {"only the same date",
         R"({"path":"/download/mirror.exe","headers":{"Last-Modified":"Tue, 01 Dec 2026 10:00:00 GMT"}})",
         "Tue, 01 Dec 2026 10:00:00 GMT", false},
        {"only another date",
         R"({"path":"/download/mirror.exe","headers":{"Last-Modified":"Wed, 02 Dec 2026 10:00:00 GMT"}})",
         "Wed, 02 Dec 2026 10:00:00 GMT", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalServices::Reset();
        DeleteFileW(Out(L"mirror.exe").c_str());
        DeleteFileW(Out(L"mirror.exe.xml").c_str());
        ASSERT_TRUE(LocalServices::AddFault(kFirst));
        ASSERT_EQ(Run(url, Out(L"mirror.exe")), 1);
        {
            // Stopped with the second segment 1000 bytes in.
            CDownloadTaskManager m(url, Narrow(Out(L"mirror.exe")), Narrow(Out(L"mirror.exe.xml")));
            ASSERT_TRUE(m.loadTaskFromFile(0));
            m.allTasks()[1]->DownloadedPos = kSlice + 1000;
            m.allTasks()[1]->TaskStatus = 2;
            m.saveTaskToFile();
            ASSERT_TRUE(WriteAt(Out(L"mirror.exe"), kSlice + 1000, std::vector<char>(100000, 0), -1, false));
        }
        LocalServices::Reset();
        if (*c.secondHost) {
            ASSERT_TRUE(LocalServices::AddFault(c.secondHost));
        }
        ShortenNoProgress(3000);
        Reports reports;
        ASSERT_EQ(Run(url, Out(L"mirror.exe")), 1);
        EXPECT_EQ(Md5Of(Out(L"mirror.exe")), Md5Of(ServedPath("mirror.exe")));
        EXPECT_EQ(reports.count("flow|Other|FlowError|DL025"), c.discarded ? 1 : 0);
        const auto gets = Gets("/download/mirror.exe");
        if (c.discarded) {
            EXPECT_EQ(gets.size(), 2u);
        } else {
            ASSERT_EQ(gets.size(), 1u);
            EXPECT_EQ(gets[0]["headers"]["Range"].asString(),
                      "bytes=" + std::to_string(kSlice + 1000) + "-" + std::to_string(kPackage));
        }
        for (const auto& g : gets) EXPECT_EQ(g["headers"]["If-Range"].asString(), c.ifRange);
        // An address without a validator does not erase what the file was known by.
        if (!c.discarded) {
            const std::string taskFile = test_support::ReadFile(Out(L"mirror.exe.xml"));
            EXPECT_NE(taskFile.find("<Validator>\"v1\"</Validator>"), std::string::npos) << taskFile;
        }
    }
}

// A new attempt for a file this process downloaded before asks its size again: the length
// learnt then may be stale (the file was replaced since), and segments cut to it would be
// refused by every reply.
TEST_F(Download, NewAttemptDoesNotTrustALengthLearntBefore) {
    const std::string url = LocalServices::DownloadUrl(false, "grown.exe");
    ASSERT_TRUE(Serve("grown.exe", kPackage));
    ASSERT_EQ(Run(url, Out(L"grown.exe")), 1);
    ASSERT_TRUE(Serve("grown.exe", kPackage + 5000));
    // As after a package that failed its check: no package, no task file.
    DeleteFileW(Out(L"grown.exe").c_str());
    DeleteFileW(Out(L"grown.exe.xml").c_str());
    LocalServices::Reset();
    ShortenNoProgress(3000);
    ASSERT_EQ(Run(url, Out(L"grown.exe")), 1);
    EXPECT_EQ(FileSize(Out(L"grown.exe")), kPackage + 5000);
    EXPECT_EQ(Md5Of(Out(L"grown.exe")), Md5Of(ServedPath("grown.exe")));
}

// Replies shorter than their range: a server that takes bytes=a-b as excluding b, and a reply
// that names the whole range but whose body ends, cleanly, a byte early. A segment counts as
// complete only with its last byte on disk: the rest is asked again and the package is right.
TEST_F(Download, ShortRepliesNeverCompleteASegment) {
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe");
    struct Case {
        const char* name;
        const char* fault;
    } cases[] = {
        {"range taken as excluding its end", R"({"path":"/download/pkg.exe","method":"GET","short_range":1})"},
        {"body ends a byte early", R"({"path":"/download/pkg.exe","method":"GET","short_body":true})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalServices::Reset();
        DeleteFileW(Out(L"pkg.exe").c_str());
        DeleteFileW(Out(L"pkg.exe.xml").c_str());
        ASSERT_TRUE(LocalServices::AddFault(c.fault));
        ShortenNoProgress(5000);
        const int result = Run(url, Out(L"pkg.exe"));
        const std::string md5 = Md5Of(Out(L"pkg.exe"));
        // Never done with a wrong package; and with the rest asked again, done and right.
        if (result == 1) {
            EXPECT_EQ(md5, Md5Of(ServedPath("pkg.exe")));
        }
        EXPECT_EQ(result, 1);
        EXPECT_EQ(FileSize(Out(L"pkg.exe")), kPackage);
        // The first segment's last byte was asked for on its own.
        bool lastByteAsked = false;
        for (const auto& g : Gets("/download/pkg.exe"))
            lastByteAsked = lastByteAsked || g["headers"]["Range"].asString() ==
                                                 "bytes=" + std::to_string(kSlice - 1) + "-" + std::to_string(kSlice - 1);
        EXPECT_TRUE(lastByteAsked);
        const std::string taskFile = test_support::ReadFile(Out(L"pkg.exe.xml"));
        EXPECT_EQ(taskFile.find("<TaskStatus>2"), std::string::npos) << taskFile;
    }
}

TEST_F(Download, SupervisorLimits) {
    GetDownloadSettings().Slice_num = 2;
    GetDownloadSettings().TransferTimeout = 3;
    ShortenNoProgress(2000);
    const std::string base = LocalServices::DownloadUrl(false, "pkg.exe");
    struct Case {
        const char* name;
        const char* fault;
        std::string url;
        int result;
        const char* logText;
    } cases[] = {
        // Every segment request fails at once: on a CDN address the failures end the attempt,
        // elsewhere only the lack of progress does.
        {"failures on //dl.", R"({"path":"/download/pkg.exe","method":"GET","status":500})", base + "?via=//dl.mirror", 11,
         " > 3 * 2"},
        {"failures on //cdn.", R"({"path":"/download/pkg.exe","method":"GET","status":500})", base + "?via=//cdn.mirror",
         11, " ---cdn fail:"},
        {"failures elsewhere", R"({"path":"/download/pkg.exe","method":"GET","status":500})", base + "?via=mirror", 10,
         "too long no speed:"},
        // An installer answered with 200 instead of 206 is refused before any byte is written.
        {"200 for a ranged installer", R"({"path":"/download/pkg.exe","method":"GET","ignore_range":true})", base, 10,
         " HeaderCallback error0: http_code is 200"},
        // Connections that stay open without sending a byte.
        {"stalled", R"({"path":"/download/pkg.exe","method":"GET","stall_ms":8000})", base + "?stall", 10,
         "too long no speed:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalServices::Reset();
        ASSERT_TRUE(LocalServices::AddFault(c.fault));
        DeleteFileW(Out(L"pkg.exe").c_str());
        DeleteFileW(Out(L"pkg.exe.xml").c_str());
        // The CDN limit needs seven failed requests, which the pauses between retries spread
        // over about two seconds: on a busy machine the no-progress limit must not come first.
        ShortenNoProgress(c.result == 11 ? 8000 : 2000);
        LogCapture log;
        EXPECT_EQ(Run(c.url, Out(L"pkg.exe")), c.result);
        EXPECT_TRUE(log.contains(c.logText)) << log.dump().substr(0, 3000);
        const size_t gets = Gets("/download/pkg.exe").size();
        if (c.result == 11) {
            EXPECT_GE(gets, 7u);
        } else {
            EXPECT_GE(gets, 2u);
        }
        // The next attempt, with the server well again, finishes the same file.
        LocalServices::Reset();
        EXPECT_EQ(Run(c.url, Out(L"pkg.exe")), 1);
        EXPECT_EQ(Md5Of(Out(L"pkg.exe")), Md5Of(ServedPath("pkg.exe")));
    }
}

TEST_F(Download, NetworkDownAndSmallMainDownloads) {
    CDownLoadImpl::Limits l = limits_;
    l.networkAlive = [] { return false; };
    l.networkDownPauseMs = 0;
    CDownLoadImpl::SetLimits(l);
    EXPECT_EQ(Run(LocalServices::DownloadUrl(false, "small.exe"), Out(L"net.exe")), 9);
    // The task file stays for the next attempt.
    EXPECT_GT(FileSize(Out(L"net.exe.xml")), 0);
    CDownLoadImpl::SetLimits(limits_);

    // A main download under 1 MiB ends with 15 although every byte arrived; a small file is fine.
    EXPECT_EQ(Run(LocalServices::DownloadUrl(false, "small.exe"), Out(L"small.exe"), true), 15);
    EXPECT_EQ(Md5Of(Out(L"small.exe")), Md5Of(ServedPath("small.exe")));
    EXPECT_EQ(Run(LocalServices::DownloadUrl(false, "small.exe"), Out(L"banner.exe"), false), 1);
    EXPECT_EQ(Md5Of(Out(L"banner.exe")), Md5Of(ServedPath("small.exe")));
}

TEST_F(Download, Md5CheckAndItsRecord) {
    ASSERT_TRUE(WriteAt(Out(L"f.exe"), 0, {'a', 'b', 'c'}, 3));
    const std::wstring lower = L"900150983cd24fb0d6963f7d28e17f72";
    const std::wstring upper = L"900150983CD24FB0D6963F7D28E17F72";
    struct Case {
        std::wstring first, second;
        bool match;
    } cases[] = {
        {L"", lower, true}, {lower, L"", true}, {L"0123", lower, true}, {upper, L""}, {L"", L""}, {upper, upper},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.first) + "/" + Narrow(c.second));
        EXPECT_EQ(CDownLoadImpl::checkMD5(Out(L"f.exe"), c.first, c.second, L"1.2.3"), c.match);
        EXPECT_EQ(test_support::ReadFile(Out(L"f.exe.db")), "1.2.3###900150983cd24fb0d6963f7d28e17f72");
    }
    // A file larger than one read block, and a missing file (hashed as empty input).
    ASSERT_TRUE(WriteAt(Out(L"g.exe"), 0, SourceBytes(0, 3 * 1048576 + 17), -1));
    EXPECT_EQ(CDownLoadImpl::FileMd5(Out(L"g.exe")).size(), 32u);
    LogCapture log;
    EXPECT_FALSE(CDownLoadImpl::checkMD5(Out(L"none.exe"), L"x", L"", L""));
    EXPECT_EQ(test_support::ReadFile(Out(L"none.exe.db")), "###d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_TRUE(log.contains(" is d41d8cd98f00b204e9800998ecf8427e"));
}

TEST_F(Download, SurvivesConnectionsDroppedAtRandomPoints) {
    std::mt19937 random(20261210);
    std::string rules = "[";
    // The first 30 segment requests, retries included, each break at a random point.
    for (int i = 0; i < 30; ++i) {
        const int64_t at = std::uniform_int_distribution<int64_t>(0, kSlice)(random);
        rules += std::string(i ? "," : "") + R"({"path":"/download/big.bin","method":"GET","skip":)" +
                 std::to_string(i) + R"(,"times":1,")" + (i % 3 ? "drop_after" : "reset_after") +
                 "\":" + std::to_string(at) + "}";
    }
    ASSERT_TRUE(LocalServices::AddFault(rules + "]"));
    int used = 0;
    ASSERT_EQ(RunAttempts(LocalServices::DownloadUrl(false, "big.bin"), Out(L"big.bin"), &used), 1);
    EXPECT_EQ(Md5Of(Out(L"big.bin")), Md5Of(ServedPath("big.bin")));
    int broken = 0;
    for (const auto& r : Gets("/download/big.bin")) broken += r.isMember("faults");
    EXPECT_EQ(broken, 30);
}

// Only the last two segments of a 5 GiB package are left: they are requested with 64-bit
// ranges and land at their offsets of the (sparse) output file.
TEST_F(Download, LastSegmentsOfAPackageBeyondFourGiB) {
    const std::string url = LocalServices::DownloadUrl(false, "five.exe");
    {
        CDownloadTaskManager m(url, Narrow(Out(L"five.exe")), Narrow(Out(L"five.exe.xml")));
        ASSERT_EQ(m.generateDownloadTask("", 0), 1);
        ASSERT_EQ(m.allTasks().size(), 1280u);
        for (size_t i = 0; i + 2 < m.allTasks().size(); ++i) {
            m.allTasks()[i]->DownloadedPos = m.allTasks()[i]->EndPos;
            m.allTasks()[i]->TaskStatus = 1;
        }
        m.saveTaskToFile();
        ASSERT_TRUE(WriteAt(Out(L"five.exe"), 0, {}, kFiveGiB - 2 * kSlice));
    }
    LocalServices::Reset();
    ASSERT_EQ(Run(url, Out(L"five.exe")), 1);
    auto gets = Gets("/download/five.exe");
    std::vector<std::string> ranges;
    for (const auto& g : gets) ranges.push_back(g["headers"]["Range"].asString());
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=5360320512-5364514815", "bytes=5364514816-5368709120"}));
    EXPECT_EQ(FileSize(Out(L"five.exe")), kFiveGiB);
    for (int64_t at : {kFiveGiB - 2 * kSlice, kFiveGiB - kSlice - 10, kFiveGiB - kSlice, kFiveGiB - 4096}) {
        SCOPED_TRACE(at);
        const size_t n = size_t(std::min<int64_t>(4096, kFiveGiB - at));
        EXPECT_TRUE(ReadAt(Out(L"five.exe"), at, n) == SourceBytes(at, n));
    }
    const std::string taskFile = test_support::ReadFile(Out(L"five.exe.xml"));
    EXPECT_EQ(taskFile.find("<TaskStatus>2"), std::string::npos);
    EXPECT_NE(taskFile.find("<DownloadedPos>5368709120</DownloadedPos>"), std::string::npos);
}

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}

// Twelve attempts, as many as the install worker makes, leave no worker thread, handle or open
// output file behind.
TEST_F(Download, AttemptsReleaseTheirThreadsHandlesAndFile) {
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe") + "?release";
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    DWORD handles = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handles));
    const int threads = ThreadsOfThisProcess();
    for (int i = 0; i < 12; ++i) {
        // Every other attempt has its file removed, so it downloads again with busy workers.
        if (i % 2) {
            ASSERT_TRUE(DeleteFileW(Out(L"pkg.exe").c_str()));
            DeleteFileW(Out(L"pkg.exe.xml").c_str());
        }
        ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
        // The output file is closed: it can be renamed away and back.
        ASSERT_TRUE(MoveFileW(Out(L"pkg.exe").c_str(), Out(L"moved.exe").c_str()));
        ASSERT_TRUE(MoveFileW(Out(L"moved.exe").c_str(), Out(L"pkg.exe").c_str()));
    }
    DWORD after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_LE(after, handles + 4);
    EXPECT_LE(ThreadsOfThisProcess(), threads + 1);
    EXPECT_EQ(Md5Of(Out(L"pkg.exe")), Md5Of(ServedPath("pkg.exe")));
}

// A driver thread that outlives its owner's wait is left to end by itself: the owner returns,
// nothing is released under it, it no longer writes the task file or the package, and when it
// ends it releases everything it held (the package is closed, its threads and handles are
// gone). The next attempt then finishes the download.
TEST_F(Download, DriverOutlivingItsWaitReleasesItsAttemptWhenItEnds) {
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe") + "?abandon";
    ASSERT_EQ(Run(url, Out(L"warm.exe")), 1);  // threads and handles of the process at rest
    DWORD handles = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handles));
    const int threads = ThreadsOfThisProcess();

    GetDownloadSettings().TransferTimeout = 3;
    CDownLoadImpl::Limits l = limits_;
    l.noProgressMs = 500;
    l.driverWaitMs = 0;
    CDownLoadImpl::SetLimits(l);
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/pkg.exe","method":"GET","stall_ms":6000})"));
    LogCapture log;
    EXPECT_EQ(Run(url, Out(L"pkg.exe")), 10);
    EXPECT_TRUE(log.contains(" driver thread did not end, attempt left to it"));
    const std::string taskFile = test_support::ReadFile(Out(L"pkg.exe.xml"));
    for (int i = 0; i < 200 && !log.contains(" Download Stopped\xA3\xA1"); ++i) Sleep(50);
    EXPECT_TRUE(log.contains(" Download Stopped\xA3\xA1"));
    EXPECT_EQ(test_support::ReadFile(Out(L"pkg.exe.xml")), taskFile);
    // Closed: the package can be renamed away and back.
    Sleep(200);
    EXPECT_TRUE(MoveFileW(Out(L"pkg.exe").c_str(), Out(L"moved.exe").c_str()));
    EXPECT_TRUE(MoveFileW(Out(L"moved.exe").c_str(), Out(L"pkg.exe").c_str()));
    DWORD after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_LE(after, handles + 4);
    EXPECT_LE(ThreadsOfThisProcess(), threads + 1);

    CDownLoadImpl::SetLimits(limits_);
    LocalServices::Reset();
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    EXPECT_EQ(Md5Of(Out(L"pkg.exe")), Md5Of(ServedPath("pkg.exe")));
}

// Stopping an attempt ends its running transfers at once, not when their time limit runs out.
TEST_F(Download, StopEndsRunningTransfersAtOnce) {
    GetDownloadSettings().TransferTimeout = 30;
    ShortenNoProgress(500);
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/pkg.exe","method":"GET","stall_ms":30000})"));
    LogCapture log;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Run(LocalServices::DownloadUrl(false, "pkg.exe") + "?stop", Out(L"pkg.exe")), 10);
    EXPECT_LT(GetTickCount() - start, 15000u);
    EXPECT_FALSE(log.contains(" driver thread did not end, attempt left to it"));
    EXPECT_TRUE(log.contains(" Download Stopped\xA3\xA1"));
}

// A driver thread that could not be started: the attempt ends at once with 8 instead of
// leaving the supervisor waiting for a driver that never comes, and the task file stays.
TEST_F(Download, DriverThreadThatNeverStartsEndsTheAttempt) {
    const std::string url = LocalServices::DownloadUrl(false, "pkg.exe");
    ASSERT_EQ(Run(url, Out(L"pkg.exe")), 1);
    const std::string taskFile = test_support::ReadFile(Out(L"pkg.exe.xml"));
    CDownloader::SetThreadStarter([](unsigned(__stdcall*)(void*), void*) -> uintptr_t { return 0; });
    const int result = Run(url, Out(L"pkg.exe"));
    CDownloader::SetThreadStarter(nullptr);
    EXPECT_EQ(result, 8);
    EXPECT_EQ(test_support::ReadFile(Out(L"pkg.exe.xml")), taskFile);
    EXPECT_EQ(Run(url, Out(L"pkg.exe")), 1);
}

#ifdef DOWNLOAD_DRIVER_EXE
std::wstring WinePath(const std::string& unixPath) {
    std::wstring out = L"Z:";
    for (char c : unixPath) out.push_back(c == '/' ? L'\\' : wchar_t(c));
    return out;
}

// The downloading process is killed in the middle; a new process resumes from the task file.
TEST_F(Download, KilledProcessIsResumedByTheNextOne) {
    const std::string url = LocalServices::DownloadUrl(false, "kill.exe");
    const std::wstring local = Out(L"kill.exe");
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/kill.exe","method":"GET","throttle":1500000})"));
    std::wstring command = L"\"" + WinePath(DOWNLOAD_DRIVER_EXE) + L"\" " + Wide(url) + L" \"" + local + L"\" 1";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
    // Killed once the task file records at least a fifth of the package.
    bool killed = false;
    for (int i = 0; i < 600 && !killed; ++i) {
        Sleep(100);
        const std::string text = test_support::ReadFile(local + L".xml");
        int64_t done = 0;
        for (size_t at = text.find("<DownloadedPos>"); at != std::string::npos; at = text.find("<DownloadedPos>", at + 1))
            done += _atoi64(text.c_str() + at + 15);
        size_t starts = 0;
        for (size_t at = text.find("<StartPos>"); at != std::string::npos; at = text.find("<StartPos>", at + 1))
            done -= _atoi64(text.c_str() + at + 10), ++starts;
        if (starts > 0 && done > 24 * 1048576 / 5) killed = TerminateProcess(pi.hProcess, 9) != FALSE;
    }
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(killed);
    ASSERT_LT(FileSize(local + L".xml"), 100000);

    LocalServices::Reset();
    ZeroMemory(&pi, sizeof pi);
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(Md5Of(local), Md5Of(ServedPath("kill.exe")));
    // The second process fetched only what the first had not recorded.
    int64_t requested = 0;
    for (const auto& g : Gets("/download/kill.exe")) {
        const std::string range = g["headers"]["Range"].asString();
        const int64_t from = _atoi64(range.c_str() + 6);
        const int64_t to = std::min<int64_t>(_atoi64(range.c_str() + range.find('-') + 1), 24 * 1048576 - 1);
        requested += to - from + 1;
    }
    EXPECT_GT(requested, 0);
    EXPECT_LT(requested, 24 * 1048576 * 4 / 5 + 1);
}
#else
// The build gives this test the download driver's path; a build without it must not pass for
// one that resumed a killed download.
TEST_F(Download, KilledProcessIsResumedByTheNextOne) {
    FAIL() << "built without the download driver program (target download_driver): the killed-download case cannot run";
}
#endif

}  // namespace
