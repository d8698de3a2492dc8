// The deadman in time: what the watchdog may write and when, and how the
// polls around its stop behave.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/jog_watchdog.h"
#include "unit/fake_host.h"

namespace hk4 {
namespace {

using testing::FakeHost;
using testing::InputRig;
using testing::Report;
using Log = std::vector<std::string>;

// The watchdog's decisions with a clock the test moves; Fire is the thread's
// turn.
struct FakeWatchdog final : JogWatchdog {
    explicit FakeWatchdog(Host& w) : world(w) {}
    Host& world;
    JogDeadline watch;
    uint32_t now = 1000;
    void WheelMoved() override { watch.WheelMoved(now); }
    bool LetRun(const Host& host, int32_t axis) override { return watch.LetRun(host, axis); }
    void Disarm() override { watch.Disarm(); }
    bool TakeStop() override { return watch.TakeStop(); }
    bool Fire(uint32_t laterMs) {
        now += laterMs;
        if (!watch.StopIfDue(now)) return false;
        world.WorldChanged();
        return true;
    }
};

uint8_t JogStop(const FakeHost& host, int axis) {
    return host.host().read(fields::JogStop.at(axis));
}

TEST(JogDeadline, StopsOnlyTheWatchedFlagOnceItsTimeHasPassed) {
    struct Case {
        uint32_t motionAt, checkAt;
        bool armed, stops;
    } const cases[] = {
        {1000, 1100, true, false},  // a poll on time there ends it itself
        {1000, 1101, true, true},
        {0xFFFFFFF0u, 0xFFFFFFF0u + 100, true, false},  // across the clock's wrap
        {0xFFFFFFF0u, 0xFFFFFFF0u + 101, true, true},
        {1000, 5000, false, false},
    };
    for (const Case& c : cases) {
        FakeHost host;
        JogDeadline watch;
        watch.WheelMoved(c.motionAt);
        if (c.armed) {
            ASSERT_TRUE(watch.LetRun(host.host(), 2));
        }
        std::vector<unsigned char> expected = host.motion;
        if (c.stops) expected[fields::JogStop.at(2).offset] = 1;  // and nothing else
        EXPECT_EQ(watch.StopIfDue(c.checkAt), c.stops) << c.checkAt;
        EXPECT_TRUE(host.motion == expected) << c.checkAt;
        if (c.stops) {
            EXPECT_FALSE(watch.StopIfDue(c.checkAt + 1000)) << "a second stop";
            EXPECT_TRUE(watch.TakeStop());
            EXPECT_FALSE(watch.TakeStop());
        }
    }
}

TEST(JogDeadline, NeverLetsAJogRunAgainOverItsStopUntilTheTickTookIt) {
    FakeHost host;
    JogDeadline watch;
    watch.WheelMoved(0);
    ASSERT_TRUE(watch.LetRun(host.host(), 0));
    ASSERT_TRUE(watch.StopIfDue(101));
    EXPECT_FALSE(watch.LetRun(host.host(), 0));
    EXPECT_EQ(JogStop(host, 0), 1);
    EXPECT_TRUE(watch.TakeStop());
    EXPECT_TRUE(watch.LetRun(host.host(), 0));
    EXPECT_EQ(JogStop(host, 0), 0);
}

// A continuous jog on X with the host idle, DelaySteps 0, and a watchdog.
struct WatchedRig : InputRig {
    FakeWatchdog watchdog{host.plugin.host};
    int counter = 0;
    int function;
    explicit WatchedRig(int fn) : function(fn) {
        input.SetWatchdog(watchdog);
        host.settings().DelaySteps = 0;
        host.dro[3] = 100.0;
        host.Update(3);
        Start(function, 1);
    }
    Log Turn(int steps, int speed = 24) {
        counter = (counter + steps + 256) % 256;
        Poll(Report(counter, speed, 1, function));
        return host.TakeLog();
    }
    void RunJog() {
        for (int i = 0; i < 3; ++i) Turn(1);
        ASSERT_EQ(Turn(1), Log{"Code DOJOG"});
        ASSERT_EQ(JogStop(host, 0), 0);
    }
};

TEST(JogWatchdog, AStopWhileNoPollRanEndsTheJogOnceAndLeavesNoOldStepsBehind) {
    for (int function : {2, 3}) {
        SCOPED_TRACE(function);
        WatchedRig rig(function);
        rig.RunJog();
        EXPECT_FALSE(rig.watchdog.Fire(100));
        EXPECT_TRUE(rig.watchdog.Fire(1));
        EXPECT_EQ(JogStop(rig.host, 0), 1);
        // The rest windows still hold the steps from before the hold; the
        // wheel rests (speed byte 0) and the host's cycles do not run.
        EXPECT_EQ(rig.Turn(0, 0), Log{"Code ENDJOG"});
        EXPECT_EQ(rig.Turn(0, 0), Log{});
        EXPECT_EQ(JogStop(rig.host, 0), 1);
        // The wheel acts again on fresh motion.
        EXPECT_EQ(rig.Turn(1), Log{"Code DOJOG"});
        EXPECT_EQ(JogStop(rig.host, 0), 0);
    }
}

WatchedRig* g_rig = nullptr;
void FireOnJogRate(FakeHost&, int32_t number) {
    if (number == 3) g_rig->watchdog.Fire(101);
}

TEST(JogWatchdog, AStopInsideAHostCallbackIsNotUndoneByTheRestOfThatPoll) {
    WatchedRig rig(3);
    rig.RunJog();
    g_rig = &rig;
    rig.host.getDroHook = &FireOnJogRate;  // the jog rate is read before the start
    EXPECT_EQ(rig.Turn(1), Log{});
    rig.host.getDroHook = nullptr;
    EXPECT_EQ(JogStop(rig.host, 0), 1);
    EXPECT_EQ(rig.Turn(0, 0), Log{"Code ENDJOG"});
    EXPECT_EQ(rig.Turn(0, 0), Log{});
}

TEST(JogWatchdog, AJogThePollsEndedIsNoLongerWatched) {
    WatchedRig rig(3);
    rig.RunJog();
    rig.host.Update(3);  // the wheel's activity runs out
    EXPECT_EQ(rig.Turn(0, 0), Log{"Code ENDJOG"});
    rig.host.host().write(fields::JogStop.at(0), uint8_t{0});  // the host's own
    EXPECT_FALSE(rig.watchdog.Fire(1000));
    EXPECT_EQ(JogStop(rig.host, 0), 0);
    EXPECT_EQ(rig.Turn(0, 0), Log{});
}

TEST(JogWatchdog, TheRemovalsEndJogSettlesAStopMadeBeforeIt) {
    WatchedRig rig(2);
    rig.RunJog();
    ASSERT_TRUE(rig.watchdog.Fire(101));
    rig.input.LinkLost();  // after the removal's own "ENDJOG"
    rig.host.Update(3);
    EXPECT_EQ(rig.Turn(0, 0), Log{});
}

}  // namespace
}  // namespace hk4
