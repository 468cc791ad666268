#pragma once
// One segment of a segmented download: its byte range in the remote file and its progress.
// Positions are signed 64-bit byte offsets into the remote file.
//
// While a segment is in progress DownloadedPos is the next byte to write; the segment counts
// as complete when DownloadedPos equals EndPos. For the last segment EndPos is the file length
// itself (one past the last byte).
#include <atomic>
#include <cstdint>
#include <string>

class CTask {
public:
    std::atomic<int32_t> TaskStatus{0};  // 0 new, 1 complete, 2 failed last request, 3 handed out
    std::atomic<int32_t> TaskId{0};      // 1-based segment number in file order
    int32_t Verbose = 0;                 // non-zero: per-task and per-request log lines
    std::string RemotePath;              // final address of the file (after redirects)
    std::string LocalPath;               // local output file
    std::string HeadCdnInfo;             // CDN text the size probe saw when the task was made
    std::string CdnInfo;                 // CDN text gathered from this segment's own requests
    int64_t StartPos = 0;
    int64_t EndPos = 0;
    // Written by the worker under the download mutex, read by the driver without it: atomic, so
    // a 32-bit process never reads half of an old and half of a new position.
    std::atomic<int64_t> DownloadedPos{0};
    int64_t ContentLength = 0;           // length of the whole remote file, 0 = unknown
    int32_t RequestTimes = 0;            // failed requests of this segment in the current attempt
};
