// Modes 4 to 6: the wheel scales a host DRO by half a percent per step within
// fixed bounds. Mode 4 changes the jog rate and shows the host's TAB screen
// while it does.
#include <cmath>

#include "input/host_codes.h"
#include "input/jog_modes.h"

namespace hk4 {

namespace {

struct DroRange {
    int32_t dro;
    double upper;
    double lower;
};

constexpr DroRange kJogRateRange{kDroJogRate, 100.0, 0.1};
constexpr DroRange kDro821Range{kDro821, 250.0, 1.0};
constexpr DroRange kDro74Range{kDro74, 250.0, 1.0};

constexpr double kFactorPerStep = 0.005;  // linear in the steps, not compounded

// Values the host holds outside the range are not forced into it: a value at
// or above the upper bound is not raised, one at or below 0.0 is not lowered,
// and one that is not a finite number is left as it is.
void AdjustDro(const Host& host, const DroRange& range, int32_t direction, int32_t steps) {
    if (steps == 0) return;
    double v = host.GetDRO(range.dro);
    if (!std::isfinite(v)) return;
    if (direction == 0) {
        if (!(v < range.upper)) return;
        v = (static_cast<double>(steps) * kFactorPerStep + 1.0) * v;
        if (v > range.upper) v = range.upper;
    } else {
        if (!(v > 0.0)) return;
        v = (1.0 - static_cast<double>(steps) * kFactorPerStep) * v;
        if (v < range.lower) v = range.lower;
    }
    host.SetDRO(range.dro, v);
}

// Opens the TAB screen on the first step and keeps its display time at its
// start while the wheel turns; the polling tick closes it.
void HoldTabScreen(const Host& host, int32_t steps, TickShared& shared, const Settings& settings) {
    if (steps == 0) return;
    shared.TabTicks = 0;
    // Shown only once the press was made: the closing press would open it.
    if (!shared.TabShown && settings.PercentTime != 0 && host.DoButton(kButtonTabScreen)) {
        shared.TabShown = true;
        shared.TabTicks = 0;
    }
}

}  // namespace

void DroAdjustMode(const PollInput& in, TickShared& shared, PluginState& plugin) {
    const Host& host = plugin.host;
    switch (in.WheelMode) {
        case kJogRateAdjust:
            HoldTabScreen(host, in.Steps, shared, plugin.settings);
            AdjustDro(host, kJogRateRange, in.Direction, in.Steps);
            break;
        case kDro821Adjust:
            AdjustDro(host, kDro821Range, in.Direction, in.Steps);
            break;
        case kDro74Adjust:
            AdjustDro(host, kDro74Range, in.Direction, in.Steps);
            break;
        default:
            break;
    }
}

}  // namespace hk4
