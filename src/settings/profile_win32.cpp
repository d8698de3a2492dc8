// The profile stores of the entry points and the loading of the settings.
#include <windows.h>

#include <memory>

#include "plugin/boundary_win32.h"
#include "plugin/lifecycle_win32.h"
#include "plugin/plugin_state.h"
#include "settings/msxml_document_win32.h"
#include "settings/settings_loading.h"
#include "settings/xml_profile.h"

namespace hk4 {

namespace {

// Only an NT-family Windows gets the host's profile path.
bool IsNtFamily() {
    return (GetVersion() & 0x80000000u) == 0;
}

}  // namespace

void WithProfile(void (*use)()) {
    PluginState& state = Plugin();
    std::unique_ptr<XmlProfile> store;
    try {
        store =
            std::make_unique<XmlProfile>(CreateMsxmlDocument(), state.ProfilePath, IsNtFamily());
    } catch (...) {
        // No store (no memory for it): the entry point does what it can
        // without one, and the file stays as it is.
        NoteFailure("profile store");
    }
    state.CurrentProfile = store.get();
    try {
        use();
    } catch (...) {
        // A failure half-way must not reach the file: the store is dropped
        // unsaved.
        state.CurrentProfile = nullptr;
        if (store) store->Discard();
        throw;
    }
    // The store is gone: leave no pointer to it behind.
    state.CurrentProfile = nullptr;
    if (!store) return;
    const XmlProfile::SaveOutcome saved = store->Save();
    store.reset();
    // The host's file changed so that the settings could not be put in it;
    // it is left as the host made it, and the machinist is told on the
    // message line. (Other failures stay silent, as they always were.)
    if (saved == XmlProfile::SaveOutcome::ProfileChanged)
        state.host.SetStatusText(kProfileChangedText);
}

void LoadSettings() {
    PluginState& state = Plugin();
    if (state.CurrentProfile) {
        LoadSettings(*state.CurrentProfile, state.settings);
    } else {
        // No store: the start-up defaults, as from a profile without them.
        LoadStartDefaults(state.settings);
    }
}

}  // namespace hk4
