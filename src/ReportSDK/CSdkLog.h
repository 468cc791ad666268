#pragma once
// The report SDK's own log file, apart from the program log: UTF-8 text, one line per message,
// "YYYYMMDD-hhmmss-mmm [pid] message" ending in CR LF (a Windows text file), each line flushed
// at once. Messages written while no file is open are dropped. Safe to use from several threads.
#include <cstdio>
#include <mutex>
#include <string>

class CSdkLog {
public:
    CSdkLog() = default;
    ~CSdkLog() { Close(); }
    CSdkLog(const CSdkLog&) = delete;
    CSdkLog& operator=(const CSdkLog&) = delete;

    // Opens the file for appending; false when it cannot be opened (the log stays silent).
    bool Open(const std::wstring& path);
    void Close();
    bool IsOpen() const;

    // printf-style pattern over narrow UTF-8 values; the message is cut at 4096 characters
    // and the whole line at 1024.
    void Write(const char* format, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void WriteText(const std::string& utf8Message);

    // The line as written to the file (without the line feed), for a message and a time.
    static std::wstring FormatLine(const std::string& utf8Message, int year, int month, int day, int hour, int minute,
                                   int second, int millisecond, unsigned long pid);

private:
    mutable std::mutex m_lock;
    FILE* m_file = nullptr;
};
