// The system functions the virtual pendant takes over in the plug-in: each
// works on Model() when its arguments are virtual (a device path, a virtual
// handle, an event the plug-in created) and passes anything else on to the
// real function. Every call on a virtual object is traced with its
// parameters.
#pragma once

#include <vector>

#include "hostsim/import_patch.h"

namespace hostsim {

// SetupDi, HidD, CreateFileA, CloseHandle, ReadFile, WriteFile,
// GetOverlappedResult, CancelIoEx, CreateEventA, WaitForSingleObject,
// RegisterDeviceNotificationA, UnregisterDeviceNotification, SetTimer,
// KillTimer.
std::vector<Redirect> DeviceRedirects();

// Imports of the plug-in that do device I/O the virtual system does not
// model (an error: the plug-in would bypass the virtual pendant).
bool IsUnmodelledDeviceImport(const char* module, const char* function);

// Runs at the start of every traced system call (the host uses it to trace
// its field writes in order).
void SetBeforeSystemCall(void (*fn)());

// Time the virtual system has spent in the calling thread's system calls
// so far (microseconds; the real waits of real-time mode excluded).
double SimulatorMicros();

// Counts the time of its scope as the simulator's (the simulated host's
// callbacks, which the bench must not charge to the plug-in).
class SimulatorTime {
  public:
    SimulatorTime();
    ~SimulatorTime();
    SimulatorTime(const SimulatorTime&) = delete;
    SimulatorTime& operator=(const SimulatorTime&) = delete;

  private:
    double start_;
};

// Delivers the device broadcasts waiting in the model to the windows that
// registered for them. Host thread only.
void DeliverBroadcasts();

}  // namespace hostsim
