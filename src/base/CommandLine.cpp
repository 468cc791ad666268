#include "base/CommandLine.h"

namespace CommandLine {

namespace {
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
}  // namespace

std::wstring ArgumentsText(const std::wstring& commandLine) {
    size_t at = 0;
    if (at < commandLine.size() && commandLine[at] == L'"') {
        size_t close = commandLine.find(L'"', at + 1);
        at = close == std::wstring::npos ? commandLine.size() : close + 1;
    } else {
        while (at < commandLine.size() && !IsBlank(commandLine[at])) ++at;
    }
    while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
    return commandLine.substr(at);
}

std::vector<Argument> Split(const std::wstring& arguments) {
    std::vector<Argument> out;
    size_t at = 0;
    const size_t size = arguments.size();
    for (;;) {
        while (at < size && IsBlank(arguments[at])) ++at;
        if (at >= size) break;
        Argument argument;
        argument.begin = at;
        bool quoted = false;
        while (at < size && (quoted || !IsBlank(arguments[at]))) {
            if (arguments[at] == L'\\') {
                size_t slashes = 0;
                while (at < size && arguments[at] == L'\\') ++slashes, ++at;
                if (at < size && arguments[at] == L'"') {
                    argument.text.append(slashes / 2, L'\\');
                    if (slashes % 2 == 1) {
                        argument.text.push_back(L'"');
                        ++at;
                    }
                    // An even count leaves the quote to the next round, which toggles.
                } else {
                    argument.text.append(slashes, L'\\');
                }
                continue;
            }
            if (arguments[at] == L'"') {
                // Inside quotes, a doubled quote is a literal one.
                if (quoted && at + 1 < size && arguments[at + 1] == L'"') {
                    argument.text.push_back(L'"');
                    at += 2;
                    continue;
                }
                quoted = !quoted;
                ++at;
                continue;
            }
            argument.text.push_back(arguments[at++]);
        }
        argument.end = at;
        out.push_back(argument);
    }
    return out;
}

bool HasArgument(const std::wstring& arguments, const std::wstring& name) {
    for (const Argument& argument : Split(arguments))
        if (argument.text == name) return true;
    return false;
}

}  // namespace CommandLine
