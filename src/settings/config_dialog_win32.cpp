// The configuration dialog. Not built yet: Config changes nothing.
#include "plugin/lifecycle_win32.h"

namespace hk4 {

void EditSettings() {}

}  // namespace hk4
