// Writing the host's message line without ever corrupting the host's string.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugin/host_string.h"

namespace hk4 {
namespace {

class RecordingManager final : public HostStringManager {
  public:
    HostStringData* Allocate(int capacity, int charSize) override {
        ++allocations;
        lastCharSize = charSize;
        if (failAllocate) return nullptr;
        auto* d = static_cast<HostStringData*>(
            std::calloc(1, sizeof(HostStringData) + static_cast<std::size_t>(capacity) + 1));
        d->manager = this;
        d->capacity = capacity - shortchange;
        d->refs = 1;
        return d;
    }
    void Free(HostStringData* d) override {
        freed.push_back(d);
        std::free(d);
    }
    HostStringData* Reallocate(HostStringData*, int, int) override { return nullptr; }
    HostStringData* GetNilString() override { return nullptr; }
    HostStringManager* Clone() override { return this; }

    int allocations = 0;
    int lastCharSize = 0;
    bool failAllocate = false;
    int shortchange = 0;
    std::vector<HostStringData*> freed;
};

// A field holding the character pointer, as the host's planner block does.
struct StringField {
    explicit StringField(RecordingManager& m, int capacity, int refs, const char* text = "") {
        data = m.Allocate(capacity, 1);
        data->refs = refs;
        data->length = static_cast<int32_t>(std::strlen(text));
        std::memcpy(data->chars(), text, std::strlen(text) + 1);
        char* chars = data->chars();
        std::memcpy(bytes, &chars, sizeof chars);
    }
    HostStringData* Current() const {
        char* chars;
        std::memcpy(&chars, bytes, sizeof chars);
        return reinterpret_cast<HostStringData*>(chars) - 1;
    }
    unsigned char bytes[sizeof(char*)];
    HostStringData* data;
};

TEST(HostString, UnsharedAndLargeEnoughIsWrittenInPlace) {
    RecordingManager m;
    StringField f(m, 32, 1, "old text");
    EXPECT_TRUE(AssignHostString(f.bytes, " Jog OFF. ", nullptr));
    EXPECT_EQ(f.Current(), f.data);
    EXPECT_STREQ(f.Current()->chars(), " Jog OFF. ");
    EXPECT_EQ(f.Current()->length, 10);
    EXPECT_EQ(m.allocations, 1);  // only the field's own buffer
    std::free(f.data);
}

TEST(HostString, TooSmallOrSharedGetsANewBufferAndReleasesTheOld) {
    struct Case {
        int capacity, refs;
        bool oldFreed;
        int oldRefsAfter;
    };
    for (const Case c : {Case{0, 1, true, 0}, Case{32, 2, false, 1}, Case{3, 3, false, 2}}) {
        RecordingManager m;
        StringField f(m, c.capacity, c.refs);
        ASSERT_TRUE(AssignHostString(f.bytes, " Jog OFF. ", nullptr));
        HostStringData* now = f.Current();
        EXPECT_NE(now, f.data);
        EXPECT_STREQ(now->chars(), " Jog OFF. ");
        EXPECT_EQ(now->length, 10);
        EXPECT_EQ(now->refs, 1);
        EXPECT_EQ(m.lastCharSize, 1);
        EXPECT_EQ(m.freed.size(), c.oldFreed ? 1u : 0u);
        if (!c.oldFreed) {
            EXPECT_EQ(f.data->refs, c.oldRefsAfter);
            std::free(f.data);
        }
        std::free(now);
    }
}

TEST(HostString, AnythingThatDoesNotLookLikeTheHostStringIsLeftAlone) {
    RecordingManager m;
    {  // locked
        StringField f(m, 32, -1, "locked");
        EXPECT_FALSE(AssignHostString(f.bytes, "x", nullptr));
        EXPECT_STREQ(f.Current()->chars(), "locked");
        std::free(f.data);
    }
    {  // refs 0, length beyond capacity, negative length, no manager
        StringField f(m, 8, 0);
        EXPECT_FALSE(AssignHostString(f.bytes, "x", nullptr));
        f.data->refs = 1;
        f.data->length = 9;
        EXPECT_FALSE(AssignHostString(f.bytes, "x", nullptr));
        f.data->length = -1;
        EXPECT_FALSE(AssignHostString(f.bytes, "x", nullptr));
        f.data->length = 0;
        f.data->manager = nullptr;
        EXPECT_FALSE(AssignHostString(f.bytes, "x", nullptr));
        std::free(f.data);
    }
    {  // null character pointer
        unsigned char bytes[sizeof(char*)] = {};
        EXPECT_FALSE(AssignHostString(bytes, "x", nullptr));
    }
    {  // memory the platform says cannot be read
        StringField f(m, 32, 1, "kept");
        EXPECT_FALSE(
            AssignHostString(f.bytes, "x", [](const void*, std::size_t) { return false; }));
        EXPECT_STREQ(f.Current()->chars(), "kept");
        std::free(f.data);
    }
    EXPECT_TRUE(m.freed.empty());
}

TEST(HostString, FailedOrShortAllocationKeepsTheOldString) {
    RecordingManager m;
    StringField f(m, 2, 1, "ab");
    m.failAllocate = true;
    EXPECT_FALSE(AssignHostString(f.bytes, " Jog OFF. ", nullptr));
    EXPECT_EQ(f.Current(), f.data);
    m.failAllocate = false;
    m.shortchange = 1;  // a manager that hands out less than asked
    EXPECT_FALSE(AssignHostString(f.bytes, " Jog OFF. ", nullptr));
    EXPECT_EQ(f.Current(), f.data);
    EXPECT_STREQ(f.Current()->chars(), "ab");
    EXPECT_EQ(m.freed.size(), 1u);  // the short buffer went back
    std::free(f.data);
}

}  // namespace
}  // namespace hk4
