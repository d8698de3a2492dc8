#include "device/output_gate.h"

#include <cstring>

namespace hk4 {

bool OutputGate::Due(const uint8_t (&report)[kOutputReportSize]) {
    ++ticksSinceWrite_;
    return force_ || std::memcmp(report, last_, sizeof last_) != 0 ||
           ticksSinceWrite_ >= kOutputRefreshTicks;
}

void OutputGate::Written(const uint8_t (&report)[kOutputReportSize], bool ok) {
    ticksSinceWrite_ = 0;
    // A failed write leaves the pendant's lamp unknown: the next tick tries
    // again, changed or not.
    force_ = !ok;
    if (ok) std::memcpy(last_, report, sizeof last_);
}

}  // namespace hk4
