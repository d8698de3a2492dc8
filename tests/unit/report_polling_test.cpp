// The polling tick: TAB screen timeout, link test, host idle sampling and
// the lamp in the output report.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "pendant_test_support.h"

namespace hk4test {
namespace {

TEST(TabScreenTimeout, ClosingPressComesOnceInsideTheWindow) {
    struct Case {
        const char* name;
        int32_t percent;
        int64_t startTicks;
        bool shown;
        int ticks;      // ticks to run
        int pressTick;  // the tick that presses 323, 0 = none
    };
    const Case cases[] = {
        {"default 3: tick 151", 3, 0, true, 400, 151},
        {"1: tick 51", 1, 0, true, 200, 51},
        {"99: tick 4951", 99, 0, true, 6000, 4951},
        {"100: tick 5001", 100, 0, true, 6000, 5001},
        {"0 never", 0, 0, true, 12000, 0},
        {"0 never, from inside any window", 0, 4000, true, 12000, 0},
        {"negative never", -4, -1000, true, 12000, 0},
        {"most negative never", INT32_MIN, 55LL * INT32_MIN, true, 12000, 0},
        // The count runs past 32 bits: the largest display time closes on
        // tick 50 x P + 1 too (started three ticks before it).
        {"INT32_MAX: tick 50 P + 1", INT32_MAX, 50LL * INT32_MAX - 2, true, 10, 3},
        // Where the fixed-rate jog puts the count: the next tick closes.
        {"95 after the fixed-rate jog", 95, 55 * 95, true, 5, 1},
        {"100 after the fixed-rate jog", 100, 55 * 100, true, 5, 1},
        {"INT32_MAX after the fixed-rate jog", INT32_MAX, 55LL * INT32_MAX, true, 5, 1},
        {"not shown never", 3, 0, false, 400, 0},
        {"just below the window", 3, 149, true, 5, 2},
        {"inside the window: next tick", 3, 170, true, 5, 1},
        {"at the upper bound: never", 3, 179, true, 12000, 0},
    };
    for (const bool linked : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (linked ? " (linked)" : " (no pendant)"));
            Rig rig;
            rig.Link(linked ? std::vector<FakeDevice>{Pendant()} : std::vector<FakeDevice>{});
            rig.host.state.settings.PercentTime = c.percent;
            rig.window->shared.TabTicks = c.startTicks;
            rig.window->shared.TabShown = c.shown;
            int pressedAt = 0;
            for (int tick = 1; tick <= c.ticks; ++tick) {
                rig.window->OnTimer(1);
                if (rig.host.Presses(323) != 0 && pressedAt == 0) pressedAt = tick;
            }
            EXPECT_EQ(pressedAt, c.pressTick);
            EXPECT_EQ(rig.host.Presses(323), c.pressTick ? 1 : 0);
            if (c.pressTick) {
                EXPECT_FALSE(rig.window->shared.TabShown);
            } else {
                EXPECT_EQ(rig.window->shared.TabShown, c.shown);
            }
        }
    }
}

TEST(TabScreenTimeout, CountRunsOnAndStopsAtTheTop) {
    const std::pair<int64_t, int64_t> cases[] = {
        {0, 1},
        {4999, 5000},
        {5000, 5001},  // no wrap back to 4000: long display times close too
        {INT32_MAX, INT32_MAX + 1LL},
        {INT64_MAX - 1, INT64_MAX},
        {INT64_MAX, INT64_MAX},  // stops rather than overflow
        {-3, -2},
    };
    for (const auto& [before, after] : cases) {
        Rig rig;
        rig.window->shared.TabTicks = before;
        rig.window->OnTimer(1);
        EXPECT_EQ(rig.window->shared.TabTicks, after) << before;
    }
}

TEST(PollingTick, WithTheLinkDownOnlyTheTabScreenTimeRuns) {
    Rig rig;
    rig.Link({Mouse()});
    // The host is idle with NoAbsoluteRestore set: sampling would clear
    // RestoreAbsolute.
    rig.host.Set(hk4::fields::NoAbsoluteRestore, int32_t{1});
    for (int i = 0; i < 10; ++i) rig.Tick();
    EXPECT_EQ(rig.window->shared.TabTicks, 10);
    EXPECT_TRUE(rig.window->shared.RestoreAbsolute);
    EXPECT_EQ(rig.host.ledReads, 0);  // nothing decoded, no output report
    EXPECT_TRUE(rig.TakeLog().empty());
}

TEST(PollingTick, HostIdleSamplingSetsRestoreAbsolute) {
    struct Case {
        const char* name;
        int32_t busy, plannerA, plannerB, motionA, motionB, noRestore;
        bool start;
        bool expected;
    };
    const Case cases[] = {
        {"idle, restore allowed", 0, 5, 5, 9, 9, 0, false, true},
        {"idle, restore off", 0, 5, 5, 9, 9, 1, true, false},
        {"idle, restore off (any non-zero)", 0, 0, 0, 0, 0, -7, true, false},
        {"planner busy keeps the value", 1, 5, 5, 9, 9, 0, false, false},
        {"planner counts differ", 0, 5, 6, 9, 9, 1, true, true},
        {"motion counts differ", 0, 5, 5, 9, 8, 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        rig.host.Set(hk4::fields::PlannerBusy, c.busy);
        rig.host.Set(hk4::fields::PlannerCountA, c.plannerA);
        rig.host.Set(hk4::fields::PlannerCountB, c.plannerB);
        rig.host.Set(hk4::fields::MotionCountA, c.motionA);
        rig.host.Set(hk4::fields::MotionCountB, c.motionB);
        rig.host.Set(hk4::fields::NoAbsoluteRestore, c.noRestore);
        rig.window->shared.RestoreAbsolute = c.start;
        rig.Tick();
        EXPECT_EQ(rig.window->shared.RestoreAbsolute, c.expected);
    }
}

TEST(PollingTick, OutputReportCarriesTheLampFromLed800) {
    const std::pair<uint8_t, const char*> cases[] = {
        {0, "WriteFile #4 00 00 00 00 00"},
        {1, "WriteFile #4 00 01 00 00 00"},
        {0x80, "WriteFile #4 00 01 00 00 00"},
        {0xFF, "WriteFile #4 00 01 00 00 00"},
    };
    for (const auto& [led, line] : cases) {
        SCOPED_TRACE(int(led));
        Rig rig;
        rig.Link();
        rig.host.leds[800] = led;
        rig.host.leds[801] = 1;  // a neighbour that must not be read instead
        rig.Tick();
        const std::vector<std::string> log = rig.TakeLog();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), line);  // written last in the tick
    }
}

TEST(PollingTick, NoWriteWithoutAWriteHandle) {
    Rig rig;
    FakeDevice pendant = Pendant();
    rig.Link({pendant});
    rig.window->WriteHandle.reset();
    rig.TakeLog();
    rig.host.leds[800] = 1;
    rig.Tick();
    const std::vector<std::string> log = rig.TakeLog();
    for (const std::string& line : log) EXPECT_EQ(line.find("WriteFile"), std::string::npos);
    EXPECT_EQ(rig.host.ledReadsOf[800], 1);
}

// A pendant (or hub) that holds an OUT transfer holds no tick: the write
// stays outstanding, no second one starts, and the lamp as it is then goes
// out in the first tick after it has ended.
TEST(PollingTick, AHeldWriteHoldsNoTick) {
    Rig rig;
    rig.Link();
    rig.port.writesHold = true;
    rig.Tick();
    EXPECT_TRUE(rig.window->WriteOutstanding());
    rig.host.leds[800] = 1;
    for (int i = 0; i < 3; ++i) rig.Tick();
    EXPECT_EQ(rig.port.CountOf("WriteFile"), 1);
    rig.port.writesHold = false;
    rig.port.EndWrite();
    rig.Tick();
    EXPECT_EQ(rig.port.log.back(), "WriteFile #4 00 01 00 00 00");
    EXPECT_FALSE(rig.window->WriteOutstanding());
    EXPECT_EQ(rig.port.faults, std::vector<std::string>{});
}

// Every path that closes the write handle cancels a held write and sees it
// end before the handle, the buffer and the record go, or, when it does not
// end, keeps its record for ever: the fake reports a record freed under it.
TEST(PollingTick, AHeldWriteEndsBeforeItsHandleCloses) {
    const struct {
        const char* name;
        bool cancelEnds;
        void (*close)(Rig&);
        std::vector<std::string> faults;
    } cases[] = {
        {"removal", true, [](Rig& r) { r.Removal(Pendant().path); }, {}},
        {"another device arrives", true, [](Rig& r) { r.Arrival(); }, {}},
        {"StopPlug", true, [](Rig& r) { r.window.reset(); }, {}},
        {"StopPlug, the cancel never ends",
         false,
         [](Rig& r) { r.window.reset(); },
         {"handle closed with its read outstanding", "handle closed with its write outstanding"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        rig.port.writesHold = true;
        rig.port.cancelEndsRead = c.cancelEnds;
        rig.Tick();
        ASSERT_TRUE(rig.window->WriteOutstanding());
        c.close(rig);
        EXPECT_EQ(rig.port.CountOf("CancelIoEx #4"), 1);
        EXPECT_EQ(rig.port.faults, c.faults);
    }
}

}  // namespace
}  // namespace hk4test
