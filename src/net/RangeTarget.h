#pragma once
// What a ranged request fills: one segment of a remote file and the shared output file its bytes
// go into. The download engine's worker implements IRangeTarget; the transfer layer knows the
// segment only through TransferSegment, never the engine's own classes.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
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
    int64_t EndPos = 0;
    // Written by the worker under the download mutex, read by the driver without it: atomic, so
    // a 32-bit process never reads half of an old and half of a new position.
    std::atomic<int64_t> DownloadedPos{0};
    int64_t ContentLength = 0;           // length of the whole remote file, 0 = unknown
};

class IRangeTarget {
public:
    // The segment being fetched (null when there is none).
    virtual TransferSegment* getSegment() const = 0;
    // The shared output file, and the mutex that serialises every write into it.
    virtual FILE* getFile() const = 0;
    virtual HANDLE getMutex() const = 0;

protected:
    ~IRangeTarget() = default;
};
