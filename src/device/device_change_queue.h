// Device changes that reach the pendant window while a tick runs (a host
// callback of the tick may let window messages through). They wait for the
// tick's end and are then acted on in arrival order, so that a removal always
// comes after anything the tick did, the "DOJOG" it may have sent included.
#pragma once

#include <cstddef>

namespace hk4 {

enum class DeviceChange : unsigned char {
    Arrival,  // any HID device arrived
    Removal,  // the pendant went
};

// A fixed ring: queueing never needs memory, so it cannot fail inside a
// message handler. A change equal to the last one queued is the same for
// the link (a second arrival reopens what the first opened; a second removal
// finds the link down already) and is not queued again; so the ring fills
// only if arrivals and removals alternate more than kCapacity times within
// one tick. Then an arrival is dropped, never a removal.
class DeviceChangeQueue {
  public:
    static constexpr std::size_t kCapacity = 16;

    void Push(DeviceChange change);
    bool Pop(DeviceChange& change);
    bool Empty() const { return count_ == 0; }
    std::size_t Size() const { return count_; }

  private:
    DeviceChange items_[kCapacity] = {};
    std::size_t head_ = 0, count_ = 0;
};

}  // namespace hk4
