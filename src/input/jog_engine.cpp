#include "input/jog_engine.h"

#include "input/jog_modes.h"
#include "input/jog_record.h"

namespace hk4 {

void JogEngine::WheelOperation(const PollInput& in, TickShared& shared, PluginState& plugin) {
    const Host& host = plugin.host;
    if (EndJogAfterWatchdog(state_, plugin, in)) return;
    EndAbandonedJog(state_, host, in);
    FollowSelection(state_, in);
    EndJogIfSwitchedOff(state_, host);
    // The host forbids jogging while its motion is busy: a jog the wheel
    // started ends, as for the inhibit switch, rather than run on at a
    // velocity and direction the wheel no longer asks for.
    const bool busy = host.read(fields::MotionBusy) != 0;
    if (busy) EndRunningJog(host);
    CountQuietPoll(state_, in);
    if (!WheelLocked(in) && !busy && !host.Stale()) RunWheelFunction(in, shared, plugin);
    // Whatever the function did or skipped, a jog the wheel started ends
    // once the wheel has rested.
    EndJogAfterRest(state_, host);
}

void JogEngine::LinkLost() {
    // The "ENDJOG" of the removal settles a stop of the watchdog too.
    state_.Watchdog->Disarm();
    state_.Watchdog->TakeStop();
    state_.JoggingAxis = kNoAxis;
    WheelRested(state_);
}

void JogEngine::EndRunningJog(const Host& host) {
    hk4::EndRunningJog(state_, host);
}

void JogEngine::RunWheelFunction(const PollInput& in, TickShared& shared, PluginState& plugin) {
    switch (in.WheelMode) {
        case kStepJog:
            StepJog(state_, in, shared, plugin);
            break;
        case kSpeedFollowingJog:
            SpeedFollowingJog(state_, in, plugin);
            break;
        case kFixedRateJog:
            FixedRateJog(state_, in, shared, plugin);
            break;
        case kJogRateAdjust:
        case kDro821Adjust:
        case kDro74Adjust:
            DroAdjustMode(in, shared, plugin);
            break;
        default:
            break;
    }
}

void JogEngine::EndJogSent() {
    state_.Watchdog->TakeStop();
}

bool JogEngine::DroppedPoll(const Host& host) {
    return StopJogAfterDroppedPoll(state_, host);
}

void JogEngine::SnapshotRestore(PluginState& plugin) {
    hk4::SnapshotRestore(state_, plugin);
}

void JogEngine::RestoreAbsoluteNow(const Host& host) {
    hk4::RestoreAbsoluteMode(state_, host);
}

void JogEngine::RestoreSnapshotNow(PluginState& plugin) {
    plugin.counters.StepJogHold = 0;
    hk4::SnapshotRestore(state_, plugin);
}

}  // namespace hk4
