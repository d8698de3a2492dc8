// What the tick hands the decoder besides the report: the wheel's baseline
// at every link-up, and a button press seen only among the reports drained
// in one tick. Also the jog of a wheel whose link goes away.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "pendant_test_support.h"

namespace hk4test {
namespace {

constexpr uint8_t kButton = 0x20;

Report WithButton(uint8_t wheel, bool held) {
    return MakeReport(wheel, static_cast<uint8_t>(1 | (held ? kButton : 0)));
}

// Each case links, lets `relink` take the link down and up again (or not),
// then runs ticks with the given wheel counters queued before each.
TEST(WheelBaseline, TheFirstReportOfEveryLinkMovesNothing) {
    struct Case {
        const char* name;
        bool relinks;  // a link before, with the counter at 200
        std::function<void(Rig&)> relink;
        std::vector<std::vector<uint8_t>> ticks;  // reports queued before each tick
        std::vector<int> steps;                   // wheel steps of each tick
    };
    const Case cases[] = {
        {"start-up on a counter of 87", false, [](Rig&) {}, {{87}, {90}}, {0, 3}},
        {"several queued: the newest is the baseline",
         false,
         [](Rig&) {},
         {{20, 50, 87}, {88}},
         {0, 1}},
        {"a reused report is no baseline", false, [](Rig&) {}, {{}, {}, {87}, {86}}, {0, 0, 0, 1}},
        {"unplugged at 200, back reporting 0",
         true,
         [](Rig& r) {
             r.Removal(kPendantPath);
             r.Arrival();
         },
         {{0}, {1}},
         {0, 1}},
        {"reopened by another device's arrival while linked",
         true,
         [](Rig& r) { r.Arrival(); },
         {{230}, {228}},
         {0, 2}},
        {"found again at another path",
         true,
         [](Rig& r) {
             r.Removal(kPendantPath);
             r.port.unplugged.push_back(kPendantPath);
             r.port.devices = {Mouse(), Pendant(kSecondPendantPath)};
             r.Arrival();
         },
         {{}, {77}, {80}},
         {0, 0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        rig.host.leds[804] = 1;  // no step jog: this is about the counting
        if (c.relinks) {
            rig.port.Push(MakeReport(190));  // the link's own baseline
            rig.Tick();
            rig.port.Push(MakeReport(200));
            rig.Tick();
            ASSERT_EQ(rig.window->input.WheelSteps(), 10);
            c.relink(rig);
            ASSERT_TRUE(rig.window->DevicePresent);
        }
        for (std::size_t t = 0; t < c.ticks.size(); ++t) {
            for (const uint8_t wheel : c.ticks[t]) rig.port.Push(MakeReport(wheel));
            rig.Tick();
            EXPECT_EQ(rig.window->input.WheelSteps(), c.steps[t]) << "tick " << t;
        }
        EXPECT_TRUE(rig.port.faults.empty());
    }
}

TEST(QueuedPress, APressAmongTheDrainedReportsSends1021Once) {
    struct Case {
        const char* name;
        bool heldBefore;          // in the report decoded by the tick before
        std::vector<bool> queue;  // button in the reports drained by this tick
        int presses;
    };
    const Case cases[] = {
        {"tap within one tick", false, {true, false}, 1},
        {"press", false, {true}, 1},
        {"two taps: once", false, {true, false, true, false}, 1},
        {"release of a held button", true, {true, false}, 0},
        {"held throughout", true, {true, true}, 0},
        {"released and pressed anew", true, {false, true}, 1},
        {"released, pressed, released", true, {false, true, false}, 1},
        {"nothing pressed", false, {false, false}, 0},
        {"nothing arrived", true, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        rig.host.leds[800] = 1;  // the action took: a held button is not repeated
        rig.port.Push(WithButton(0, c.heldBefore));
        rig.Tick();
        rig.host.buttons.clear();
        for (const bool held : c.queue) rig.port.Push(WithButton(0, held));
        rig.Tick();
        EXPECT_EQ(rig.host.Presses(1021), c.presses);
        rig.host.buttons.clear();
        rig.Tick();  // nothing new: no press
        EXPECT_EQ(rig.host.Presses(1021), 0);
    }
}

// Linked, with a first report on `counter` taken, and step jog blocked: for
// tests of the counting alone.
void LinkForCounting(Rig& rig, int counter) {
    rig.Link();
    rig.host.leds[804] = 1;
    rig.port.Push(MakeReport(counter));
    rig.Tick();
}

// Only the newest of the drained reports is decoded: wheel motion made
// before a change of axis, function or inhibit switch among them must not be
// carried over to the newest report's selection.
TEST(QueuedSelection, MotionBeforeAChangeAmongTheDrainedReportsIsDropped) {
    struct Queued {
        uint8_t wheel, axis, function;
    };
    struct Case {
        const char* name;
        std::vector<Queued> queue;  // drained by one tick, after a report at 10
        int steps;
    };
    const Case cases[] = {
        {"turned on X throughout", {{15, 1, 1}, {18, 1, 1}}, 8},
        // Any change of the axis byte counts, the button too: with it held a
        // turned selector is not yet the selected axis.
        {"the button pressed meanwhile", {{15, 0x21, 1}, {18, 1, 1}}, 3},
        {"selector turned with the button held, then released",
         {{12, 0x21, 1}, {16, 0x23, 1}, {19, 0x03, 1}},
         3},
        {"one report: its motion goes with its selection", {{15, 3, 1}}, 5},
        {"turned on X, then Z selected", {{15, 1, 1}, {15, 3, 1}}, 0},
        {"Z selected, then turned", {{10, 3, 1}, {14, 3, 1}}, 4},
        {"turned on X, Z selected, turned on Z", {{15, 1, 1}, {15, 3, 1}, {18, 3, 1}}, 3},
        {"Z, then back to X", {{15, 3, 1}, {18, 1, 1}}, 3},
        {"turned while inhibited, then released", {{20, 0x11, 1}, {20, 1, 1}}, 0},
        {"turned at OFF, then X", {{20, 0, 1}, {20, 1, 1}}, 0},
        {"turned in the jog-rate function, then step jog", {{15, 1, 4}, {15, 1, 1}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        LinkForCounting(rig, 10);
        for (const Queued& q : c.queue) rig.port.Push(MakeReport(q.wheel, q.axis, q.function));
        rig.Tick();
        EXPECT_EQ(rig.window->input.WheelSteps(), c.steps);
        rig.Tick();  // nothing new: nothing moves
        EXPECT_EQ(rig.window->input.WheelSteps(), 0);
    }
}

int SignedSteps(const Rig& rig) {
    const int steps = rig.window->input.WheelSteps();
    return rig.window->input.WheelDirection() == 0 ? steps : -steps;
}

// Every queued report counts against the one before it: a fast spin while
// the host's thread was busy adds up, whatever its first and last counters
// say. A queue that may have overflowed moves nothing, nor does the next
// poll, which only sets where the wheel stands.
TEST(QueuedMotion, EachReportCountsAgainstTheOneBefore) {
    struct Case {
        const char* name;
        std::vector<int> deltas;  // of the reports queued before one tick
        std::vector<int> steps;   // signed steps of that tick and the ticks after
    };
    const Case cases[] = {
        {"30 reports of +5", std::vector<int>(30, 5), {150}},
        {"two of +100", {100, 100}, {200}},
        {"up and back", {100, -60, -60}, {-20}},
        {"31 reports of -127", std::vector<int>(31, -127), {-3937}},
        {"32 reports: the queue may have overflowed", std::vector<int>(32, 1), {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        LinkForCounting(rig, 0);
        int counter = 0;
        for (const int d : c.deltas) rig.port.Push(MakeReport(counter = (counter + d) & 0xFF));
        for (std::size_t t = 0; t < c.steps.size(); ++t) {
            if (t > 0) rig.port.Push(MakeReport(counter = (counter + 1) & 0xFF));
            rig.Tick();
            EXPECT_EQ(SignedSteps(rig), c.steps[t]) << "tick " << t;
        }
    }
}

// Random bursts below the queue's size: the net motion of a session, summed
// from the reports, is what the polls hand on.
TEST(QueuedMotion, NetMotionOfRandomBurstsIsKept) {
    Rig rig;
    LinkForCounting(rig, 0);
    uint32_t seed = 12345;
    auto next = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<uint32_t>(n));
    };
    long turned = 0, handedOn = 0;
    int counter = 0;
    for (int tick = 0; tick < 300; ++tick) {
        const int reports = next(4) == 0 ? next(31) + 1 : next(3);
        for (int r = 0; r < reports; ++r) {
            const int d = next(255) - 127;
            turned += d;
            rig.port.Push(MakeReport(counter = (counter + d) & 0xFF));
        }
        rig.Tick();
        handedOn += SignedSteps(rig);
    }
    EXPECT_EQ(handedOn, turned);
}

// A speed-following jog of X running, as a few turning polls leave it.
void StartJog(Rig& rig) {
    rig.host.leds[83] = 1;
    for (int i = 0; i < 3; ++i) rig.host.state.counters.Update();
    uint8_t wheel = 0;
    for (int i = 0; i < 3; ++i) {
        Report r = MakeReport(wheel += 2, 1, 2);
        r[2] = 60;  // speed byte
        rig.port.Push(r);
        rig.Tick();
    }
    ASSERT_EQ(rig.host.code.back(), "DOJOG");
    ASSERT_EQ(rig.host.MotionByte(163954), 0);
    rig.host.code.clear();
}

// Unplugged while turning: back again, the last report from before (speed
// byte still up) is decoded until a new one comes, and starts no jog.
TEST(LinkLoss, AfterARemovalTheLastReportStartsNoJog) {
    Rig rig;
    rig.Link();
    ASSERT_NO_FATAL_FAILURE(StartJog(rig));
    rig.Removal(kPendantPath);
    EXPECT_EQ(rig.host.code, (std::vector<std::string>{"ENDJOG"}));
    rig.Arrival();
    for (int i = 0; i < 8; ++i) rig.Tick();
    for (const std::string& line : rig.host.code) EXPECT_NE(line, "DOJOG");
    EXPECT_EQ(rig.host.MotionByte(163954), 1);
}

TEST(LinkLoss, APendantLostWithoutItsRemovalStillEndsTheJog) {
    Rig rig;
    rig.Link();
    ASSERT_NO_FATAL_FAILURE(StartJog(rig));
    // Another device arrives; the pendant's path no longer opens and the
    // search does not find it either: the link goes down.
    rig.port.unplugged.push_back(kPendantPath);
    rig.port.devices = {Mouse()};
    rig.Arrival();
    ASSERT_FALSE(rig.window->DevicePresent);
    EXPECT_EQ(rig.host.code, (std::vector<std::string>{"ENDJOG"}));
    EXPECT_EQ(rig.host.MotionByte(163954), 1);
}

// The read fails because the pendant was removed, before its broadcast: the
// tick does not decode the old report again (which would send "DOJOG"), the
// jog stops and "ENDJOG" goes out once.
TEST(LinkLoss, AReadOnTheRemovedPendantStartsNothing) {
    Rig rig;
    rig.Link();
    ASSERT_NO_FATAL_FAILURE(StartJog(rig));
    rig.port.RemoveUnderHandles(hk4::ReadStatus::Gone);
    rig.Tick();
    EXPECT_EQ(rig.host.code, (std::vector<std::string>{"ENDJOG"}));
    EXPECT_EQ(rig.host.MotionByte(163954), 1);
}

TEST(LinkLoss, TheWindowGoingAwayEndsARunningJog) {
    Rig rig;
    rig.Link();
    ASSERT_NO_FATAL_FAILURE(StartJog(rig));
    rig.window.reset();  // StopPlug
    EXPECT_EQ(rig.host.code, (std::vector<std::string>{"ENDJOG"}));
    EXPECT_EQ(rig.host.MotionByte(163954), 1);
}

}  // namespace
}  // namespace hk4test
