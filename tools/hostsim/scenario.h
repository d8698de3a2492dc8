// Scenario files: what the host holds, what the pendant does and when, the
// entry points the host calls, and the trace lines expected in return. The
// format is described in docs/scenarios.md.
#pragma once

#include <string>

namespace hostsim {

struct ScenarioOptions {
    bool echo = true;  // print the trace as it happens
    // Where to keep the record of the host callbacks (see Trace::Record);
    // a real-time run keeps none, its callbacks depend on timing.
    std::string record;
};

// Exit status of a scenario run.
enum ScenarioStatus {
    kScenarioPassed = 0,
    kScenarioFailed = 1,    // an expectation failed or a fault was detected
    kScenarioInvalid = 2,   // the scenario or the plug-in could not be used
    kScenarioSkipped = 77,  // the plug-in lacks what the scenario requires
};

int RunScenario(const std::string& file, const std::string& dll, const ScenarioOptions& options);

}  // namespace hostsim
