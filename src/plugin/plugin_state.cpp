#include "plugin/plugin_state.h"

#include "hk4_version.h"

namespace hk4 {

const char* const kDisplayNameSuffix = " Pendant --Zentorin Ver " HK4_VERSION_TEXT;

PluginState& Plugin() {
    static PluginState state;
    return state;
}

std::string ModuleBaseName(const std::string& modulePath) {
    const std::size_t slash = modulePath.find_last_of("\\/:");
    std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

std::string MakeDisplayName(const std::string& modulePath) {
    return ModuleBaseName(modulePath) + kDisplayNameSuffix;
}

}  // namespace hk4
