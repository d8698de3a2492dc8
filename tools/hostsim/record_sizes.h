// The sizes of the system records the plug-in fills in, as this build of the
// simulator (and the plug-in beside it) has them: 32-bit and x64 differ.
// Expected trace lines spell them "sizeof(NAME)", so that one scenario holds
// for both builds.
#pragma once

#include <string>

namespace hostsim {

// `line` with each "sizeof(NAME)" replaced by the size of record NAME in
// this build. False, with `error` saying which, for a name not known here.
bool ExpandRecordSizes(const std::string& line, std::string& out, std::string& error);

}  // namespace hostsim
