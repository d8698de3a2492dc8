// The host's string allocator, as a test host provides it for the message
// line (see plugin/host_string.h): plain heap buffers, counted.
#pragma once

#include "plugin/host_string.h"

namespace hostside {

// Counts what it hands out and takes back.
class CountingStringManager final : public hk4::HostStringManager {
  public:
    hk4::HostStringData* Allocate(int capacity, int charSize) override;
    void Free(hk4::HostStringData* data) override;
    hk4::HostStringData* Reallocate(hk4::HostStringData* data, int capacity, int charSize) override;
    hk4::HostStringData* GetNilString() override;
    hk4::HostStringManager* Clone() override { return this; }
    int allocations = 0;
    int frees = 0;
};

}  // namespace hostside
