#pragma once
// Reading HTTP response headers by name. A header is found by its name, compared without
// regard to case (HTTP names are case-insensitive, and proxies and HTTP/2 send them in lower
// case), never by a text that merely contains the name: "Content-Location" is not "Location",
// and "Access-Control-Expose-Headers: Content-Range" is not a Content-Range.
#include <cstddef>
#include <cstdint>
#include <string>

namespace HttpHeaders {

// Whether one header line ("Name: value", with or without its CR LF) carries the header `name`;
// value gets its text without the blanks after the colon and without the line end.
bool LineIs(const char* line, size_t length, const char* name, std::string& value);
inline bool LineIs(const std::string& line, const char* name, std::string& value) {
    return LineIs(line.data(), line.size(), name, value);
}

// The value of the first header `name` in a block of header lines; false when there is none.
bool Find(const std::string& block, const char* name, std::string& value);

// The header block of the last response in a text of one or more blocks (a redirect chain:
// each block begins with its status line "HTTP/...").
std::string LastBlock(const std::string& text);

// The status code of a status line ("HTTP/1.1 206 Partial Content", "HTTP/2 200"); 0 when the
// line is no status line.
int StatusOf(const char* line, size_t length);

// A Content-Range value "bytes FIRST-LAST/TOTAL" ("bytes */TOTAL" gives first = last = -1).
// False when the value has no total or is not of that form; total is -1 when it is "*".
bool ParseContentRange(const std::string& value, int64_t& first, int64_t& last, int64_t& total);

}  // namespace HttpHeaders
