// Mode 3: a continuous jog at the host's jog-rate percentage of the axis's
// full rate, started only after a number of wheel steps in one direction.
#include <cstdint>
#include <limits>

#include "input/host_codes.h"
#include "input/jog_modes.h"
#include "input/jog_record.h"

namespace hk4 {

namespace {

constexpr int32_t kWheelActiveCycles = 3;
constexpr int32_t kAccumulatorCeiling = 30000;
constexpr int32_t kAccumulatorRestart = 400;
constexpr int64_t kTabTicksPerPercentTime = 55;

int32_t SaturateToInt32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace

void FixedRateJog(JogState& state, const PollInput& in, TickShared& shared, PluginState& plugin) {
    const Host& host = plugin.host;
    CycleCounters& counters = plugin.counters;

    // Puts the counter inside the closing window, so that a TAB screen left
    // open by the jog-rate adjustment closes on the next tick. The count is
    // 64-bit: 55 x any 32-bit PercentTime fits.
    shared.TabTicks = kTabTicksPerPercentTime * int64_t{plugin.settings.PercentTime};
    state.SpeedCopy = in.Speed;

    if (in.Direction != state.LastDirection) {
        EndJog(state, host, in.AxisIndex);
        state.DelayAccumulator = 0;
        state.LastDirection = in.Direction;
        return;
    }
    if (in.Steps != 0) {
        counters.WheelActiveHold = kWheelActiveCycles;
        // Saturates: with a huge DelaySteps the count could otherwise run
        // past the 32-bit range while the wheel keeps turning.
        state.DelayAccumulator =
            SaturateToInt32(int64_t{state.DelayAccumulator} + int64_t{in.Steps});
        if (!host.GetLED(kLedJogEnabled)) {
            host.SetStatusText(kJogOffText);
            return;
        }
    }
    if (counters.WheelActiveHold == 0) {
        // The hold can run out between two polls (a fast host cycle, a late
        // tick): a jog still running must not be left behind.
        EndRunningJog(state, host);
        state.DelayAccumulator = 0;
        return;
    }
    if (state.DelayAccumulator < plugin.settings.DelaySteps) return;
    if (state.DelayAccumulator > kAccumulatorCeiling) state.DelayAccumulator = kAccumulatorRestart;

    // Rest test over this mode's own window of the last three polls.
    state.RestRingIndex = (state.RestRingIndex + 1) % kRestRingSlots;
    state.RestRing[state.RestRingIndex] = in.Steps;
    int32_t recentSteps = 0;
    for (int32_t slot : state.RestRing) recentSteps += slot;
    if (recentSteps == 0) {
        host.DoButton(kButtonAxisBase + in.AxisIndex);
        // Only a jog of ours is ended (see DriveContinuousJog).
        if (state.JoggingAxis == in.AxisIndex) EndJog(state, host, in.AxisIndex);
        return;
    }
    if (!HostMotionIdle(host)) return;
    // A poll without steps has not read the jog switch yet: with it off, no
    // jog starts (one still running has been ended already).
    if (in.Steps == 0 && state.SpeedCopy != 0 && !host.GetLED(kLedJogEnabled)) return;

    const double velocity = host.GetDRO(kDroJogRate) *
                            static_cast<double>(host.read(fields::AxisFullRate.at(in.AxisIndex))) /
                            100.0;
    DriveContinuousJog(state, host, in, velocity);
}

}  // namespace hk4
