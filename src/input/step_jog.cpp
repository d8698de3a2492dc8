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
    const int32_t signedSteps = in.Direction == 0 ? in.Steps : -in.Steps;
    const double distance = static_cast<double>(signedSteps) * host.read(fields::StepSize);
    // A step size that is not a finite number would make a move line that
    // is not G-code ("nan", "inf"): such a poll moves nothing.
    if (!std::isfinite(distance)) return;

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
    const int32_t feed = plugin.settings.StepJogRate;
    if (feed != 0) host.SetDRO(kDro821, kStepJogOverride);

    GCodeLine line;
    if (feed == 0)
        FormatStepLine(line, AxisLetter(in.AxisIndex), distance);
    else
        FormatFeedStepLine(line, feed, AxisLetter(in.AxisIndex), distance);
    SendLine(host, line, shared);
}

void SnapshotRestore(JogState& state, PluginState& plugin) {
    if (!state.Snapshot.Taken || plugin.counters.StepJogHold != 0) return;
    const Host& host = plugin.host;
    host.SetDRO(kDro818, state.Snapshot.Saved818);
    if (plugin.settings.StepJogRate != 0) host.SetDRO(kDro821, state.Snapshot.Saved821);
    state.Snapshot.Taken = false;
}

}  // namespace hk4
