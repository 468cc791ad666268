// CLibcurlTool against the local services, over HTTP and over HTTPS (Schannel): each request's
// main path, ranged segments written by several workers into one file, the replies a segment
// must refuse, broken servers, time limits, and a segment beyond 4 GiB.
#include "support/local_services.h"
#include "support/services_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/CDownloadThread.h"
#include "net/CLibcurlTool.h"
#include "download/CTask.h"
#include "download/PackageFile.h"
#include "base/DownloadSettings.h"
#include "support/log_capture.h"

namespace {

const int64_t kPackageSize = 3 * 1048576 + 7;  // not a round number
const int64_t kBigSize = (int64_t(4) << 30) + 1048576;  // 4 GiB + 1 MiB, sparse
const int64_t kBigDataAt = (int64_t(4) << 30) + 100;   // where the big file holds data
const size_t kBigDataLen = 256 * 1024;
const char kUntouched = char(0xEE);
const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/62.0.3202.75 Safari/537.36";

uint8_t SourceByte(int64_t pos) { return uint8_t((uint64_t(pos) * 0x9E3779B97F4A7C15ull) >> 56); }
std::vector<char> SourceBytes(int64_t from, size_t n) {
    std::vector<char> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = char(SourceByte(from + int64_t(i)));
    return out;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool WriteAt(const std::wstring& path, int64_t at, const std::vector<char>& data, int64_t size) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER p;
    p.QuadPart = at;
    DWORD done = 0;
    bool ok = SetFilePointerEx(h, p, nullptr, FILE_BEGIN) &&
              WriteFile(h, data.data(), DWORD(data.size()), &done, nullptr) && done == data.size();
    p.QuadPart = size;
    ok = ok && SetFilePointerEx(h, p, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

class Environment : public ServicesEnvironment {
protected:
    void Prepare() override {
        const std::wstring root = Wide(LocalServices::Root()) + L"\\";
        const std::vector<char> package = SourceBytes(0, size_t(kPackageSize));
        // The same bytes as an installer (".exe") and under another name.
        ASSERT_TRUE(WriteAt(root + L"pkg.exe", 0, package, kPackageSize));
        ASSERT_TRUE(WriteAt(root + L"pkg.bin", 0, package, kPackageSize));
        ASSERT_TRUE(WriteAt(root + L"small.txt", 0, {'s', 'm', 'a', 'l', 'l', '\n'}, 6));
        ASSERT_TRUE(WriteAt(root + L"big.exe", kBigDataAt, SourceBytes(kBigDataAt, kBigDataLen), kBigSize));
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

// An output file pre-filled with a marker, and workers writing into it.
class Output {
public:
    explicit Output(int64_t prefill) {
        wchar_t dir[MAX_PATH], path[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        GetTempFileNameW(dir, L"dl", 0, path);
        path_ = path;
        if (prefill > 0) WriteAt(path_, 0, std::vector<char>(size_t(prefill), kUntouched), prefill);
        package_.reset(new PackageFile(std::string(path_.begin(), path_.end())));
        DWORD error = 0;
        package_->open(error);
    }
    ~Output() {
        package_.reset();
        DeleteFileW(path_.c_str());
    }
    // One ranged request of the task's remaining bytes, as a worker makes it.
    CURLcode Fetch(const std::string& url, CTask& task) {
        CDownloadThread worker(package_.get());
        worker.setTask(&task);
        return worker.getCurlTool().httpDownloadContent(url, task.DownloadedPos, task.EndPos, &worker);
    }
    std::vector<char> Read(int64_t at, size_t n) {
        std::vector<char> out(n);
        FILE* f = _wfopen(path_.c_str(), L"rb");
        if (!f || _fseeki64(f, at, SEEK_SET) != 0) out.clear();
        else out.resize(fread(out.data(), 1, n, f));
        if (f) fclose(f);
        return out;
    }
    int64_t Size() {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &a)) return -1;
        return (int64_t(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
    }

private:
    std::wstring path_;
    std::unique_ptr<PackageFile> package_;
};

std::unique_ptr<CTask> Segment(const std::string& url, int64_t start, int64_t end,
                               int64_t contentLength = kPackageSize) {
    std::unique_ptr<CTask> t(new CTask);
    t->RemotePath = url;
    t->StartPos = t->DownloadedPos = start;
    t->EndPos = end;
    t->ContentLength = contentLength;
    t->TaskId = 1;
    return t;
}

// Bytes [0, size) of the output: source bytes in [from, to), the marker elsewhere.
void ExpectOutput(Output& out, int64_t size, int64_t from, int64_t to) {
    std::vector<char> got = out.Read(0, size_t(size));
    ASSERT_EQ(got.size(), size_t(size));
    for (int64_t p = 0; p < size; ++p) {
        char want = p >= from && p < to ? char(SourceByte(p)) : kUntouched;
        ASSERT_EQ(got[size_t(p)], want) << "byte " << p;
    }
}

class Transfer : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { ASSERT_TRUE(LocalServices::Reset()); }
    bool https() const { return GetParam(); }
    std::string Url(const std::string& path) const { return LocalServices::BaseUrl(https()) + path; }
    std::string Download(const std::string& name) const { return LocalServices::DownloadUrl(https(), name); }
};

TEST_P(Transfer, HeaderProbeCollectsTheHeadersOfTheRedirectChain) {
    CLibcurlTool tool(curl_easy_init());
    struct {
        const char* path;
        int blocks;  // header blocks expected (one per response)
    } cases[] = {{"/download/pkg.exe", 1}, {"/redirect/2/download/pkg.exe", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        char headers[CLibcurlTool::kHeaderBufferSize + 16];
        memset(headers, 'G', sizeof headers);
        long status = 0;
        ASSERT_EQ(tool.httpGet(Url(c.path), headers, status), CURLE_OK);
        EXPECT_EQ(status, 200);
        const std::string text(headers);
        EXPECT_NE(text.find("Content-Length: " + std::to_string(kPackageSize) + "\r\n"), std::string::npos) << text;
        int blocks = 0;
        for (size_t p = text.find("HTTP/1.1 "); p != std::string::npos; p = text.find("HTTP/1.1 ", p + 1)) ++blocks;
        EXPECT_EQ(blocks, c.blocks) << text;
    }
    // A probe is a HEAD request: no body is sent.
    for (const auto& r : LocalServices::Requests("/download/")) EXPECT_EQ(r["method"].asString(), "HEAD");
}

TEST_P(Transfer, HeaderProbeCopiesAtMost2000Characters) {
    ASSERT_TRUE(LocalServices::AddFault(R"({"path": "/download/pkg.exe", "headers": {"X-Long": ")" +
                                        std::string(3000, 'x') + R"("}})"));
    CLibcurlTool tool(curl_easy_init());
    char headers[CLibcurlTool::kHeaderBufferSize + 16];
    memset(headers, 'G', sizeof headers);
    long status = 0;
    ASSERT_EQ(tool.httpGet(Download("pkg.exe"), headers, status), CURLE_OK);
    EXPECT_EQ(strlen(headers), CLibcurlTool::kHeaderTextMax);
    for (size_t i = CLibcurlTool::kHeaderBufferSize; i < sizeof headers; ++i) ASSERT_EQ(headers[i], 'G');
}

TEST_P(Transfer, PlainGetReplacesTheBody) {
    CLibcurlTool tool(curl_easy_init());
    std::string body = "old";
    ASSERT_EQ(tool.httpGet(Download("small.txt"), body), CURLE_OK);
    EXPECT_EQ(body, "small\n");
    // Followed redirects; a failing request leaves the text alone.
    body.clear();
    ASSERT_EQ(tool.httpGet(Url("/redirect/1/download/small.txt"), body), CURLE_OK);
    EXPECT_EQ(body, "small\n");
    EXPECT_EQ(tool.httpGet(Url("/loop/x"), body), CURLE_TOO_MANY_REDIRECTS);
    EXPECT_EQ(body, "small\n");
}

TEST_P(Transfer, PostSendsTheBodyAndAppendsTheReply) {
    CLibcurlTool tool(nullptr);  // the POST uses a handle of its own
    std::string reply = "before;";
    const std::string body = R"({"event":"install","n":1})";
    ASSERT_EQ(tool.HttpPost(Url("/collect"), body, reply), CURLE_OK);
    EXPECT_EQ(reply, std::string("before;") + R"({"code":200,"msg":"ok"})");
    auto requests = LocalServices::Requests("/collect");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"].asString(), "POST");
    EXPECT_EQ(requests[0]["body"].asString(), body);
    EXPECT_EQ(requests[0]["headers"]["Content-Type"].asString(), "application/x-www-form-urlencoded");
    // No redirect is followed.
    std::string redirected;
    EXPECT_EQ(tool.HttpPost(Url("/redirect/1/collect"), body, redirected), CURLE_OK);
    EXPECT_EQ(redirected, "redirect\n");
}

// Four workers fetch the four segments of the package at the same time into one file; the
// file then holds exactly the package. The last segment asks one byte past the end.
TEST_P(Transfer, WorkersRebuildThePackage) {
    const int64_t slice = 786432;
    std::vector<std::unique_ptr<CTask>> tasks;
    for (int i = 0; i < 4; ++i)
        tasks.push_back(Segment(Download("pkg.exe"), i * slice, i == 3 ? kPackageSize : (i + 1) * slice - 1));
    Output out(0);
    std::vector<CURLcode> results(4, CURLE_FAILED_INIT);
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i)
        workers.emplace_back([&, i] { results[i] = out.Fetch(tasks[i]->RemotePath, *tasks[i]); });
    for (auto& w : workers) w.join();
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i], CURLE_OK);
        EXPECT_EQ(tasks[i]->DownloadedPos, tasks[i]->EndPos);
    }
    EXPECT_EQ(out.Size(), kPackageSize);
    EXPECT_TRUE(out.Read(0, size_t(kPackageSize)) == SourceBytes(0, size_t(kPackageSize)));

    auto requests = LocalServices::Requests("/download/pkg.exe");
    ASSERT_EQ(requests.size(), 4u);
    std::vector<std::string> ranges;
    for (const auto& r : requests) {
        ranges.push_back(r["headers"]["Range"].asString());
        EXPECT_EQ(r["headers"]["User-Agent"].asString(), kUserAgent);
    }
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=0-786431", "bytes=1572864-2359295", "bytes=2359296-3145735",
                                                "bytes=786432-1572863"}));
}

TEST_P(Transfer, ResumedSegmentContinuesWhereItStopped) {
    Output out(4096);
    auto task = Segment(Download("pkg.exe"), 1000, 2999);
    task->DownloadedPos = 1500;
    ASSERT_EQ(out.Fetch(task->RemotePath, *task), CURLE_OK);
    EXPECT_EQ(task->DownloadedPos, 2999);
    ExpectOutput(out, 4096, 1500, 3000);
}

TEST_P(Transfer, CdnTextOfTheSegment) {
    ASSERT_TRUE(LocalServices::AddFault(R"({"path": "/download/pkg.exe", "cdn": "FRA", "cdn_cache": "MISS"})"));
    Output out(0);
    auto task = Segment(Download("pkg.exe"), 0, 9999);
    ASSERT_EQ(out.Fetch(task->RemotePath, *task), CURLE_OK);
    EXPECT_EQ(task->CdnInfo, "FRA/MISS");
}

// Replies a segment must refuse or cut: nothing lands outside the segment, and nothing lands
// at the wrong place.
TEST_P(Transfer, RepliesThatDoNotFitTheSegment) {
    struct {
        const char* name;
        const char* fault;  // rule for /download/
        const char* file;
        int64_t start, end;
        CURLcode result;
        int64_t posAfter;
        const char* logLine;
    } cases[] = {
        {"installer answered with 200", R"({"ignore_range": true})", "pkg.exe", 1000, 1999, CURLE_WRITE_ERROR, 1000,
         " HeaderCallback error0: http_code is 200"},
        {"other file answered with 200 at its start", R"({"ignore_range": true})", "pkg.bin", 0, 999,
         CURLE_WRITE_ERROR, 999, ""},
        {"other file answered with 200 in mid-file", R"({"ignore_range": true})", "pkg.bin", 1000, 1999,
         CURLE_WRITE_ERROR, 1000, " HeaderCallback error0: http_code is 200"},
        {"wrong total", R"({"range_total": 12345})", "pkg.exe", 1000, 1999, CURLE_WRITE_ERROR, 1000,
         " HeaderCallback error1: 3145735 != Content-Range: bytes 1000-1999/12345\r\n"},
        {"installer not found", R"({"status": 404})", "pkg.exe", 1000, 1999, CURLE_WRITE_ERROR, 1000,
         " HeaderCallback error0: http_code is 404"},
        {"server error for another file", R"({"status": 503})", "pkg.bin", 0, 999, CURLE_WRITE_ERROR, 0,
         " HeaderCallback error0: http_code is 503"},
        {"installer redirected", R"({"location": "/download/pkg.bin"})", "pkg.exe", 1000, 1999, CURLE_WRITE_ERROR,
         1000, " HeaderCallback error0: http_code is 302"},
        {"redirect loop for another file", R"({"redirect_loop": true})", "pkg.bin", 1000, 1999,
         CURLE_TOO_MANY_REDIRECTS, 1000, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(LocalServices::Reset());
        std::string rule = c.fault;
        rule.insert(1, R"("path": "/download/", )");
        ASSERT_TRUE(LocalServices::AddFault(rule));
        Output out(4096);
        auto task = Segment(Download(c.file), c.start, c.end);
        LogCapture log;
        EXPECT_EQ(out.Fetch(task->RemotePath, *task), c.result);
        EXPECT_EQ(task->DownloadedPos, c.posAfter);
        ExpectOutput(out, 4096, c.start, c.posAfter == c.end ? c.end + 1 : c.posAfter);
        if (*c.logLine) {
            EXPECT_EQ(log.countExact(c.logLine), 1) << log.dump();
        }
        EXPECT_EQ(log.countExact(CLibcurlTool::errorText(c.result)), 1) << log.dump();
    }
}

// Servers that break: the result tells, a log line says so, and what was written is exactly
// the bytes received, at their place.
TEST_P(Transfer, BrokenServers) {
    struct {
        const char* name;
        const char* fault;
        std::vector<CURLcode> results;  // acceptable results
        int64_t minReceived, maxReceived;
        bool sourceBytes;  // what was received is the package's bytes
    } cases[] = {
        {"garbage headers", R"({"garbage_headers": true})", {CURLE_WRITE_ERROR}, 0, 0, true},
        {"endless body", R"({"endless": true})", {CURLE_WRITE_ERROR}, 100000, 100000, false},
        // Over TLS a connection closed without the TLS close is a receive error.
        {"closed after 60000 bytes", R"({"drop_after": 60000})",
         https() ? std::vector<CURLcode>{CURLE_PARTIAL_FILE, CURLE_RECV_ERROR} : std::vector<CURLcode>{CURLE_PARTIAL_FILE},
         60000, 60000, true},
        {"reset after 60000 bytes", R"({"reset_after": 60000})", {CURLE_RECV_ERROR, CURLE_PARTIAL_FILE}, 0, 60000,
         true},
    };
    const int64_t start = 200000, end = 299999;  // 100000 bytes
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(LocalServices::Reset());
        std::string rule = c.fault;
        rule.insert(1, R"("path": "/download/", )");
        ASSERT_TRUE(LocalServices::AddFault(rule));
        const int64_t size = 400000;
        Output out(size);
        auto task = Segment(Download("pkg.exe"), start, end);
        LogCapture log;
        const CURLcode res = out.Fetch(task->RemotePath, *task);
        EXPECT_NE(std::find(c.results.begin(), c.results.end(), res), c.results.end()) << res;
        EXPECT_EQ(log.countExact(CLibcurlTool::errorText(res)), 1) << log.dump();
        const int64_t received = task->DownloadedPos == end ? end - start + 1 : task->DownloadedPos - start;
        EXPECT_GE(received, c.minReceived);
        EXPECT_LE(received, c.maxReceived);
        std::vector<char> got = out.Read(0, size_t(size));
        ASSERT_EQ(got.size(), size_t(size));
        for (int64_t p = 0; p < size; ++p) {
            const bool inside = p >= start && p < start + received;
            char want = !inside ? kUntouched : c.sourceBytes ? char(SourceByte(p)) : 'E';
            ASSERT_EQ(got[size_t(p)], want) << "byte " << p;
        }
    }
}

// A reply that stops short of its range without an error keeps its bytes, and the segment does
// not count as whole: a chunk ending just before EndPos leaves DownloadedPos at EndPos as well,
// so only the writer knows whether the byte at EndPos (for the last segment, the byte before the
// file length) arrived.
TEST_P(Transfer, ShortRepliesLeaveTheSegmentUnfinished) {
    struct {
        const char* name;
        const char* fault;  // rule for /download/, or ""
        int64_t start, end;
        int64_t contentLength;
        int64_t posAfter;
        bool whole;
    } cases[] = {
        {"whole range", "", 1000, 1999, kPackageSize, 1999, true},
        {"range taken as excluding its end", R"({"short_range": 1})", 1000, 1999, kPackageSize, 1999, false},
        {"body ends a byte early", R"({"short_body": true})", 1000, 1999, kPackageSize, 1999, false},
        {"the missing byte alone", R"({"short_range": 1})", 1999, 1999, kPackageSize, 1999, true},
        {"last segment, whole", "", kPackageSize - 1000, kPackageSize, kPackageSize, kPackageSize, true},
        {"last segment, a byte short", R"({"short_range": 1})", kPackageSize - 1000, kPackageSize, kPackageSize,
         kPackageSize - 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(LocalServices::Reset());
        if (*c.fault) {
            std::string rule = c.fault;
            rule.insert(1, R"("path": "/download/", )");
            ASSERT_TRUE(LocalServices::AddFault(rule));
        }
        Output out(0);
        auto task = Segment(Download("pkg.exe"), c.start, c.end, c.contentLength);
        EXPECT_EQ(out.Fetch(task->RemotePath, *task), CURLE_OK);
        EXPECT_EQ(task->DownloadedPos, c.posAfter);
        EXPECT_EQ(task->EndWritten.load(), c.whole);
        const int64_t lastWanted = c.end == c.contentLength ? c.end - 1 : c.end;
        const int64_t received = c.whole ? lastWanted - c.start + 1 : lastWanted - c.start;
        EXPECT_TRUE(out.Read(c.start, size_t(received)) == SourceBytes(c.start, size_t(received)));
        EXPECT_EQ(out.Size(), c.start + received);
    }
}

// A segment of a package larger than 4 GiB: the range, the 64-bit total and the write at the
// 64-bit position. Source and output are sparse files.
TEST_P(Transfer, SegmentBeyondFourGiB) {
    Output out(0);
    const int64_t start = kBigDataAt + 1000;
    const size_t len = 100000;
    auto task = Segment(Download("big.exe"), start, start + int64_t(len) - 1, kBigSize);
    ASSERT_EQ(out.Fetch(task->RemotePath, *task), CURLE_OK);
    EXPECT_EQ(task->DownloadedPos, task->EndPos);
    EXPECT_EQ(out.Size(), start + int64_t(len));
    EXPECT_TRUE(out.Read(start, len) == SourceBytes(start, len));
    EXPECT_TRUE(out.Read(start & 0xFFFFFFFF, len) == std::vector<char>(len, 0));
}

INSTANTIATE_TEST_SUITE_P(Schemes, Transfer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "https" : "http"; });

// ---- Time limits (plain HTTP; each waits once) ------------------------------------------------

TEST(TransferLimits, PlainGetGivesUpAfterFiveSeconds) {
    ASSERT_TRUE(LocalServices::Reset());
    ASSERT_TRUE(LocalServices::AddFault(R"({"path": "/download/small.txt", "delay_ms": 6500})"));
    CLibcurlTool tool(curl_easy_init());
    std::string body = "unchanged";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tool.httpGet(LocalServices::DownloadUrl(false, "small.txt"), body), CURLE_OPERATION_TIMEDOUT);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(body, "unchanged");
    EXPECT_GE(seconds, 4.5);
}

// A segment that cannot be fetched within TransferTimeout ends with a time-out, keeping what
// it received.
TEST(TransferLimits, SegmentStopsAtTheTransferTimeout) {
    ASSERT_TRUE(LocalServices::Reset());
    ASSERT_TRUE(LocalServices::AddFault(R"({"path": "/download/pkg.exe", "throttle": 200000})"));
    DownloadSettings& settings = GetDownloadSettings();
    const int32_t saved = settings.TransferTimeout;
    settings.TransferTimeout = 1;
    Output out(0);
    auto task = Segment(LocalServices::DownloadUrl(false, "pkg.exe"), 0, 1048575);
    task->Verbose = 1;
    LogCapture log;
    EXPECT_EQ(out.Fetch(task->RemotePath, *task), CURLE_OPERATION_TIMEDOUT);
    settings.TransferTimeout = saved;
    EXPECT_GT(task->DownloadedPos, 0);
    EXPECT_LT(task->DownloadedPos, 1048575);
    EXPECT_TRUE(out.Read(0, size_t(task->DownloadedPos)) == SourceBytes(0, size_t(task->DownloadedPos)));
    EXPECT_EQ(log.countExact(" Request Range: (1, 1048575) 0-1048575, [3,1]"), 1) << log.dump();
    EXPECT_EQ(log.countExact(" Curl Time out"), 1) << log.dump();
}

// The body is written in blocks, yet bytes of a slow transfer reach the file (and
// DownloadedPos, which the supervisor watches for progress) while the transfer still runs, not
// only when a block is full or the transfer ends: at 50000 B/s a block would take seconds.
TEST(TransferLimits, SlowSegmentShowsProgressWhileItRuns) {
    ASSERT_TRUE(LocalServices::Reset());
    ASSERT_TRUE(LocalServices::AddFault(R"({"path": "/download/pkg.exe", "throttle": 50000})"));
    DownloadSettings& settings = GetDownloadSettings();
    const int32_t saved = settings.TransferTimeout;
    settings.TransferTimeout = 3;
    Output out(0);
    auto task = Segment(LocalServices::DownloadUrl(false, "pkg.exe"), 0, 1048575);
    std::atomic<bool> ended{false};
    CURLcode res = CURLE_OK;
    std::thread worker([&] {
        res = out.Fetch(task->RemotePath, *task);
        ended = true;
    });
    int64_t seenWhileRunning = 0;
    const auto t0 = std::chrono::steady_clock::now();
    while (!ended.load() && std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(1500)) {
        seenWhileRunning = task->DownloadedPos.load();
        if (seenWhileRunning > 0) break;
        Sleep(10);
    }
    const bool runningAtCheck = !ended.load();
    worker.join();
    settings.TransferTimeout = saved;
    EXPECT_TRUE(runningAtCheck);
    EXPECT_GT(seenWhileRunning, 0);
    EXPECT_EQ(res, CURLE_OPERATION_TIMEDOUT);
    EXPECT_GT(task->DownloadedPos, seenWhileRunning);
    EXPECT_TRUE(out.Read(0, size_t(task->DownloadedPos)) == SourceBytes(0, size_t(task->DownloadedPos)));
}

// Bodies kept in memory have a size limit: a reply that never ends is cut off at once instead
// of filling the memory until the time limit.
TEST(TransferLimits, BodyKeptInMemoryHasASizeLimit) {
    ASSERT_TRUE(LocalServices::Reset());
    ASSERT_TRUE(LocalServices::AddFault(R"({"path": "/download/small.txt", "endless": true})"));
    CLibcurlTool tool(curl_easy_init());
    std::string body = "unchanged";
    EXPECT_EQ(tool.httpGet(LocalServices::DownloadUrl(false, "small.txt"), body), CURLE_WRITE_ERROR);
    EXPECT_EQ(body, "unchanged");
    std::string reply = "before;";
    EXPECT_EQ(tool.HttpPost(LocalServices::BaseUrl(false) + "/download/small.txt", "x", reply), CURLE_WRITE_ERROR);
    EXPECT_LE(reply.size(), CLibcurlTool::kMaxBodySize + 7);
}

// Time limits from the configuration outside their bounds (0 would mean none at all; a
// negative one is refused by libcurl) fall back to the defaults.
TEST(TransferLimits, TimeLimitsOutsideTheirBoundsFallBackToTheDefaults) {
    ASSERT_TRUE(LocalServices::Reset());
    DownloadSettings& settings = GetDownloadSettings();
    const DownloadSettings saved = settings;
    struct Case {
        int32_t connect, transfer;
        const char* logged;
    } cases[] = {{-1, 0, "[3,20]"}, {0, -7, "[3,20]"}, {100000, 100000, "[3,20]"}, {5, 60, "[5,60]"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        settings.ConnectTimeout = c.connect;
        settings.TransferTimeout = c.transfer;
        Output out(0);
        auto task = Segment(LocalServices::DownloadUrl(false, "pkg.exe"), 0, 999);
        task->Verbose = 1;
        LogCapture log;
        EXPECT_EQ(out.Fetch(task->RemotePath, *task), CURLE_OK);
        EXPECT_EQ(log.countExact(std::string(" Request Range: (1, 999) 0-999, ") + c.logged), 1) << log.dump();
    }
    settings = saved;
}

// The byte count of the " Request Range: " line is 64-bit: a segment of more than 4 GiB (a large
// file in few slices) is logged with its real size. The reply is refused at its headers (the
// task expects another total), so nothing is fetched.
TEST(TransferLimits, RequestRangeLineCountsBeyondFourGiB) {
    ASSERT_TRUE(LocalServices::Reset());
    Output out(0);
    auto task = Segment(LocalServices::DownloadUrl(false, "big.exe"), 0, kBigSize - 1, kBigSize + 1);
    task->Verbose = 1;
    LogCapture log;
    EXPECT_EQ(out.Fetch(task->RemotePath, *task), CURLE_WRITE_ERROR);
    EXPECT_EQ(log.countExact(" Request Range: (1, " + std::to_string(kBigSize - 1) + ") 0-" +
                             std::to_string(kBigSize - 1) + ", [3,20]"),
              1)
        << log.dump();
    EXPECT_EQ(task->DownloadedPos, 0);
}

TEST(TransferLimits, NoServerListening) {
    // Nothing listens on port 1 of the loopback.
    CLibcurlTool tool(curl_easy_init());
    char headers[CLibcurlTool::kHeaderBufferSize] = {};
    long status = -1;
    std::string body = "unchanged";
    LogCapture log;
    EXPECT_EQ(tool.httpGet("http://127.0.0.1:1/x", headers, status), CURLE_COULDNT_CONNECT);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(log.countExact(" Curl Connect Server Error"), 1) << log.dump();
    EXPECT_EQ(tool.httpGet("http://127.0.0.1:1/x", body), CURLE_COULDNT_CONNECT);
    EXPECT_EQ(body, "unchanged");
}

}  // namespace
