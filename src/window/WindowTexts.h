#pragma once
// Small text rules of the installer window, kept as plain functions: filling the number into a
// format text of the language files, the install folder from the edit box and the folder picker,
// and the address behind the failure page's advice link.
#include <cstdint>
#include <string>
#include <vector>

namespace WindowTexts {

// The format text with its first floating-point conversion ("%.1f", "%0.f") replaced by the
// value and every "%%" by "%". Any other "%" sequence is kept literally, so a language file can
// never make the window read arguments that are not there.
std::wstring FormatNumber(const std::wstring& format, double value);
// The format text with its first "%s" replaced by the text and every "%%" by "%"; other "%"
// sequences are kept literally.
std::wstring FormatText(const std::wstring& format, const std::wstring& text);

// The install folder for the text of the folder edit box: the text itself when it contains the
// product name, else the text, a backslash and the product name.
std::wstring ComposeInstallPath(const std::wstring& editText, const std::wstring& productName);
// The edit box text for a folder picked in the folder picker: the folder itself when it
// contains "Orbala", else the folder, a backslash (unless it ends with one) and "Orbala".
std::wstring PickedFolderText(const std::wstring& folder);

// True for an address on a content-delivery host ("//cdn." or "//dl.").
bool IsCdnAddress(const std::wstring& url);
// The address the advice link opens: the worker's chosen address when there is one, otherwise
// the first remote path that fits the downloader type (1 and 3: the first that is not on a
// content-delivery host; 2: the first that is; any other type: none). Empty when none fits.
std::wstring AdviceLinkAddress(const std::wstring& chosenAddress, const std::vector<std::wstring>& remotePaths,
                               int32_t downloaderType);
// The address with "?rnclid=<text between the last '_' and the last '.'>&package=<file name>"
// appended when the executable's file name has an underscore; unchanged otherwise.
std::wstring AppendPackageSuffix(const std::wstring& url, const std::wstring& exeFileName);
// The text after the last backslash of a path.
std::wstring FileNameOf(const std::wstring& path);

}  // namespace WindowTexts
