#pragma once
// The result of a download attempt and of its preparation, with the fixed values the install
// worker and the analytics events rely on.
#include <cstdint>

// Result of preparing and of running a download attempt.
enum EnumErrorCode : int32_t {
    ErrSuccess = 1,
    ErrSizeUnknown = 6,          // size of the remote file unknown after 10 probes
    ErrOpenFile = 7,             // local output file cannot be opened
    ErrNoThreads = 8,            // no worker thread could be started
    ErrNetwork = 9,              // network not available
    ErrNoProgress = 10,          // no progress for 60 seconds
    ErrCdnFailures = 11,         // too many failed requests on a CDN address
    ErrShortFile = 12,           // fewer bytes than the remote size
    ErrTooManyRedirects = 13,    // too many redirects while probing the size
    ErrMainDownloadTooSmall = 15, // the finished main download is smaller than 1 MiB
    ErrStopped = 17              // stopped by its owner (the window closed); the task file keeps the positions
};
