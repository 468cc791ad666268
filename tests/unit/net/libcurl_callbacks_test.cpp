// The ranged GET's body writer and header checker, and the error texts, driven directly
// (no server): the boundary cases of a segment, the status and Content-Range checks, the CDN
// text, and writes beyond 4 GiB.
#include <curl/curl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "download/CDownloadThread.h"
#include "net/CLibcurlTool.h"
#include "download/CTask.h"
#include "download/PackageFile.h"
#include "support/log_capture.h"

namespace {

// The byte a source file holds at a position (differs between nearby and 4 GiB apart positions).
uint8_t SourceByte(int64_t pos) { return uint8_t((uint64_t(pos) * 0x9E3779B97F4A7C15ull) >> 56); }
std::vector<char> SourceBytes(int64_t from, size_t n) {
    std::vector<char> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = char(SourceByte(from + int64_t(i)));
    return out;
}
const char kUntouched = char(0xEE);

std::wstring TempFilePath(const wchar_t* tag) {
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, tag, 0, path);
    return path;
}

// A worker thread with its task, writing into a scratch output file pre-filled with a marker.
class WriterFixture : public ::testing::Test {
protected:
    void SetUp() override { path_ = TempFilePath(L"wr"); }
    void TearDown() override {
        thread_.reset();
        package_.reset();
        DeleteFileW(path_.c_str());
    }
    // writable false: the package refuses every write (as after its attempt gave it up).
    void OpenOutput(size_t size, bool writable = true) {
        thread_.reset();
        package_.reset();
        FILE* f = _wfopen(path_.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        std::vector<char> fill(size, kUntouched);
        fwrite(fill.data(), 1, fill.size(), f);
        fclose(f);
        package_.reset(new PackageFile(std::string(path_.begin(), path_.end())));
        DWORD error = 0;
        ASSERT_TRUE(package_->open(error)) << error;
        if (!writable) package_->revokeWrites();
        thread_.reset(new CDownloadThread(package_.get()));
        thread_->setTask(&task_);
    }
    // Feeds the next n bytes of the source (at DownloadedPos) to the writer.
    size_t Feed(size_t n) {
        std::vector<char> chunk = SourceBytes(task_.DownloadedPos, n);
        return downloadFunc(chunk.data(), 1, n, static_cast<IRangeTarget*>(thread_.get()));
    }
    std::vector<char> FileBytes() {
        FILE* f = _wfopen(path_.c_str(), L"rb");
        std::vector<char> out;
        int c;
        while ((c = fgetc(f)) != EOF) out.push_back(char(c));
        fclose(f);
        return out;
    }

    std::wstring path_;
    std::unique_ptr<PackageFile> package_;
    CTask task_;
    std::unique_ptr<CDownloadThread> thread_;
};

struct WriterCase {
    const char* name;
    int64_t downloadedPos, endPos;
    std::vector<size_t> chunks;       // chunk sizes fed in order
    std::vector<size_t> written;      // what the writer reports for each
    std::vector<int64_t> posAfter;    // DownloadedPos after each
    int64_t writtenFrom, writtenTo;   // file bytes [from, to) that hold source bytes; others untouched
};

TEST_F(WriterFixture, SegmentBoundaries) {
    const WriterCase cases[] = {
        // The chunk that ends at EndPos - 1 leaves DownloadedPos at EndPos; the next chunk
        // still writes the one byte at EndPos.
        {"ends at EndPos-1, then one byte", 10, 19, {9, 1}, {9, 1}, {19, 19}, 10, 20},
        // A server that sends more than asked: the writer keeps what fits and ends the transfer.
        {"reaches past EndPos", 10, 19, {15}, {10}, {19}, 10, 20},
        {"fits in two chunks", 0, 99, {60, 40}, {60, 40}, {60, 99}, 0, 100},
        {"more after the segment is done", 0, 9, {10, 5}, {10, 1}, {9, 9}, 0, 10},
        // Inconsistent task (already past its end): nothing is written anywhere.
        {"task past its end", 21, 20, {5}, {0}, {21}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenOutput(128);
        task_.DownloadedPos = c.downloadedPos;
        task_.EndPos = c.endPos;
        for (size_t i = 0; i < c.chunks.size(); ++i) {
            EXPECT_EQ(Feed(c.chunks[i]), c.written[i]) << "chunk " << i;
            EXPECT_EQ(task_.DownloadedPos, c.posAfter[i]) << "chunk " << i;
        }
        std::vector<char> bytes = FileBytes();
        ASSERT_EQ(bytes.size(), 128u);
        for (int64_t p = 0; p < 128; ++p) {
            char want = p >= c.writtenFrom && p < c.writtenTo ? char(SourceByte(p)) : kUntouched;
            ASSERT_EQ(bytes[size_t(p)], want) << "byte " << p;
        }
    }
}

TEST_F(WriterFixture, ShortWriteIsLoggedWithTheTaskState) {
    OpenOutput(64);
    task_.TaskId = 7;
    task_.DownloadedPos = 10;
    task_.EndPos = 19;
    LogCapture log;
    EXPECT_EQ(Feed(15), 10u);
    EXPECT_EQ(log.countExact(" Thread: 7 Write Error. Task id\xA3\xBA" "7 Download to:19 Receive:15 Write:10 Task EndPos:19"), 1)
        << log.dump();
}

TEST_F(WriterFixture, FailedWriteLeavesDownloadedPosWhereItWas) {
    OpenOutput(64, false);  // every write is refused
    task_.DownloadedPos = 5;
    task_.EndPos = 40;
    LogCapture log;
    EXPECT_EQ(Feed(8), 0u);
    EXPECT_EQ(task_.DownloadedPos, 5);
    EXPECT_TRUE(log.contains(" Write Error.")) << log.dump();
}

// Writes take no lock that another program can hold: a process holding the mutex name that
// writers once shared does not stall them.
TEST_F(WriterFixture, WritesNeedNoNamedLock) {
    OpenOutput(64);
    task_.DownloadedPos = 0;
    task_.EndPos = 63;
    HANDLE held = CreateMutexW(nullptr, TRUE, L"mutex_for_downloadthread");
    ASSERT_NE(held, nullptr);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        Feed(8);
        done = true;
    });
    for (int i = 0; i < 500 && !done.load(); ++i) Sleep(10);
    EXPECT_TRUE(done.load());
    ReleaseMutex(held);
    writer.join();
    CloseHandle(held);
    EXPECT_EQ(task_.DownloadedPos, 8);
    const std::vector<char> bytes = FileBytes();
    EXPECT_TRUE(std::vector<char>(bytes.begin(), bytes.begin() + 8) == SourceBytes(0, 8));
}

// A segment of a package larger than 4 GiB lands at its 64-bit position, not at the position
// modulo 2^32 (which a 32-bit seek would pick). The file is sparse: only the written block
// takes space.
TEST_F(WriterFixture, WritesBeyondFourGiBLandAtTheirPosition) {
    OpenOutput(0);
    const int64_t start = (int64_t(5) << 30) + 12345;  // 5 GiB + 12345
    task_.DownloadedPos = start;
    task_.EndPos = start + 4095;
    EXPECT_EQ(Feed(4096), 4096u);
    EXPECT_EQ(task_.DownloadedPos, start + 4095);

    FILE* f = _wfopen(path_.c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(_fseeki64(f, 0, SEEK_END), 0);
    EXPECT_EQ(_ftelli64(f), start + 4096);
    std::vector<char> got(4096);
    ASSERT_EQ(_fseeki64(f, start, SEEK_SET), 0);
    ASSERT_EQ(fread(got.data(), 1, got.size(), f), got.size());
    EXPECT_EQ(got, SourceBytes(start, 4096));
    const int64_t wrapped = start & 0xFFFFFFFF;
    ASSERT_EQ(_fseeki64(f, wrapped, SEEK_SET), 0);
    ASSERT_EQ(fread(got.data(), 1, got.size(), f), got.size());
    EXPECT_EQ(got, std::vector<char>(4096, 0));
    fclose(f);
}

// ---- Header checker --------------------------------------------------------------------------

struct HeaderCase {
    const char* name;
    const char* remotePath;
    int64_t contentLength;
    int64_t downloadedPos;
    std::vector<std::string> lines;
    int abortAt;            // index of the line that is refused, -1 = all accepted
    const char* logLine;    // a log line that must appear exactly, or ""
};

TEST(HeaderCallback, StatusAndContentRangeChecks) {
    const std::string kRange1000 = "Content-Range: bytes 0-99/1000\r\n";
    const HeaderCase cases[] = {
        {"206 for an installer", "http://h/p/pkg.exe", 1000, 0,
         {"HTTP/1.1 206 Partial Content\r\n", kRange1000, "Content-Length: 100\r\n", "\r\n"}, -1, ""},
        {"200 for an installer", "http://h/p/pkg.exe", 1000, 0,
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 1000\r\n"}, 0, " HeaderCallback error0: http_code is 200"},
        {"status line in lower case", "http://h/p/pkg.exe", 1000, 0, {"http/1.1 200 OK\r\n"}, 0,
         " HeaderCallback error0: http_code is 200"},
        {"redirect for an installer", "http://h/p/pkg.exe", 1000, 0,
         {"HTTP/1.1 302 Found\r\n", "Location: http://h/q/pkg.exe\r\n"}, 0,
         " HeaderCallback error0: http_code is 302"},
        // An HTTP/2 status line has no minor version; its status is checked all the same.
        {"HTTP/2 status line", "http://h/p/pkg.exe", 1000, 0, {"HTTP/2 200\r\n", "\r\n"}, 0,
         " HeaderCallback error0: http_code is 200"},
        {"HTTP/2 206", "http://h/p/pkg.exe", 1000, 0, {"HTTP/2 206\r\n", "content-range: bytes 0-99/1000\r\n"}, -1, ""},
        {"suffix in another case is no installer", "http://h/p/PKG.EXE", 1000, 0, {"HTTP/1.1 200 OK\r\n"}, -1, ""},
        {"other address, 200 at the file start", "http://h/p/pkg.zip", 1000, 0,
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 1000\r\n", "\r\n"}, -1, ""},
        {"other address, 302 then 206", "http://h/p/pkg.zip", 1000, 0,
         {"HTTP/1.1 302 Found\r\n", "Location: x\r\n", "\r\n", "HTTP/1.1 206 Partial Content\r\n", kRange1000}, -1, ""},
        // A whole-file body would land at the segment's position: refused.
        {"other address, 200 in mid-file", "http://h/p/pkg.zip", 1000, 100, {"HTTP/1.1 200 OK\r\n"}, 0,
         " HeaderCallback error0: http_code is 200"},
        // An error page is never written into the package.
        {"other address, 404", "http://h/p/pkg.zip", 1000, 0, {"HTTP/1.1 404 Not Found\r\n"}, 0,
         " HeaderCallback error0: http_code is 404"},
        {"total matches", "http://h/p/pkg.exe", 1000, 0, {kRange1000}, -1, ""},
        {"total differs", "http://h/p/pkg.exe", 999, 0, {"HTTP/1.1 206 Partial Content\r\n", kRange1000}, 1,
         " HeaderCallback error1: 999 != Content-Range: bytes 0-99/1000\r\n"},
        {"no total", "http://h/p/pkg.exe", 1000, 0, {"Content-Range: bytes 0-99\r\n"}, 0,
         " HeaderCallback error2: Content-Range: bytes 0-99\r\n"},
        // The reply must continue the segment where it stopped.
        {"range starts elsewhere", "http://h/p/pkg.exe", 1000, 50, {kRange1000}, 0,
         " HeaderCallback error3: 50 != Content-Range: bytes 0-99/1000\r\n"},
        {"range continues the segment", "http://h/p/pkg.exe", 1000, 50, {"Content-Range: bytes 50-99/1000\r\n"}, -1, ""},
        // Headers are matched by name, in any case, never by a text that contains the name.
        {"Content-Range named in another header", "http://h/p/pkg.exe", 999, 0,
         {"HTTP/1.1 206 Partial Content\r\n", "Access-Control-Expose-Headers: Content-Range\r\n"}, -1, ""},
        {"content-range in lower case", "http://h/p/pkg.exe", 999, 0, {"content-range: bytes 0-99/1000\r\n"}, 0,
         " HeaderCallback error1: 999 != content-range: bytes 0-99/1000\r\n"},
        // The end of the range is checked too: after its start and inside the file. A reply
        // shorter than asked is taken (its bytes are right; the rest is asked for again).
        {"range ends before its start", "http://h/p/pkg.exe", 1000, 50, {"Content-Range: bytes 50-40/1000\r\n"}, 0,
         " HeaderCallback error4: 50-40 outside 1000, Content-Range: bytes 50-40/1000\r\n"},
        {"range ends past the file", "http://h/p/pkg.exe", 1000, 50, {"Content-Range: bytes 50-1000/1000\r\n"}, 0,
         " HeaderCallback error4: 50-1000 outside 1000, Content-Range: bytes 50-1000/1000\r\n"},
        {"range shorter than asked", "http://h/p/pkg.exe", 1000, 50, {"Content-Range: bytes 50-60/1000\r\n"}, -1, ""},
        {"unknown length skips every check", "http://h/p/pkg.exe", 0, 7,
         {"HTTP/1.1 200 OK\r\n", "Content-Range: bytes */??\r\n", "Content-Range: bytes 0-99\r\n"}, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTask task;
        task.RemotePath = c.remotePath;
        task.ContentLength = c.contentLength;
        task.DownloadedPos = c.downloadedPos;
        task.EndPos = 999;
        CDownloadThread thread(nullptr);
        thread.setTask(&task);
        LogCapture log;
        int refused = -1;
        for (size_t i = 0; i < c.lines.size() && refused < 0; ++i) {
            std::string line = c.lines[i];
            size_t r = CLibcurlTool::HeaderCallback(&line[0], 1, line.size(), static_cast<IRangeTarget*>(&thread));
            if (r == 0) {
                refused = int(i);
            } else {
                EXPECT_EQ(r, line.size());
            }
        }
        EXPECT_EQ(refused, c.abortAt);
        if (*c.logLine) {
            EXPECT_EQ(log.countExact(c.logLine), 1) << log.dump();
        }
        if (c.abortAt < 0) {
            EXPECT_TRUE(log.lines().empty()) << log.dump();
        }
    }
}

// A request sent with If-Range (the segment knows its file's validator) that is answered with
// the whole file (200) means the file changed: refused, even at the start of the file.
TEST(HeaderCallback, WholeFileAnswerToIfRangeIsRefused) {
    struct {
        const char* validator;
        const char* status;
        bool accepted;
    } cases[] = {{"\"v1\"", "HTTP/1.1 200 OK\r\n", false},
                 {"\"v1\"", "HTTP/1.1 206 Partial Content\r\n", true},
                 {"", "HTTP/1.1 200 OK\r\n", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.validator) + " " + c.status);
        CTask task;
        task.RemotePath = "http://h/p/pkg.zip";
        task.ContentLength = 1000;
        task.EndPos = 999;
        task.Validator = c.validator;
        CDownloadThread thread(nullptr);
        thread.setTask(&task);
        std::string line = c.status;
        EXPECT_EQ(CLibcurlTool::HeaderCallback(&line[0], 1, line.size(), static_cast<IRangeTarget*>(&thread)) != 0,
                  c.accepted);
    }
}

TEST(HeaderCallback, CdnTextInEitherHeaderOrder) {
    const std::string ray = "CF-RAY: 7d2a1b3c4d5e6f70-FRA\r\n";
    const std::string cache = "CF-Cache-Status: HIT\r\n";
    struct {
        const char* name;
        std::vector<std::string> lines;
        const char* headCdnInfo;
        int64_t contentLength;
        const char* expected;
    } cases[] = {
        {"cache status first", {cache, ray}, "", 1000, "FRA/HIT"},
        {"ray first", {ray, cache}, "", 1000, "FRA/HIT"},
        {"ray only", {"HTTP/1.1 206 Partial Content\r\n", ray}, "", 1000, "FRA"},
        {"same as the probe saw", {ray, cache}, "FRA/HIT", 1000, ""},
        {"differs from the probe", {ray, cache}, "FRA/MISS", 1000, "FRA/HIT"},
        {"unknown length", {ray, cache}, "", 0, ""},
        {"names in lower case", {"cf-ray: 7d2a1b3c4d5e6f70-FRA\r\n", "cf-cache-status: HIT\r\n"}, "", 1000, "FRA/HIT"},
        {"other headers that contain the names", {"X-Origin-CF-RAY: 1-LHR\r\n", "X-CF-Cache-Status: MISS\r\n"}, "", 1000,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTask task;
        task.RemotePath = "http://h/p/pkg.exe";
        task.ContentLength = c.contentLength;
        task.HeadCdnInfo = c.headCdnInfo;
        CDownloadThread thread(nullptr);
        thread.setTask(&task);
        for (auto line : c.lines) EXPECT_EQ(CLibcurlTool::HeaderCallback(&line[0], 1, line.size(), static_cast<IRangeTarget*>(&thread)), line.size());
        EXPECT_EQ(task.CdnInfo, c.expected);
    }
}

// ---- Error texts -----------------------------------------------------------------------------

std::string Utf8ToGbk(const char* utf8) {
    int wn = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring w(size_t(wn), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &w[0], wn);
    int n = WideCharToMultiByte(936, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(936, 0, w.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(size_t(n) - 1);
    return out;
}

TEST(FigureError, LogsOneLineWithTheTextOfTheCode) {
    // The Chinese texts must reach the log as GBK bytes.
    const struct { int code; const char* utf8; } cases[] = {
        {1, " ProtoControl Unsupport!"},
        {3, " Curl RemotePath Error"},
        {4, u8" libcurl InitFailed\uFF0CPlease Try again!"},
        {7, " Curl Connect Server Error"},
        {8, u8" FTP服务器非法回复"},
        {10, u8" FTP连接失败"},
        {11, u8" FTP服务器未知回复"},
        {12, u8" FTP连接超时"},
        {13, " Curl unknow error!"},
        {14, " Curl unknow error!"},
        {15, u8" 内部故障"},
        {16, u8" HTTP2错误"},
        {17, u8" FTP获取传输类型失败"},
        {18, u8" 服务器返回文件大小非法"},
        {19, " Curl Else Error: 19"},
        {22, u8" HTTP请求错误"},
        {23, u8" 接收数据错误"},
        {25, u8" 上传数据错误"},
        {26, u8" 本地文件读取错误"},
        {27, u8" 内存不足"},
        {28, " Curl Time out"},
        {30, u8" FTP端口失败"},
        {33, u8" 请求的数据范围错误"},
        {34, " Curl Else Error: 34"},
        {47, " Curl Else Error: 47"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string expected = Utf8ToGbk(c.utf8);
        ASSERT_FALSE(expected.empty());
        LogCapture log;
        EXPECT_EQ(CLibcurlTool::figureError(c.code), 1);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0], expected);
    }
}

TEST(CLibcurlTool, EveryRequestFailsWithoutAHandle) {
    CLibcurlTool tool(nullptr);
    CTask task;
    CDownloadThread thread(nullptr);
    thread.setTask(&task);
    LogCapture log;
    char headers[CLibcurlTool::kHeaderBufferSize] = {};
    long status = -1;
    std::string body = "kept";
    EXPECT_EQ(tool.httpGet("http://127.0.0.1:1/", headers, status), CURLE_FAILED_INIT);
    EXPECT_EQ(tool.httpGet("http://127.0.0.1:1/", body), CURLE_FAILED_INIT);
    EXPECT_EQ(tool.httpDownloadContent("http://127.0.0.1:1/a.exe", 0, 9, &thread), CURLE_FAILED_INIT);
    EXPECT_EQ(body, "kept");
    EXPECT_EQ(log.countExact(" curl easy init fail !!!"), 3) << log.dump();
}

}  // namespace
