#include "net/CLibcurlTool.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/HttpHeaders.h"
#include "net/RangeTarget.h"
#include "base/DownloadSettings.h"
#include "base/SystemProxy.h"
#include "base/TlsPolicy.h"
#include "easylogging++.h"

namespace {

const char kUserAgentHeader[] =
    "User-Agent:Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/62.0.3202.75 Safari/537.36";

// A text that a request fills, up to a limit: a chunk that would take it past the limit ends
// the transfer (CURLE_WRITE_ERROR) instead of growing the memory without end.
struct BoundedText {
    std::string* text;
    size_t limit;
};

// Writer of the header probe and the plain GET: appends the chunk to a bounded text.
size_t appendToText(char* data, size_t size, size_t count, void* target) {
    auto* out = static_cast<BoundedText*>(target);
    const size_t n = size * count;
    if (out->text->size() + n > out->limit) return 0;
    out->text->append(data, n);
    return n;
}

// Writer of the POST: like appendToText, but a missing chunk or target ends the transfer.
size_t appendPostReply(char* data, size_t size, size_t count, void* target) {
    if (!data || !target || !static_cast<BoundedText*>(target)->text) return static_cast<size_t>(-1);
    return appendToText(data, size, count, target);
}

// A time limit of the configuration within its bounds, or the default.
long boundedSeconds(long value, long fallback, long maximum) {
    return value >= 1 && value <= maximum ? value : fallback;
}

bool endsWithExe(const std::string& path) {
    return path.size() >= 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

// Whether the status of a response to a segment request lets its body be written at the
// task's DownloadedPos. Installer packages (".exe") must come as 206. For other addresses a
// server that ignores the range (200) is taken only while the segment is still at byte 0,
// where the whole-file body lines up with the segment; an error reply's body is never taken.
bool statusFitsSegment(const TransferSegment& task, int status) {
    if (endsWithExe(task.RemotePath)) return status == 206;
    // Asked with If-Range: a whole-file answer means the file is no longer the one whose
    // bytes the segments hold.
    if (!task.Validator.empty() && status == 200) return false;
    if (status >= 400) return false;
    if (status == 200 && task.DownloadedPos != 0) return false;
    return true;
}

// libcurl hands the body to its writer in pieces of at most CURL_MAX_WRITE_SIZE (16 KiB),
// whatever the receive buffer. Each write into the output is a system call (under Wine a call
// into the Wine server's file layer as well); 16 KiB at a time they cost more than the copy
// that gathers them. The gatherer collects a transfer's pieces into blocks of up to
// kWriteBlockSize and hands each block to downloadFunc, which writes it as it writes any
// chunk: at the task's DownloadedPos, cut at the segment's end. The bytes land where they
// would have landed one piece at a time; DownloadedPos still counts only bytes in the file. A
// block is handed over when it is full, when its first byte has waited kWriteBlockAgeMs
// (checked on every piece and on libcurl's progress calls, which keep coming while nothing
// arrives, so progress of a stalled transfer is not held back), and when the transfer ends,
// however it ends.
class ChunkGatherer {
public:
    static constexpr size_t kWriteBlockSize = 256 * 1024;
    static constexpr DWORD kWriteBlockAgeMs = 100;

    explicit ChunkGatherer(IRangeTarget* target) : m_thread(target) { m_block.reserve(kWriteBlockSize); }

    // Body writer: returns count to go on, anything else to end the transfer.
    static size_t write(char* data, size_t size, size_t count, void* self) {
        return static_cast<ChunkGatherer*>(self)->add(data, size * count);
    }
    // Progress call: ends the transfer at once when its owner stops; else hands over a block
    // that has waited long enough, and paces a slow line. Non-zero ends the transfer.
    static int progress(void* self, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t) {
        auto* gatherer = static_cast<ChunkGatherer*>(self);
        if (gatherer->m_thread && gatherer->m_thread->stopRequested()) return 1;
        if (!gatherer->flushIfOld()) return 1;
        gatherer->pace(expected, received);
        return 0;
    }
    // Hands over what is gathered; false when downloadFunc wrote less than the block.
    bool flush() {
        if (m_block.empty()) return true;
        const size_t n = m_block.size();
        const size_t written = downloadFunc(m_block.data(), 1, n, m_thread);
        m_block.clear();
        if (written != n) m_failed = true;
        return written == n;
    }
    // Whether a block was cut short: the rest of the transfer is not wanted.
    bool failed() const { return m_failed; }

private:
    size_t add(char* data, size_t n) {
        TransferSegment* task = m_thread ? m_thread->getSegment() : nullptr;
        // Without a task nothing is gathered: the writer refuses the piece at once.
        if (!task) return downloadFunc(data, 1, n, m_thread);
        if (m_failed) return 0;
        if (!m_block.empty() && m_block.size() + n > kWriteBlockSize && !flush()) return 0;
        if (m_block.empty()) m_firstTick = GetTickCount();
        m_block.insert(m_block.end(), data, data + n);
        if (m_block.size() >= kWriteBlockSize && !flush()) return 0;
        return flushIfOld() ? n : 0;
    }
    // libcurl reads what the socket holds as soon as anything arrives. On a line slower than
    // the reader (most users' lines) that is a few KiB at a time, and every read costs a wait on
    // the socket and a receive (under Wine about a dozen requests to its server). libcurl calls
    // progress after each pass of reads: when a pass brought less than kPaceBatch, the worker
    // pauses for about the time the line takes to bring kPaceBatch (at most kPaceMaxMs), so the
    // next read takes what arrived meanwhile in one piece. The kernel's socket buffer holds it;
    // the sender is not held up, so the transfer takes as long as before. A fast line fills a
    // pass on its own and is never paused; a stalled one (nothing in the pass) neither.
    static constexpr curl_off_t kPaceBatch = 512 * 1024;
    static constexpr double kPaceMaxMs = 50;
    static constexpr double kPaceMinMs = 2;
    static constexpr DWORD kPaceSliceMs = 20;
    void pace(curl_off_t expected, curl_off_t received) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const curl_off_t brought = received - m_pacedBytes;
        // libcurl also calls between reads that brought nothing: the line's rate is measured
        // from one call that brought bytes to the next.
        if (brought <= 0) return;
        const LONGLONG ticks = now.QuadPart - m_pacedAt;
        const bool first = m_pacedAt == 0;
        m_pacedBytes = received;
        m_pacedAt = now.QuadPart;
        if (first || brought >= kPaceBatch || ticks <= 0) return;
        static const double ticksPerMs = [] {
            LARGE_INTEGER f;
            QueryPerformanceFrequency(&f);
            return static_cast<double>(f.QuadPart) / 1000.0;
        }();
        const double bytesPerMs = static_cast<double>(brought) * ticksPerMs / static_cast<double>(ticks);
        double waitMs = static_cast<double>(kPaceBatch) / bytesPerMs;
        if (waitMs > kPaceMaxMs) waitMs = kPaceMaxMs;
        // Never past the time the rest of the reply (its length known) takes to arrive: the
        // segment's end is read as soon as it is there.
        if (expected > received) {
            const double restMs = static_cast<double>(expected - received) / bytesPerMs;
            if (restMs < waitMs) waitMs = restMs;
        }
        if (waitMs < kPaceMinMs) return;
        // In slices, so that a stop of the attempt still ends the transfer at once.
        for (DWORD left = static_cast<DWORD>(waitMs); left > 0 && !(m_thread && m_thread->stopRequested());) {
            const DWORD slice = left < kPaceSliceMs ? left : kPaceSliceMs;
            Sleep(slice);
            left -= slice;
        }
    }

    bool flushIfOld() {
        if (m_block.empty() || GetTickCount() - m_firstTick < kWriteBlockAgeMs) return !m_failed;
        return flush();
    }

    IRangeTarget* m_thread;
    std::vector<char> m_block;
    DWORD m_firstTick = 0;
    bool m_failed = false;
    curl_off_t m_pacedBytes = 0;  // bytes received at the last progress call that brought any
    LONGLONG m_pacedAt = 0;       // and its performance-counter time (0: none yet)
};

}  // namespace

CLibcurlTool::~CLibcurlTool() {
    if (m_pCurl) curl_easy_cleanup(m_pCurl);
}

CURLcode CLibcurlTool::httpGet(const std::string& url, char* headerBuffer, long& responseCode, ProbeResult* result) {
    if (!m_pCurl) {
        LOG(INFO) << " curl easy init fail !!!";
        return CURLE_FAILED_INIT;
    }
    curl_easy_reset(m_pCurl);
    std::string headers;
    BoundedText headerText{&headers, kMaxHeaderText};
    curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_pCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_HEADER, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT, 30L);
    // A host that does not answer the connection fails in the ranged requests' connect time,
    // not in the whole 30 s of the probe: ten probes of a black-holed host end in about 30 s.
    curl_easy_setopt(m_pCurl, CURLOPT_CONNECTTIMEOUT,
                     boundedSeconds(GetDownloadSettings().ConnectTimeout, kDefaultConnectTimeout, kMaxConnectTimeout));
    curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION, appendToText);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA, &headerText);
    CURLcode res = TlsPolicy::Apply(m_pCurl);
    if (res != CURLE_OK) {
        figureError(res);
        return res;
    }
    SystemProxy::Apply(m_pCurl, url);
    res = curl_easy_perform(m_pCurl);
    TlsPolicy::LogIfRefused(m_pCurl, res);
    SystemProxy::LogIfFailed(m_pCurl, url, res);
    curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &responseCode);
    if (result) {
        char* finalUrl = nullptr;
        if (curl_easy_getinfo(m_pCurl, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl)
            result->finalUrl = finalUrl;
        curl_off_t length = -1;
        if (curl_easy_getinfo(m_pCurl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) length = -1;
        result->contentLength = length;
        result->lastHeaders = HttpHeaders::LastBlock(headers);
    }
    if (headerBuffer) {
        // Bounded copy that always ends in a terminator (the buffer holds kHeaderBufferSize).
        size_t n = headers.size() < kHeaderTextMax ? headers.size() : kHeaderTextMax;
        memcpy(headerBuffer, headers.data(), n);
        headerBuffer[n] = '\0';
    }
    if (res != CURLE_OK) figureError(res);
    return res;
}

CURLcode CLibcurlTool::httpGet(const std::string& url, std::string& body, const char* protocols) {
    if (!m_pCurl) {
        LOG(INFO) << " curl easy init fail !!!";
        return CURLE_FAILED_INIT;
    }
    curl_easy_reset(m_pCurl);
    std::string received;
    BoundedText receivedText{&received, kMaxBodySize};
    curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_pCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_pCurl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION, appendToText);
    curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT, 5L);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA, &receivedText);
    CURLcode res = TlsPolicy::Apply(m_pCurl);
    if (res != CURLE_OK) return res;
    if (protocols) {
        curl_easy_setopt(m_pCurl, CURLOPT_PROTOCOLS_STR, protocols);
        curl_easy_setopt(m_pCurl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    }
    SystemProxy::Apply(m_pCurl, url);
    res = curl_easy_perform(m_pCurl);
    TlsPolicy::LogIfRefused(m_pCurl, res);
    SystemProxy::LogIfFailed(m_pCurl, url, res);
    // Only a completed request replaces the caller's text: a time-out or a broken connection
    // leaves it as it was, never half a body.
    if (res == CURLE_OK) body = received;
    return res;
}

int CLibcurlTool::HttpPost(const std::string& url, const std::string& postBody, std::string& response) {
    CURL* curl = curl_easy_init();
    if (!curl) {
        LOG(INFO) << " curl easy init fail !!!";
        return CURLE_FAILED_INIT;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody.c_str());
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendPostReply);
    // The reply may add at most kMaxBodySize to what the caller's text already holds.
    BoundedText reply{&response, response.size() + kMaxBodySize};
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    TlsPolicy::Apply(curl);
    SystemProxy::Apply(curl, url);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 8L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    CURLcode res = curl_easy_perform(curl);
    TlsPolicy::LogIfRefused(curl, res);
    SystemProxy::LogIfFailed(curl, url, res);
    curl_easy_cleanup(curl);
    return res;
}

CURLcode CLibcurlTool::httpDownloadContent(const std::string& url, int64_t fromPos, int64_t toPos,
                                           IRangeTarget* thread) {
    if (!m_pCurl) {
        LOG(INFO) << " curl easy init fail !!!";
        return CURLE_FAILED_INIT;
    }
    const DownloadSettings& settings = GetDownloadSettings();
    const long connectTimeout = boundedSeconds(settings.ConnectTimeout, kDefaultConnectTimeout, kMaxConnectTimeout);
    const long transferTimeout =
        boundedSeconds(settings.TransferTimeout, kDefaultTransferTimeout, kMaxTransferTimeout);
    const std::string range = std::to_string(fromPos) + "-" + std::to_string(toPos);

    TransferSegment* task = thread ? thread->getSegment() : nullptr;
    if (task && task->Verbose) {
        // 64-bit: a segment of a large file (few segments of a big one) spans more than 4 GiB.
        const int64_t byteCount = toPos - fromPos;
        LOG(INFO) << " Request Range: (" << task->TaskId.load() << ", " << byteCount << ") " << range
                  << ", [" << connectTimeout << "," << transferTimeout << "]";
    }

    curl_easy_reset(m_pCurl);
    curl_slist* headerList = curl_slist_append(nullptr, kUserAgentHeader);
    if (task && !task->Validator.empty()) {
        const std::string ifRange = "If-Range: " + task->Validator;
        headerList = curl_slist_append(headerList, ifRange.c_str());
    }
    curl_easy_setopt(m_pCurl, CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_pCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_MAXREDIRS, 5L);
    ChunkGatherer gatherer(thread);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION, &ChunkGatherer::write);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA, &gatherer);
    curl_easy_setopt(m_pCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_pCurl, CURLOPT_XFERINFOFUNCTION, &ChunkGatherer::progress);
    curl_easy_setopt(m_pCurl, CURLOPT_XFERINFODATA, &gatherer);
    curl_easy_setopt(m_pCurl, CURLOPT_HEADERDATA, thread);
    curl_easy_setopt(m_pCurl, CURLOPT_HEADERFUNCTION, &CLibcurlTool::HeaderCallback);
    curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT, transferTimeout);
    curl_easy_setopt(m_pCurl, CURLOPT_CONNECTTIMEOUT, connectTimeout);
    // A large receive buffer: each receive moves up
    // to 512 KiB instead of 16 KiB, which keeps the system calls per byte (costly under Wine and
    // on slow machines) low.
    curl_easy_setopt(m_pCurl, CURLOPT_BUFFERSIZE, kSegmentBufferSize);
    CURLcode res = TlsPolicy::Apply(m_pCurl);
    SystemProxy::Apply(m_pCurl, url);
    if (res == CURLE_OK) res = curl_easy_perform(m_pCurl);
    TlsPolicy::LogIfRefused(m_pCurl, res);
    SystemProxy::LogIfFailed(m_pCurl, url, res);
    // Bytes received before the end of the transfer (also one that failed) go into the file, as
    // they would have one piece at a time. A block cut short ends the request as a refused
    // piece does: with a write error.
    const bool flushed = gatherer.flush();
    if ((res == CURLE_OK && !flushed) || (res == CURLE_ABORTED_BY_CALLBACK && gatherer.failed()))
        res = CURLE_WRITE_ERROR;
    // The handle keeps a pointer to the list until the next reset; drop it before freeing.
    curl_easy_setopt(m_pCurl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headerList);
    if (res != CURLE_OK) figureError(res);
    return res;
}

size_t downloadFunc(char* data, size_t size, size_t count, void* userdata) {
    auto* thread = static_cast<IRangeTarget*>(userdata);
    TransferSegment* task = thread ? thread->getSegment() : nullptr;
    const size_t n = size * count;  // libcurl passes an item size of 1
    if (!task) return 0;

    // Only this worker advances its segment, and every write names its own position: no lock.
    size_t written = 0;
    const int64_t pos = task->DownloadedPos;
    const int64_t end = task->EndPos;
    // A task that is already past its end takes nothing (and the transfer ends).
    if (pos <= end) {
        const bool fits = pos + static_cast<int64_t>(n) <= end;
        const size_t wanted = fits ? n : static_cast<size_t>(end - pos + 1);
        written = thread->writeAt(pos, data, wanted);
        // DownloadedPos counts only bytes that reached the file. A chunk that reaches past the
        // segment leaves it at EndPos once everything up to EndPos was written.
        task->DownloadedPos = (!fits && written == wanted) ? end : pos + static_cast<int64_t>(written);
        // Whether the segment's last byte is in: the byte at EndPos itself, or, for the last
        // segment (EndPos is the file length, one past its last byte), the byte before it. A
        // chunk that ends just before EndPos of any other segment leaves that byte missing.
        const bool lastSegment = task->ContentLength > 0 && end == task->ContentLength;
        if (written == wanted && (!fits || (lastSegment && pos + static_cast<int64_t>(written) == end)))
            task->EndWritten = true;
    }

    if (written != n) {
        // The full-width colon after "Task id" is GBK, like the other Chinese log texts.
        LOG(INFO) << " Thread: " << task->TaskId.load() << " Write Error. Task id\xA3\xBA"
                  << task->TaskId.load() << " Download to:" << task->DownloadedPos << " Receive:" << n
                  << " Write:" << written << " Task EndPos:" << task->EndPos;
    }
    return written;
}

size_t CLibcurlTool::HeaderCallback(char* line, size_t size, size_t count, void* userdata) {
    const size_t accept = size * count;
    auto* thread = static_cast<IRangeTarget*>(userdata);
    TransferSegment* task = thread ? thread->getSegment() : nullptr;
    if (!line || !task || task->ContentLength == 0) return accept;
    const std::string text(line, accept);

    // The status of every response, HTTP/2 status lines ("HTTP/2 200") included.
    const int status = HttpHeaders::StatusOf(line, accept);
    if (status != 0 && !statusFitsSegment(*task, status)) {
        LOG(INFO) << " HeaderCallback error0: http_code is " << status;
        return 0;
    }

    // Headers are matched by name, in any case.
    std::string value;
    bool cdnLine = false;
    if (HttpHeaders::LineIs(text, "CF-RAY", value)) {
        // The data-centre suffix of the ray identifier, e.g. "FRA" of "7d2a...-FRA".
        size_t dash = value.find('-');
        if (dash != std::string::npos) {
            const std::string centre = value.substr(dash + 1);
            task->CdnInfo = task->CdnInfo.empty() ? centre : centre + "/" + task->CdnInfo;
        }
        cdnLine = true;
    } else if (HttpHeaders::LineIs(text, "CF-Cache-Status", value)) {
        task->CdnInfo = task->CdnInfo.empty() ? value : task->CdnInfo + "/" + value;
        cdnLine = true;
    } else if (HttpHeaders::LineIs(text, "Content-Range", value)) {
        if (value.rfind('/') == std::string::npos) {
            LOG(INFO) << " HeaderCallback error2: " << text;
            return 0;
        }
        const int64_t total = strtoll(value.c_str() + value.rfind('/') + 1, nullptr, 10);
        if (total != task->ContentLength) {
            LOG(INFO) << " HeaderCallback error1: " << task->ContentLength << " != " << text;
            return 0;
        }
        // The reply must start where the segment continues, or its bytes would land at the
        // wrong place in the file; and it must end inside the file, after its start. A reply
        // that ends before the segment's end is taken: its bytes are right, the rest is asked
        // for again.
        int64_t first = 0, last = 0, parsedTotal = 0;
        const bool parsed = HttpHeaders::ParseContentRange(value, first, last, parsedTotal);
        if (parsed && first >= 0 && first != task->DownloadedPos) {
            LOG(INFO) << " HeaderCallback error3: " << task->DownloadedPos << " != " << text;
            return 0;
        }
        if (parsed && first >= 0 && (last < first || last >= total)) {
            LOG(INFO) << " HeaderCallback error4: " << first << "-" << last << " outside " << total << ", " << text;
            return 0;
        }
    }
    // A CDN text that says nothing beyond what the size probe saw is not kept.
    if (cdnLine && task->CdnInfo == task->HeadCdnInfo) task->CdnInfo.clear();
    return accept;
}

std::string CLibcurlTool::errorText(int code) {
    // The Chinese texts (and the full-width comma of code 4) are GBK bytes.
    switch (code) {
        case 1: return " ProtoControl Unsupport!";
        case 2: return " Init Failed!";
        case 3: return " Curl RemotePath Error";
        case 4: return " libcurl InitFailed\xA3\xACPlease Try again!";
        case 5: return " Cannt resovlve proxy!";
        case 6: return " cannt resovlve server!";
        case 7: return " Curl Connect Server Error";
        case 8: return " FTP\xB7\xFE\xCE\xF1\xC6\xF7\xB7\xC7\xB7\xA8\xBB\xD8\xB8\xB4";
        case 9: return " Acess Denied!";
        case 10: return " FTP\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC";
        case 11: return " FTP\xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xD6\xAA\xBB\xD8\xB8\xB4";
        case 12: return " FTP\xC1\xAC\xBD\xD3\xB3\xAC\xCA\xB1";
        case 13: return " Curl unknow error!";
        case 14: return " Curl unknow error!";
        case 15: return " \xC4\xDA\xB2\xBF\xB9\xCA\xD5\xCF";
        case 16: return " HTTP2\xB4\xED\xCE\xF3";
        case 17: return " FTP\xBB\xF1\xC8\xA1\xB4\xAB\xCA\xE4\xC0\xE0\xD0\xCD\xCA\xA7\xB0\xDC";
        case 18: return " \xB7\xFE\xCE\xF1\xC6\xF7\xB7\xB5\xBB\xD8\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xB7\xC7\xB7\xA8";
        case 22: return " HTTP\xC7\xEB\xC7\xF3\xB4\xED\xCE\xF3";
        case 23: return " \xBD\xD3\xCA\xD5\xCA\xFD\xBE\xDD\xB4\xED\xCE\xF3";
        case 25: return " \xC9\xCF\xB4\xAB\xCA\xFD\xBE\xDD\xB4\xED\xCE\xF3";
        case 26: return " \xB1\xBE\xB5\xD8\xCE\xC4\xBC\xFE\xB6\xC1\xC8\xA1\xB4\xED\xCE\xF3";
        case 27: return " \xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3";
        case 28: return " Curl Time out";
        case 30: return " FTP\xB6\xCB\xBF\xDA\xCA\xA7\xB0\xDC";
        case 33: return " \xC7\xEB\xC7\xF3\xB5\xC4\xCA\xFD\xBE\xDD\xB7\xB6\xCE\xA7\xB4\xED\xCE\xF3";
        default: return " Curl Else Error: " + std::to_string(code);
    }
}

int CLibcurlTool::figureError(int code) {
    if (code != CURLE_OK) LOG(INFO) << errorText(code);
    return 1;
}
