// The hidden pendant window. Not built yet: the entry points call these and
// nothing happens.
#include "plugin/lifecycle_win32.h"

namespace hk4 {

void CreatePendantWindow(HWND) {}
void FindPendantOnWindow() {}
void DestroyPendantWindow() {}

}  // namespace hk4
