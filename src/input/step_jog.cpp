// Mode 1: each poll with wheel motion sends one incremental move of the
// selected axis; DROs 818 and 821, which the move disturbs, are saved before
// the first one and written back once the wheel has rested.
#include <cmath>

#include "input/gcode_line.h"
#include "input/host_codes.h"
#include "input/jog_modes.h"

namespace hk4 {

namespace {

// Degrees to radians with the constant the host's users have always had.
constexpr double kRadiansPerDegree = 0.017453293;

// Hold, in host cycles, before the snapshot is written back.
constexpr int32_t kStepJogHoldCycles = 3;

constexpr double kStepJogOverride = 100.0;

char AxisLetter(int32_t axis) {
    static constexpr char kLetters[] = "XYZABC";
    return kLetters[axis < 0 ? 0 : (axis > 5 ? 5 : axis)];
}

void SendLine(const Host& host, const GCodeLine& line, const TickShared& shared) {
    if (!line.ok()) return;
    host.Code(line.c_str());
    if (shared.RestoreAbsolute) host.Code("G90");
}

// X and Y in the rotated frame: no snapshot, no hold, no feed word.
void RotatedStep(const Host& host, const PollInput& in, double distance, double angle,
                 const TickShared& shared) {
    const double r = angle * kRadiansPerDegree;
    const double x = in.AxisIndex == 0 ? distance : 0.0;
    const double y = in.AxisIndex == 1 ? distance : 0.0;
    const double X = std::cos(r) * x - std::sin(-r) * y;
    const double Y = std::sin(-r) * x + std::cos(r) * y;
    // A host angle that is not a number (or infinite) gives no sound move.
    if (!std::isfinite(X) || !std::isfinite(Y)) return;
    GCodeLine line;
    FormatRotatedLine(line, X, Y);
    SendLine(host, line, shared);
}

}  // namespace

void StepJog(JogState& state, const PollInput& in, const TickShared& shared, PluginState& plugin) {
    if (in.Steps == 0) return;
    const Host& host = plugin.host;
    if (host.GetLED(kLedStepBlockA) || host.GetLED(kLedStepBlockB)) return;
    if (!host.GetLED(kLedJogEnabled)) {
        host.SetStatusText(kJogOffText);
        return;
    }
    // A step size that is not a number, not positive (a move against the
    // wheel, or a line that moves nothing) or absurdly large (a distance of
    // hundreds of digits) makes no move at all.
    const double stepSize = host.read(fields::StepSize);
    if (!(stepSize > 0.0 && stepSize <= kMaxStepSize)) return;
    const int32_t signedSteps = in.Direction == 0 ? in.Steps : -in.Steps;
    const double distance = static_cast<double>(signedSteps) * stepSize;

    const double angle = host.read(fields::RotationAngle);
    if (angle != 0.0 && (in.AxisIndex == 0 || in.AxisIndex == 1)) {
        RotatedStep(host, in, distance, angle, shared);
        return;
    }

    if (!state.Snapshot.Taken) {
        state.Snapshot.Saved818 = host.GetDRO(kDro818);
        state.Snapshot.Saved821 = host.GetDRO(kDro821);
        state.Snapshot.Taken = true;
    }
    plugin.counters.StepJogHold = kStepJogHoldCycles;
    // Only a positive rate is a feed; 0 or below leaves the host's own.
    const int32_t feed = plugin.settings.StepJogRate;
    if (feed > 0) {
        host.SetDRO(kDro821, kStepJogOverride);
        state.Snapshot.Overrode821 = true;
    }

    GCodeLine line;
    if (feed > 0)
        FormatFeedStepLine(line, feed, AxisLetter(in.AxisIndex), distance);
    else
        FormatStepLine(line, AxisLetter(in.AxisIndex), distance);
    SendLine(host, line, shared);
}

void SnapshotRestore(JogState& state, PluginState& plugin) {
    if (!state.Snapshot.Taken || plugin.counters.StepJogHold != 0) return;
    const Host& host = plugin.host;
    host.SetDRO(kDro818, state.Snapshot.Saved818);
    // The override is put back when it was made, whatever the rate is now.
    if (state.Snapshot.Overrode821) host.SetDRO(kDro821, state.Snapshot.Saved821);
    state.Snapshot.Taken = false;
    state.Snapshot.Overrode821 = false;
}

}  // namespace hk4
