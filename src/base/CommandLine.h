#pragma once
// The arguments of a command line, split as Windows programs split them, so that a switch is
// recognised only as a whole argument: never inside the program's own path (a setup saved as
// "setup-sendrestlogs.exe") and never inside another argument.
#include <cstddef>
#include <string>
#include <vector>

namespace CommandLine {

// The text after the program name, as the C runtime hands it to wWinMain: a quoted program name
// ends at its closing quote, an unquoted one at the first blank or tab; the blanks and tabs after
// it are skipped too.
std::wstring ArgumentsText(const std::wstring& commandLine);

struct Argument {
    std::wstring text;  // quotes removed, backslashes before quotes resolved
    size_t begin = 0;   // where it starts in the arguments text
    size_t end = 0;     // one past its last character there
};

// Splits an arguments text (no program name) by the rules of CommandLineToArgvW: arguments are
// separated by blanks and tabs outside quotes; 2n backslashes before a quote give n backslashes
// and the quote opens or closes, 2n+1 give n backslashes and a literal quote.
std::vector<Argument> Split(const std::wstring& arguments);

// True when one of the arguments is exactly `name`.
bool HasArgument(const std::wstring& arguments, const std::wstring& name);

}  // namespace CommandLine
