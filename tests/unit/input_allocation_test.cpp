// The polling path runs on the host's user-interface thread every 25 ms: in
// steady state it must not touch the heap.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>

#include "unit/poll_workload.h"

namespace {

long g_allocations = 0;
bool g_counting = false;

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer owns malloc and operator new; its hooks see both.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void OnMalloc(const volatile void*, std::size_t) {
    if (g_counting) ++g_allocations;
}
void OnFree(const volatile void*) {}
bool InstallHooks() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree);
    return installed;
}
}  // namespace
#else
void* operator new(std::size_t size) {
    if (g_counting) ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
namespace {
bool InstallHooks() {
    return true;
}
}  // namespace
#endif

namespace hk4 {
namespace {

TEST(InputAllocations, NoHeapAllocationInSteadyStateInAnyWheelFunction) {
    ASSERT_TRUE(InstallHooks());
    for (int function = 1; function <= 6; ++function) {
        testing::PollWorkload work(function);
        work.Quiet();
        for (int i = 0; i < 2 * testing::PollWorkload::kCycle; ++i) work.Poll();  // warm up
        const long callsBefore = work.rig().host.calls;
        g_allocations = 0;
        g_counting = true;
        for (int i = 0; i < 40 * testing::PollWorkload::kCycle; ++i) work.Poll();
        g_counting = false;
        EXPECT_EQ(g_allocations, 0) << "wheel function " << function;
        // The path really ran: the host was called.
        EXPECT_GT(work.rig().host.calls - callsBefore, 100) << "wheel function " << function;
    }
}

TEST(InputAllocations, JogOffMessageIsWrittenInPlace) {
    ASSERT_TRUE(InstallHooks());
    testing::PollWorkload work(1);
    work.Quiet();
    work.rig().host.led[83] = 0;
    work.Poll();
    ASSERT_EQ(work.rig().host.StatusText(), " Jog OFF. ");
    g_allocations = 0;
    g_counting = true;
    for (int i = 0; i < 100; ++i) work.Poll();
    g_counting = false;
    EXPECT_EQ(g_allocations, 0);
}

}  // namespace
}  // namespace hk4
