// The tick and the host's thread: device changes that a host callback lets
// through while a tick runs wait for its end, the timer can be stopped from
// inside a tick, and the lamp's output report is written only when it
// matters.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/device_change_queue.h"
#include "input/host_codes.h"
#include "pendant_test_support.h"

namespace hk4test {
namespace {

using Codes = std::vector<std::string>;
using hk4::DeviceChange;

// A rig whose pendant is in the speed-following jog on X: a wheel turn
// with speed sends "DOJOG" from inside the tick.
struct JogRig : Rig {
    uint8_t wheel = 0;
    JogRig() {
        Link();
        host.Set(hk4::fields::AxisFullRate.at(0), int32_t{1000});
        host.Set(hk4::fields::AxisJogParam.at(0), int32_t{7});
        for (int i = 0; i < 3; ++i) host.state.counters.Update();  // past the reversal settling
        host.leds[83] = 1;
        port.Push(Report{0, 0, 0, 1, 2, 0, 0, 0});
        Tick();
        host.code.clear();
    }
    void Turn() {
        port.Push(Report{0, ++wheel, 24, 1, 2, 0, 0, 0});
        Tick();
    }
};

// The button's action runs long (a message box) and the world changes
// inside it: the rest of that tick starts no jog from the report it read
// before; a removal's "ENDJOG" is all that follows.
TEST(TickReentry, NothingOfATickActsAfterTheWorldChangedInsideIt) {
    struct Case {
        const char* name;
        std::function<void(JogRig&)> change;
        Codes codes;
    };
    const Case cases[] = {
        {"removal", [](JogRig& r) { r.Removal(kPendantPath); }, {"ENDJOG"}},
        {"a tick dropped meanwhile", [](JogRig& r) { r.Tick(); }, {}},
        {"a stop from another thread", [](JogRig& r) { r.host.state.host.WorldChanged(); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JogRig rig;
        rig.host.duringButton = [&](int32_t code) {
            if (code == hk4::kButtonPendant) c.change(rig);
        };
        rig.host.buttons.clear();
        rig.port.Push(Report{0, 1, 24, 0x21, 2, 0, 0, 0});  // a click with the button down
        rig.Tick();
        EXPECT_EQ(rig.host.buttons, std::vector<int32_t>{hk4::kButtonPendant});
        EXPECT_EQ(rig.host.code, c.codes);
        EXPECT_EQ(rig.host.MotionByte(hk4::fields::JogStart.at(0).offset), 0);
    }
}

TEST(TickReentry, DeviceChangesDuringATickWaitForItsEndInArrivalOrder) {
    struct Case {
        const char* name;
        std::vector<DeviceChange> during;  // delivered from inside "DOJOG"
        Codes codes;                       // what the host got in that tick
        bool presentAfter;
    };
    const Case cases[] = {
        {"removal", {DeviceChange::Removal}, {"DOJOG", "ENDJOG"}, false},
        {"arrival, then removal",
         {DeviceChange::Arrival, DeviceChange::Removal},
         {"DOJOG", "ENDJOG"},
         false},
        {"removal, then arrival",
         {DeviceChange::Removal, DeviceChange::Arrival},
         {"DOJOG", "ENDJOG"},
         true},
        {"arrival", {DeviceChange::Arrival}, {"DOJOG"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JogRig rig;
        bool delivered = false, presentInside = false;
        rig.host.duringCode = [&](const std::string& line) {
            if (line != "DOJOG" || delivered) return;
            delivered = true;
            for (DeviceChange change : c.during) {
                if (change == DeviceChange::Removal)
                    rig.Removal(kPendantPath);
                else
                    rig.Arrival();
            }
            // Nothing of the link changed under the running tick.
            presentInside = rig.window->DevicePresent && rig.window->ReadHandle != nullptr;
        };
        rig.Turn();
        ASSERT_TRUE(delivered);
        EXPECT_TRUE(presentInside);
        EXPECT_EQ(rig.host.code, c.codes);
        EXPECT_EQ(rig.window->DevicePresent, c.presentAfter);
        EXPECT_EQ(rig.window->ReadHandle != nullptr, c.presentAfter);
        if (!c.presentAfter) {
            // The removal came after the tick's own writes: the jog stays
            // stopped, and later ticks start none.
            EXPECT_EQ(rig.host.MotionByte(hk4::fields::JogStop.at(0).offset), 1);
            rig.host.code.clear();
            rig.Turn();
            EXPECT_TRUE(rig.host.code.empty());
        }
        EXPECT_TRUE(rig.port.faults.empty()) << rig.port.faults[0];
    }
}

// A host callback that runs its own modal loop: the ticks it lets through
// cannot run, but the 4th of them stops the jog through its record, with no
// host call inside the callback; the one "ENDJOG" follows the callback. A
// removal inside it stops the jog at once.
TEST(TickReentry, TicksDroppedInsideACallbackCountForTheDeadman) {
    struct Case {
        const char* name;
        int droppedTicks;
        bool removal;
        uint8_t stopInside;  // JogStop[0] when the loop ends
        Codes codes;
    };
    const Case cases[] = {
        {"three dropped ticks", 3, false, 0, {"DOJOG"}},
        {"four dropped ticks", 4, false, 1, {"DOJOG", "ENDJOG"}},
        {"forty dropped ticks", 40, false, 1, {"DOJOG", "ENDJOG"}},
        {"a removal", 1, true, 1, {"DOJOG", "ENDJOG"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JogRig rig;
        uint8_t stopInside = 0xFF;
        Codes codesInside;
        rig.host.duringCode = [&](const std::string& line) {
            if (line != "DOJOG" || stopInside != 0xFF) return;
            for (int i = 0; i < c.droppedTicks; ++i) rig.window->OnTimer(hk4::kPollTimerId);
            if (c.removal) rig.Removal(kPendantPath);
            stopInside = rig.host.MotionByte(hk4::fields::JogStop.at(0).offset);
            codesInside = rig.host.code;
        };
        rig.Turn();
        EXPECT_EQ(stopInside, c.stopInside);
        EXPECT_EQ(codesInside, Codes{"DOJOG"});
        EXPECT_EQ(rig.host.code, c.codes);
    }
}

TEST(TickReentry, AChangeOutsideATickActsAtOnce) {
    Rig rig;
    rig.Link({Pendant()});
    rig.Removal(kPendantPath);
    EXPECT_FALSE(rig.window->DevicePresent);
    EXPECT_EQ(rig.host.code, Codes{"ENDJOG"});
    rig.Arrival();
    EXPECT_TRUE(rig.window->DevicePresent);
    EXPECT_NE(rig.window->ReadHandle, nullptr);
}

TEST(TickReentry, TheTimerStopsAtOnceFromInsideATick) {
    JogRig rig;
    ASSERT_EQ(rig.port.timers(), 1);
    int timersInside = -1;
    rig.host.duringCode = [&](const std::string&) {
        rig.window->StopTimer();
        timersInside = rig.port.timers();
    };
    rig.Turn();
    EXPECT_EQ(timersInside, 0);
    EXPECT_TRUE(rig.window->DevicePresent);  // the tick itself ran on to its end
    rig.host.duringCode = nullptr;
    rig.window.reset();  // no second KillTimer
    EXPECT_EQ(rig.port.CountOf("KillTimer"), 1);
    EXPECT_TRUE(rig.port.faults.empty()) << rig.port.faults[0];
}

TEST(DeviceChangeQueue, KeepsOrderFoldsRepeatsAndNeverDropsARemoval) {
    constexpr DeviceChange A = DeviceChange::Arrival, R = DeviceChange::Removal;
    struct Case {
        const char* name;
        std::vector<DeviceChange> pushed, popped;
    };
    std::vector<DeviceChange> alternating, alternatingKept;
    for (std::size_t i = 0; i < hk4::DeviceChangeQueue::kCapacity + 3; ++i)
        alternating.push_back(i % 2 ? R : A);
    alternatingKept.assign(alternating.begin(),
                           alternating.begin() + hk4::DeviceChangeQueue::kCapacity);
    alternatingKept.back() = R;  // the last place goes to the last removal
    const Case cases[] = {
        {"empty", {}, {}},
        {"order", {A, R, A}, {A, R, A}},
        {"repeats fold", {A, A, R, R, R, A}, {A, R, A}},
        {"full", alternating, alternatingKept},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hk4::DeviceChangeQueue q;
        for (DeviceChange change : c.pushed) q.Push(change);
        std::vector<DeviceChange> popped;
        for (DeviceChange change; q.Pop(change);) popped.push_back(change);
        EXPECT_EQ(popped, c.popped);
        EXPECT_TRUE(q.Empty());
    }
}

// Which of a run of ticks write the output report.
TEST(OutputReport, WrittenOnChangeLinkUpFailureAndOncePerSecond) {
    struct Step {
        uint8_t led800;
        bool writesFail;
        bool arrivalBefore;  // the link is (re)opened before this tick
        bool written;
    };
    const std::vector<Step> quiet(39, Step{0, false, false, false});
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    std::vector<Step> refresh = {{0, false, false, true}};
    refresh.insert(refresh.end(), quiet.begin(), quiet.end());
    refresh.push_back({0, false, false, true});  // the 40th tick after the last write
    refresh.insert(refresh.end(), quiet.begin(), quiet.end());
    refresh.push_back({0, false, false, true});
    std::vector<Step> changeResets = {{0, false, false, true}};
    changeResets.insert(changeResets.end(), quiet.begin(), quiet.begin() + 20);
    changeResets.push_back({1, false, false, true});  // a change: at once
    changeResets.insert(changeResets.end(), 39, Step{1, false, false, false});
    changeResets.push_back({1, false, false, true});  // a second after the change
    const Case cases[] = {
        {"first tick after link-up, then nothing while unchanged",
         {{0, false, false, true}, {0, false, false, false}, {0, false, false, false}}},
        {"a change of LED 800 is written in the same tick, both ways",
         {{0, false, false, true},
          {1, false, false, true},
          {1, false, false, false},
          {0, false, false, true}}},
        {"a failed write is tried again on the next tick until it succeeds",
         {{0, true, false, true},
          {0, true, false, true},
          {0, false, false, true},
          {0, false, false, false}}},
        {"a failed change is written again even if the lamp went back",
         {{0, false, false, true}, {1, true, false, true}, {0, false, false, true}}},
        {"every (re)linking writes on its first tick",
         {{1, false, false, true}, {1, false, true, true}, {1, false, false, false}}},
        {"refresh on the 40th tick after the last write", refresh},
        {"a change restarts the second", changeResets},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link({Pendant()});
        bool relinked = false;  // the write handle is #3, after the arrival #5
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            relinked |= s.arrivalBefore;
            rig.host.leds[800] = s.led800;
            rig.port.writesFail = s.writesFail;
            if (s.arrivalBefore) rig.Arrival();
            rig.TakeLog();
            rig.Tick();
            const std::vector<std::string> log = rig.TakeLog();
            const std::string expected = std::string("WriteFile #") + (relinked ? "5" : "3") +
                                         " 00 0" + (s.led800 ? "1" : "0") + " 00 00 00";
            int writes = 0;
            for (const std::string& line : log) {
                if (line.rfind("WriteFile", 0) != 0) continue;
                ++writes;
                EXPECT_EQ(line, expected) << "tick " << i + 1;
            }
            EXPECT_EQ(writes, s.written ? 1 : 0) << "tick " << i + 1;
        }
    }
}

}  // namespace
}  // namespace hk4test
