// Real-time measurements of the plug-in's polling tick against the virtual
// pendant: host-thread time per tick, and how old the report is that a tick
// decodes, for several pendant report rates.
#pragma once

#include <string>

#include "hostside/plugin_api.h"

namespace hostsim {

// Loads the plug-in `dll` into `api`; says why on stderr when it cannot.
bool LoadPlugin(hostside::PluginApi& api, const std::string& dll);

// `which`: "all", "silent", "on-change", "8ms" or "1ms". Prints a Markdown
// table; returns the process exit status.
int RunBench(const std::string& which, const std::string& dll, double seconds);

}  // namespace hostsim
