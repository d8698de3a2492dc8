#include "input/jog_record.h"

#include "input/host_codes.h"

namespace hk4 {

bool HostMotionIdle(const Host& host) {
    return host.read(fields::MotionBusy) == 0 &&
           host.read(fields::MotionCountA) == host.read(fields::MotionCountB);
}

int32_t JogVelocityWithin(double velocity, int32_t fullRate) {
    // NaN fails every comparison and so lands here too.
    if (!(velocity >= 1.0) || fullRate < 1) return 0;
    if (velocity >= static_cast<double>(fullRate)) return fullRate;
    return static_cast<int32_t>(velocity);  // truncates toward zero
}

void StartJog(JogState& state, const Host& host, const PollInput& in, int32_t velocity) {
    // A tick whose world changed under it starts no jog (see Host::Stale).
    if (host.Stale()) return;
    const int32_t axis = in.AxisIndex;
    host.write(fields::JogDirection.at(axis), in.Direction);
    host.write(fields::JogVelocity.at(axis), velocity);
    host.write(fields::JogParam.at(axis), host.read(fields::AxisJogParam.at(axis)));
    host.write(fields::JogFullRate.at(axis), host.read(fields::AxisFullRate.at(axis)));
    // The stop and start flags go through the watchdog: a stop it made while
    // this tick was held in a host callback stands, and no "DOJOG" follows.
    if (!state.Watchdog->LetRun(host, axis)) {
        state.JoggingAxis = kNoAxis;
        return;
    }
    state.JoggingAxis = axis;
    state.JoggingMode = in.WheelMode;
    state.EndJogOwed = false;
    host.Code("DOJOG");
}

void DriveContinuousJog(JogState& state, const Host& host, const PollInput& in, double velocity) {
    const int32_t bounded =
        JogVelocityWithin(velocity, host.read(fields::AxisFullRate.at(in.AxisIndex)));
    if (state.SpeedCopy != 0 && bounded > 0)
        StartJog(state, host, in, bounded);
    else if (state.JoggingAxis == in.AxisIndex || state.EndJogOwed)
        EndJog(state, host, in.AxisIndex);  // only a jog of ours
    state.LastDirection = in.Direction;
}

void EndJog(JogState& state, const Host& host, int32_t axis) {
    state.EndJogOwed = false;
    StopJogFlag(state, host, axis);
    // This "ENDJOG" is also the one a stop of the watchdog owed.
    state.Watchdog->TakeStop();
    host.Code("ENDJOG");
}

void StopJogFlag(JogState& state, const Host& host, int32_t axis) {
    host.StopJog(axis);
    if (state.JoggingAxis != axis) return;
    state.JoggingAxis = kNoAxis;
    state.Watchdog->Disarm();
}

bool EndJogAfterWatchdog(JogState& state, PluginState& plugin, const PollInput& in) {
    const Host& host = plugin.host;
    // The wheel's motion was told to the watchdog when the report was read.
    if (!state.Watchdog->TakeStop()) return false;
    // The jog was stopped through its record while no tick ran; what the
    // report of this tick holds gathered over that time and starts nothing.
    state.JoggingAxis = kNoAxis;
    state.EndJogOwed = false;
    FollowSelection(state, in);
    WheelRested(state);
    // The wheel has not been active for longer than the host's cycles would
    // tell: the resting polls that follow owe no further "ENDJOG".
    plugin.counters.WheelActiveHold = 0;
    host.Code("ENDJOG");
    return true;
}

void EndAbandonedJog(JogState& state, const Host& host, const PollInput& in) {
    if (state.JoggingAxis == kNoAxis) return;
    if (WheelLocked(in) || in.WheelMode != state.JoggingMode || in.AxisIndex != state.JoggingAxis)
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

namespace {

void ForgetWheelHistory(JogState& state) {
    for (int32_t& slot : state.SpeedRing) slot = 0;
    for (int32_t& slot : state.RestRing) slot = 0;
    for (double& sample : state.SpeedHistory) sample = 0.0;
    state.DelayAccumulator = 0;
}

}  // namespace

void WheelRested(JogState& state) {
    state.QuietPolls = kDeadmanPolls;
    ForgetWheelHistory(state);
}

void FollowSelection(JogState& state, const PollInput& in) {
    if (in.AxisIndex == state.SelectedAxis && in.WheelMode == state.SelectedMode) return;
    state.SelectedAxis = in.AxisIndex;
    state.SelectedMode = in.WheelMode;
    ForgetWheelHistory(state);
}

void EndJogIfSwitchedOff(JogState& state, const Host& host) {
    if (state.JoggingAxis != kNoAxis && !host.GetLED(kLedJogEnabled)) EndRunningJog(state, host);
}

bool StopJogAfterDroppedPoll(JogState& state, const Host& host) {
    CountQuietPoll(state, PollInput{});
    if (state.QuietPolls < kDeadmanPolls || state.JoggingAxis == kNoAxis) return false;
    StopJogFlag(state, host, state.JoggingAxis);
    return true;
}

void EndJogAfterRest(JogState& state, const Host& host) {
    if (state.QuietPolls >= kDeadmanPolls) EndRunningJog(state, host);
}

}  // namespace hk4
