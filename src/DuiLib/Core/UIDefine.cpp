#include "DuiLib/Core/UIDefine.h"

#include <cwchar>
#include <cwctype>

namespace DuiLib {
namespace UI {

RECT Intersect(const RECT& a, const RECT& b) {
    RECT r{};
    if (!::IntersectRect(&r, &a, &b)) r = RECT{0, 0, 0, 0};
    return r;
}

RECT Deflate(const RECT& r, const RECT& by) {
    RECT out{r.left + by.left, r.top + by.top, r.right - by.right, r.bottom - by.bottom};
    if (out.right < out.left) out.right = out.left;
    if (out.bottom < out.top) out.bottom = out.top;
    return out;
}

bool ParseBool(const std::wstring& value) {
    return value == L"true" || value == L"1" || value == L"yes" || value == L"TRUE" || value == L"True";
}

int ParseInt(const std::wstring& value, int fallback) {
    std::wstring v = Trim(value);
    if (v.empty()) return fallback;
    wchar_t* end = nullptr;
    long n = std::wcstol(v.c_str(), &end, 10);
    if (end == v.c_str()) return fallback;
    return static_cast<int>(n);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
        if (at == std::wstring::npos) break;
        start = at + 1;
    }
    return parts;
}

std::wstring Trim(const std::wstring& text) {
    size_t b = 0, e = text.size();
    while (b < e && std::iswspace(text[b])) ++b;
    while (e > b && std::iswspace(text[e - 1])) --e;
    return text.substr(b, e - b);
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

RECT ParseRect(const std::wstring& value) {
    std::vector<std::wstring> p = Split(value, L',');
    int v[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < p.size() && i < 4; ++i) v[i] = ParseInt(p[i], 0);
    return RECT{v[0], v[1], v[2], v[3]};
}

SIZE ParseSize(const std::wstring& value) {
    std::vector<std::wstring> p = Split(value, L',');
    SIZE s{0, 0};
    if (!p.empty()) s.cx = ParseInt(p[0], 0);
    if (p.size() > 1) s.cy = ParseInt(p[1], 0);
    return s;
}

bool ParseColor(const std::wstring& value, DWORD& argb) {
    std::wstring v = Trim(value);
    std::wstring hex;
    if (!v.empty() && v[0] == L'#') hex = v.substr(1);
    else if (v.size() > 2 && v[0] == L'0' && (v[1] == L'x' || v[1] == L'X')) hex = v.substr(2);
    else return false;
    for (wchar_t c : hex)
        if (!std::iswxdigit(c)) return false;
    if (hex.size() == 3) {
        std::wstring wide;
        for (wchar_t c : hex) { wide.push_back(c); wide.push_back(c); }
        hex = wide;
    }
    if (hex.size() != 6 && hex.size() != 8) return false;
    unsigned long n = std::wcstoul(hex.c_str(), nullptr, 16);
    argb = static_cast<DWORD>(hex.size() == 6 ? (0xFF000000UL | n) : n);
    return true;
}

}  // namespace UI
}  // namespace DuiLib
