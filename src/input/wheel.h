// The hand wheel's 8-bit counter turned into steps and a direction.
#pragma once

#include <cstdint>

namespace hk4 {

inline constexpr int32_t kWheelUp = 0;    // the counter went up
inline constexpr int32_t kWheelDown = 1;  // the counter went down
inline constexpr int32_t kMaxWheelSteps = 127;

struct WheelMotion {
    int32_t steps;      // 0..127
    int32_t direction;  // kWheelUp or kWheelDown
};

// Motion between two counter readings (each 0..255). The counter wraps, so
// the shorter way round is taken. A difference of exactly 128 either way
// cannot be told from its wrap: it reports no steps and keeps `direction`,
// as does no change at all.
WheelMotion ClassifyWheel(int32_t previous, int32_t value, int32_t direction);

}  // namespace hk4
