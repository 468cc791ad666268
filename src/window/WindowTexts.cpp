#include "window/WindowTexts.h"

#include <cwchar>
#include <cwctype>

namespace WindowTexts {

std::wstring FormatNumber(const std::wstring& format, double value) {
    std::wstring out;
    bool filled = false;
    for (size_t i = 0; i < format.size();) {
        if (format[i] != L'%') {
            out += format[i++];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == L'%') {
            out += L'%';
            i += 2;
            continue;
        }
        // A conversion: flags, width, precision, then its letter.
        size_t j = i + 1;
        while (j < format.size() && std::wstring(L"-+ #0").find(format[j]) != std::wstring::npos) ++j;
        size_t widthStart = j;
        while (j < format.size() && iswdigit(format[j])) ++j;
        bool sane = j - widthStart <= 2;
        if (j < format.size() && format[j] == L'.') {
            size_t precisionStart = ++j;
            while (j < format.size() && iswdigit(format[j])) ++j;
            sane = sane && j - precisionStart <= 2;
        }
        if (!filled && sane && j < format.size() && format[j] == L'f') {
            std::wstring spec = format.substr(i, j - i + 1);
            wchar_t buffer[160] = {};
            std::swprintf(buffer, 160, spec.c_str(), value);
            out += buffer;
            filled = true;
            i = j + 1;
            continue;
        }
        out += L'%';
        ++i;
    }
    return out;
}

std::wstring FormatText(const std::wstring& format, const std::wstring& text) {
    std::wstring out;
    bool filled = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size()) {
            if (format[i + 1] == L'%') {
                out += L'%';
                ++i;
                continue;
            }
            if (format[i + 1] == L's' && !filled) {
                out += text;
                filled = true;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

std::wstring ComposeInstallPath(const std::wstring& editText, const std::wstring& productName) {
    if (editText.find(productName) != std::wstring::npos) return editText;
    return editText + L"\\" + productName;
}

std::wstring PickedFolderText(const std::wstring& folder) {
    if (folder.find(L"Orbala") != std::wstring::npos) return folder;
    std::wstring text = folder;
    if (text.empty() || text.back() != L'\\') text += L'\\';
    return text + L"Orbala";
}

bool IsCdnAddress(const std::wstring& url) {
    return url.find(L"//cdn.") != std::wstring::npos || url.find(L"//dl.") != std::wstring::npos;
}

std::wstring AdviceLinkAddress(const std::wstring& chosenAddress, const std::vector<std::wstring>& remotePaths,
                               int32_t downloaderType) {
    if (!chosenAddress.empty()) return chosenAddress;
    for (const std::wstring& path : remotePaths) {
        if ((downloaderType == 1 || downloaderType == 3) && !IsCdnAddress(path)) return path;
        if (downloaderType == 2 && IsCdnAddress(path)) return path;
    }
    return std::wstring();
}

std::wstring AppendPackageSuffix(const std::wstring& url, const std::wstring& exeFileName) {
    size_t underscore = exeFileName.rfind(L'_');
    if (underscore == std::wstring::npos) return url;
    size_t dot = exeFileName.rfind(L'.');
    std::wstring tag;
    if (dot != std::wstring::npos && dot > underscore) tag = exeFileName.substr(underscore + 1, dot - underscore - 1);
    else tag = exeFileName.substr(underscore + 1);
    return url + L"?rnclid=" + tag + L"&package=" + exeFileName;
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace WindowTexts
