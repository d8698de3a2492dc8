// Wheel functions 4 to 6: half a percent per step within bounds, and the TAB
// screen that the jog-rate adjustment opens.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "unit/fake_host.h"

namespace hk4 {
namespace {

using testing::InputRig;
using testing::Report;
using Log = std::vector<std::string>;

struct DroRow {
    int function;
    int dro;
    double before;
    int steps;  // negative: down
    bool written;
    double after;
};

TEST(DroModes, ScaleWithinBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const DroRow rows[] = {
        {4, 3, 50.0, 4, true, 51.0},
        {4, 3, 99.9, 10, true, 100.0},  // 104.895 capped
        {4, 3, 100.0, 1, false, 100.0},
        {4, 3, 130.0, 3, false, 130.0},  // above the bound: not forced down
        {4, 3, 130.0, -2, true, 128.7},  // but it may be turned down
        {4, 3, 0.1, -1, true, 0.1},      // 0.0995 lifted to the lower bound
        {4, 3, 0.0, -1, false, 0.0},
        {4, 3, -4.0, -1, false, -4.0},
        {4, 3, 0.0, 3, true, 0.0},  // zero cannot be raised, but is written again
        {4, 3, 100.0, -127, true, 36.5},
        {4, 3, 1.0, 127, true, 1.635},
        {4, 3, nan, 5, false, nan},
        {4, 3, nan, -5, false, nan},
        {4, 3, inf, -5, false, inf},  // not a finite number: left as it is
        {5, 821, inf, -127, false, inf},
        {6, 74, -inf, 5, false, -inf},
        {5, 821, 250.0, 1, false, 250.0},
        {5, 821, 250.0, -2, true, 247.5},
        {5, 821, 100.0, 10, true, 105.0},
        {5, 821, 1.2, -127, true, 1.0},
        {6, 74, 1.0, -1, true, 1.0},  // 0.995 lifted to 1.0
        {6, 74, 200.0, 127, true, 250.0},
        {6, 74, 80.0, -10, true, 76.0},
    };
    for (const DroRow& r : rows) {
        InputRig rig;
        rig.host.dro[r.dro] = r.before;
        rig.Start(r.function, 1);
        rig.Poll(Report((r.steps + 256) % 256, 0, 1, r.function));
        const std::string what = "mode " + std::to_string(r.function) + " from " +
                                 std::to_string(r.before) + " by " + std::to_string(r.steps);
        EXPECT_EQ(rig.host.setDroCalls, r.written ? 1 : 0) << what;
        if (std::isinf(r.after))
            EXPECT_EQ(rig.host.dro[r.dro], r.after) << what;
        else if (r.after != r.after)
            EXPECT_NE(rig.host.dro[r.dro], rig.host.dro[r.dro]) << what;
        else
            EXPECT_NEAR(rig.host.dro[r.dro], r.after, 1e-12) << what;
    }
}

TEST(DroModes, NoStepsReadNothing) {
    for (int function : {4, 5, 6}) {
        InputRig rig;
        rig.host.settings().PercentTime = 3;
        rig.Start(function, 1);
        rig.shared.TabTicks = 17;
        const long before = rig.host.calls;
        rig.Poll(Report(0, 0, 1, function));
        EXPECT_EQ(rig.host.calls, before) << function;
        EXPECT_EQ(rig.shared.TabTicks, 17) << function;
    }
}

struct TabStep {
    int steps;
    int32_t tabTicksBefore;
    Log expected;
    bool shownAfter;
    int32_t tabTicksAfter;
};

TEST(DroModes, JogRateAdjustmentOpensTheTabScreenOnce) {
    struct Case {
        const char* name;
        int32_t percentTime;
        std::vector<TabStep> steps;
    };
    const Case cases[] = {
        {"opens on the first step, then only restarts the time",
         3,
         {{1, 80, {"DoButton 323", "SetDRO 3 50.25"}, true, 0},
          {0, 40, {}, true, 40},
          {2, 40, {"SetDRO 3 50.7525"}, true, 0}}},
        {"PercentTime 0 never opens it, yet the time restarts",
         0,
         {{1, 80, {"SetDRO 3 50.25"}, false, 0}, {1, 5, {"SetDRO 3 50.50125"}, false, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputRig rig;
        rig.host.settings().PercentTime = c.percentTime;
        rig.host.dro[3] = 50.0;
        rig.Start(4, 1);
        int counter = 0;
        for (const TabStep& s : c.steps) {
            rig.shared.TabTicks = s.tabTicksBefore;
            counter = (counter + s.steps) % 256;
            rig.Poll(Report(counter, 0, 1, 4));
            EXPECT_EQ(rig.host.TakeLog(), s.expected);
            EXPECT_EQ(rig.shared.TabShown, s.shownAfter);
            EXPECT_EQ(rig.shared.TabTicks, s.tabTicksAfter);
        }
    }
}

TEST(DroModes, TabScreenAlreadyShownIsNotPressedAgain) {
    InputRig rig;
    rig.host.settings().PercentTime = 3;
    rig.host.dro[3] = 100.0;  // at the bound: nothing written, yet the screen is handled
    rig.Start(4, 1);
    rig.shared.TabShown = true;
    rig.shared.TabTicks = 120;
    rig.Poll(Report(1, 0, 1, 4));
    EXPECT_EQ(rig.host.TakeLog(), Log{});
    EXPECT_EQ(rig.shared.TabTicks, 0);
    EXPECT_TRUE(rig.shared.TabShown);
}

TEST(DroModes, SwitchingToTheFixedRateJogPutsTheTimeInTheClosingWindow) {
    InputRig rig;
    rig.host.settings().PercentTime = 3;
    rig.host.dro[3] = 50.0;
    rig.Start(4, 1);
    rig.Poll(Report(1, 0, 1, 4));
    ASSERT_TRUE(rig.shared.TabShown);
    rig.Poll(Report(1, 0, 1, 3));
    // The tick adds one and closes when 50 x 3 < TabTicks < 60 x 3.
    EXPECT_EQ(rig.shared.TabTicks, 165);
    EXPECT_TRUE(rig.shared.TabShown);  // closing is the tick's job
}

TEST(DroModes, InhibitOrBusyHostLeavesTheDroAndTheScreen) {
    for (const bool busy : {false, true}) {
        InputRig rig;
        rig.host.settings().PercentTime = 3;
        rig.host.dro[3] = 50.0;
        rig.Start(4, busy ? 1 : 0x11);
        rig.host.host().write(fields::MotionBusy, uint8_t{busy ? uint8_t{1} : uint8_t{0}});
        rig.Poll(Report(3, 0, busy ? 1 : 0x11, 4));
        EXPECT_EQ(rig.host.TakeLog(), Log{}) << busy;
        EXPECT_FALSE(rig.shared.TabShown) << busy;
        EXPECT_EQ(rig.host.dro[3], 50.0) << busy;
    }
}

}  // namespace
}  // namespace hk4
