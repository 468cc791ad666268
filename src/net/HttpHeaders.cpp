#include "net/HttpHeaders.h"

#include <cstdlib>
#include <cstring>

namespace HttpHeaders {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Reads the decimal number at p (no sign); false without digits or when it overflows.
bool readNumber(const std::string& text, size_t& p, int64_t& value) {
    if (p >= text.size() || !isDigit(text[p])) return false;
    value = 0;
    for (; p < text.size() && isDigit(text[p]); ++p) {
        if (value > (INT64_MAX - (text[p] - '0')) / 10) return false;
        value = value * 10 + (text[p] - '0');
    }
    return true;
}

}  // namespace

bool LineIs(const char* line, size_t length, const char* name, std::string& value) {
    const size_t n = strlen(name);
    if (!line || length <= n || line[n] != ':') return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(line[i]) != lower(name[i])) return false;
    size_t begin = n + 1, end = length;
    while (begin < end && isBlank(line[begin])) ++begin;
    while (end > begin && (line[end - 1] == '\r' || line[end - 1] == '\n')) --end;
    value.assign(line + begin, end - begin);
    return true;
}

bool Find(const std::string& block, const char* name, std::string& value) {
    for (size_t start = 0; start < block.size();) {
        size_t end = block.find('\n', start);
        if (end == std::string::npos) end = block.size();
        if (LineIs(block.data() + start, end - start, name, value)) return true;
        start = end + 1;
    }
    return false;
}

std::string LastBlock(const std::string& text) {
    size_t at = std::string::npos;
    for (size_t start = 0; start < text.size();) {
        if (StatusOf(text.data() + start, text.size() - start) != 0) at = start;
        size_t end = text.find('\n', start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return at == std::string::npos ? text : text.substr(at);
}

int StatusOf(const char* line, size_t length) {
    if (!line || length < 5 || _strnicmp(line, "HTTP/", 5) != 0) return 0;
    size_t p = 5;
    while (p < length && !isBlank(line[p]) && line[p] != '\r' && line[p] != '\n') ++p;  // the version
    while (p < length && isBlank(line[p])) ++p;
    int status = 0, digits = 0;
    for (; p < length && isDigit(line[p]) && digits < 3; ++p, ++digits) status = status * 10 + (line[p] - '0');
    return digits == 3 ? status : 0;
}

bool ParseContentRange(const std::string& value, int64_t& first, int64_t& last, int64_t& total) {
    if (value.size() < 5 || _strnicmp(value.c_str(), "bytes", 5) != 0) return false;
    size_t p = 5;
    while (p < value.size() && isBlank(value[p])) ++p;
    if (p < value.size() && value[p] == '*') {
        first = last = -1;
        ++p;
    } else {
        if (!readNumber(value, p, first) || p >= value.size() || value[p] != '-') return false;
        ++p;
        if (!readNumber(value, p, last)) return false;
    }
    if (p >= value.size() || value[p] != '/') return false;
    ++p;
    if (p < value.size() && value[p] == '*') {
        total = -1;
        return first >= 0;
    }
    return readNumber(value, p, total);
}

}  // namespace HttpHeaders
