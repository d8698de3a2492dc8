// Mode 2: a continuous jog whose velocity follows a weighted history of the
// pendant's speed byte, scaled by the sensitivity divisor.
#include "input/host_codes.h"
#include "input/jog_modes.h"
#include "input/jog_record.h"

namespace hk4 {

namespace {

// Oldest to newest; recent samples count more. They add up to 9.99.
constexpr double kSpeedWeights[kSpeedHistorySize] = {0.18, 0.36, 0.55, 0.73, 0.9,
                                                     1.09, 1.27, 1.45, 1.64, 1.82};

constexpr int32_t kWheelActiveCycles = 3;
constexpr int32_t kReverseSettleCycles = 3;

void ClearHistory(JogState& state) {
    for (double& sample : state.SpeedHistory) sample = 0.0;
}

}  // namespace

void SpeedFollowingJog(JogState& state, const PollInput& in, PluginState& plugin) {
    const Host& host = plugin.host;
    CycleCounters& counters = plugin.counters;
    const int divisor = SensitivityDivisor(plugin.settings.Vel);  // clamps Vel to 0..9

    state.SpeedCopy = in.Speed;
    if (state.SpeedCopy != 0) {
        counters.WheelActiveHold = kWheelActiveCycles;
        if (!host.GetLED(kLedJogEnabled)) {
            host.SetStatusText(kJogOffText);
            return;
        }
    }
    if (counters.WheelActiveHold == 0) {
        // The hold can run out between two polls (a fast host cycle, a late
        // tick): a jog still running must not be left behind.
        EndRunningJog(state, host);
        ClearHistory(state);
        return;
    }

    state.SpeedRingIndex = (state.SpeedRingIndex + 1) % kSpeedRingSlots;
    state.SpeedRing[state.SpeedRingIndex] = in.Steps;
    int32_t recentSteps = 0;
    for (int32_t slot : state.SpeedRing) recentSteps += slot;
    if (recentSteps == 0) {  // no wheel step in the last four polls
        // Only a jog of ours is ended: a resting wheel whose speed byte stays
        // above 0 must not end, poll after poll, a jog the host started from
        // its keyboard or screen.
        if (state.JoggingAxis == in.AxisIndex || state.EndJogOwed)
            EndJog(state, host, in.AxisIndex);
        return;
    }

    if (in.Direction != state.LastDirection) {
        // Stop at once and let the host settle; no "ENDJOG" on this path
        // (it goes out when the wheel rests, unless a jog starts again).
        if (state.JoggingAxis == in.AxisIndex) state.EndJogOwed = true;
        StopJogFlag(state, host, in.AxisIndex);
        ClearHistory(state);
        counters.ReverseSettle = 0;
        state.LastDirection = in.Direction;
        return;
    }
    if (counters.ReverseSettle < kReverseSettleCycles) return;

    double history[kSpeedHistorySize];
    for (int i = 0; i + 1 < kSpeedHistorySize; ++i) history[i] = state.SpeedHistory[i + 1];
    history[kSpeedHistorySize - 1] = static_cast<double>(state.SpeedCopy);

    double weighted = 0.0;
    for (int i = 0; i < kSpeedHistorySize; ++i) weighted += history[i] * kSpeedWeights[i];
    double fraction = weighted / 235.0 * 3.0 / static_cast<double>(divisor);
    if (fraction > 1.0) fraction = 1.0;
    const int32_t fullRate = host.read(fields::AxisFullRate.at(in.AxisIndex));
    const double velocity = static_cast<double>(fullRate) * fraction;

    if (!HostMotionIdle(host)) {
        // The host takes no new velocity while its motion counters disagree:
        // a jog of ours that the wheel has slowed below ends rather than run
        // on faster than the wheel asks.
        if (state.JoggingAxis == in.AxisIndex &&
            JogVelocityWithin(velocity, fullRate) < host.read(fields::JogVelocity.at(in.AxisIndex)))
            EndJog(state, host, in.AxisIndex);
        return;
    }
    for (int i = 0; i < kSpeedHistorySize; ++i) state.SpeedHistory[i] = history[i];
    state.WeightedSpeed = weighted;
    state.SpeedFraction = fraction;
    DriveContinuousJog(state, host, in, velocity);
}

}  // namespace hk4
