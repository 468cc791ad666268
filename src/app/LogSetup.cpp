#include "app/LogSetup.h"

#include <easylogging++.h>

#include <cstdio>
#include <mutex>

#include "platform/LinkFreeFolders.h"

namespace {

// The run's log file, opened through its wide path: the logging library opens files by narrow
// names in the ANSI code page, which cannot name a log folder under an APPDATA that holds other
// characters (a user name in another script). Text mode and a flush per line, as the library's
// own file stream writes.
std::mutex g_fileLock;
FILE* g_file = nullptr;

class RunLogFile : public el::LogDispatchCallback {
protected:
    void handle(const el::LogDispatchData* data) override {
        const el::LogMessage* message = data->logMessage();
        if (data->dispatchAction() != el::base::DispatchAction::NormalLog || message->level() != el::Level::Info ||
            message->logger()->id() != "default")
            return;
        std::string line = message->logger()->logBuilder()->build(message, true);
        std::lock_guard<std::mutex> lock(g_fileLock);
        if (!g_file) return;
        fwrite(line.data(), 1, line.size(), g_file);
        fflush(g_file);
    }
};

void OpenRunLogFile(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(g_fileLock);
    if (g_file) fclose(g_file);
    // The log folder is the user's: a file there reached through a link is not written.
    g_file = path.empty() ? nullptr : LinkFreeFolders::OpenForAppend(path, true);
}

}  // namespace

void ConfigureProgramLog(const std::wstring& logFilePath) {
    el::Configurations conf;
    conf.setToDefault();
    conf.set(el::Level::Info, el::ConfigurationType::Format, "%datetime--[Thread](%thread) %msg");
    conf.set(el::Level::Info, el::ConfigurationType::Enabled, "true");
    conf.set(el::Level::Info, el::ConfigurationType::ToStandardOutput, "true");
    // The file is written by RunLogFile, not by the library (see above).
    conf.set(el::Level::Info, el::ConfigurationType::ToFile, "false");
    el::Loggers::reconfigureLogger("default", conf);
    OpenRunLogFile(logFilePath);
    el::Helpers::installLogDispatchCallback<RunLogFile>("RunLogFile");
    el::Loggers::addFlag(el::LoggingFlag::DisableApplicationAbortOnFatalLog);
    el::Loggers::removeFlag(el::LoggingFlag::LogDetailedCrashReason);
}
