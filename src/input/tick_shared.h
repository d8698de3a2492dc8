// Pendant-window fields shared by the polling tick and the wheel functions.
#pragma once

#include <cstdint>

namespace hk4 {

struct TickShared {
    bool RestoreAbsolute = true;  // send "G90" after each step-jog line
    bool TabShown = false;        // the TAB screen is open and owes its closing press
    // Ticks counted for the TAB screen display time. 64 bits, so that the
    // closing tick 50 x PercentTime + 1 is reachable for every PercentTime.
    int64_t TabTicks = 0;
};

}  // namespace hk4
