#include "net/CLibcurlTool.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/RangeTarget.h"
#include "base/DownloadSettings.h"
#include "base/TlsPolicy.h"
#include "easylogging++.h"

namespace {

const char kUserAgentHeader[] =
    "User-Agent:Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/62.0.3202.75 Safari/537.36";

// Writer of the header probe and the plain GET: appends the chunk to a text.
size_t appendToText(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// Writer of the POST: like appendToText, but a missing chunk or target ends the transfer.
size_t appendPostReply(char* data, size_t size, size_t count, void* target) {
    if (!data || !target) return static_cast<size_t>(-1);
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
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
    if (status >= 400) return false;
    if (status == 200 && task.DownloadedPos != 0) return false;
    return true;
}

// The first byte position of a "Content-Range: bytes A-B/T" line; false when there is none
// (for example "bytes */T").
bool contentRangeStart(const std::string& line, int64_t& start) {
    size_t at = line.find("Content-Range");
    size_t colon = line.find(':', at);
    if (colon == std::string::npos) return false;
    size_t p = line.find_first_not_of(' ', colon + 1);
    if (p == std::string::npos || _strnicmp(line.c_str() + p, "bytes", 5) != 0) return false;
    p = line.find_first_not_of(' ', p + 5);
    if (p == std::string::npos || line[p] < '0' || line[p] > '9') return false;
    char* end = nullptr;
    long long value = strtoll(line.c_str() + p, &end, 10);
    if (!end || *end != '-') return false;
    start = value;
    return true;
}

// The text of line from offset to the first CR LF after it (or to the end).
std::string textUpToCrLf(const std::string& line, size_t offset) {
    if (offset > line.size()) return std::string();
    size_t end = line.find("\r\n", offset);
    return line.substr(offset, end == std::string::npos ? std::string::npos : end - offset);
}

// libcurl hands the body to its writer in pieces of at most CURL_MAX_WRITE_SIZE (16 KiB),
// whatever the receive buffer. Each write into the shared file takes the named download mutex,
// a seek and a write; under Wine each of these is a call into the Wine server, and with the
// workers queuing on the mutex 16 KiB at a time they, not the network, bound the download.
// The gatherer collects a transfer's pieces into blocks of up to kWriteBlockSize and hands each
// block to downloadFunc, which writes it as it writes any chunk: at the task's DownloadedPos,
// under the mutex, cut at the segment's end. The bytes land where they would have landed one
// piece at a time; DownloadedPos still counts only bytes in the file. A block is handed over
// when it is full, when its first byte has waited kWriteBlockAgeMs (checked on every piece and
// on libcurl's progress calls, which keep coming while nothing arrives, so progress of a
// stalled transfer is not held back), and when the transfer ends, however it ends.
class ChunkGatherer {
public:
    static constexpr size_t kWriteBlockSize = 256 * 1024;
    static constexpr DWORD kWriteBlockAgeMs = 100;

    explicit ChunkGatherer(IRangeTarget* target) : m_thread(target) { m_block.reserve(kWriteBlockSize); }

    // Body writer: returns count to go on, anything else to end the transfer.
    static size_t write(char* data, size_t size, size_t count, void* self) {
        return static_cast<ChunkGatherer*>(self)->add(data, size * count);
    }
    // Progress call: hands over a block that has waited long enough; non-zero ends the transfer.
    static int progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<ChunkGatherer*>(self)->flushIfOld() ? 0 : 1;
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
        // Without a task or a file nothing is gathered: the writer refuses the piece at once.
        if (!task || !m_thread->getFile()) return downloadFunc(data, 1, n, m_thread);
        if (m_failed) return 0;
        if (!m_block.empty() && m_block.size() + n > kWriteBlockSize && !flush()) return 0;
        if (m_block.empty()) m_firstTick = GetTickCount();
        m_block.insert(m_block.end(), data, data + n);
        if (m_block.size() >= kWriteBlockSize && !flush()) return 0;
        return flushIfOld() ? n : 0;
    }
    bool flushIfOld() {
        if (m_block.empty() || GetTickCount() - m_firstTick < kWriteBlockAgeMs) return !m_failed;
        return flush();
    }

    IRangeTarget* m_thread;
    std::vector<char> m_block;
    DWORD m_firstTick = 0;
    bool m_failed = false;
};

}  // namespace

CLibcurlTool::~CLibcurlTool() {
    if (m_pCurl) curl_easy_cleanup(m_pCurl);
}

CURLcode CLibcurlTool::httpGet(const std::string& url, char* headerBuffer, long& responseCode) {
    if (!m_pCurl) {
        LOG(INFO) << " curl easy init fail !!!";
        return CURLE_FAILED_INIT;
    }
    curl_easy_reset(m_pCurl);
    std::string headers;
    curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_pCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_HEADER, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION, appendToText);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA, &headers);
    CURLcode res = TlsPolicy::Apply(m_pCurl);
    if (res != CURLE_OK) {
        figureError(res);
        return res;
    }
    res = curl_easy_perform(m_pCurl);
    TlsPolicy::LogIfRefused(m_pCurl, res);
    curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &responseCode);
    if (headerBuffer) {
        // Bounded copy that always ends in a terminator (the buffer holds kHeaderBufferSize).
        size_t n = headers.size() < kHeaderTextMax ? headers.size() : kHeaderTextMax;
        memcpy(headerBuffer, headers.data(), n);
        headerBuffer[n] = '\0';
    }
    if (res != CURLE_OK) figureError(res);
    return res;
}

CURLcode CLibcurlTool::httpGet(const std::string& url, std::string& body) {
    if (!m_pCurl) {
        LOG(INFO) << " curl easy init fail !!!";
        return CURLE_FAILED_INIT;
    }
    curl_easy_reset(m_pCurl);
    std::string received;
    curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_pCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_pCurl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION, appendToText);
    curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT, 5L);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA, &received);
    CURLcode res = TlsPolicy::Apply(m_pCurl);
    if (res != CURLE_OK) return res;
    res = curl_easy_perform(m_pCurl);
    TlsPolicy::LogIfRefused(m_pCurl, res);
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
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    TlsPolicy::Apply(curl);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 8L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    CURLcode res = curl_easy_perform(curl);
    TlsPolicy::LogIfRefused(curl, res);
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
    const long connectTimeout = settings.ConnectTimeout;
    const long transferTimeout = settings.TransferTimeout;
    const std::string range = std::to_string(fromPos) + "-" + std::to_string(toPos);

    TransferSegment* task = thread ? thread->getSegment() : nullptr;
    if (task && task->Verbose) {
        // The byte count is logged as a 32-bit difference, which is exact for segment sizes.
        const int32_t byteCount =
            static_cast<int32_t>(static_cast<uint32_t>(toPos) - static_cast<uint32_t>(fromPos));
        LOG(INFO) << " Request Range: (" << task->TaskId.load() << ", " << byteCount << ") " << range
                  << ", [" << connectTimeout << "," << transferTimeout << "]";
    }

    curl_easy_reset(m_pCurl);
    curl_slist* headerList = curl_slist_append(nullptr, kUserAgentHeader);
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
    // A large receive buffer: each receive and each locked write into the shared file moves up
    // to 512 KiB instead of 16 KiB, which keeps the system calls per byte (costly under Wine and
    // on slow machines) and the contention on the download mutex low.
    curl_easy_setopt(m_pCurl, CURLOPT_BUFFERSIZE, kSegmentBufferSize);
    CURLcode res = TlsPolicy::Apply(m_pCurl);
    if (res == CURLE_OK) res = curl_easy_perform(m_pCurl);
    TlsPolicy::LogIfRefused(m_pCurl, res);
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
    if (!task || !thread->getFile()) return 0;

    HANDLE mutex = thread->getMutex();
    const DWORD wait = mutex ? WaitForSingleObject(mutex, INFINITE) : WAIT_FAILED;
    const bool locked = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;

    size_t written = 0;
    const int64_t pos = task->DownloadedPos;
    const int64_t end = task->EndPos;
    // A task that is already past its end takes nothing (and the transfer ends).
    if (pos <= end) {
        const bool fits = pos + static_cast<int64_t>(n) <= end;
        const size_t wanted = fits ? n : static_cast<size_t>(end - pos + 1);
        // 64-bit seek: segments of packages of 2 GiB and more lie beyond a 32-bit offset.
        if (_fseeki64(thread->getFile(), pos, SEEK_SET) == 0)
            written = fwrite(data, 1, wanted, thread->getFile());
        // DownloadedPos counts only bytes that reached the file. A chunk that reaches past the
        // segment leaves it at EndPos once everything up to EndPos was written.
        task->DownloadedPos = (!fits && written == wanted) ? end : pos + static_cast<int64_t>(written);
    }
    if (locked) ReleaseMutex(mutex);

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

    if (text.size() >= 5 && _strnicmp(text.c_str(), "HTTP/", 5) == 0) {
        int major = 0, minor = 0, status = 0;
        // An HTTP/2 status line ("HTTP/2 200") has two numbers only and is not checked.
        if (sscanf(text.c_str(), "%*[^0-9]%d%*[^0-9]%d%*[^0-9]%d%*[^0-9]", &major, &minor, &status) == 3 &&
            status != 0 && !statusFitsSegment(*task, status)) {
            LOG(INFO) << " HeaderCallback error0: http_code is " << status;
            return 0;
        }
    }

    bool cdnLine = false;
    if (text.find("CF-RAY:") != std::string::npos) {
        // The data-centre suffix of the ray identifier, e.g. "FRA" of "7d2a...-FRA".
        size_t dash = text.find('-', 7);
        if (dash != std::string::npos) {
            std::string value = textUpToCrLf(text, dash + 1);
            task->CdnInfo = task->CdnInfo.empty() ? value : value + "/" + task->CdnInfo;
        }
        cdnLine = true;
    } else if (text.find("CF-Cache-Status:") != std::string::npos) {
        std::string value = textUpToCrLf(text, 17);
        task->CdnInfo = task->CdnInfo.empty() ? value : task->CdnInfo + "/" + value;
        cdnLine = true;
    } else if (text.find("Content-Range") != std::string::npos) {
        size_t slash = text.rfind('/');
        if (slash == std::string::npos) {
            LOG(INFO) << " HeaderCallback error2: " << text;
            return 0;
        }
        const int64_t total = strtoll(text.c_str() + slash + 1, nullptr, 10);
        if (total != task->ContentLength) {
            LOG(INFO) << " HeaderCallback error1: " << task->ContentLength << " != " << text;
            return 0;
        }
        // The reply must start where the segment continues, or its bytes would land at the
        // wrong place in the file.
        int64_t start = 0;
        if (contentRangeStart(text, start) && start != task->DownloadedPos) {
            LOG(INFO) << " HeaderCallback error3: " << task->DownloadedPos << " != " << text;
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
