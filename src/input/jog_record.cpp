#include "input/jog_record.h"

#include <cmath>
#include <limits>

namespace hk4 {

bool HostMotionIdle(const Host& host) {
    return host.read(fields::MotionBusy) == 0 &&
           host.read(fields::MotionCountA) == host.read(fields::MotionCountB);
}

int32_t JogVelocityFromDouble(double velocity) {
    if (std::isnan(velocity)) return 0;
    if (velocity >= 2147483648.0) return std::numeric_limits<int32_t>::max();
    if (velocity <= -2147483649.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(velocity);  // truncates toward zero
}

void StartJog(JogState& state, const Host& host, int32_t axis, int32_t direction, double velocity) {
    host.write(fields::JogDirection.at(axis), direction);
    host.write(fields::JogVelocity.at(axis), JogVelocityFromDouble(velocity));
    host.write(fields::JogParam.at(axis), host.read(fields::AxisJogParam.at(axis)));
    host.write(fields::JogFullRate.at(axis), host.read(fields::AxisFullRate.at(axis)));
    host.write(fields::JogStop.at(axis), uint8_t{0});
    host.write(fields::JogStart.at(axis), uint8_t{1});
    state.JoggingAxis = axis;
    host.Code("DOJOG");
}

void DriveContinuousJog(JogState& state, const Host& host, const PollInput& in, double velocity) {
    if (state.SpeedCopy != 0)
        StartJog(state, host, in.AxisIndex, in.Direction, velocity);
    else
        EndJog(state, host, in.AxisIndex);
    state.LastDirection = in.Direction;
}

void EndJog(JogState& state, const Host& host, int32_t axis) {
    StopJogFlag(state, host, axis);
    host.Code("ENDJOG");
}

void StopJogFlag(JogState& state, const Host& host, int32_t axis) {
    host.write(fields::JogStop.at(axis), uint8_t{1});
    if (state.JoggingAxis == axis) state.JoggingAxis = kNoAxis;
}

void EndAbandonedJog(JogState& state, const Host& host, const PollInput& in) {
    if (state.JoggingAxis == kNoAxis) return;
    const bool continuous = in.WheelMode == kSpeedFollowingJog || in.WheelMode == kFixedRateJog;
    if (WheelLocked(in) || !continuous || in.AxisIndex != state.JoggingAxis)
        EndJog(state, host, state.JoggingAxis);
}

void EndRunningJog(JogState& state, const Host& host) {
    if (state.JoggingAxis != kNoAxis) EndJog(state, host, state.JoggingAxis);
}

void CountQuietPoll(JogState& state, const PollInput& in) {
    if (in.Steps != 0) {
        state.QuietPolls = 0;
        return;
    }
    // The rings only move on polls that reach them; steps left there from
    // before a stretch of skipped polls would otherwise let the function
    // start a jog that the deadman would end in the same poll.
    if (state.QuietPolls + 1 >= kDeadmanPolls)
        WheelRested(state);
    else
        ++state.QuietPolls;
}

void WheelRested(JogState& state) {
    state.QuietPolls = kDeadmanPolls;
    for (int32_t& slot : state.SpeedRing) slot = 0;
    for (int32_t& slot : state.RestRing) slot = 0;
}

void EndJogAfterRest(JogState& state, const Host& host) {
    if (state.QuietPolls >= kDeadmanPolls) EndRunningJog(state, host);
}

}  // namespace hk4
