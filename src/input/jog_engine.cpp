#include "input/jog_engine.h"

#include "input/jog_modes.h"
#include "input/jog_record.h"

namespace hk4 {

void JogEngine::WheelOperation(const PollInput& in, TickShared& shared, PluginState& plugin) {
    EndAbandonedJog(state_, plugin.host, in);
    if (in.JogInhibit) return;
    if (plugin.host.read(fields::MotionBusy) != 0) return;
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

void JogEngine::SnapshotRestore(PluginState& plugin) {
    hk4::SnapshotRestore(state_, plugin);
}

}  // namespace hk4
