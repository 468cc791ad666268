#pragma once
// The four text conversions of the program, in one place. Each returns an empty text for an
// empty input (and for input the system cannot convert).
#include <string>

namespace TextCodec {

std::string WideToAnsi(const std::wstring& text);    // system ANSI code page
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
std::wstring AnsiToWide(const std::string& text);

}  // namespace TextCodec
