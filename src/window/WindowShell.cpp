#include "window/WindowShell.h"

#include <windows.h>
#include <shellapi.h>

#include <easylogging++.h>

#include <atomic>

#include "base/OutboundUrl.h"

namespace WindowShell {
namespace {
std::atomic<OpenFn> g_hook{nullptr};
}

bool Open(const std::wstring& file, const std::wstring& parameters) {
    // The addresses come from service replies and the setup runs elevated: the shell would run a
    // file, a share or a program given in their place just as well.
    if (!OutboundUrl::AllowedInThisBuild(file)) {
        LOG(INFO) << " Url refused: " << OutboundUrl::ForLog(file);
        return false;
    }
    if (OpenFn hook = g_hook.load()) {
        hook(file, parameters);
        return true;
    }
    ShellExecuteW(nullptr, L"open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
    return true;
}

void SetOpenHook(OpenFn hook) { g_hook.store(hook); }

}  // namespace WindowShell
