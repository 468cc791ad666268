#pragma once
#include <string>

// Configures the logger "default": information level to standard output and to the given file
// (appended to, opened by its wide path; none when empty), one line per message as
// "%datetime--[Thread](%thread) %msg"; a fatal message does not end the
// program and the library's own crash report is off (the program has its own crash handling).
void ConfigureProgramLog(const std::wstring& logFilePath);
