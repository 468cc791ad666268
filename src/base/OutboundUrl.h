#pragma once
// Which web addresses the setup hands on: to the shell to open (licence and privacy pages, the
// advice link, the product page) and to the banner fetch. The addresses come from service replies
// and the skin, and the setup runs elevated: an address the shell would read as a file, a share or
// a program (file:, \\host\share, C:\x.exe, javascript:, a registered protocol) must never reach
// it, and nothing is fetched or shown over a connection an attacker on the network can change. So
// only https: addresses with a host pass; http: too in test builds, whose local services speak
// plain HTTP (decided at compile time, like the other test-only features).
#include <cstddef>
#include <string>

namespace OutboundUrl {

// Longer addresses are refused (the shell's and the browsers' own limit is about 2 KB).
constexpr size_t kMaxLength = 2048;

// True when url is "https://" (any case; also "http://" when plainHttpAllowed) followed by a host,
// and holds no blank, double quote, angle bracket, backslash or control character (which could end
// the address inside the browser's command line or let it be read as something else).
bool Allowed(const std::wstring& url, bool plainHttpAllowed);
// The rule of this build: plain HTTP only in a test build.
bool AllowedInThisBuild(const std::wstring& url);
// The address for a log line: control characters as "?", at most 200 characters.
std::string ForLog(const std::wstring& url);

}  // namespace OutboundUrl
