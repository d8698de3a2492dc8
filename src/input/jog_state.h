// What one poll hands the jog engine, and the state the engine keeps between
// polls. The wheel functions each live in their own file and work on these.
#pragma once

#include <cstdint>

#include "input/jog_watchdog.h"

namespace hk4 {

// Wheel functions chosen by the pendant's function selector.
enum WheelFunction : int32_t {
    kStepJog = 1,            // one incremental move per poll
    kSpeedFollowingJog = 2,  // continuous jog whose velocity follows the wheel
    kFixedRateJog = 3,       // continuous jog at the jog-rate percentage
    kJogRateAdjust = 4,      // the wheel scales DRO 3 and shows the TAB screen
    kDro821Adjust = 5,
    kDro74Adjust = 6,
};

// The decoded pendant state and wheel motion of one poll.
struct PollInput {
    int32_t WheelMode = kStepJog;  // 1..6
    int32_t AxisIndex = 0;         // 0..4
    bool JogInhibit = false;
    // The axis selector is not on the selected axis (OFF, or turned with
    // the button held).
    bool OffAxis = false;
    int32_t Speed = 0;      // the report's speed byte, 0..255
    int32_t Direction = 0;  // 0 up, 1 down
    int32_t Steps = 0;      // 0..kMaxPollSteps (wheel.h)
};

// DROs 818 and 821 as they were before the first step jog of a burst. Taken
// until both are back: 818 always, 821 when a feed step overrode it.
struct OverrideSnapshot {
    double Saved818 = 0.0;
    double Saved821 = 0.0;
    bool Taken = false;
    bool Restored818 = false;  // 818 is back; 821 is still owed
    bool Overrode821 = false;  // a feed step set DRO 821 and it is not back yet
};

inline constexpr int kSpeedRingSlots = 4;  // speed-following jog: steps of the last four polls
inline constexpr int kRestRingSlots = 3;   // fixed-rate jog: its rest window, in polls
inline constexpr int kSpeedHistorySize = 10;
inline constexpr int32_t kNoAxis = -1;
// A continuous jog the wheel started never runs past this many consecutive
// polls without wheel steps, whatever the host's cycle and state.
inline constexpr int32_t kDeadmanPolls = 4;

// The wheel acts only while the inhibit switch is off and the axis selector
// stands on the selected axis; otherwise its motion is dropped.
inline bool WheelLocked(const PollInput& in) {
    return in.JogInhibit || in.OffAxis;
}

struct JogState {
    OverrideSnapshot Snapshot;
    // A step line went to the host and its "G90" has not (yet) followed.
    bool AbsoluteOwed = false;
    int32_t SpeedCopy = 0;         // speed byte of the current poll
    int32_t LastDirection = 0;     // direction last acted on by both continuous jogs
    int32_t DelayAccumulator = 0;  // fixed-rate jog: steps since it last came to rest

    // Each continuous jog has its own ring, so that the fixed-rate jog's rest
    // test never depends on what the speed-following jog left behind.
    int32_t SpeedRing[kSpeedRingSlots] = {};
    int32_t SpeedRingIndex = 0;
    int32_t RestRing[kRestRingSlots] = {};
    int32_t RestRingIndex = 0;

    // The axis of the continuous jog this engine started and has not yet
    // stopped, or kNoAxis, and the wheel function that started it.
    int32_t JoggingAxis = kNoAxis;
    int32_t JoggingMode = 0;
    // The speed-following jog stopped ours on a reversal without its
    // "ENDJOG"; the wheel's rest sends it.
    bool EndJogOwed = false;
    // The axis and function the rings, the delay count and the speed
    // history were made on: another selection starts them afresh.
    int32_t SelectedAxis = kNoAxis;
    int32_t SelectedMode = 0;
    // Consecutive polls without wheel steps (steps dropped count as none).
    int32_t QuietPolls = 0;

    // Ends the jog in time when no tick comes to end it.
    JogWatchdog* Watchdog = &NoWatchdog();

    double SpeedHistory[kSpeedHistorySize] = {};  // oldest first
    double WeightedSpeed = 0.0;
    double SpeedFraction = 0.0;
};

}  // namespace hk4
