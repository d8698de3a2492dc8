// What keeps the wheel from moving the machine on its own: the deadman that
// ends a continuous jog once the wheel rests, the OFF position of the axis
// selector, the wheel's baseline at link-up, and a button press that a tick
// saw only among the reports queued before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "unit/fake_host.h"

namespace hk4 {
namespace {

using testing::FakeHost;
using testing::InputRig;
using testing::Report;
using Log = std::vector<std::string>;

int Count(const Log& log, const std::string& entry) {
    return static_cast<int>(std::count(log.begin(), log.end(), entry));
}

// The decoder on one function and axis, with a host that lets every wheel
// function act: jog switch on, idle, settled after a reversal.
struct WheelRig : InputRig {
    int counter = 0;
    int axisByte;
    int function;

    WheelRig(int fn, int axis) : axisByte(axis + 1), function(fn) {
        host.host().write(fields::AxisFullRate.at(axis), int32_t{1000});
        host.host().write(fields::StepSize, 0.01);
        host.settings().DelaySteps = 0;
        host.settings().PercentTime = 3;
        host.dro[3] = 50.0;
        host.dro[74] = 100.0;
        host.dro[821] = 100.0;
        host.Update(3);  // ReverseSettle past its settling time
        Start(function, axisByte);
    }
    // One poll with `steps` (negative: down), a speed byte and, if given,
    // another axis byte; returns what it did to the host.
    Log Turn(int steps, int speed, int axis = -1) {
        if (axis >= 0) axisByte = axis;
        counter = (counter + steps + 256) % 256;
        Poll(Report(counter, speed, axisByte, function));
        return host.TakeLog();
    }
    uint8_t JogStop(int axis) const { return host.host().read(fields::JogStop.at(axis)); }
    // Turns until the wheel's jog runs on `axis`.
    void StartJog(int axis) {
        Log all;
        for (int i = 0; i < 3; ++i) {
            const Log log = Turn(2, 60);
            all.insert(all.end(), log.begin(), log.end());
        }
        ASSERT_GT(Count(all, "Code DOJOG"), 0);
        ASSERT_EQ(JogStop(axis), 0);
    }
};

// Rule (a): three host cycles between two polls run the hold out; the
// resting wheel's next poll ends the jog, in both continuous functions.
TEST(Deadman, HoldRunOutBetweenPollsEndsTheJogAtOnce) {
    for (const int function : {2, 3}) {
        SCOPED_TRACE(function);
        WheelRig rig(function, 1);
        ASSERT_NO_FATAL_FAILURE(rig.StartJog(1));
        rig.host.Update(3);
        EXPECT_EQ(rig.Turn(0, 0), Log{"Code ENDJOG"});
        EXPECT_EQ(rig.JogStop(1), 1);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(rig.Turn(0, 0), Log{}) << i;  // ended once
    }
}

// Rule (b): whatever makes the wheel function return early, a jog still
// running on the 4th poll without wheel steps ends there, and only once.
TEST(Deadman, EarlyReturnsEndTheJogOnTheFourthQuietPoll) {
    struct Case {
        const char* name;
        int function;
        int speed;  // speed byte while the wheel rests
        std::function<void(FakeHost&)> change;
    };
    const Case cases[] = {
        {"speed-following, motion counters apart", 2, 60,
         [](FakeHost& h) { h.host().write(fields::MotionCountA, int32_t{1}); }},
        {"fixed-rate, start delay raised while it runs", 3, 60,
         [](FakeHost& h) { h.settings().DelaySteps = 1000; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WheelRig rig(c.function, 2);
        ASSERT_NO_FATAL_FAILURE(rig.StartJog(2));
        c.change(rig.host);
        for (int poll = 1; poll <= 3; ++poll) {
            EXPECT_EQ(Count(rig.Turn(0, c.speed), "Code ENDJOG"), 0) << poll;
            EXPECT_EQ(rig.JogStop(2), 0) << poll;
        }
        EXPECT_EQ(rig.Turn(0, c.speed), Log{"Code ENDJOG"});
        EXPECT_EQ(rig.JogStop(2), 1);
        for (int poll = 5; poll <= 10; ++poll) EXPECT_EQ(rig.Turn(0, c.speed), Log{}) << poll;
    }
}

// Steps left in a rest window while the function was skipped must not start
// a jog again once it runs: the deadman's 4th quiet poll empties the windows.
TEST(Deadman, NoJogRestartsOnStepsFromBeforeTheRest) {
    WheelRig rig(2, 0);
    ASSERT_NO_FATAL_FAILURE(rig.StartJog(0));
    rig.host.led[83] = 0;  // the function returns before its rest window
    for (int i = 0; i < 6; ++i) rig.Turn(0, 60);
    ASSERT_EQ(rig.JogStop(0), 1);
    rig.host.led[83] = 1;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Count(rig.Turn(0, 60), "Code DOJOG"), 0) << i;
    // A step turns it back on.
    EXPECT_EQ(rig.Turn(1, 60), Log{"Code DOJOG"});
}

TEST(Deadman, AStepRestartsTheCount) {
    WheelRig rig(2, 0);
    ASSERT_NO_FATAL_FAILURE(rig.StartJog(0));
    rig.host.host().write(fields::MotionCountA, int32_t{1});
    // Three quiet polls, a step, three quiet polls: never four in a row.
    const int steps[] = {0, 0, 0, 1, 0, 0, 0};
    for (const int s : steps) EXPECT_EQ(Count(rig.Turn(s, 60), "Code ENDJOG"), 0) << s;
    EXPECT_EQ(rig.JogStop(0), 0);
    EXPECT_EQ(rig.Turn(0, 60), Log{"Code ENDJOG"});
}

// The jog switch going off ends a running continuous jog on that poll, the
// wheel resting or still turning, and none starts while it stays off.
TEST(Deadman, JogSwitchOffEndsTheJogAtOnce) {
    for (const int function : {2, 3}) {
        for (const int steps : {0, 1}) {
            SCOPED_TRACE(std::to_string(function) + (steps ? " turning" : " resting"));
            WheelRig rig(function, 2);
            ASSERT_NO_FATAL_FAILURE(rig.StartJog(2));
            rig.host.led[83] = 0;
            EXPECT_EQ(Count(rig.Turn(steps, 60), "Code ENDJOG"), 1);
            EXPECT_EQ(rig.JogStop(2), 1);
            for (int poll = 0; poll < 6; ++poll)
                EXPECT_EQ(Count(rig.Turn(1, 60), "Code DOJOG"), 0) << poll;
            EXPECT_EQ(rig.host.StatusText(), " Jog OFF. ");
        }
    }
}

// The wheel acts only where the selector stands on the selected axis (X
// here): a selector turned while the button is held has not selected its
// axis yet.
TEST(OffPosition, OnlyTheSelectedAxisPositionIsOnAxis) {
    struct Row {
        int axisByte;
        bool off;
    };
    const Row rows[] = {{0x00, true},  {0x06, true},  {0x07, true},  {0x0F, true},  {0x10, true},
                        {0x20, true},  {0x30, true},  {0x40, true},  {0x41, true},  {0x81, true},
                        {0xFF, true},  {0x01, false}, {0x05, false}, {0x11, false}, {0x21, false},
                        {0x31, false}, {0x23, true},  {0x35, true}};
    for (const Row& r : rows) {
        WheelRig rig(1, 0);
        rig.Turn(5, 60, r.axisByte);
        EXPECT_EQ(rig.input.OffAxis(), r.off) << r.axisByte;
        // Steps dropped at OFF, also with neither flag bit set.
        if (r.off) {
            EXPECT_EQ(rig.input.WheelSteps(), 0) << r.axisByte;
        }
    }
}

// At OFF the wheel moves and changes nothing in any function, a running
// continuous jog ends at once, and back on an axis the wheel acts again.
TEST(OffPosition, TheWheelRestsAtOffAndWorksAgainOnAnAxis) {
    struct Case {
        int function;
        Log atOff;   // the poll that turns the selector to OFF, wheel turning
        Log backOn;  // the poll back on X, one step up
    };
    const Case cases[] = {
        {1, {}, {"DoButton 334", "Code G91G1 X 0.0100", "Code G90"}},
        {2, {"Code ENDJOG"}, {"DoButton 334", "Code DOJOG"}},
        {3, {"Code ENDJOG"}, {"DoButton 334", "Code DOJOG"}},
        {4, {}, {"DoButton 334", "DoButton 323", "SetDRO 3 50.25"}},
        {5, {}, {"DoButton 334", "SetDRO 821 100.5"}},
        {6, {}, {"DoButton 334", "SetDRO 74 100.5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        WheelRig rig(c.function, 0);
        if (c.function == 2 || c.function == 3) {
            ASSERT_NO_FATAL_FAILURE(rig.StartJog(0));
        }
        const double dro3 = rig.host.dro[3], dro74 = rig.host.dro[74], dro821 = rig.host.dro[821];
        EXPECT_EQ(rig.Turn(3, 60, 0x00), c.atOff);
        if (c.function == 2 || c.function == 3) {
            EXPECT_EQ(rig.JogStop(0), 1);
        }
        for (int i = 0; i < 6; ++i) EXPECT_EQ(rig.Turn(i % 2 ? 7 : -4, 60), Log{}) << i;
        EXPECT_EQ(rig.host.dro[3], dro3);
        EXPECT_EQ(rig.host.dro[74], dro74);
        EXPECT_EQ(rig.host.dro[821], dro821);
        EXPECT_EQ(rig.host.StatusText(), "");
        EXPECT_EQ(rig.input.AxisIndex(), 0);  // the selection stays as it was

        EXPECT_EQ(rig.Turn(1, 60, 0x01), c.backOn);
    }
}

TEST(OffPosition, JogSwitchOffShowsNothingAtOff) {
    WheelRig rig(1, 0);
    rig.host.led[83] = 0;
    EXPECT_EQ(rig.Turn(4, 60, 0x00), Log{});
    EXPECT_EQ(rig.host.StatusText(), "");
    EXPECT_EQ(rig.Turn(4, 60, 0x01), Log{"DoButton 334"});
    EXPECT_EQ(rig.host.StatusText(), " Jog OFF. ");
}

// The first report of a link sets where the wheel stands.
TEST(Baseline, TheBaselineReportHasNoStepsAndTheNextCountsFromIt) {
    struct Case {
        const char* name;
        int before;  // counter of a report decoded before the baseline, -1 none
        int baseline;
        int next;
        int nextSteps, nextDirection;
    };
    const Case cases[] = {
        {"host started on a turned pendant", -1, 87, 90, 3, 0},
        {"back after unplugging at 200, reporting 0", 200, 0, 255, 1, 1},
        {"counter jumped by 128", 10, 138, 137, 1, 1},
        {"same counter", 50, 50, 52, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputRig rig;
        if (c.before >= 0) rig.Poll(Report(c.before, 0, 1, 1));
        rig.host.log.clear();
        const int direction = rig.input.WheelDirection();
        ReportArrival first;
        first.counted = true;  // a baseline: no motion
        rig.input.DecodeReport(Report(c.baseline, 0, 1, 1).bytes, rig.shared, rig.host.plugin,
                               first);
        EXPECT_EQ(rig.input.WheelSteps(), 0);
        EXPECT_EQ(rig.input.WheelDirection(), direction);
        for (const std::string& e : rig.host.TakeLog()) EXPECT_NE(e.rfind("Code", 0), 0u) << e;
        rig.Poll(Report(c.next, 0, 1, 1));
        EXPECT_EQ(rig.input.WheelSteps(), c.nextSteps);
        EXPECT_EQ(rig.input.WheelDirection(), c.nextDirection);
    }
}

TEST(Baseline, SelectorsAndButtonOfTheBaselineReportAreDecoded) {
    InputRig rig;
    rig.Start(1, 1);
    ReportArrival first;
    first.counted = true;  // a baseline: no motion
    rig.input.DecodeReport(Report(99, 0, 0x23, 5).bytes, rig.shared, rig.host.plugin, first);
    EXPECT_EQ(rig.host.TakeLog(), (Log{"DoButton 1021", "DoButton 334"}));
    EXPECT_EQ(rig.input.WheelMode(), 5);
    rig.input.DecodeReport(Report(99, 0, 0x03, 5).bytes, rig.shared, rig.host.plugin, first);
    EXPECT_EQ(rig.input.AxisIndex(), 2);
}

// A press among the queued reports counts once, whatever the newest shows.
TEST(QueuedPress, ActsOnceOnAPressTheNewestReportNoLongerShows) {
    struct Case {
        const char* name;
        int axisBefore;  // the report decoded before
        int newest;
        bool led800;
        Log expected;
    };
    const Case cases[] = {
        {"released again", 0x01, 0x01, true, {"DoButton 1021"}},
        {"still held", 0x01, 0x21, true, {"DoButton 1021"}},
        {"held before, pressed anew, released",
         0x21,
         0x01,
         true,
         {"DoButton 1021", "DoButton 334"}},
        {"held before, pressed anew, held", 0x21, 0x21, true, {"DoButton 1021"}},
        {"LED 800 off and held: once on this poll", 0x01, 0x21, false, {"DoButton 1021"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputRig rig;
        rig.host.led[800] = c.led800 ? 1 : 0;
        rig.Start(1, c.axisBefore);
        ReportArrival queued;
        queued.press = true;
        rig.input.DecodeReport(Report(0, 0, c.newest, 1).bytes, rig.shared, rig.host.plugin,
                               queued);
        EXPECT_EQ(rig.host.TakeLog(), c.expected);
        // The next poll brings no press of its own.
        rig.Poll(Report(0, 0, c.newest, 1));
        const Log next = rig.host.TakeLog();
        EXPECT_EQ(Count(next, "DoButton 1021"), (c.newest & 0x20) && !c.led800 ? 1 : 0);
    }
}

}  // namespace
}  // namespace hk4
