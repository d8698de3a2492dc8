// Mode 1: each poll with wheel motion sends one incremental move of the
// selected axis; DROs 818 and 821, which the move disturbs, are saved before
// the first one and written back once the wheel has rested.
#include <cmath>
#include <utility>

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

// The "G90" is owed from before the line goes: a StopPlug from inside the
// line sends it (Dismiss), and a world that changes while the host runs the
// line does not hold it back (it finishes what was started).
void SendLine(JogState& state, const Host& host, const GCodeLine& line, const TickShared& shared) {
    if (!line.ok()) return;
    const bool owedBefore = state.AbsoluteOwed;
    state.AbsoluteOwed = owedBefore || shared.RestoreAbsolute;
    if (!host.Code(line.c_str())) {
        state.AbsoluteOwed = owedBefore;
        return;
    }
    RestoreAbsoluteMode(state, host);
}

// X and Y in the rotated frame: no snapshot, no hold, no feed word.
void RotatedStep(JogState& state, const Host& host, const PollInput& in, double distance,
                 double angle, const TickShared& shared) {
    const double r = angle * kRadiansPerDegree;
    const double x = in.AxisIndex == 0 ? distance : 0.0;
    const double y = in.AxisIndex == 1 ? distance : 0.0;
    const double X = std::cos(r) * x - std::sin(-r) * y;
    const double Y = std::sin(-r) * x + std::cos(r) * y;
    // A host angle that is not a number (or infinite) gives no sound move.
    if (!std::isfinite(X) || !std::isfinite(Y)) return;
    GCodeLine line;
    FormatRotatedLine(line, X, Y);
    SendLine(state, host, line, shared);
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
        RotatedStep(state, host, in, distance, angle, shared);
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
        // Owed from before the call: a StopPlug inside it puts 821 back.
        const bool overrodeBefore = state.Snapshot.Overrode821;
        state.Snapshot.Overrode821 = true;
        if (!host.SetDRO(kDro821, kStepJogOverride)) state.Snapshot.Overrode821 = overrodeBefore;
    }

    GCodeLine line;
    if (feed > 0)
        FormatFeedStepLine(line, feed, AxisLetter(in.AxisIndex), distance);
    else
        FormatStepLine(line, AxisLetter(in.AxisIndex), distance);
    SendLine(state, host, line, shared);
}

void RestoreAbsoluteMode(JogState& state, const Host& host) {
    // Cleared before the call, so that a StopPlug from inside it does not
    // send a second one.
    if (!std::exchange(state.AbsoluteOwed, false)) return;
    if (!host.Code("G90", Host::Call::Finishes)) state.AbsoluteOwed = true;
}

void SnapshotRestore(JogState& state, PluginState& plugin) {
    if (!state.Snapshot.Taken || plugin.counters.StepJogHold != 0) return;
    const Host& host = plugin.host;
    OverrideSnapshot& s = state.Snapshot;
    // Each value is marked back before its call (a StopPlug from inside it
    // must not write it twice) and owed again when the call was not made.
    if (!s.Restored818) {
        s.Restored818 = true;
        if (!host.SetDRO(kDro818, s.Saved818, Host::Call::Finishes)) s.Restored818 = false;
    }
    // The override is put back when it was made, whatever the rate is now.
    if (s.Overrode821) {
        s.Overrode821 = false;
        if (!host.SetDRO(kDro821, s.Saved821, Host::Call::Finishes)) s.Overrode821 = true;
    }
    if (s.Taken && s.Restored818 && !s.Overrode821) {
        s.Taken = false;
        s.Restored818 = false;
    }
}

}  // namespace hk4
