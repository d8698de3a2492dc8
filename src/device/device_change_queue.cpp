#include "device/device_change_queue.h"

namespace hk4 {

void DeviceChangeQueue::Push(DeviceChange change) {
    if (count_ > 0) {
        DeviceChange& last = items_[(head_ + count_ - 1) % kCapacity];
        if (last == change) return;
        if (count_ == kCapacity) {
            // Full: the removal takes the last place, so that the link
            // ends down and the jog ended rather than the other way round.
            if (change == DeviceChange::Removal) last = change;
            return;
        }
    }
    items_[(head_ + count_) % kCapacity] = change;
    ++count_;
}

bool DeviceChangeQueue::Pop(DeviceChange& change) {
    if (count_ == 0) return false;
    change = items_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return true;
}

}  // namespace hk4
