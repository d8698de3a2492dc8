#include "hostside/host_string_manager.h"

#include <cstdlib>

namespace hostside {

namespace {

hk4::HostStringData* NewData(hk4::HostStringManager* owner, int capacity) {
    if (capacity < 0) return nullptr;
    auto* data = static_cast<hk4::HostStringData*>(
        std::calloc(1, sizeof(hk4::HostStringData) + static_cast<std::size_t>(capacity) + 1));
    if (!data) return nullptr;
    data->manager = owner;
    data->capacity = capacity;
    data->refs = 1;
    return data;
}

}  // namespace

hk4::HostStringData* CountingStringManager::Allocate(int capacity, int charSize) {
    if (charSize != 1) return nullptr;
    ++allocations;
    return NewData(this, capacity);
}

void CountingStringManager::Free(hk4::HostStringData* data) {
    ++frees;
    std::free(data);
}

hk4::HostStringData* CountingStringManager::Reallocate(hk4::HostStringData* data, int capacity,
                                                       int charSize) {
    if (charSize != 1 || capacity < 0) return nullptr;
    auto* grown = static_cast<hk4::HostStringData*>(
        std::realloc(data, sizeof(hk4::HostStringData) + static_cast<std::size_t>(capacity) + 1));
    if (grown) grown->capacity = capacity;
    return grown;
}

hk4::HostStringData* CountingStringManager::GetNilString() {
    return nullptr;
}

}  // namespace hostside
