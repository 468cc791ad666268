#pragma once
// The first thing the setup does: narrow the DLL search to the system folder. The DLLs that are
// not among Windows' known DLLs are delay-loaded (the build links them so, and checks that
// setup.exe imports nothing else directly), and the delay-load hook defined with this unit
// loads each of them from the system folder by itself: a DLL of the same name in the program's
// folder is never taken.
#include "base/SystemLibrary.h"

namespace SafeDllLoading {

// Restricts the DLL search (SystemLibrary::RestrictDllSearch); call first in wWinMain.
SystemLibrary::SearchRestriction Start();

// Loads every delay-loaded DLL from the system folder at once. A system DLL that imports one of
// them (the firewall's COM server imports crypt32, for one) then finds it already loaded; Wine's
// loader would otherwise look for such an import in the program's folder too. Call before a
// second thread starts.
void PreloadDelayedDlls();

}  // namespace SafeDllLoading
