// Step jog: the move lines, the LED gates, and the DRO snapshot that is
// written back three host cycles after the last plain step jog.
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

// Counter value that gives `steps` (signed: negative is down) from counter 0.
int CounterFor(int steps) {
    return (steps + 256) % 256;
}

struct StepCase {
    const char* name;
    int axisByte;
    double stepSize;
    double angle;
    int32_t feed;
    bool restoreAbsolute;
    int steps;  // negative: down
    Log expected;
    bool snapshotTaken;
};

TEST(StepJog, LinesForEachFormAndAxis) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // clang-format off
    const StepCase cases[] = {
        // name, axis byte, step size, angle, feed, G90, steps, host calls, snapshot
        {"feed form", 1, 0.01, 0.0, 100, true, 5,
         {"SetDRO 821 100", "Code G91G1 F100 X 0.0500", "Code G90"}, true},
        {"no feed, down", 3, 0.001, 0.0, 0, true, -3,
         {"Code G91G1 Z -0.0030", "Code G90"}, true},
        {"no G90 while the host keeps incremental", 3, 0.001, 0.0, 0, false, -3,
         {"Code G91G1 Z -0.0030"}, true},
        {"axis A", 4, 0.5, 0.0, 0, true, 2,
         {"Code G91G1 A 1.0000", "Code G90"}, true},
        {"axis B, feed", 5, 0.25, 0.0, 7, false, -127,
         {"SetDRO 821 100", "Code G91G1 F7 B -31.7500"}, true},
        {"rotated X", 1, 1.0, 30.0, 100, true, 1,
         {"Code G91G1 X0.8660 Y-0.5000 ", "Code G90"}, false},
        {"rotated Y", 2, 1.0, 30.0, 100, true, 1,
         {"Code G91G1 X0.5000 Y0.8660 ", "Code G90"}, false},
        {"rotated X down, no G90", 1, 1.0, 30.0, 0, false, -1,
         {"Code G91G1 X-0.8660 Y0.5000 "}, false},
        {"rotation leaves Z alone", 3, 1.0, 30.0, 100, true, 1,
         {"SetDRO 821 100", "Code G91G1 F100 Z 1.0000", "Code G90"}, true},
        {"the largest step size", 1, 100.0, 0.0, 0, false, 2,
         {"Code G91G1 X 200.0000"}, true},
        {"a rate below 0 writes no feed word", 1, 0.01, 0.0, -50, false, 1,
         {"Code G91G1 X 0.0100"}, true},
        {"step size above the bound: nothing", 1, 100.001, 0.0, 0, false, 1, {}, false},
        {"huge step size: nothing", 1, 1e300, 0.0, 0, false, 1, {}, false},
        {"step size 0: nothing", 1, 0.0, 0.0, 0, false, 1, {}, false},
        {"negative step size: nothing", 1, -0.01, 0.0, 100, true, 1, {}, false},
        {"negative step size, rotated: nothing", 1, -0.01, 30.0, 0, true, 1, {}, false},
        {"step size not a number: nothing", 1, nan, 0.0, 100, true, 1, {}, false},
        {"infinite step size: nothing", 1, inf, 0.0, 100, true, 1, {}, false},
        {"rotation angle not a number: nothing", 1, 1.0, nan, 0, true, 1, {}, false},
    };
    // clang-format on
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        InputRig rig;
        rig.host.host().write(fields::StepSize, c.stepSize);
        rig.host.host().write(fields::RotationAngle, c.angle);
        rig.host.settings().StepJogRate = c.feed;
        rig.shared.RestoreAbsolute = c.restoreAbsolute;
        rig.host.dro[818] = 12.5;
        rig.host.dro[821] = 80.0;
        rig.Start(1, c.axisByte);
        rig.Poll(Report(CounterFor(c.steps), 0, c.axisByte, 1));
        EXPECT_EQ(rig.host.TakeLog(), c.expected);
        EXPECT_EQ(rig.input.Jog().Snapshot.Taken, c.snapshotTaken);
        if (c.snapshotTaken) {
            EXPECT_EQ(rig.input.Jog().Snapshot.Saved818, 12.5);
            EXPECT_EQ(rig.input.Jog().Snapshot.Saved821, 80.0);
            EXPECT_EQ(rig.host.counters().StepJogHold, 3);
        } else {
            EXPECT_EQ(rig.host.counters().StepJogHold, 0);
        }
    }
}

TEST(StepJog, GatesOnTheHostLeds) {
    struct Case {
        uint8_t led804, led805, led83;
        bool moves;
        const char* status;
    };
    const Case cases[] = {{0, 0, 1, true, ""},
                          {1, 0, 1, false, ""},
                          {0, 1, 1, false, ""},
                          {1, 1, 0, false, ""},  // 804/805 are tested before the jog switch
                          {0, 0, 0, false, " Jog OFF. "},
                          {0, 0, 0x80, true, ""}};  // any non-zero byte is on
    for (const Case& c : cases) {
        InputRig rig;
        rig.host.host().write(fields::StepSize, 0.1);
        rig.host.led[804] = c.led804;
        rig.host.led[805] = c.led805;
        rig.host.led[83] = c.led83;
        rig.Start(1, 1);
        rig.Poll(Report(1, 0, 1, 1));
        const Log log = rig.host.TakeLog();
        EXPECT_EQ(!log.empty(), c.moves) << int(c.led804) << int(c.led805) << int(c.led83);
        EXPECT_EQ(rig.host.StatusText(), c.status);
        EXPECT_EQ(rig.input.Jog().Snapshot.Taken, c.moves);
    }
}

TEST(StepJog, NoMotionTouchesNothingNotEvenTheLeds) {
    InputRig rig;
    rig.host.host().write(fields::StepSize, 0.1);
    rig.Start(1, 1);
    const long before = rig.host.calls;
    for (int i = 0; i < 5; ++i) rig.Poll(Report(0, 0, 1, 1));
    EXPECT_EQ(rig.host.calls, before);
    EXPECT_EQ(rig.host.StatusText(), "");
}

// One poll or host-cycle event of a snapshot timeline, with what the host
// sees on that poll.
struct TimelineStep {
    int updates;    // host Update calls before the poll
    int steps;      // wheel steps of the poll
    double dro818;  // what the host holds before the poll
    int32_t feed;   // StepJogRate at the poll
    Log expected;
};

TEST(StepJog, SnapshotIsWrittenBackThreeHostCyclesAfterTheLastStep) {
    const std::vector<TimelineStep> timeline = {
        {0, 1, 12.5, 50, {"SetDRO 821 100", "Code G91G1 F50 X 0.1000"}},
        {2, 0, 12.5, 50, {}},
        // Another step re-arms the hold but keeps the first saved values.
        {0, 1, 99.0, 50, {"SetDRO 821 100", "Code G91G1 F50 X 0.1000"}},
        {2, 0, 99.0, 50, {}},
        {1, 0, 99.0, 50, {"SetDRO 818 12.5", "SetDRO 821 80"}},
        {5, 0, 99.0, 50, {}},  // written back once only
        // A new burst saves afresh; the override it made is put back even
        // though the rate is 0 by restore time.
        {0, -2, 7.0, 50, {"SetDRO 821 100", "Code G91G1 F50 X -0.2000"}},
        {3, 0, 7.0, 0, {"SetDRO 818 7", "SetDRO 821 80"}},
        // Without a feed nothing overrides 821, so nothing puts it back.
        {0, 1, 7.0, 0, {"Code G91G1 X 0.1000"}},
        {3, 0, 7.0, 50, {"SetDRO 818 7"}},
    };
    InputRig rig;
    rig.host.host().write(fields::StepSize, 0.1);
    rig.shared.RestoreAbsolute = false;
    rig.host.dro[821] = 80.0;
    rig.Start(1, 1);
    int counter = 0;
    int i = 0;
    for (const TimelineStep& t : timeline) {
        rig.host.Update(t.updates);
        rig.host.dro[818] = t.dro818;
        rig.host.settings().StepJogRate = t.feed;
        counter = (counter + t.steps + 256) % 256;
        rig.Poll(Report(counter, 0, 1, 1));
        EXPECT_EQ(rig.host.TakeLog(), t.expected) << "step " << i;
        ++i;
    }
}

TEST(StepJog, RestoreRunsWhenTheWheelMayNotAct) {
    struct Case {
        const char* name;
        int axisByte;  // 0x11: inhibit switch set
        uint8_t motionBusy;
        int function;
    };
    const Case cases[] = {
        {"inhibit", 0x11, 0, 1}, {"motion busy", 1, 1, 1}, {"other wheel function", 1, 0, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputRig rig;
        rig.host.host().write(fields::StepSize, 0.1);
        rig.host.settings().StepJogRate = 20;
        rig.host.dro[818] = 3.0;
        rig.host.dro[821] = 90.0;
        rig.host.dro[74] = 100.0;
        rig.shared.RestoreAbsolute = false;
        rig.Start(1, 1);
        rig.Poll(Report(1, 0, 1, 1));
        rig.host.log.clear();
        rig.host.host().write(fields::MotionBusy, c.motionBusy);
        rig.host.Update(3);
        rig.Poll(Report(5, 0, c.axisByte, c.function));
        Log log = rig.host.TakeLog();
        // A function change sends its axis code first; a DRO mode acts before the restore.
        Log expected;
        if (c.function != 1) expected = {"DoButton 334", "SetDRO 74 102"};
        expected.push_back("SetDRO 818 3");
        expected.push_back("SetDRO 821 90");
        EXPECT_EQ(log, expected);
    }
}

TEST(StepJog, IdenticalReportStillRunsTheRestore) {
    InputRig rig;
    rig.host.host().write(fields::StepSize, 0.1);
    rig.shared.RestoreAbsolute = false;
    rig.host.dro[818] = 4.0;
    rig.Start(1, 1);
    rig.Poll(Report(1, 0, 1, 1));
    rig.host.log.clear();
    rig.host.Update(3);
    rig.Poll(Report(1, 0, 1, 1));  // the same report again, as after a read time-out
    EXPECT_EQ(rig.host.TakeLog(), Log{"SetDRO 818 4"});
}

}  // namespace
}  // namespace hk4
