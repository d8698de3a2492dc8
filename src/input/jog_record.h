// Starting and stopping the host's continuous jog of one axis through its
// jog record.
#pragma once

#include <cstdint>

#include "plugin/host.h"

namespace hk4 {

// The host runs no motion: its busy flag is clear and its two motion
// counters agree. Continuous jogs compute and send only then.
bool HostMotionIdle(const Host& host);

// A velocity as the jog record holds it: truncated toward zero, saturated at
// the ends of the 32-bit range, and 0 for NaN.
int32_t JogVelocityFromDouble(double velocity);

// Fills the axis's jog record (direction, velocity, parameter, full rate,
// stop 0, start 1, in this order) and sends "DOJOG".
void StartJog(const Host& host, int32_t axis, int32_t direction, double velocity);

// Sets the axis's stop flag and sends "ENDJOG".
void EndJog(const Host& host, int32_t axis);

// Sets the axis's stop flag only.
void StopJogFlag(const Host& host, int32_t axis);

}  // namespace hk4
