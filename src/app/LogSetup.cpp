#include "app/LogSetup.h"

#include <easylogging++.h>

#include "base/TextCodec.h"

void ConfigureProgramLog(const std::wstring& logFilePath) {
    el::Configurations conf;
    conf.setToDefault();
    conf.set(el::Level::Info, el::ConfigurationType::Format, "%datetime--[Thread](%thread) %msg");
    conf.set(el::Level::Info, el::ConfigurationType::Enabled, "true");
    conf.set(el::Level::Info, el::ConfigurationType::ToStandardOutput, "true");
    conf.set(el::Level::Info, el::ConfigurationType::ToFile, logFilePath.empty() ? "false" : "true");
    if (!logFilePath.empty())
        conf.set(el::Level::Info, el::ConfigurationType::Filename, TextCodec::WideToAnsi(logFilePath));
    el::Loggers::reconfigureLogger("default", conf);
    el::Loggers::addFlag(el::LoggingFlag::DisableApplicationAbortOnFatalLog);
    el::Loggers::removeFlag(el::LoggingFlag::LogDetailedCrashReason);
}
