// The jog engine: what the wheel's motion of one poll does, by wheel function.
#pragma once

#include "input/tick_shared.h"
#include "plugin/plugin_state.h"
#include "input/jog_state.h"

namespace hk4 {

class JogEngine {
  public:
    // Called on every poll, also with 0 steps. Nothing happens while the jog
    // inhibit switch is set or the host's motion is busy.
    void WheelOperation(const PollInput& in, TickShared& shared, PluginState& plugin);

    // Called right after every wheel operation.
    void SnapshotRestore(PluginState& plugin);

    const JogState& State() const { return state_; }

  private:
    JogState state_;
};

}  // namespace hk4
