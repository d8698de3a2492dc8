// The entry points the host calls, by their undecorated names (plugin.def).
// All of them run on the host's user-interface thread, one at a time. Each
// one that can fail is shielded: a failure leaves the plug-in as it was or
// degraded, and never unwinds into the host.
#include <windows.h>

#include <cstdint>

#include "plugin/boundary_win32.h"
#include "plugin/host.h"
#include "plugin/lifecycle_win32.h"
#include "plugin/plugin_state.h"

using hk4::Plugin;

#define HK4_EXPORT extern "C" __declspec(dllexport)

HK4_EXPORT void HK4_CDECL SetDoButton(hk4::DoButtonFn fn) {
    Plugin().host.callbacks.DoButton = fn;
}
HK4_EXPORT void HK4_CDECL SetSetDRO(hk4::SetDroFn fn) {
    Plugin().host.callbacks.SetDRO = fn;
}
HK4_EXPORT void HK4_CDECL SetGetDRO(hk4::GetDroFn fn) {
    Plugin().host.callbacks.GetDRO = fn;
}
HK4_EXPORT void HK4_CDECL SetGetLED(hk4::GetLedFn fn) {
    Plugin().host.callbacks.GetLED = fn;
}
HK4_EXPORT void HK4_CDECL SetSetLED(hk4::SetLedFn fn) {
    Plugin().host.callbacks.SetLED = fn;
}
HK4_EXPORT void HK4_CDECL SetCode(hk4::CodeFn fn) {
    Plugin().host.callbacks.Code = fn;
}

HK4_EXPORT const char* HK4_CDECL SetProName(const char* profileName) {
    hk4::PluginState& state = Plugin();
    hk4::Shielded("SetProName", [&state, profileName] {
        // Replaced whole or not at all.
        state.ProfilePath = profileName ? profileName : "";
        hk4::WithProfile(
            [] { Plugin().DisplayName = hk4::MakeDisplayName(hk4::ThisModulePath()); });
    });
    // Always a valid name, also when none could be built.
    return state.DisplayName.empty() ? hk4::FallbackDisplayName() : state.DisplayName.c_str();
}

HK4_EXPORT bool HK4_CDECL InitControl(void* motion, void* options, void* planner,
                                      void* parentWindow) {
    hk4::PluginState& state = Plugin();
    // Also from inside a callback of a link it dismisses: its own calls
    // reach the host.
    const hk4::HostGate gate(state.host, nullptr);
    state.host.WorldChanged();  // a tick this came from inside acts no further
    state.host.released = false;
    // The old window's jog ends in the blocks it was started in, before the
    // new ones are installed.
    hk4::Shielded("InitControl", [] { hk4::DestroyPendantWindow(); });
    state.host.blocks = hk4::HostBlocks{motion, options, planner, parentWindow};
    // The host stores a 32-bit handle; handles widen with their sign.
    const int32_t raw = state.host.read(hk4::fields::ParentHandle);
    HWND parent = reinterpret_cast<HWND>(static_cast<intptr_t>(raw));
    // Without memory for it there is no window: as when creating it fails.
    hk4::Shielded("InitControl", [parent] { hk4::CreatePendantWindow(parent); });
    return true;
}

HK4_EXPORT void HK4_CDECL PostInitControl() {
    const hk4::HostGate gate(Plugin().host, nullptr);
    hk4::Shielded("PostInitControl", [] {
        hk4::WithProfile([] {
            // The settings are loaded also when the search failed.
            hk4::Shielded("FindPendant", [] { hk4::FindPendantOnWindow(); });
            hk4::LoadSettings();
        });
    });
}

HK4_EXPORT void HK4_CDECL Config() {
    const hk4::HostGate gate(Plugin().host, nullptr);
    hk4::Shielded("Config", [] { hk4::WithProfile([] { hk4::EditSettings(); }); });
    // The settings a tick this came from inside began with may have changed.
    Plugin().host.WorldChanged();
}

HK4_EXPORT void HK4_CDECL Update() {
    Plugin().counters.Update();  // plain arithmetic: nothing to fail
}

HK4_EXPORT void HK4_CDECL StopPlug() {
    const hk4::HostGate gate(Plugin().host, nullptr);
    Plugin().host.WorldChanged();
    // The jog ends and the snapshot goes back inside this call.
    hk4::Shielded("StopPlug", [] { hk4::DestroyPendantWindow(); });
    // The host's callbacks and blocks are valid only until this returns:
    // the rest of a tick this was called from inside leaves them alone.
    Plugin().host.released = true;
}

// Entry points the host calls that this plug-in has no use for.
HK4_EXPORT void HK4_CDECL DoDwell() {}
HK4_EXPORT void HK4_CDECL Reset() {}
HK4_EXPORT void HK4_CDECL JogOn() {}
HK4_EXPORT void HK4_CDECL JogOff() {}
HK4_EXPORT void HK4_CDECL Purge() {}
HK4_EXPORT void HK4_CDECL Probe() {}
HK4_EXPORT void HK4_CDECL Home() {}
