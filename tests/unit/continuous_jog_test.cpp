// The two continuous jogs: velocity from the speed history or from the jog
// rate, the jog record, start delay, rest, and reversal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "input/jog_modes.h"
#include "input/jog_record.h"
#include "unit/fake_host.h"

namespace hk4 {
namespace {

using testing::FakeHost;
using testing::InputRig;
using testing::Report;
using Log = std::vector<std::string>;

struct JogRecord {
    int32_t direction, velocity, param, fullRate;
    uint8_t stop, start;
};

JogRecord ReadRecord(const Host& h, int axis) {
    return {h.read(fields::JogDirection.at(axis)), h.read(fields::JogVelocity.at(axis)),
            h.read(fields::JogParam.at(axis)),     h.read(fields::JogFullRate.at(axis)),
            h.read(fields::JogStop.at(axis)),      h.read(fields::JogStart.at(axis))};
}

// The record as the host finds it when "DOJOG" arrives.
std::vector<JogRecord> g_recordsAtDoJog;
int g_hookAxis = 0;
void CaptureRecordAtDoJog(FakeHost& host, const char* line) {
    if (std::string(line) == "DOJOG")
        g_recordsAtDoJog.push_back(ReadRecord(host.host(), g_hookAxis));
}

// A rig in a continuous-jog function on one axis, with the host idle.
struct JogRig : InputRig {
    int counter = 0;
    int axisByte;
    int function;

    JogRig(int fn, int axis, int32_t fullRate = 1000, int32_t jogParam = 7)
        : axisByte(axis + 1), function(fn) {
        host.host().write(fields::AxisFullRate.at(axis), fullRate);
        host.host().write(fields::AxisJogParam.at(axis), jogParam);
        host.dro[3] = 100.0;  // jog rate: full rate
        host.Update(3);       // ReverseSettle past its settling time
        Start(function, axisByte);
    }
    // One poll with `steps` (negative: down) and a speed byte.
    Log Turn(int steps, int speed) {
        counter = (counter + steps + 256) % 256;
        Poll(Report(counter, speed, axisByte, function));
        return host.TakeLog();
    }
};

TEST(SpeedFollowingJog, VelocityRampsWithTheWeightedHistoryToFullRate) {
    // Speed 24 with Vel 0 (divisor 3): fraction = 24 x (sum of the newest k
    // weights) / 235, capped at 1.
    const int32_t expected[] = {185, 353, 501, 631, 742, 834, 908, 965, 1000, 1000, 1000};
    JogRig rig(2, 0);
    g_recordsAtDoJog.clear();
    g_hookAxis = 0;
    rig.host.codeHook = &CaptureRecordAtDoJog;
    for (int32_t velocity : expected) {
        EXPECT_EQ(rig.Turn(1, 24), Log{"Code DOJOG"});
        const JogRecord r = ReadRecord(rig.host.host(), 0);
        EXPECT_EQ(r.velocity, velocity);
        EXPECT_EQ(r.direction, 0);
    }
    ASSERT_EQ(g_recordsAtDoJog.size(), std::size(expected));
    for (const JogRecord& r : g_recordsAtDoJog) {
        EXPECT_EQ(r.param, 7);
        EXPECT_EQ(r.fullRate, 1000);
        EXPECT_EQ(r.stop, 0);
        EXPECT_EQ(r.start, 1);
    }
    EXPECT_DOUBLE_EQ(rig.input.Jog().SpeedFraction, 1.0);
}

TEST(SpeedFollowingJog, SteadySpeedVelocityBySensitivity) {
    struct Row {
        int16_t vel;
        int speed;
        int axis;
        int32_t fullRate;
        int32_t velocity;  // after ten polls at that speed
    };
    const Row rows[] = {
        {0, 24, 0, 1000, 1000},   // 9.99 x 24 / 235 x 3 / 3 = 1.02: full rate
        {0, 23, 0, 1000, 977},    // 0.9778
        {9, 24, 1, 1000, 122},    // divisor 25: 0.1224
        {5, 10, 2, 1000, 141},    // divisor 9: 0.1417
        {-5, 24, 3, 1000, 1000},  // clamped to Vel 0
        {40, 24, 4, 1000, 122},   // clamped to Vel 9
        {0, 255, 0, 2147483647, 2147483647},
        {0, 100, 1, -600, 0},  // a full rate below 0: no jog
    };
    for (const Row& row : rows) {
        JogRig rig(2, row.axis, row.fullRate);
        rig.host.settings().Vel = row.vel;
        for (int i = 0; i < 10; ++i) rig.Turn(2, row.speed);
        EXPECT_EQ(ReadRecord(rig.host.host(), row.axis).velocity, row.velocity)
            << "Vel " << row.vel << " speed " << row.speed;
    }
}

TEST(SpeedFollowingJog, ReversalStopsWithoutEndjogAndWaitsThreeCycles) {
    JogRig rig(2, 0);
    for (int i = 0; i < 10; ++i) rig.Turn(1, 30);
    ASSERT_EQ(ReadRecord(rig.host.host(), 0).stop, 0);

    EXPECT_EQ(rig.Turn(-1, 30), Log{});  // the reversal: stop flag only
    EXPECT_EQ(ReadRecord(rig.host.host(), 0).stop, 1);
    EXPECT_EQ(rig.host.counters().ReverseSettle, 0);
    for (int cycles = 0; cycles < 3; ++cycles) {
        EXPECT_EQ(rig.Turn(-1, 30), Log{}) << cycles;  // settling: nothing
        rig.host.Update();
    }
    EXPECT_EQ(rig.Turn(-1, 30), Log{"Code DOJOG"});
    const JogRecord r = ReadRecord(rig.host.host(), 0);
    EXPECT_EQ(r.direction, 1);
    EXPECT_EQ(r.stop, 0);
    // The history was cleared: the new jog ramps from one sample again.
    EXPECT_EQ(r.velocity, static_cast<int32_t>(1000 * (30 * 1.82 / 235.0)));
}

TEST(SpeedFollowingJog, RestingWheelEndsTheJogThenForgetsItsHistory) {
    JogRig rig(2, 0);
    for (int i = 0; i < 5; ++i) rig.Turn(1, 40);
    // Speed byte 0 while recent steps remain: ENDJOG once; with no jog of
    // ours left, nothing more (whatever the speed byte), stop flag set.
    EXPECT_EQ(rig.Turn(0, 0), Log{"Code ENDJOG"});
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rig.Turn(0, 0), Log{}) << i;
        EXPECT_EQ(ReadRecord(rig.host.host(), 0).stop, 1);
    }
    // A resting wheel whose speed byte stays up ends nothing either.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.Turn(0, 40), Log{}) << i;
    rig.host.Update(3);  // WheelActiveHold runs out
    EXPECT_EQ(rig.Turn(0, 0), Log{});
    for (double sample : rig.input.Jog().SpeedHistory) EXPECT_EQ(sample, 0.0);
}

TEST(SpeedFollowingJog, JogSwitchOffOrBusyHost) {
    {
        JogRig rig(2, 0);
        rig.host.led[83] = 0;
        EXPECT_EQ(rig.Turn(1, 40), Log{});
        EXPECT_EQ(rig.host.StatusText(), " Jog OFF. ");
        EXPECT_EQ(rig.host.counters().WheelActiveHold, 3);
    }
    {
        JogRig rig(2, 0);
        rig.host.host().write(fields::MotionCountA, 5);
        EXPECT_EQ(rig.Turn(1, 40), Log{});
        rig.host.host().write(fields::MotionCountB, 5);
        EXPECT_EQ(rig.Turn(1, 40), Log{"Code DOJOG"});
    }
}

TEST(FixedRateJog, StartsOnThePollThatReachesDelaySteps) {
    struct Row {
        int32_t delay;
        int stepsPerPoll;
        int startPoll;  // 1-based poll that sends the first DOJOG
    };
    const Row rows[] = {{25, 1, 25}, {25, 5, 5}, {25, 6, 5}, {0, 1, 1}, {3, 127, 1}, {1, 1, 1}};
    for (const Row& row : rows) {
        JogRig rig(3, 2);
        rig.host.settings().DelaySteps = row.delay;
        rig.host.dro[3] = 50.0;
        for (int poll = 1; poll < row.startPoll; ++poll)
            EXPECT_EQ(rig.Turn(row.stepsPerPoll, 60), Log{}) << "delay " << row.delay;
        EXPECT_EQ(rig.Turn(row.stepsPerPoll, 60), Log{"Code DOJOG"}) << "delay " << row.delay;
        const JogRecord r = ReadRecord(rig.host.host(), 2);
        EXPECT_EQ(r.velocity, 500);
        EXPECT_EQ(r.fullRate, 1000);
        EXPECT_EQ(r.param, 7);
        EXPECT_EQ(r.stop, 0);
        EXPECT_EQ(r.start, 1);
    }
}

// The start delay counts the steps of one selection: steps made on X, or in
// another function, do not start a jog on Z.
TEST(FixedRateJog, TheStartDelayBelongsToItsSelection) {
    struct Case {
        const char* name;
        int firstSteps;          // turned on X in the fixed-rate function
        int axisByte, function;  // then this selection
    };
    const Case cases[] = {
        {"jogging X, then Z", 30, 0x03, 3},
        {"20 of 25 on X, then Z", 20, 0x03, 3},
        {"20 of 25, a visit to the speed-following function", 20, 0x01, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JogRig rig(3, 0);
        rig.host.host().write(fields::AxisFullRate.at(2), int32_t{1000});
        rig.host.settings().DelaySteps = 25;
        rig.host.dro[3] = 50.0;
        for (int i = 0; i < c.firstSteps; ++i) rig.Turn(1, 60);
        rig.axisByte = c.axisByte;
        rig.function = c.function;
        rig.Turn(1, 60);
        // The change's own step counts when it already stood on Z's delay.
        const int counted = c.axisByte == 0x03 && c.function == 3 ? 1 : 0;
        rig.axisByte = 0x03;
        rig.function = 3;
        Log log;
        for (int i = 0; i < 24 - counted; ++i) {
            const Log l = rig.Turn(1, 60);
            log.insert(log.end(), l.begin(), l.end());
        }
        EXPECT_EQ(std::count(log.begin(), log.end(), "Code DOJOG"), 0);
        EXPECT_EQ(rig.Turn(1, 60), Log{"Code DOJOG"});  // the 25th step on Z
    }
}

// The speed history is forgotten once the wheel has rested or the link went
// down, also when no host cycle ran meanwhile: a one-count nudge then starts
// from its own speed byte, not at the rate of the spin before.
TEST(SpeedFollowingJog, ANudgeAfterARestStartsFromItsOwnSpeed) {
    for (const bool linkLost : {false, true}) {
        SCOPED_TRACE(linkLost ? "unplugged and back" : "rested");
        JogRig rig(2, 0, 6000);
        for (int i = 0; i < 10; ++i) rig.Turn(2, 60);
        ASSERT_EQ(ReadRecord(rig.host.host(), 0).velocity, 6000);
        if (linkLost)
            rig.input.LinkLost();
        else
            for (int i = 0; i < 6; ++i) rig.Turn(0, 0);
        EXPECT_EQ(rig.Turn(1, 1), Log{"Code DOJOG"});
        EXPECT_EQ(ReadRecord(rig.host.host(), 0).velocity, 46);  // 1 x 1.82 / 235 x 6000
    }
}

TEST(FixedRateJog, RestsAfterThreeQuietPolls) {
    JogRig rig(3, 1);
    rig.host.dro[3] = 20.0;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.Turn(2, 60), Log{"Code DOJOG"});
    // Speed byte 0 with steps still in the window: the jog ends; the third
    // quiet poll is the rest, which sends the axis's button (and no second
    // "ENDJOG": no jog of ours runs any more).
    EXPECT_EQ(rig.Turn(0, 0), Log{"Code ENDJOG"});
    EXPECT_EQ(rig.Turn(0, 0), Log{});
    EXPECT_EQ(rig.Turn(0, 0), (Log{"DoButton 335"}));
    EXPECT_EQ(ReadRecord(rig.host.host(), 1).stop, 1);
    rig.host.Update(3);
    EXPECT_EQ(rig.Turn(0, 0), Log{});
    EXPECT_EQ(rig.input.Jog().DelayAccumulator, 0);
}

TEST(FixedRateJog, RestWindowIgnoresWhatTheSpeedFollowingJogLeft) {
    JogRig rig(2, 0);
    for (int i = 0; i < 6; ++i) rig.Turn(3, 60);  // fills the speed-following ring
    rig.Poll(Report(rig.counter, 0, 1, 3));       // switch to the fixed-rate jog
    rig.function = 3;
    rig.host.log.clear();
    rig.Turn(1, 60);
    rig.Turn(0, 0);  // the jog ends here (speed byte 0)
    rig.Turn(0, 0);
    EXPECT_EQ(rig.Turn(0, 0), (Log{"DoButton 334"}));
}

TEST(FixedRateJog, ReversalEndsAtOnceAndRestartsTheDelay) {
    JogRig rig(3, 0);
    rig.host.settings().DelaySteps = 4;
    rig.host.dro[3] = 10.0;
    for (int i = 0; i < 3; ++i) rig.Turn(1, 60);
    EXPECT_EQ(rig.Turn(1, 60), Log{"Code DOJOG"});
    EXPECT_EQ(rig.Turn(-1, 60), Log{"Code ENDJOG"});  // not counted toward the delay
    EXPECT_EQ(ReadRecord(rig.host.host(), 0).stop, 1);
    EXPECT_EQ(rig.input.Jog().DelayAccumulator, 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.Turn(-1, 60), Log{}) << i;
    EXPECT_EQ(rig.Turn(-1, 60), Log{"Code DOJOG"});
    EXPECT_EQ(ReadRecord(rig.host.host(), 0).direction, 1);
}

TEST(FixedRateJog, VelocityStaysWithinTheFullRate) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        double jogRate;
        int32_t fullRate;
        int32_t velocity;  // 0: no jog, the axis's jog is ended instead
    };
    const Row rows[] = {
        {50.0, 1000, 500},   {33.3, 1000, 333}, {100.0, 2147483647, 2147483647},
        {150.0, 1000, 1000},  // a jog rate above 100 % runs at full rate
        {1e9, 6000, 6000},   {inf, 1000, 1000}, {0.1, 999, 0},  // below 1 once truncated
        {-10.0, 1000, 0},    {-50.0, 6000, 0},  {nan, 1000, 0},
        {50.0, -1000, 0},  // a full rate that is not positive
        {50.0, 0, 0}};
    for (const Row& row : rows) {
        JogRig rig(3, 0, row.fullRate);
        rig.host.dro[3] = row.jogRate;
        // No sound velocity starts nothing (and ends nothing: none of ours runs).
        const Log expected = row.velocity > 0 ? Log{"Code DOJOG"} : Log{};
        EXPECT_EQ(rig.Turn(1, 60), expected) << row.jogRate << " " << row.fullRate;
        const JogRecord record = ReadRecord(rig.host.host(), 0);
        if (row.velocity > 0) {
            EXPECT_EQ(record.velocity, row.velocity) << row.jogRate;
            EXPECT_EQ(record.stop, 0) << row.jogRate;
        }
        EXPECT_EQ(rig.input.Jog().JoggingAxis, row.velocity > 0 ? 0 : kNoAxis) << row.jogRate;
    }
}

TEST(FixedRateJog, TabTicksAndSwitchAndAccumulator) {
    struct Row {
        int32_t percentTime;
        int64_t tabTicks;
    };
    const Row rows[] = {{3, 165},
                        {0, 0},
                        {-2, -110},
                        {95, 5225},
                        {100000000, 5500000000},
                        {-100000000, -5500000000},
                        {std::numeric_limits<int32_t>::max(), 118111600585},
                        {std::numeric_limits<int32_t>::min(), -118111600640}};
    for (const Row& row : rows) {
        JogRig rig(3, 0);
        rig.host.settings().PercentTime = row.percentTime;
        rig.shared.TabTicks = 12;
        rig.Turn(0, 0);
        EXPECT_EQ(rig.shared.TabTicks, row.tabTicks) << row.percentTime;
    }
    {  // common checks not passed: TabTicks untouched
        JogRig rig(3, 0);
        rig.host.settings().PercentTime = 3;
        rig.host.host().write(fields::MotionBusy, uint8_t{1});
        rig.shared.TabTicks = 12;
        rig.Turn(1, 60);
        EXPECT_EQ(rig.shared.TabTicks, 12);
    }
    {  // jog switch off: counted, then " Jog OFF. " and nothing else
        JogRig rig(3, 0);
        rig.host.led[83] = 0;
        EXPECT_EQ(rig.Turn(5, 60), Log{});
        EXPECT_EQ(rig.host.StatusText(), " Jog OFF. ");
        EXPECT_EQ(rig.input.Jog().DelayAccumulator, 5);
    }
    {  // a huge DelaySteps: the count saturates instead of overflowing, so
       // the jog still starts once the count reaches it
        FakeHost host;
        host.dro[3] = 100.0;
        host.settings().DelaySteps = std::numeric_limits<int32_t>::max();
        JogState state;
        state.DelayAccumulator = std::numeric_limits<int32_t>::max() - 200;
        TickShared shared;
        PollInput in;
        in.WheelMode = 3;
        in.Steps = 127;
        in.Speed = 60;
        FixedRateJog(state, in, shared, host.plugin);
        EXPECT_EQ(state.DelayAccumulator, std::numeric_limits<int32_t>::max() - 73);
        EXPECT_EQ(host.TakeLog(), Log{});
        FixedRateJog(state, in, shared, host.plugin);
        EXPECT_EQ(host.TakeLog(), Log{"Code DOJOG"});
        EXPECT_EQ(state.DelayAccumulator, 400);  // past 30000: restarts at 400
    }
}

}  // namespace
}  // namespace hk4

namespace hk4 {
namespace {

// A continuous jog never outlives what started it: the inhibit switch,
// another function (also the other continuous one) or another axis ends it
// at once.
TEST(ContinuousJog, EndsWhenInhibitFunctionOrAxisLeavesIt) {
    struct Case {
        const char* what;
        int startFunction;
        int axisByte, function, steps, speed;  // the poll that changes something
        Log expected;
        bool xStopped;
        int againEndjogs;  // "ENDJOG" of the resting poll after it
    };
    const Case cases[] = {
        {"inhibit on, speed-following", 2, 0x11, 2, 2, 60, {"Code ENDJOG"}, true, 0},
        {"inhibit on, fixed-rate", 3, 0x11, 3, 2, 60, {"Code ENDJOG"}, true, 0},
        {"step function", 2, 0x01, 1, 0, 0, {"DoButton 334", "Code ENDJOG"}, true, 0},
        {"jog-rate function", 3, 0x01, 4, 0, 0, {"DoButton 334", "Code ENDJOG"}, true, 0},
        // On Y the resting wheel ends nothing: no jog of ours runs there.
        {"axis Y", 2, 0x02, 2, 0, 0, {"DoButton 334", "Code ENDJOG"}, true, 0},
        // The wheel keeps turning: the old jog ends, the new function starts
        // its own from nothing (no start delay here), which the resting
        // wheel then ends.
        {"speed-following to fixed-rate",
         2,
         0x01,
         3,
         2,
         60,
         {"DoButton 334", "Code ENDJOG", "Code DOJOG"},
         false,
         1},
        {"fixed-rate to speed-following",
         3,
         0x01,
         2,
         2,
         60,
         {"DoButton 334", "Code ENDJOG", "Code DOJOG"},
         false,
         1},
    };
    for (const Case& c : cases) {
        JogRig rig(c.startFunction, 0);
        rig.host.settings().DelaySteps = 0;
        Log started;
        for (int i = 0; i < 3; ++i) {
            Log log = rig.Turn(2, 60);
            started.insert(started.end(), log.begin(), log.end());
        }
        ASSERT_NE(std::find(started.begin(), started.end(), "Code DOJOG"), started.end()) << c.what;
        ASSERT_EQ(ReadRecord(rig.host.host(), 0).stop, 0) << c.what;

        rig.counter = (rig.counter + c.steps) % 256;
        rig.Poll(Report(rig.counter, c.speed, c.axisByte, c.function));
        const Log log = rig.host.TakeLog();
        ASSERT_GE(log.size(), c.expected.size()) << c.what;
        EXPECT_EQ(Log(log.begin(), log.begin() + c.expected.size()), c.expected) << c.what;
        EXPECT_EQ(ReadRecord(rig.host.host(), 0).stop, c.xStopped ? 1 : 0) << c.what;
        rig.Poll(Report(rig.counter, 0, c.axisByte, c.function));
        const Log again = rig.host.TakeLog();
        EXPECT_EQ(std::count(again.begin(), again.end(), "Code ENDJOG"), c.againEndjogs) << c.what;
        EXPECT_EQ(std::count(again.begin(), again.end(), "Code DOJOG"), 0) << c.what;
    }
}

}  // namespace
}  // namespace hk4
