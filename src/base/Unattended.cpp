#include "base/Unattended.h"

#include <cwctype>

#include "base/CommandLine.h"
#include "base/LanguageTables.h"
#include "base/TextCodec.h"

namespace Unattended {

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The longest /dir: the product's own folders and files go below it and must stay within MAX_PATH.
constexpr size_t kMaxFolderLength = 150;

bool SetMode(Options& options, Mode mode, const std::wstring& name) {
    if (options.mode != Mode::Interactive && options.mode != mode) {
        options.error = "two modes: " + TextCodec::WideToUtf8(name);
        return false;
    }
    options.mode = mode;
    return true;
}

}  // namespace

Options Parse(const std::wstring& arguments) {
    Options options;
    for (const CommandLine::Argument& argument : CommandLine::Split(arguments)) {
        const std::wstring& text = argument.text;
        if (text.empty() || text[0] != L'/') continue;  // the maintenance switches are not ours
        const size_t equals = text.find(L'=');
        const std::wstring name = Lower(text.substr(0, equals));
        const bool hasValue = equals != std::wstring::npos;
        const std::wstring value = hasValue ? text.substr(equals + 1) : std::wstring();
        if (!hasValue && (name == L"/quiet" || name == L"/passive")) {
            if (!SetMode(options, name == L"/quiet" ? Mode::Quiet : Mode::Passive, name)) return options;
        } else if (!hasValue && name == L"/?") {
            options.help = true;
        } else if (!hasValue && name == L"/norestart") {
            options.noRestart = true;
        } else if (hasValue && name == L"/dir") {
            options.folder = value;
        } else if (hasValue && name == L"/lang") {
            options.language = LanguageFromCode(TextCodec::WideToUtf8(value));
            if (options.language < 0) {
                options.error = "unknown language: " + TextCodec::WideToUtf8(value);
                return options;
            }
        } else if (hasValue && name == L"/log") {
            if (value.empty()) {
                options.error = "/log without a file";
                return options;
            }
            options.logCopy = value;
        } else if (hasValue && name == L"/wait") {
            unsigned long seconds = 0;
            bool digits = !value.empty() && value.size() <= 6;
            for (wchar_t c : value) {
                if (c < L'0' || c > L'9') digits = false;
                else seconds = seconds * 10 + static_cast<unsigned long>(c - L'0');
            }
            if (!digits || seconds > Options::kMaxWaitSeconds) {
                options.error = "/wait takes seconds from 0 to 86400: " + TextCodec::WideToUtf8(value);
                return options;
            }
            options.waitSeconds = static_cast<unsigned>(seconds);
        } else {
            options.error = "unknown switch: " + TextCodec::WideToUtf8(text);
            return options;
        }
    }
    return options;
}

bool IsUsableFolder(const std::wstring& folder) {
    if (folder.size() < 3 || folder.size() > kMaxFolderLength) return false;
    const wchar_t drive = static_cast<wchar_t>(std::towupper(folder[0]));
    if (drive < L'A' || drive > L'Z' || folder[1] != L':' || folder[2] != L'\\') return false;
    // Each step below the drive: a plain name (no reserved character, not "." or "..", no
    // trailing blank or dot, which Windows would drop silently).
    size_t at = 3;
    while (at < folder.size()) {
        size_t end = folder.find(L'\\', at);
        if (end == std::wstring::npos) end = folder.size();
        const std::wstring step = folder.substr(at, end - at);
        if (step.empty()) {
            if (end != folder.size() - 1 && end != folder.size()) return false;  // "\\" inside the path
        } else {
            if (step.back() == L' ' || step.back() == L'.') return false;
            for (wchar_t c : step)
                if (c < 32 || std::wstring(L"<>:\"/|?*").find(c) != std::wstring::npos) return false;
        }
        at = end + 1;
    }
    return true;
}

std::wstring HelpText() {
    return L"setup.exe [/quiet | /passive] [/dir=\"folder\"] [/lang=code] [/log=\"file\"] [/norestart] [/wait=seconds]\n\n"
           L"/quiet\tinstall without a window or a question; giving it accepts the licence agreement\n"
           L"/passive\tshow only the progress of the installation, then close\n"
           L"/dir=\"folder\"\tinstall into this folder (the product's folder is added below it)\n"
           L"/lang=code\tthe language: en, ja, zh-cn, es, de, fr, ru, pt, ar, it, zh-tw, ko, nl, id, tr, hi, th, my, se, cz, vi\n"
           L"/log=\"file\"\tcopy the setup's log to this file at the end\n"
           L"/norestart\tnever restart the computer (always the case)\n"
           L"/wait=seconds\twait this long for another running setup (default 300)\n\n"
           L"Exit codes: 0 installed, 1 other failure, 2 bad command line, 3 another setup is running,\n"
           L"4 no network or service, 5 download failed, 6 package refused, 7 not enough space or bad folder,\n"
           L"8 installer failed or timed out, 9 the product is running, 10 system not supported.";
}

std::string ModeName(Mode mode) {
    switch (mode) {
        case Mode::Quiet: return "quiet";
        case Mode::Passive: return "passive";
        default: return "";
    }
}

}  // namespace Unattended
