// The host's message-line string object: a pointer to characters that are
// preceded by a header naming the allocator that owns the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/host.h"

namespace hk4 {

struct HostStringData;

// The host's string allocator. Slot order matters: it is the host's vtable.
class HostStringManager {
  public:
    virtual HostStringData* Allocate(int capacity, int charSize) = 0;
    virtual void Free(HostStringData* data) = 0;
    virtual HostStringData* Reallocate(HostStringData* data, int capacity, int charSize) = 0;
    virtual HostStringData* GetNilString() = 0;
    virtual HostStringManager* Clone() = 0;

  protected:
    ~HostStringManager() = default;
};

struct HostStringData {
    HostStringManager* manager;
    int32_t length;    // characters in use, without the terminator
    int32_t capacity;  // characters allocated, without the terminator
    int32_t refs;      // > 1 shared, < 0 locked
    char* chars() { return reinterpret_cast<char*>(this + 1); }
};

// Assigns `text` to the string object whose character pointer is stored at
// `field`. Anything that does not look like such a string is left alone and
// false is returned; a locked string is left alone too.
bool AssignHostString(void* field, const char* text, ReadableFn readable);

}  // namespace hk4
