// Pendant input: decodes each 8-byte input report and acts on it (selectors,
// button, inhibit switch, and the wheel through the jog engine).
#pragma once

#include <cstdint>

#include "plugin/plugin_state.h"

namespace hk4 {

inline constexpr int kInputReportSize = 8;
inline constexpr int kOutputReportSize = 5;

// Pendant-window fields shared by the polling tick and the wheel functions.
struct TickShared {
    bool RestoreAbsolute = true;  // send "G90" after each step-jog line
    bool TabShown = false;        // the TAB screen is open and owes its closing press
    int32_t TabTicks = 0;         // ticks counted for the TAB screen display time
};

class InputInterpreter {
public:
    // One poll, with the new report or the previous one again.
    void DecodeReport(const uint8_t (&report)[kInputReportSize], TickShared& shared,
                      PluginState& plugin);

    // The selected axis, 0..4 (X, Y, Z, A, B).
    int32_t AxisIndex() const { return axisIndex_; }

private:
    int32_t axisIndex_ = 0;
};

}  // namespace hk4
