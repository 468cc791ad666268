// Segment tasks against the local services: the size probe (redirects, CDN texts, failures),
// the cut into segments, the task file byte for byte, and the resume rules for usable,
// changed, inconsistent and damaged task files, including positions beyond 4 GiB.
#include "support/local_services.h"
#include "support/services_environment.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "download/CDownloadTaskManager.h"
#include "analytics/CSingleUserLog.h"
#include "base/DownloadSettings.h"
#include "support/download_test_support.h"
#include "support/log_capture.h"
#include "support/test_support.h"

using namespace dltest;

namespace {

const int64_t kFiveGiB = int64_t(5) << 30;

class Environment : public ServicesEnvironment {
protected:
    void Prepare() override {
        ASSERT_TRUE(Serve("one.bin", 1));
        ASSERT_TRUE(Serve("ten.bin", 10));
        ASSERT_TRUE(Serve("hundred.bin", 100));
        ASSERT_TRUE(Serve("tenmib.exe", 10 * 1048576));
        ASSERT_TRUE(Serve("eleven.bin", 11));
        // A sparse package of 5 GiB: only its size matters here.
        ASSERT_TRUE(WriteAt(ServedPath("five.exe"), 0, {}, kFiveGiB));
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

std::string Url(const std::string& name) { return LocalServices::DownloadUrl(false, name); }

struct Range {
    int64_t start, end;
    bool operator==(const Range& o) const { return start == o.start && end == o.end; }
};
std::ostream& operator<<(std::ostream& os, const Range& r) { return os << r.start << ".." << r.end; }

std::vector<Range> Ranges(const CDownloadTaskManager& m) {
    std::vector<Range> out;
    for (const auto& t : m.allTasks()) out.push_back({t->StartPos, t->EndPos});
    return out;
}

class Tasks : public ::testing::Test {
public:
    void SetUp() override { LocalServices::Reset(); }
    std::string Local(const std::string& name) { return Narrow(dir_.File(Wide(name))); }
    test_support::TempDir dir_;
    SettingsGuard settings_;
};

TEST_F(Tasks, SegmentsCoverTheFileForEachSliceSetting) {
    struct Case {
        const char* file;
        int32_t sliceNum, sliceSize;
        std::vector<Range> ranges;
    } cases[] = {
        {"one.bin", 0, 0, {{0, 1}}},
        {"ten.bin", 3, 0, {{0, 2}, {3, 5}, {6, 10}}},
        {"hundred.bin", 0, 1000, {{0, 100}}},
        {"ten.bin", 0, 4, {{0, 3}, {4, 10}}},
        {"tenmib.exe", 0, 0, {{0, 4194303}, {4194304, 10485760}}},
        // More slices than bytes: one byte per slice rather than empty slices.
        {"ten.bin", 20, 0, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 10}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " slices " + std::to_string(c.sliceNum) + "/" + std::to_string(c.sliceSize));
        GetDownloadSettings().Slice_num = c.sliceNum;
        GetDownloadSettings().Slice_size = c.sliceSize;
        CDownloadTaskManager m(Url(c.file), Local("out"), Local("out.xml"));
        ASSERT_EQ(m.generateDownloadTask("", 0), 1);
        EXPECT_EQ(Ranges(m), c.ranges);
        EXPECT_EQ(m.TasksCount, int32_t(c.ranges.size()));
        EXPECT_EQ(m.todoTasks().size(), c.ranges.size());
        int id = 1;
        for (const auto& t : m.allTasks()) {
            EXPECT_EQ(t->TaskId.load(), id++);
            EXPECT_EQ(t->DownloadedPos.load(), t->StartPos);
            EXPECT_EQ(t->ContentLength, c.ranges.back().end);
            EXPECT_EQ(t->RemotePath, Url(c.file));
            EXPECT_EQ(t->TaskStatus.load(), 0);
        }
    }
}

// Slice settings that would cut a file into more than kMaxTasks segments (a slice size given
// in KiB by mistake, an absurd slice count) give kMaxTasks larger segments instead.
TEST_F(Tasks, SliceSettingsHaveBounds) {
    struct Case {
        int32_t sliceNum, sliceSize;
        size_t tasks;
        int64_t sliceBytes;
    } cases[] = {{0, 1024, 4096, 2560}, {100000, 0, 4096, 2560}, {0, 2560, 4096, 2560}, {0, 4096, 2560, 4096}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sliceNum) + "/" + std::to_string(c.sliceSize));
        GetDownloadSettings().Slice_num = c.sliceNum;
        GetDownloadSettings().Slice_size = c.sliceSize;
        CDownloadTaskManager m(Url("tenmib.exe"), Local("out"), Local("out.xml"));
        ASSERT_EQ(m.generateDownloadTask("", 0), 1);
        ASSERT_EQ(m.allTasks().size(), c.tasks);
        EXPECT_EQ(m.sliceSize(), c.sliceBytes);
        EXPECT_EQ(m.allTasks().back()->EndPos, 10 * 1048576);
    }
}

TEST_F(Tasks, TaskFileIsWrittenByteForByte) {
    GetDownloadSettings().Slice_num = 3;
    const std::string url = Url("ten.bin") + "?a=1&b=<2>";
    CDownloadTaskManager m(url, Local("out"), Local("out.xml"));
    ASSERT_EQ(m.generateDownloadTask("", 0), 1);
    m.allTasks()[0]->DownloadedPos = 2;
    m.allTasks()[0]->TaskStatus = 1;
    m.allTasks()[1]->DownloadedPos = 4;
    m.allTasks()[1]->TaskStatus = 2;
    m.allTasks()[1]->RequestTimes = 3;
    m.DownloadTime = 1234;
    m.saveTaskToFile();

    std::string escaped = Url("ten.bin") + "?a=1&amp;b=&lt;2&gt;";
    std::string expected = "<TaskInfo>\r\n    <TasksCount>3</TasksCount>\r\n    <ContentLength>10</ContentLength>\r\n"
                           "    <DownloadTime>1234</DownloadTime>\r\n";
    const char* rows[][5] = {{"0", "2", "2", "1", "1"}, {"3", "5", "4", "2", "2"}, {"6", "10", "6", "0", "3"}};
    const char* requests[] = {"0", "3", "0"};
    for (int i = 0; i < 3; ++i) {
        expected += std::string("    <Task>\r\n") + "        <StartPos>" + rows[i][0] + "</StartPos>\r\n" +
                    "        <EndPos>" + rows[i][1] + "</EndPos>\r\n" + "        <DownloadedPos>" + rows[i][2] +
                    "</DownloadedPos>\r\n" + "        <RemotePath>" + escaped + "</RemotePath>\r\n" +
                    "        <LocalPath>" + Local("out") + "</LocalPath>\r\n" + "        <TaskStatus>" + rows[i][3] +
                    "</TaskStatus>\r\n" + "        <TaskId>" + rows[i][4] + "</TaskId>\r\n" +
                    "        <RequestTimes>" + requests[i] + "</RequestTimes>\r\n" + "    </Task>\r\n";
    }
    expected += "</TaskInfo>\r\n";
    EXPECT_EQ(test_support::ReadFile(dir_.File(L"out.xml")), expected);

    // Read back: complete tasks are taken, failed and half-done ones wait again; the failure
    // count starts afresh; the tasks take the file's length.
    CDownloadTaskManager again(url, Local("out"), Local("out.xml"));
    ASSERT_TRUE(again.loadTaskFromFile(0));
    EXPECT_EQ(Ranges(again), Ranges(m));
    EXPECT_EQ(again.ContentLength, 10);
    EXPECT_EQ(again.DownloadTime, 1234);
    ASSERT_EQ(again.takenTasks().size(), 1u);
    EXPECT_EQ(again.takenTasks()[0]->TaskId.load(), 1);
    ASSERT_EQ(again.todoTasks().size(), 2u);
    EXPECT_EQ(again.todoTasks()[0]->DownloadedPos.load(), 4);
    EXPECT_EQ(again.todoTasks()[0]->RequestTimes.load(), 0);
    EXPECT_EQ(again.todoTasks()[1]->ContentLength, 10);
    EXPECT_EQ(again.allTasks()[0]->RemotePath, url);
}

TEST_F(Tasks, ProbeFollowsRedirectsAndTheTasksCarryTheFinalAddress) {
    const std::string redirected = LocalServices::BaseUrl(false) + "/redirect/2/download/eleven.bin";
    CDownloadTaskManager m(redirected, Local("out"), Local("out.xml"));
    ASSERT_EQ(m.loadDownloadTask("Download", 1), 1);
    EXPECT_EQ(m.remotePath(), Url("eleven.bin"));
    EXPECT_EQ(m.ContentLength, 11);
    m.saveTaskToFile();
    const std::string file = test_support::ReadFile(dir_.File(L"out.xml"));
    EXPECT_NE(file.find("<RemotePath>" + Url("eleven.bin") + "</RemotePath>"), std::string::npos);
    EXPECT_EQ(file.find("/redirect/"), std::string::npos);
}

TEST_F(Tasks, ProbeReportsCdnTextsAndFailures) {
    {
        Reports reports;
        ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/eleven.bin","cdn":"FRA","cdn_cache":"MISS"})"));
        CDownloadTaskManager m(Url("eleven.bin") + "?cf", Local("out"), Local("out.xml"));
        int result = -1;
        std::string cdn = "old";
        EXPECT_EQ(m.getContentLength(result, cdn, 0, true), 11);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(cdn, "");
        EXPECT_EQ(reports.count("event|Download|3.CDNStatus|FRA/ MISS"), 1) << reports.all().size();
    }
    {
        LocalServices::Reset();
        ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/eleven.bin","headers":{"X-Cache":"HIT from edge"}})"));
        GetDownloadSettings().Slice_num = 2;
        CDownloadTaskManager m(Url("eleven.bin") + "?xc", Local("out"), Local("out.xml"));
        ASSERT_EQ(m.generateDownloadTask("", 0), 1);
        for (const auto& t : m.allTasks()) EXPECT_EQ(t->HeadCdnInfo, "HIT from edge");
    }
    struct Failure {
        const char* fault;
        std::string url;
        int result;
        const char* label;
    } failures[] = {
        {R"({"path":"/download/eleven.bin","status":404})", Url("eleven.bin") + "?f404", 6,
         "error:0/error:0/error:0/error:0/error:0/error:0/error:0/error:0/error:0/error:0"},
        {"", LocalServices::BaseUrl(false) + "/loop/x", 13,
         "error:47/error:47/error:47/error:47/error:47/error:47/error:47/error:47/error:47/error:47"},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.url);
        LocalServices::Reset();
        if (*f.fault) {
            ASSERT_TRUE(LocalServices::AddFault(f.fault));
        }
        Reports reports;
        LogCapture log;
        CDownloadTaskManager m(f.url, Local("out"), Local("out.xml"));
        EXPECT_EQ(m.loadDownloadTask("Download", 0), f.result);
        EXPECT_TRUE(m.allTasks().empty());
        EXPECT_EQ(reports.count(std::string("event|Other|Download|") + f.label), 1);
        EXPECT_TRUE(log.contains(std::string(" GetSize: Download, ") + f.label));
        EXPECT_EQ(FileSize(dir_.File(L"out.xml")), -1);
    }
    // A size already learnt for an address is answered without a request.
    LocalServices::Reset();
    CDownloadTaskManager known(Url("ten.bin") + "?known", Local("out"), Local("out.xml"));
    int result = 0;
    std::string cdn;
    EXPECT_EQ(known.getContentLength(result, cdn, 0), 10);
    EXPECT_EQ(known.getContentLength(result, cdn, 0), 10);
    EXPECT_EQ(LocalServices::Requests("/download/ten.bin").size(), 1u);
}

// The length and CDN facts of a probe's last reply, read by header name in any case.
TEST(ProbeReply, HeadersAreMatchedByName) {
    struct Case {
        const char* name;
        std::string headers;
        int64_t parsed;  // the length libcurl read, -1 = none
        int64_t length;
        const char* label;  // "3.CDNStatus" label, "" = none
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n", -1, 11, ""},
        {"length in lower case", "HTTP/1.1 200 OK\r\ncontent-length: 11\r\n", -1, 11, ""},
        {"libcurl's length first", "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n", 11, 11, ""},
        {"total of a range", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-0/1000\r\nContent-Length: 1\r\n", 1, 1000,
         ""},
        {"range named in another header", "HTTP/1.1 200 OK\r\nAccess-Control-Expose-Headers: Content-Range/7\r\n",
         11, 11, ""},
        {"no length", "HTTP/1.1 200 OK\r\n", -1, 0, ""},
        {"Cloudflare", "HTTP/1.1 200 OK\r\ncf-cache-status: HIT\r\nCF-RAY: 7d2a-FRA\r\n", 5, 5, "FRA/ HIT"},
        {"X-Cache", "HTTP/1.1 200 OK\r\nx-cache: HIT from edge\r\n", 5, 5, "HIT from edge"},
        {"names inside other headers", "HTTP/1.1 200 OK\r\nX-Origin-CF-RAY: 1-LHR\r\nX-CF-Cache-Status: HIT\r\n"
         "X-X-Cache: MISS\r\n", 5, 5, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CDownloadTaskManager::LengthOfReply(c.headers, c.parsed), c.length);
        EXPECT_EQ(CDownloadTaskManager::ValidatorOfReply(c.headers), "");
        std::string label, logText, cdnText;
        EXPECT_EQ(CDownloadTaskManager::CdnOfReply(c.headers, label, logText, cdnText), *c.label != 0);
        EXPECT_EQ(label, c.label);
    }
}

// The validator of a reply: a strong entity tag, else the Last-Modified date.
TEST(ProbeReply, Validator) {
    const std::string lastModified = "Last-Modified: Wed, 21 Oct 2026 07:28:00 GMT\r\n";
    struct {
        std::string headers;
        const char* validator;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nETag: \"abc\"\r\n" + lastModified, "\"abc\""},
        {"HTTP/1.1 200 OK\r\netag: W/\"abc\"\r\n" + lastModified, "Wed, 21 Oct 2026 07:28:00 GMT"},
        {"HTTP/1.1 200 OK\r\nX-ETag: \"abc\"\r\n", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CDownloadTaskManager::ValidatorOfReply(c.headers), c.validator) << c.headers;
}

// "Content-Location" names no redirect; a final reply (200) that does name a Location is
// followed, ten probes at most, and then reported as too many redirects (13).
TEST_F(Tasks, ProbeFollowsOnlyALocationHeader) {
    {
        ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/eleven.bin","headers":{"Content-Location":"/x/y.bin"}})"));
        CDownloadTaskManager m(Url("eleven.bin") + "?cl", Local("out"), Local("out.xml"));
        ASSERT_EQ(m.loadDownloadTask("", 0), 1);
        EXPECT_EQ(m.remotePath(), Url("eleven.bin") + "?cl");
        EXPECT_EQ(m.ContentLength, 11);
    }
    LocalServices::Reset();
    ASSERT_TRUE(LocalServices::AddFault(R"({"path":"/download/eleven.bin","headers":{"Location":"/download/eleven.bin?again"}})"));
    Reports reports;
    CDownloadTaskManager m(Url("eleven.bin") + "?loc", Local("out2"), Local("out2.xml"));
    EXPECT_EQ(m.loadDownloadTask("Download", 0), 13);
    EXPECT_EQ(reports.count("event|Other|Download|error:47/error:47/error:47/error:47/error:47/error:47/error:47/error:47/"
                            "error:47/error:47"),
              1);
}

// A task file and output file left by an earlier attempt, then changed by `spoil`.
class Resume : public Tasks {
public:
    void Prepare(const std::string& file, int32_t sliceNum) {
        // An address of its own, so no size this process learnt before answers the probe.
        static int serial = 0;
        url_ = Url(file) + "?resume=" + std::to_string(++serial);
        GetDownloadSettings().Slice_num = sliceNum;
        CDownloadTaskManager m(url_, Local("out"), Local("out.xml"));
        ASSERT_EQ(m.generateDownloadTask("", 0), 1);
        m.allTasks()[0]->DownloadedPos = m.allTasks()[0]->EndPos;
        m.allTasks()[0]->TaskStatus = 1;
        m.saveTaskToFile();
        ASSERT_TRUE(WriteAt(dir_.File(L"out"), 0, {'x'}, 1));
        GetDownloadSettings().Slice_num = 0;  // a new run may be configured otherwise
    }
    std::string ReadTaskFile() { return test_support::ReadFile(dir_.File(L"out.xml")); }
    void WriteTaskFile(const std::string& text) {
        FILE* f = _wfopen(dir_.File(L"out.xml").c_str(), L"wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    void Replace(const std::string& from, const std::string& to) {
        std::string text = ReadTaskFile();
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        WriteTaskFile(text.replace(at, from.size(), to));
    }
    std::string url_;
};

TEST_F(Resume, UsableTaskFileOfAnySliceSizeResumes) {
    Prepare("ten.bin", 3);
    LocalServices::Reset();
    Reports reports;
    LogCapture log;
    CDownloadTaskManager m(url_, Local("out"), Local("out.xml"));
    ASSERT_EQ(m.loadDownloadTask("Download", 0), 1);
    EXPECT_TRUE(log.contains(" Load tasks from file success!"));
    EXPECT_EQ(Ranges(m), (std::vector<Range>{{0, 2}, {3, 5}, {6, 10}}));
    EXPECT_EQ(m.takenTasks().size(), 1u);
    EXPECT_EQ(m.todoTasks().size(), 2u);
    EXPECT_EQ(reports.count("funnel|Download|ResumUpload|"), 1);
    EXPECT_EQ(reports.count("flow|Other|FlowError|DL026"), 0);
    EXPECT_EQ(FileSize(dir_.File(L"out")), 1);
    // The size was asked of the server again, although this process knows it.
    EXPECT_EQ(LocalServices::Requests("/download/ten.bin").size(), 1u);
}

TEST_F(Resume, UnusableTaskFilesStartAfresh) {
    struct Case {
        const char* name;
        std::string code;
        std::function<void(Resume&)> spoil;
    } cases[] = {
        {"size changed on the server", "DL025", [](Resume& r) { ASSERT_TRUE(Serve("ten.bin", 12)); }},
        {"gap between segments", "DL026", [](Resume& r) { r.Replace("<StartPos>3</StartPos>", "<StartPos>4</StartPos>"); }},
        {"wrong segment number", "DL026", [](Resume& r) { r.Replace("<TaskId>2</TaskId>", "<TaskId>3</TaskId>"); }},
        {"last segment short", "DL026", [](Resume& r) { r.Replace("<EndPos>10</EndPos>", "<EndPos>9</EndPos>"); }},
        {"position past its segment", "DL026",
         [](Resume& r) { r.Replace("<DownloadedPos>3</DownloadedPos>", "<DownloadedPos>7</DownloadedPos>"); }},
        {"output file gone", "DL026", [](Resume& r) { DeleteFileW(r.dir_.File(L"out").c_str()); }},
        {"cut in the middle", "DL026", [](Resume& r) { r.WriteTaskFile(r.ReadTaskFile().substr(0, 200)); }},
        {"no root element", "DL026", [](Resume& r) { r.WriteTaskFile("<!-- nothing -->\r\n"); }},
        {"empty", "DL026", [](Resume& r) { r.WriteTaskFile(""); }},
        {"not XML", "DL026", [](Resume& r) { r.WriteTaskFile(std::string("\0\x01garbage<<", 11)); }},
        {"no tasks", "DL026", [](Resume& r) { r.WriteTaskFile("<TaskInfo><ContentLength>10</ContentLength></TaskInfo>"); }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Serve("ten.bin", 10));
        Prepare("ten.bin", 3);
        c.spoil(*this);
        Reports reports;
        LogCapture log;
        CDownloadTaskManager m(url_, Local("out"), Local("out.xml"));
        ASSERT_EQ(m.loadDownloadTask("Download", 0), 1);
        EXPECT_EQ(reports.count("flow|Other|FlowError|" + c.code), 1);
        EXPECT_TRUE(log.contains(" taskinfo file error"));
        EXPECT_EQ(reports.count("funnel|Download|ResumUpload|"), 0);
        // Fresh tasks with the default slices, the partial file and the task file gone.
        const int64_t length = c.code == "DL025" ? 12 : 10;
        EXPECT_EQ(Ranges(m), (std::vector<Range>{{0, length}}));
        EXPECT_EQ(m.todoTasks().size(), 1u);
        EXPECT_EQ(m.DownloadTime, 0);
        EXPECT_EQ(FileSize(dir_.File(L"out")), -1);
        EXPECT_EQ(FileSize(dir_.File(L"out.xml")), -1);
    }
    ASSERT_TRUE(Serve("ten.bin", 10));
}

// A resume whose size check cannot learn the size keeps the partial download and its task file
// untouched, and reports the failed probes like any other size probe.
TEST_F(Resume, ServerThatDoesNotAnswerTheSizeKeepsThePartialDownload) {
    struct Case {
        const char* fault;
        int result;
        const char* label;
    } cases[] = {
        {R"({"path":"/download/ten.bin","status":503})", 6,
         "error:0/error:0/error:0/error:0/error:0/error:0/error:0/error:0/error:0/error:0"},
        {R"({"path":"/download/ten.bin","redirect_loop":true})", 13,
         "error:47/error:47/error:47/error:47/error:47/error:47/error:47/error:47/error:47/error:47"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        LocalServices::Reset();
        Prepare("ten.bin", 3);
        const std::string before = ReadTaskFile();
        ASSERT_TRUE(LocalServices::AddFault(c.fault));
        Reports reports;
        LogCapture log;
        CDownloadTaskManager m(url_, Local("out"), Local("out.xml"));
        EXPECT_EQ(m.loadDownloadTask("Download", 0), c.result);
        EXPECT_TRUE(m.allTasks().empty());
        EXPECT_EQ(FileSize(dir_.File(L"out")), 1);
        EXPECT_EQ(ReadTaskFile(), before);
        EXPECT_EQ(reports.count(std::string("event|Other|Download|") + c.label), 1);
        EXPECT_TRUE(log.contains(std::string(" GetSize: Download, ") + c.label)) << log.dump();
        EXPECT_EQ(reports.count("flow|Other|FlowError|DL025") + reports.count("flow|Other|FlowError|DL026"), 0);
    }
}

// A segment that finishes while the task file is being saved: its status and position are
// read as one pair, so it is never saved as complete with the short position it had before.
TEST_F(Resume, SegmentFinishingDuringASaveIsNotSavedCompleteAndShort) {
    Prepare("ten.bin", 3);
    CDownloadTaskManager m(url_, Local("out"), Local("out.xml"));
    ASSERT_TRUE(m.loadTaskFromFile(0));
    CTask& second = *m.allTasks()[1];  // 3..5
    second.DownloadedPos = 4;
    second.TaskStatus = 3;
    CDownloadTaskManager::SetSaveReadHook([&](CTask& t) {
        if (&t != &second) return;
        // The worker writes the last bytes, then marks the segment complete.
        t.DownloadedPos = 5;
        t.TaskStatus = 1;
    });
    m.saveTaskToFile();
    CDownloadTaskManager::SetSaveReadHook(nullptr);
    const std::string saved = ReadTaskFile();
    EXPECT_EQ(saved.find("<DownloadedPos>4</DownloadedPos>"), std::string::npos) << saved;

    CDownloadTaskManager again(url_, Local("out"), Local("out.xml"));
    ASSERT_TRUE(again.loadTaskFromFile(0));
    const CTask& loaded = *again.allTasks()[1];
    EXPECT_FALSE(loaded.TaskStatus.load() == 1 && loaded.DownloadedPos.load() != loaded.EndPos);
}

// A task file that claims a segment complete although its position is short (written by an
// older version, or by hand): the segment is work still to do, from its position.
TEST_F(Resume, CompleteSegmentWithAShortPositionIsWorkToDo) {
    Prepare("ten.bin", 3);
    Replace("<DownloadedPos>2</DownloadedPos>", "<DownloadedPos>1</DownloadedPos>");
    CDownloadTaskManager m(url_, Local("out"), Local("out.xml"));
    ASSERT_EQ(m.loadDownloadTask("Download", 0), 1);
    EXPECT_TRUE(m.takenTasks().empty());
    ASSERT_EQ(m.todoTasks().size(), 3u);
    EXPECT_EQ(m.todoTasks()[0]->TaskId.load(), 1);
    EXPECT_EQ(m.todoTasks()[0]->DownloadedPos.load(), 1);
}

// The package is flushed after the state was read and before the task file that describes it
// is put in place; when the flush fails, the previous task file stays.
TEST_F(Resume, PackageIsFlushedBeforeTheTaskFileIsReplaced) {
    Prepare("ten.bin", 3);
    const std::string before = ReadTaskFile();
    CDownloadTaskManager m(url_, Local("out"), Local("out.xml"));
    ASSERT_TRUE(m.loadTaskFromFile(0));
    m.allTasks()[1]->DownloadedPos = 4;
    std::string atFlush;
    m.saveTaskToFile([&] {
        atFlush = ReadTaskFile();
        return true;
    });
    EXPECT_EQ(atFlush, before);
    EXPECT_NE(ReadTaskFile().find("<DownloadedPos>4</DownloadedPos>"), std::string::npos);

    m.allTasks()[1]->DownloadedPos = 5;
    const std::string saved = ReadTaskFile();
    m.saveTaskToFile([] { return false; });
    EXPECT_EQ(ReadTaskFile(), saved);
    EXPECT_EQ(FileSize(dir_.File(L"out.xml.tmp")), -1);
}

// A package of 5 GiB: segment positions and the task file go past 32 bits and come back.
TEST_F(Tasks, PositionsBeyondFourGiBSurviveTheTaskFile) {
    CDownloadTaskManager m(Url("five.exe"), Local("out"), Local("out.xml"));
    ASSERT_EQ(m.generateDownloadTask("", 0), 1);
    ASSERT_EQ(m.allTasks().size(), 1280u);
    const CTask& last = *m.allTasks().back();
    EXPECT_EQ(last.StartPos, kFiveGiB - 4194304);
    EXPECT_EQ(last.EndPos, kFiveGiB);
    EXPECT_EQ(m.allTasks()[1024]->StartPos, int64_t(4) << 30);
    m.allTasks().back()->DownloadedPos = kFiveGiB - 100;
    m.saveTaskToFile();
    const std::string file = test_support::ReadFile(dir_.File(L"out.xml"));
    EXPECT_NE(file.find("<StartPos>5364514816</StartPos>"), std::string::npos);
    EXPECT_NE(file.find("<DownloadedPos>5368709020</DownloadedPos>"), std::string::npos);

    ASSERT_TRUE(WriteAt(dir_.File(L"out"), 0, {'x'}, 1));
    CDownloadTaskManager again(Url("five.exe"), Local("out"), Local("out.xml"));
    ASSERT_EQ(again.loadDownloadTask("Download", 0), 1);
    EXPECT_EQ(again.ContentLength, kFiveGiB);
    EXPECT_EQ(Ranges(again), Ranges(m));
    EXPECT_EQ(again.allTasks().back()->DownloadedPos.load(), kFiveGiB - 100);
}

}  // namespace
