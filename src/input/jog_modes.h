// The six wheel functions, called by the jog engine after its common checks
// (jog inhibit clear, host motion not busy), and the snapshot restore.
#pragma once

#include "input/tick_shared.h"
#include "input/jog_state.h"
#include "plugin/plugin_state.h"

namespace hk4 {

// The largest step size (host units per wheel click) a step jog moves by.
// Real step sizes are far below it, rotary indexing in degrees included; a
// larger one is taken as a host value gone wrong.
inline constexpr double kMaxStepSize = 100.0;

// Mode 1: one incremental G-code move per poll, rotated in the X/Y plane when
// the host's rotation angle is set. The step size must be positive and at
// most kMaxStepSize; the feed word is written only for a positive rate.
void StepJog(JogState& state, const PollInput& in, const TickShared& shared, PluginState& plugin);

// Writes DROs 818 and 821 back once three host cycles passed without a step
// jog, also in a stale tick (it finishes what a step jog started); a value
// whose write was not made stays owed.
void SnapshotRestore(JogState& state, PluginState& plugin);

// Sends the "G90" a step line sent owes, if it still owes one.
void RestoreAbsoluteMode(JogState& state, const Host& host);

// Mode 2: continuous jog whose velocity follows the wheel's speed byte.
void SpeedFollowingJog(JogState& state, const PollInput& in, PluginState& plugin);

// Mode 3: continuous jog at the jog-rate percentage, after a start delay.
void FixedRateJog(JogState& state, const PollInput& in, TickShared& shared, PluginState& plugin);

// Modes 4, 5, 6: the wheel scales a host DRO within bounds; mode 4 also shows
// the TAB screen.
void DroAdjustMode(const PollInput& in, TickShared& shared, PluginState& plugin);

}  // namespace hk4
