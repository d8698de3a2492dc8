// The edge between the plug-in and the frames of the host or the system
// below it (exported functions, window and dialog procedures): no C++
// exception may unwind through those frames, which would end the host
// process. Failures are noted for a debugger only; the host has no channel
// for them.
#pragma once

#include <exception>

namespace hk4 {

// OutputDebugStringA of "HalvexK4: <where> failed: <what>", built without
// the heap (the failure may be that there is none left).
void NoteFailure(const char* where, const std::exception* cause = nullptr) noexcept;

// Runs `body`; an exception ends it, is noted, and `fallback` is returned.
template <typename Result, typename Body>
Result Shielded(const char* where, Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        NoteFailure(where, &e);
    } catch (...) {
        NoteFailure(where);
    }
    return fallback;
}

template <typename Body>
void Shielded(const char* where, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        NoteFailure(where, &e);
    } catch (...) {
        NoteFailure(where);
    }
}

}  // namespace hk4
