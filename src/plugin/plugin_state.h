// Process-wide state of the loaded plug-in: what the host gave us, the
// settings and the cycle counters. One instance per loaded library.
#pragma once

#include <string>

#include "plugin/cycle_counters.h"
#include "plugin/host.h"
#include "settings/settings.h"

namespace hk4 {

class XmlProfile;

struct PluginState {
    Host host;
    Settings settings;
    CycleCounters counters;
    std::string ProfilePath;               // last profile name from the host
    std::string DisplayName;               // returned by SetProName
    XmlProfile* CurrentProfile = nullptr;  // the running entry point's store
};

// The instance the exported entry points work on.
PluginState& Plugin();

// What follows the module's base name in the display name.
extern const char* const kDisplayNameSuffix;

// "<module file name without directory and last extension> Pendant --..."
std::string MakeDisplayName(const std::string& modulePath);

// The module file name without directory and without its last extension.
std::string ModuleBaseName(const std::string& modulePath);

}  // namespace hk4
