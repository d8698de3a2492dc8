#include "input/wheel.h"

namespace hk4 {

WheelMotion ClassifyWheel(int32_t previous, int32_t value, int32_t direction) {
    const int32_t delta = (value & 0xFF) - (previous & 0xFF);
    if (delta >= 1 && delta <= 127) return {delta, kWheelUp};
    if (delta <= -129) return {256 + delta, kWheelUp};  // wrapped upwards through 0
    if (delta >= -127 && delta <= -1) return {-delta, kWheelDown};
    if (delta >= 129) return {256 - delta, kWheelDown};  // wrapped downwards through 255
    return {0, direction};                               // no change, or ambiguous 128
}

}  // namespace hk4
