// Pendant-window fields shared by the polling tick and the wheel functions.
#pragma once

#include <cstdint>

namespace hk4 {

struct TickShared {
    bool RestoreAbsolute = true;  // send "G90" after each step-jog line
    bool TabShown = false;        // the TAB screen is open and owes its closing press
    int32_t TabTicks = 0;         // ticks counted for the TAB screen display time
};

}  // namespace hk4
