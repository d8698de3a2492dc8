// Starting and stopping the host's continuous jog of one axis through its
// jog record.
#pragma once

#include <cstdint>

#include "input/jog_state.h"
#include "plugin/host.h"
#include "plugin/plugin_state.h"

namespace hk4 {

// The host runs no motion: its busy flag is clear and its two motion
// counters agree. Continuous jogs compute and send only then.
bool HostMotionIdle(const Host& host);

// A velocity as the jog record holds it: truncated toward zero and kept
// within the axis's full rate. 0 when there is no sound velocity to jog at:
// not a positive finite number (a host DRO or divisor gone wrong), below 1
// after truncation, or a full rate that is not positive.
int32_t JogVelocityWithin(double velocity, int32_t fullRate);

// Fills the axis's jog record (direction, velocity, parameter, full rate,
// stop 0, start 1, in this order) and sends "DOJOG". The state remembers
// the axis as jogging until its jog is stopped. `velocity` is one that
// JogVelocityWithin gave, above 0.
void StartJog(JogState& state, const Host& host, const PollInput& in, int32_t velocity);

// The last step of both continuous jogs: with a non-zero speed byte the axis
// runs at `velocity` (kept within its full rate), with a zero one, or with
// no sound velocity, a jog of ours on it ends (a jog the host started by
// other means is left alone); the direction is then the one last acted on.
void DriveContinuousJog(JogState& state, const Host& host, const PollInput& in, double velocity);

// Sets the axis's stop flag and sends "ENDJOG".
void EndJog(JogState& state, const Host& host, int32_t axis);

// Sets the axis's stop flag only.
void StopJogFlag(JogState& state, const Host& host, int32_t axis);

// First thing of the wheel's operation: when the watchdog stopped the jog
// since the last poll, the jog counts as ended, the wheel as rested (also
// WheelActiveHold), the poll sends "ENDJOG" and returns true (it runs no
// wheel function). (The poll told the watchdog of the wheel's motion when it
// read the report, JogEngine::WheelMoved.)
bool EndJogAfterWatchdog(JogState& state, PluginState& plugin, const PollInput& in);

// A continuous jog started by the wheel must not outlive what started it:
// when the inhibit switch is set, the axis selector leaves its axis, the
// function selector leaves the function that started it (also for the other
// continuous function), or another axis is selected while it runs, the
// running jog is stopped and ended at once.
void EndAbandonedJog(JogState& state, const Host& host, const PollInput& in);

// Stops and ends the continuous jog the wheel started, if one still runs.
void EndRunningJog(JogState& state, const Host& host);

// Counts the wheel as rested for the deadman: no jog may start on the steps
// the rest windows still hold, the speed history is forgotten (a nudge after
// a rest starts from the nudge's own speed) and the fixed-rate jog's start
// delay counts again from 0.
void WheelRested(JogState& state);

// Another axis or wheel function is selected: what the continuous jogs
// gathered on the old one (rest windows, delay count, speed history) is
// forgotten, so that nothing made there starts a jog here.
void FollowSelection(JogState& state, const PollInput& in);

// A jog the wheel started stops at once when the host's jog switch (LED 83)
// is off, whatever the wheel does. The switch is read only while one runs.
void EndJogIfSwitchedOff(JogState& state, const Host& host);

// The deadman, before the poll's wheel function: counts the polls without
// wheel steps and, from the last one allowed on, empties the rest windows so
// that no wheel function can start a jog on old steps.
void CountQuietPoll(JogState& state, const PollInput& in);

// The deadman for a poll that could not run (another was still in progress,
// inside a host callback that let the timer through): it brought the jog no
// steps, so it counts as quiet. A jog it ends is only stopped through its
// record; returns true when the host is owed the "ENDJOG" for it.
bool StopJogAfterDroppedPoll(JogState& state, const Host& host);

// The deadman, after the poll's wheel function however it returned: a jog
// the wheel started still running on the kDeadmanPolls-th consecutive poll
// without wheel steps is ended.
void EndJogAfterRest(JogState& state, const Host& host);

}  // namespace hk4
