#pragma once
// Calls of the start-up sequence into pieces that are not built yet. Each does nothing for now
// and is replaced by the real call when its piece lands; the start-up code calls only these.
#include <string>

namespace StartupPending {

void ShowNotSupportSystemBox();                               // modal message box of kind 13

}  // namespace StartupPending
