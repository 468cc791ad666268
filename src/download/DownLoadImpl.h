#pragma once
// What the rest of the setup calls to download a file and to verify it: one supervised
// download attempt, and the MD5 check with its ".db" record.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "download/DownloadResult.h"

class CDownLoadImpl {
public:
    // The window's progress update (downloaded bytes, total bytes, unused); called on the
    // downloading thread. While none is registered there is no window to update.
    using ProgressCallback = std::function<int(int64_t downloaded, int64_t total, int32_t unused)>;
    static void SetProgressCallback(ProgressCallback callback);

    // The supervisor's limits. The defaults are the product's; tests shorten them.
    struct Limits {
        DWORD noProgressMs = 60000;  // no new byte for this long ends the attempt (10)
        DWORD driverWaitMs = 180000; // wait for the driver thread to end
        DWORD passPauseMs = 20;      // pause between watch passes
        DWORD networkDownPauseMs = 1100;
        bool (*networkAlive)() = nullptr;  // null: IsNetworkAlive of the system
    };
    static Limits GetLimits();
    static void SetLimits(const Limits& limits);

    // Stops the download from another thread (the window closed for good): the running attempt
    // ends its transfers through its run state and saves its task file, and this and every later
    // SuperDownloadFile returns ErrStopped. ClearStop lets downloads run again (tests).
    static void RequestStop();
    static void ClearStop();
    static bool StopRequested();

    // One supervised attempt to download remote into local (the task file is local + ".xml"):
    // an EnumErrorCode, 1 on success. cdnSummary gets the CDN summary of the attempt.
    static EnumErrorCode SuperDownloadFile(const std::wstring& remote, const std::wstring& local, std::string& cdnSummary,
                                 bool mainDownload);

    // MD5 of the file (lower-case hex), recorded in path + ".db" as record + "###" + digest;
    // true when it equals either expected digest exactly.
    static bool checkMD5(const std::wstring& path, const std::wstring& md5, const std::wstring& md5Extra,
                         const std::wstring& record);
    // Lower-case hex MD5 of a file; a file that cannot be opened is hashed as empty input.
    // The same for a digest computed already (FileMd5 of path): logs it, records it and compares it.
    static bool checkDigest(const std::wstring& path, const std::string& digest, const std::wstring& md5,
                            const std::wstring& md5Extra, const std::wstring& record);
    static std::string FileMd5(const std::wstring& path);

    // Workers for a number of processors: processors * 8 / 5, at least 4.
    static int WorkerCount(unsigned processors);
    // " Average speed: " text of an average speed in bytes per second ("%.1fMB/s" of MiB/s
    // truncated to two decimals).
    static std::string AverageSpeedText(int64_t bytesPerSecond);
};
