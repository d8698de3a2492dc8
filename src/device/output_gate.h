// When the lamp's output report goes out. Each write is a USB transfer
// (overlapped: the host's thread never waits for it, and the next write
// waits for its end), so it is made only when it matters: its
// content changed since the last report written successfully, the link has
// just come up, the last write failed, or a second has passed since the last
// write (a pendant that lost its lamp state gets it back within that second).
#pragma once

#include <cstdint>

#include "input/decoder.h"  // kOutputReportSize

namespace hk4 {

// Ticks (of 25 ms) from one write to the refresh that repeats it.
inline constexpr int kOutputRefreshTicks = 40;

class OutputGate {
  public:
    // The link came up: the next tick writes whatever the report holds.
    void LinkUp() { force_ = true; }
    // Asked once per tick that could write: true when `report` is to be
    // written now.
    bool Due(const uint8_t (&report)[kOutputReportSize]);
    // What became of a write that Due asked for, once it has ended.
    void Written(const uint8_t (&report)[kOutputReportSize], bool ok);

  private:
    uint8_t last_[kOutputReportSize] = {};  // the last report written successfully
    bool force_ = true;
    int ticksSinceWrite_ = 0;
};

}  // namespace hk4
