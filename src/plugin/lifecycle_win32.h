// What the entry points ask of the other parts of the plug-in. Each function
// runs on the host's thread that called the entry point.
#pragma once

#include <windows.h>

#include <string>

namespace hk4 {

// The hidden pendant window: created by InitControl, searched for the pendant
// by PostInitControl, destroyed by StopPlug (a no-op when there is none).
void CreatePendantWindow(HWND parent);
void FindPendantOnWindow();
void DestroyPendantWindow();
// Whether the window has the pendant open now (false without a window).
bool PendantLinked();
// The library is unloaded without StopPlug (process detach, under the loader
// lock): the window is made inert and left for its thread to close; nothing
// waits, calls the host or destroys a window.
void AbandonPendantWindow() noexcept;

// The short-lived profile stores of SetProName, PostInitControl and Config.
// Each creates a store, publishes it as CurrentProfile, runs `use`, and
// destroys it (which writes the document back).
void WithProfile(void (*use)());

void LoadSettings();  // from CurrentProfile, with the start-up defaults
void EditSettings();  // the configuration dialog over CurrentProfile

// The plug-in's own module, and its file name.
HMODULE ThisModule();
std::string ThisModulePath();

// The display name built without the heap, in static storage: what
// SetProName returns when it could not build DisplayName.
const char* FallbackDisplayName() noexcept;

}  // namespace hk4
