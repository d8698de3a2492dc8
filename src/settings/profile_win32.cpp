// Profile stores and settings. Not built yet: no store is opened and the
// settings keep their load-time values.
#include "plugin/lifecycle_win32.h"

namespace hk4 {

void WithProfile(void (*use)()) {
    use();
}
void LoadSettings() {}
void EditSettings() {}

}  // namespace hk4
