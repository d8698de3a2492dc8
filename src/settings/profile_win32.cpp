// The profile stores of the entry points and the loading of the settings.
#include <windows.h>

#include <memory>

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
    try {
        auto store =
            std::make_unique<XmlProfile>(CreateMsxmlDocument(), state.ProfilePath, IsNtFamily());
        state.CurrentProfile = store.get();
        use();
    } catch (...) {
        // Nothing may leave an entry point; the store has saved what it had.
    }
    // The store is gone: leave no pointer to it behind.
    state.CurrentProfile = nullptr;
}

void LoadSettings() {
    PluginState& state = Plugin();
    if (state.CurrentProfile) LoadSettings(*state.CurrentProfile, state.settings);
}

}  // namespace hk4
