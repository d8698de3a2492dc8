// The jog engine: what the wheel's motion of one poll does, by wheel function.
#pragma once

#include "input/tick_shared.h"
#include "plugin/plugin_state.h"
#include "input/jog_state.h"

namespace hk4 {

class JogEngine {
  public:
    // Called on every poll, also with 0 steps. The wheel function does not
    // run while the inhibit switch is set, the axis selector is at OFF or the
    // host's motion is busy (a continuous jog the wheel started then ends at
    // once); a continuous jog the wheel started ends all the same once the
    // wheel has rested (the deadman).
    void WheelOperation(const PollInput& in, TickShared& shared, PluginState& plugin);

    // The pendant's removal ended the host's jog: it no longer counts as
    // running, and the wheel counts as rested until it turns again, so that
    // the last report from before, decoded again, starts nothing.
    void LinkLost();
    // Stops and ends the continuous jog the wheel started, if one runs.
    void EndRunningJog(const Host& host);

    // A poll dropped because another was in progress (see
    // StopJogAfterDroppedPoll): true when "ENDJOG" is owed.
    bool DroppedPoll(const Host& host);

    // An "ENDJOG" owed by a dropped poll or a removal went out: it also
    // settles a stop of the watchdog.
    void EndJogSent();
    // The watchdog that ends a jog when no tick comes; it outlives the engine.
    void SetWatchdog(JogWatchdog& watchdog) { state_.Watchdog = &watchdog; }

    // Called right after every wheel operation.
    void SnapshotRestore(PluginState& plugin);
    // The plug-in stops: DROs 818 and 821 get their snapshot back now, not
    // after the step jog's hold.
    void RestoreSnapshotNow(PluginState& plugin);
    void RestoreAbsoluteNow(const Host& host);
    // The report this poll read shows the wheel turned: the watchdog's time
    // runs from now. Before any host call of the poll.
    void WheelMoved() { state_.Watchdog->WheelMoved(); }

    const JogState& State() const { return state_; }

  private:
    void RunWheelFunction(const PollInput& in, TickShared& shared, PluginState& plugin);

    JogState state_;
};

}  // namespace hk4
