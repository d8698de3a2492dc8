// The three counters that give the jog logic a time base in host cycles.
#pragma once

#include <cstdint>

namespace hk4 {

struct CycleCounters {
    int32_t StepJogHold = 0;      // counts down to 0 after a step jog
    int32_t ReverseSettle = 0;    // counts up after a reversal
    int32_t WheelActiveHold = 0;  // counts down to 0 once the wheel rests

    // One host cycle.
    void Update() {
        if (WheelActiveHold != 0) --WheelActiveHold;
        if (ReverseSettle > 1000) ReverseSettle = 100;
        ++ReverseSettle;
        if (StepJogHold != 0) --StepJogHold;
    }
};

}  // namespace hk4
