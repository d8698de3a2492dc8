// The hand wheel's 8-bit counter turned into steps and a direction.
#pragma once

#include <cstdint>

namespace hk4 {

inline constexpr int32_t kWheelUp = 0;    // the counter went up
inline constexpr int32_t kWheelDown = 1;  // the counter went down
// The most one counter difference can tell: a larger one is its wrap.
inline constexpr int32_t kMaxWheelSteps = 127;
// The system's HID class driver queues this many reports per open handle and
// drops reports when it is full. A tick that drains this many may have lost
// some, so a poll counts motion over fewer reports, and the steps of one
// poll never exceed (kDriverQueueReports - 1) x kMaxWheelSteps = 3937.
inline constexpr int kDriverQueueReports = 32;
inline constexpr int32_t kMaxPollSteps = (kDriverQueueReports - 1) * kMaxWheelSteps;

struct WheelMotion {
    int32_t steps;      // 0..127
    int32_t direction;  // kWheelUp or kWheelDown
};

// Motion between two counter readings (each 0..255). The counter wraps, so
// the shorter way round is taken. A difference of exactly 128 either way
// cannot be told from its wrap: it reports no steps and keeps `direction`,
// as does no change at all.
WheelMotion ClassifyWheel(int32_t previous, int32_t value, int32_t direction);

// The same as one signed count: up positive, down negative.
inline int32_t SignedSteps(const WheelMotion& m) {
    return m.direction == kWheelUp ? m.steps : -m.steps;
}

}  // namespace hk4
