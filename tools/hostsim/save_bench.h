// The configuration dialog's save on host profiles of growing size: how long
// the host's thread is held at start-up, while the dialog opens, and from
// OK until Config returns.
#pragma once

#include <string>

namespace hostsim {

// Prints a Markdown table; returns the process exit status.
int RunSaveBench(const std::string& dll);

}  // namespace hostsim
