#include "app/SafeDllLoading.h"

#include <windows.h>

#include <delayimp.h>

#include <string>

namespace {

// Called by the delay-load helper before it loads a delay-loaded DLL. Returning the module
// makes the helper use it instead of calling LoadLibraryA with the bare name (whose search
// starts in the program's folder where SetDefaultDllDirectories is missing).
FARPROC WINAPI LoadDelayedFromSystemFolder(unsigned notify, PDelayLoadInfo info) {
    if (notify == dliNotePreLoadLibrary && info && info->szDll)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(SystemLibrary::Load(info->szDll)));
    return nullptr;
}

}  // namespace

// The delay-load helper's notification hook. A constant initialiser: it is in place when the
// image is mapped, before any constructor could call into a delay-loaded DLL.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedFromSystemFolder;
}

namespace SafeDllLoading {

SystemLibrary::SearchRestriction Start() { return SystemLibrary::RestrictDllSearch(); }

void PreloadDelayedDlls() {
    // The names the build links through delay-import libraries, comma-separated.
    const std::string names = ORBALA_DELAY_DLL_NAMES;
    for (size_t start = 0; start < names.size();) {
        size_t end = names.find(',', start);
        if (end == std::string::npos) end = names.size();
        if (end > start) SystemLibrary::Load((names.substr(start, end - start) + ".dll").c_str());
        start = end + 1;
    }
}

}  // namespace SafeDllLoading
