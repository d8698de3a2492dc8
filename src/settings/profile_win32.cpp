// Profile stores and settings loading. Not built yet: no store is opened and
// the settings keep their load-time values.
#include "plugin/lifecycle_win32.h"

namespace hk4 {

void WithProfile(void (*use)()) { use(); }
void LoadSettings() {}

}  // namespace hk4
