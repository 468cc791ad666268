#pragma once
// The process's last line of defence: the unhandled-exception filter. It frees the single-instance
// mutex so the user can start the setup again at once, writes a minidump beside the run's log
// (or under a dated name in the temporary folder when there is no log), and, when the download
// configuration asks for crash reports, starts a hidden "-dmp" copy of the setup that uploads the
// log and the dump (the process's protected copy, ProtectedSelfCopy: nothing when there is none). It depends on nothing above the platform layer (no analytics, no window), so
// it still works when those are broken.
//
// Everything the filter needs is handed over at start-up, on the main thread, before any other
// thread exists; the filter itself only reads it, formats into fixed buffers and calls the
// system.
#include <windows.h>

#include <string>

// The top-level exception filter: logs, releases the instance mutex, writes the dump, starts the
// crash-report copy when the policy asks for one. Always returns EXCEPTION_EXECUTE_HANDLER (1),
// so the system then ends the process without its error dialog.
//
// When threads fault at the same moment, the first one to enter does the work; every other
// thread waits until that dump is complete and the copy started, and then returns too, so there
// is exactly one dump, never cut short by the process ending under it.
LONG WINAPI UnhandledExceptionHandler(EXCEPTION_POINTERS* exceptionInfo);

namespace CrashHandler {

// Room for the parameters " -dmp " + file name and extension of the log (without terminator).
constexpr size_t kMaxRestartParameterChars = 259;
// Room for the dated dump name in the temporary folder (without terminator).
constexpr size_t kMaxTempDumpPathChars = 255;
// Room for any path the filter opens (MAX_PATH without terminator).
constexpr size_t kMaxPathChars = MAX_PATH - 1;

// Installs UnhandledExceptionHandler as the process's unhandled-exception filter and notes the
// executable's file version, which the filter needs for the dated dump name. First step of the process.
void Install();

// The run's log file (empty when start-up found no base name): the dump goes beside it as
// "<log file path>.dmp", and the crash-report copy is told its name.
void SetLogFilePath(const std::wstring& logFilePath);
// Where the process keeps its single-instance mutex handle. The filter releases, closes and
// clears the handle held there (taking it with an atomic exchange, so a shutdown that releases
// it at the same time never closes it twice).
void SetInstanceMutexSlot(HANDLE* slot);
// The product number (Downloader_id) remembered at the single-instance check; 0 until then.
void SetProductNumber(int productNumber);

// ---- The choices of the filter, as plain functions ----------------------------------------

// True when the download configuration asks for crash reports (Downloader_config 1 or 2).
bool WantsCrashReport(int downloaderConfig);

// The dump path beside the log: the log file's full name followed by ".dmp". Empty when the
// result would not fit kMaxPathChars (a path cut short would name another file).
std::wstring DumpPathBesideLog(const std::wstring& logFilePath);

// The dump path in the temporary folder (which ends with a backslash):
// "<temp><product>_<version>_<YYYYMMDDhhmmssmmm>.dmp". Empty when it would not fit
// kMaxTempDumpPathChars.
std::wstring DumpPathInTemp(const std::wstring& tempFolder, int productNumber, const std::wstring& versionText,
                            const SYSTEMTIME& localTime);

// Parameters of the crash-report copy: " -dmp " followed by the file name and extension of the
// log file path (its folder dropped). False when the name does not fit the room given; an empty
// log file path gives " -dmp " and an empty name.
bool RestartParametersFor(const std::wstring& logFilePath, std::wstring& parameters);

}  // namespace CrashHandler
