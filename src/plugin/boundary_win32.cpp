#include "plugin/boundary_win32.h"

#include <windows.h>

#include <cstdio>

namespace hk4 {

void NoteFailure(const char* where, const std::exception* cause) noexcept {
    char text[256];
    const char* what = "unknown exception";
    if (cause) {
        try {
            what = cause->what();
        } catch (...) {
        }
    }
    std::snprintf(text, sizeof text, "HalvexK4: %s failed: %s\n", where, what);
    OutputDebugStringA(text);
}

}  // namespace hk4
