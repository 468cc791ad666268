#pragma once
// The window's one way of opening something outside itself (a web page, Explorer): ShellExecuteW
// with the verb "open", shown normally, fire and forget. Tests put a recorder in its place, so
// that a click on a link is checked without a browser starting.
#include <string>

namespace WindowShell {

using OpenFn = void (*)(const std::wstring& file, const std::wstring& parameters);

void Open(const std::wstring& file, const std::wstring& parameters = std::wstring());
// Replaces what Open does (null: ShellExecuteW again).
void SetOpenHook(OpenFn hook);

}  // namespace WindowShell
