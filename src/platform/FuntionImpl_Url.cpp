// Host and host class of download addresses.
#include <string>

#include "platform/FuntionImpl.h"

namespace {

// Hosts are compared in ASCII lower case: the markers of the host classes are ASCII, and a
// locale-dependent lower-casing could change the class of the same address between machines.
template <class Char>
std::basic_string<Char> UrlHost(const std::basic_string<Char>& url) {
    using Text = std::basic_string<Char>;
    const size_t dot = url.find(Char('.'));
    if (url.empty() || dot == Text::npos) return Text();
    const size_t end = url.find(Char('/'), dot);
    if (end == Text::npos) return Text();
    const size_t slash = url.rfind(Char('/'), dot);
    const size_t begin = slash == Text::npos ? 0 : slash + 1;
    Text host = url.substr(begin, end - begin);
    for (Char& c : host)
        if (c >= Char('A') && c <= Char('Z')) c = Char(c - Char('A') + Char('a'));
    return host;
}

template <class Char>
bool StartsWith(const std::basic_string<Char>& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= text.size() || text[i] != Char(prefix[i])) return false;
    return true;
}

template <class Char>
int UrlHostType(const std::basic_string<Char>& url) {
    const std::basic_string<Char> host = UrlHost(url);
    if (host.size() < 2) return 10;
    if (StartsWith(host, "dl.") || StartsWith(host, "cdn.")) return 10;
    if (StartsWith(host, "alicdn.")) return 12;
    const Char ali[] = {Char('a'), Char('l'), Char('i'), Char(0)};
    if (host.find(ali) != std::basic_string<Char>::npos) return 12;
    if (StartsWith(host, "awscdn.")) return 13;
    return 11;
}

}  // namespace

namespace FuntionImpl {

std::wstring GetUrlHost(const std::wstring& url) { return UrlHost(url); }
std::string GetUrlHost(const std::string& url) { return UrlHost(url); }
int GetUrlHostType(const std::wstring& url) { return UrlHostType(url); }
int GetUrlHostType(const std::string& url) { return UrlHostType(url); }

}  // namespace FuntionImpl
