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

}  // namespace SafeDllLoading
