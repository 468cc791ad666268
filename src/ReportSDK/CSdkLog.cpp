#include "ReportSDK/CSdkLog.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>

#include "base/TextCodec.h"
#include "platform/LinkFreeFolders.h"

namespace {
constexpr size_t kMessageMax = 4096;
constexpr size_t kLineMax = 1024;  // with its line feed, which is never cut off

// The file is a Windows text file: every line feed, the one that ends the line and those a
// message carries (a U+2028 line separator becomes one), is written as a carriage return and
// a line feed, as the C runtime's text mode writes it (a pair already there stays one pair).
std::string WithWindowsLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n' && (out.empty() || out.back() != '\r')) out.push_back('\r');
        out.push_back(c);
    }
    return out;
}
}  // namespace

bool CSdkLog::Open(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_file) fclose(m_file);
    // The SDK's folder is the user's: a file there reached through a link is not written.
    m_file = LinkFreeFolders::OpenForAppend(path, false);
    if (!m_file) return false;
    // A new file starts with the UTF-8 byte order mark, as the C runtime's UTF-8 text mode writes it.
    fseek(m_file, 0, SEEK_END);
    if (ftell(m_file) == 0) {
        fwrite("\xEF\xBB\xBF", 1, 3, m_file);
        fflush(m_file);
    }
    return true;
}

void CSdkLog::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_file) fclose(m_file);
    m_file = nullptr;
}

bool CSdkLog::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_file != nullptr;
}

void CSdkLog::Write(const char* format, ...) {
    char message[kMessageMax + 1] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    WriteText(message);
}

std::wstring CSdkLog::FormatLine(const std::string& utf8Message, int year, int month, int day, int hour, int minute,
                                 int second, int millisecond, unsigned long pid) {
    std::wstring text = TextCodec::Utf8ToWide(utf8Message.substr(0, kMessageMax));
    for (wchar_t& c : text)
        if (c == L'\x2028') c = L'\n';
    wchar_t head[64] = {};
    swprintf(head, 64, L"%4d%02d%02d-%02d%02d%02d-%03d [%lu] ", year, month, day, hour, minute, second, millisecond,
             pid);
    std::wstring line = head + text;
    if (line.size() > kLineMax - 1) {
        size_t cut = kLineMax - 1;
        // Never leave half of a surrogate pair at the end.
        if (line[cut - 1] >= 0xD800 && line[cut - 1] <= 0xDBFF) --cut;
        line.resize(cut);
    }
    return line;
}

void CSdkLog::WriteText(const std::string& utf8Message) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_file) return;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    std::wstring line = FormatLine(utf8Message, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                   now.wMilliseconds, GetCurrentProcessId());
    std::string bytes = WithWindowsLineEnds(TextCodec::WideToUtf8(line) + "\n");
    fwrite(bytes.data(), 1, bytes.size(), m_file);
    fflush(m_file);
}
