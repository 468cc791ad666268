#pragma once
// Choice of the download address for the product installer: the content-delivery test, the
// first usable remote path, the persistent counter of refused content-delivery downloads and
// the repair of "_obwin.exe" links on Windows 7 and 8. Plain functions over plain data; the
// installer window wraps them in its methods of the same names.
#include <string>
#include <vector>

// An address on one of the maker's content-delivery hosts: it contains "//cdn." or "//dl."
// anywhere (case-sensitive). Such addresses never enter the remote paths.
bool IsCdnUrl(const std::wstring& url);
bool IsCdnUrl(const std::string& url);

namespace DownloadAddress {

// The first remote path that is not a content-delivery address; empty when none qualifies.
// Logs " isForbidCDN: " with the forbid flag (which does not change the choice) and then
// " UrlUsed: " with the result or " checkRemotePath fail: -1".
std::wstring CheckRemotePath(const std::vector<std::wstring>& remotePaths, bool forbidCdn);

// Registry key of the product under HKEY_LOCAL_MACHINE that holds the request counter.
std::wstring RequestCounterKey(const std::wstring& softwareName);
extern const wchar_t kRequestCounterValue[];  // "RequestTooMuchTimes"

// True when the request counter of the product is greater than 3; false when the key or the
// value is missing or unreadable.
bool IsForbidCDN(const std::wstring& softwareName);
// Increments the request counter (a missing, unreadable or non-positive value restarts at 1),
// creating the key when needed.
void AddRequestTooMuchTimes(const std::wstring& softwareName);

// Windows 7/8 link check. On a Windows version below 10 an address that contains "_obwin.exe"
// is probed with a header request; when the server answers 404 the first of the skin's
// Download_url and Extra_download_url that is not a content-delivery address takes its place.
// Returns the address to use (the given one when nothing applies).
std::wstring CheckWin78Link(const std::wstring& address, float osVersionNumber, const std::wstring& skinDownloadUrl,
                            const std::wstring& skinExtraDownloadUrl);

// Analytics label of an address: "Extra_download_url" for host class 12, else "Download_url".
std::string AddressLabel(const std::wstring& address);

}  // namespace DownloadAddress
