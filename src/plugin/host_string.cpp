#include "plugin/host_string.h"

#include <cstring>

namespace hk4 {

namespace {

bool CanRead(ReadableFn readable, const void* p, std::size_t size) {
    if (p == nullptr) return false;
    return readable == nullptr || readable(p, size);
}

}  // namespace

bool AssignHostString(void* field, const char* text, ReadableFn readable) {
    if (field == nullptr || text == nullptr) return false;
    char* chars = nullptr;
    std::memcpy(&chars, field, sizeof chars);
    if (chars == nullptr) return false;
    HostStringData* old = reinterpret_cast<HostStringData*>(chars) - 1;
    if (!CanRead(readable, old, sizeof *old)) return false;
    if (!CanRead(readable, old->manager, sizeof(void*))) return false;
    if (old->length < 0 || old->length > old->capacity || old->refs == 0) return false;
    if (old->refs < 0) return false;  // locked by the host: not ours to change

    const std::size_t n = std::strlen(text);
    if (n > static_cast<std::size_t>(INT32_MAX - 1)) return false;
    const int32_t length = static_cast<int32_t>(n);

    if (old->refs == 1 && old->capacity >= length) {
        std::memcpy(old->chars(), text, n + 1);
        old->length = length;
        return true;
    }

    HostStringData* fresh = old->manager->Allocate(length, 1);
    if (fresh == nullptr) return false;
    if (fresh->capacity < length) {  // a buffer too small for the text is not used
        old->manager->Free(fresh);
        return false;
    }
    std::memcpy(fresh->chars(), text, n + 1);
    fresh->length = length;
    fresh->refs = 1;
    char* freshChars = fresh->chars();
    std::memcpy(field, &freshChars, sizeof freshChars);
    if (--old->refs == 0) old->manager->Free(old);
    return true;
}

bool Host::SetStatusText(const char* text) const {
    if (Stale()) return false;
    void* planner = block(Block::Planner);
    if (planner == nullptr) return false;
    void* field = static_cast<unsigned char*>(planner) + fields::StatusTextOffset;
    return AssignHostString(field, text, readable);
}

}  // namespace hk4
