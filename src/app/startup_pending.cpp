#include "app/startup_pending.h"

namespace StartupPending {

void ShowNotSupportSystemBox() {}

}  // namespace StartupPending
