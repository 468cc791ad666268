#pragma once
// Plain names: the rule for a value from outside (the configuration service's reply, the skin's
// labels) that the setup puts into a file name, a registry key name or a command line. The setup
// runs elevated, so such a value must name one thing inside the folder or key it is meant for and
// nothing else: no path separator or drive, no "..", no quote that ends a quoted argument, no
// control character, nothing Windows would quietly change (a trailing dot or blank) or read as a
// device (NUL, COM1, ...).
#include <cstddef>
#include <string>

namespace PlainName {

// Longest plain name. The longest file name built from one is the installer's log,
// "<name>_Setup_YYYYMMDDhhmmss.log" (25 more characters), and the package's task file,
// "<base>_<version>.exe.xml"; with 64 characters each such path stays within MAX_PATH (260) for
// folders of up to about 120 characters, as the work and log folders are. Real values are far
// shorter (a product name, a version like 1.0.0.0, a program name like Lumeno.exe).
constexpr size_t kMaxLength = 64;

// Why text is no plain name ("empty", "longer than 64 characters", ...), or null when it is one.
// An empty text is a plain name only when required is false.
const char* Problem(const std::wstring& text, bool required);
inline bool IsPlain(const std::wstring& text, bool required) { return Problem(text, required) == nullptr; }

// True when path, made absolute the way Windows resolves it when the file is opened (".." and
// "." folded, "/" read as "\", trailing dots and blanks dropped), lies below folder. False for an
// empty folder or path.
bool IsInsideFolder(const std::wstring& folder, const std::wstring& path);

}  // namespace PlainName
