#pragma once
// The one place where the program talks HTTP(S): a libcurl easy handle and the four requests
// made with it, each with its own fixed set of options. Nothing here retries; callers do.
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

class IRangeTarget;

class CLibcurlTool {
public:
    // The header probe copies at most this many characters of header text and then a
    // terminator, so its buffer must hold kHeaderTextMax + 1 bytes.
    static constexpr size_t kHeaderTextMax = 2000;
    static constexpr size_t kHeaderBufferSize = kHeaderTextMax + 1;
    // Receive buffer of the ranged GET (libcurl's largest).
    static constexpr long kSegmentBufferSize = 512 * 1024;
    // Bodies kept in memory (plain GET, POST reply) and the header text of a probe are cut off
    // beyond this: a reply that keeps coming ends the request with CURLE_WRITE_ERROR.
    static constexpr size_t kMaxBodySize = 4 * 1024 * 1024;
    static constexpr size_t kMaxHeaderText = 256 * 1024;
    // Bounds of the time limits of a ranged GET (seconds); a value outside them is a mistake
    // of the configuration and the default is used.
    static constexpr long kDefaultConnectTimeout = 3, kMaxConnectTimeout = 120;
    static constexpr long kDefaultTransferTimeout = 20, kMaxTransferTimeout = 3600;

    // Takes ownership of an easy handle from curl_easy_init (null when that failed).
    explicit CLibcurlTool(CURL* handle) : m_pCurl(handle) {}
    ~CLibcurlTool();
    CLibcurlTool(const CLibcurlTool&) = delete;
    CLibcurlTool& operator=(const CLibcurlTool&) = delete;

    CURL* handle() const { return m_pCurl; }

    // What libcurl learnt of the last response of a header probe.
    struct ProbeResult {
        std::string finalUrl;        // the address of the last response (after redirects)
        int64_t contentLength = -1;  // its Content-Length as libcurl read it, -1 when none
        std::string lastHeaders;     // its header block, whole
    };
    // Header probe: HEAD-style request (redirects followed, at most 5) whose header blocks,
    // each line ending in CR LF, go into headerBuffer (kHeaderBufferSize bytes); responseCode
    // gets the status of the last response, result (when given) what libcurl parsed of it.
    CURLcode httpGet(const std::string& url, char* headerBuffer, long& responseCode, ProbeResult* result = nullptr);
    // Plain GET of at most 5 seconds; on success the received body replaces body, otherwise
    // body is left as it was. protocols (libcurl's list, e.g. "https") narrows the schemes the
    // request and its redirects may use; null: those of the TLS policy (http and https).
    CURLcode httpGet(const std::string& url, std::string& body, const char* protocols = nullptr);
    // POST of postBody on a handle of its own; the reply is appended to response.
    int HttpPost(const std::string& url, const std::string& postBody, std::string& response);
    // Ranged GET of fromPos..toPos (inclusive) into the target's output, at its
    // segment's DownloadedPos. The body is gathered into blocks of up
    // to 256 KiB, each written by downloadFunc.
    CURLcode httpDownloadContent(const std::string& url, int64_t fromPos, int64_t toPos,
                                 IRangeTarget* target);

    // Header checker of the ranged GET (target: an IRangeTarget*): returns size * count to
    // accept the line, 0 to abort.
    static size_t HeaderCallback(char* line, size_t size, size_t count, void* target);
    // Writes one log line for a failing libcurl result; returns 1.
    static int figureError(int code);
    // The log text figureError writes for a code (the Chinese texts in the GBK code page).
    static std::string errorText(int code);

private:
    CURL* m_pCurl = nullptr;
};

// Body writer of the ranged GET (target: an IRangeTarget*): writes the part of the chunk that lies
// within the segment at DownloadedPos (a positioned write of the target); returns the bytes written.
size_t downloadFunc(char* data, size_t size, size_t count, void* target);
