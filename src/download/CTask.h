#pragma once
// One segment of a segmented download: its byte range in the remote file and its progress.
// The fields a ranged request reads and advances come from TransferSegment (the transfer layer's
// view of a segment); the rest is the engine's own bookkeeping.
//
// While a segment is in progress DownloadedPos is the next byte to write; the segment counts
// as complete when DownloadedPos equals EndPos. For the last segment EndPos is the file length
// itself (one past the last byte).
#include <atomic>
#include <cstdint>
#include <string>

#include "net/RangeTarget.h"

// States of a segment task (the values are stored in the task file).
enum TaskState : int32_t { TaskNew = 0, TaskComplete = 1, TaskFailed = 2, TaskHandedOut = 3 };

class CTask : public TransferSegment {
public:
    std::atomic<int32_t> TaskStatus{TaskNew};
    std::string LocalPath;               // local output file
    int64_t StartPos = 0;
    // Failed requests of this segment in the current attempt: counted by its worker, summed by
    // the driver while workers run.
    std::atomic<int32_t> RequestTimes{0};
};
