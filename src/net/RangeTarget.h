#pragma once
// What a ranged request fills: one segment of a remote file and the output its bytes go into.
// The download engine's worker implements IRangeTarget; the transfer layer knows the segment
// only through TransferSegment, never the engine's own classes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// The part of a download segment that a ranged request reads and advances. Positions are signed
// 64-bit byte offsets into the remote file; DownloadedPos is the next byte to write and the
// segment is complete when it equals EndPos.
struct TransferSegment {
    std::atomic<int32_t> TaskId{0};      // 1-based segment number in file order
    int32_t Verbose = 0;                 // non-zero: per-task and per-request log lines
    std::string RemotePath;              // final address of the file (after redirects)
    std::string HeadCdnInfo;             // CDN text the size probe saw when the task was made
    std::string CdnInfo;                 // CDN text gathered from this segment's own requests
    // Validator (strong entity tag or Last-Modified) of the file the size probe saw; requests
    // send it as If-Range, so a file changed since is answered whole (200), which is refused.
    std::string Validator;
    int64_t EndPos = 0;
    // Written by the worker, read by the driver: atomic, so a 32-bit process never reads half
    // of an old and half of a new position.
    std::atomic<int64_t> DownloadedPos{0};
    int64_t ContentLength = 0;           // length of the whole remote file, 0 = unknown
    // Set by the body writer once every byte of the segment is in the output: the byte at
    // EndPos was written (for the last segment, whose EndPos is the file length, the byte before
    // it). DownloadedPos alone cannot tell: a reply that stops one byte short of EndPos leaves it
    // at EndPos too. Cleared by the worker before each request.
    std::atomic<bool> EndWritten{false};
};

class IRangeTarget {
public:
    // The segment being fetched (null when there is none).
    virtual TransferSegment* getSegment() const = 0;
    // Writes n bytes of the remote file at position pos of the output; returns the number
    // written (fewer, or 0, when the output cannot take them).
    virtual size_t writeAt(int64_t pos, const char* data, size_t n) = 0;
    // Whether the transfer is to end now (its attempt stops).
    virtual bool stopRequested() const = 0;

protected:
    ~IRangeTarget() = default;
};
