#include "window/WindowShell.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>

namespace WindowShell {
namespace {
std::atomic<OpenFn> g_hook{nullptr};
}

void Open(const std::wstring& file, const std::wstring& parameters) {
    if (OpenFn hook = g_hook.load()) {
        hook(file, parameters);
        return;
    }
    ShellExecuteW(nullptr, L"open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void SetOpenHook(OpenFn hook) { g_hook.store(hook); }

}  // namespace WindowShell
