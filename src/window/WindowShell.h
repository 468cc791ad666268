#pragma once
// The window's one way of opening a web page (the licence and privacy pages, the advice link):
// ShellExecuteW with the verb "open", shown normally, fire and forget. Only addresses that
// base/OutboundUrl allows are handed to the shell; others are refused with the log line
// " Url refused: " and the address. Tests put a recorder in place of the shell, so that a click on
// a link is checked without a browser starting.
#include <string>

namespace WindowShell {

using OpenFn = void (*)(const std::wstring& file, const std::wstring& parameters);

// True when the address was handed on.
bool Open(const std::wstring& file, const std::wstring& parameters = std::wstring());
// Replaces what Open hands the address to (null: ShellExecuteW again).
void SetOpenHook(OpenFn hook);

}  // namespace WindowShell
