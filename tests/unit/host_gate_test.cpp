// What a tick may still do once the world changed under it: it starts
// nothing, and finishes what it started (src/plugin/host.h).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "unit/fake_host.h"

namespace hk4 {
namespace {

using testing::FakeHost;

uint32_t g_now = 5000;
uint32_t FakeClock() {
    return g_now;
}

enum class World { Fresh, Changed, HeldPast, Released };

TEST(HostGate, AStaleTickStartsNothingButFinishesWhatItStarted) {
    struct Case {
        const char* call;
        std::function<bool(const Host&)> make;
        bool finishes;
    } const cases[] = {
        {"DoButton 1021", [](const Host& h) { return h.DoButton(1021); }, false},
        {"SetDRO 3", [](const Host& h) { return h.SetDRO(3, 50.0); }, false},
        {"a step line", [](const Host& h) { return h.Code("G91G1 X 0.0100"); }, false},
        {"DOJOG", [](const Host& h) { return h.Code("DOJOG"); }, false},
        {"G90", [](const Host& h) { return h.Code("G90", Host::Call::Finishes); }, true},
        {"ENDJOG", [](const Host& h) { return h.Code("ENDJOG"); }, true},
        {"SetDRO 818 restore",
         [](const Host& h) { return h.SetDRO(818, 42.0, Host::Call::Finishes); }, true},
        {"DoButton 323 closing",
         [](const Host& h) { return h.DoButton(323, Host::Call::Finishes); }, true},
    };
    for (const World world : {World::Fresh, World::Changed, World::HeldPast, World::Released}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.call) + " in world " +
                         std::to_string(static_cast<int>(world)));
            FakeHost fake;
            Host& host = fake.plugin.host;
            host.clock = FakeClock;
            const TickWorld tick(host);
            host.ReportRead();
            if (world == World::Changed) host.WorldChanged();
            if (world == World::HeldPast) g_now += kStaleReportMs + 1;
            if (world == World::Released) host.released = true;
            const bool made = c.make(host);
            const bool expected = world == World::Fresh || (world != World::Released && c.finishes);
            EXPECT_EQ(made, expected);
            EXPECT_EQ(fake.calls, expected ? 1 : 0);
        }
    }
}

TEST(HostGate, AHoldUpToTheDeadmansTimeIsNoChange) {
    FakeHost fake;
    Host& host = fake.plugin.host;
    host.clock = FakeClock;
    const TickWorld tick(host);
    host.ReportRead();
    g_now += kStaleReportMs;
    EXPECT_FALSE(host.Stale());
    g_now += 1;
    EXPECT_TRUE(host.Stale());
}

}  // namespace
}  // namespace hk4
