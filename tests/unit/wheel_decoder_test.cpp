// Decoding the pendant's report: the wheel counter, the selectors, the inhibit
// switch and the push button, with the exact host codes they produce.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/wheel.h"
#include "unit/fake_host.h"

namespace hk4 {
namespace {

using testing::InputRig;
using testing::Report;
using Log = std::vector<std::string>;

TEST(Wheel, CounterDifferencesIncludingWraps) {
    struct Row {
        int previous, value, directionBefore, steps, direction;
    };
    const Row rows[] = {
        {0, 0, 1, 0, 1},       // no change keeps the direction
        {7, 7, 0, 0, 0},       //
        {0, 1, 1, 1, 0},       // up
        {1, 0, 0, 1, 1},       // down
        {10, 137, 1, 127, 0},  // +127, the most a poll reports
        {137, 10, 0, 127, 1},  // -127
        {250, 5, 1, 11, 0},    // wrapped upwards through 0
        {5, 250, 0, 11, 1},    // wrapped downwards through 255
        {255, 0, 1, 1, 0},     // -255: one step up
        {0, 255, 0, 1, 1},     // +255: one step down
        {0, 129, 0, 127, 1},   // +129: 127 down
        {129, 0, 0, 127, 0},   // -129: 127 up
        {0, 128, 1, 0, 1},     // +128 is ambiguous: nothing, direction kept
        {0, 128, 0, 0, 0},     //
        {128, 0, 1, 0, 1},     // -128 likewise
        {200, 72, 0, 0, 0},    //
        {0, 20, 1, 20, 0},     // the first report after start against counter 0
    };
    for (const Row& r : rows) {
        const WheelMotion m = ClassifyWheel(r.previous, r.value, r.directionBefore);
        EXPECT_EQ(m.steps, r.steps) << r.previous << " -> " << r.value;
        EXPECT_EQ(m.direction, r.direction) << r.previous << " -> " << r.value;
    }
}

TEST(Wheel, EveryPairTakesTheShortWayAndNeverMoreThan127) {
    for (int previous = 0; previous < 256; ++previous) {
        for (int value = 0; value < 256; ++value) {
            const WheelMotion m = ClassifyWheel(previous, value, 1);
            ASSERT_GE(m.steps, 0);
            ASSERT_LE(m.steps, kMaxWheelSteps);
            const int distance = (value - previous + 256) % 256;
            if (distance == 0 || distance == 128) {
                ASSERT_EQ(m.steps, 0) << previous << " -> " << value;
                ASSERT_EQ(m.direction, 1);
                continue;
            }
            const int signedSteps = m.direction == kWheelUp ? m.steps : -m.steps;
            ASSERT_EQ(((previous + signedSteps) % 256 + 256) % 256, value)
                << previous << " -> " << value;
        }
    }
}

TEST(Decoder, WheelStepsThroughReports) {
    InputRig rig;
    rig.host.led[804] = 1;  // keep the step jog quiet: this is about decoding
    struct Step {
        int wheel, axisByte, steps, direction;
    };
    const Step steps[] = {
        {20, 1, 20, 0},     // first report: compared with counter 0
        {20, 1, 0, 0},      // identical report: no steps
        {250, 1, 26, 1},    // down
        {5, 1, 11, 0},      // wrap up
        {5, 1, 0, 0},       //
        {133, 1, 0, 0},     // +128: ambiguous, nothing
        {130, 1, 3, 1},     // counted from 133
        {140, 0x11, 0, 0},  // inhibit: the motion is consumed (direction still worked out)
        {140, 0x01, 0, 0},  // released: not replayed
        {141, 0x01, 1, 0},
    };
    for (const Step& s : steps) {
        rig.Poll(Report(s.wheel, 0, s.axisByte, 1));
        EXPECT_EQ(rig.input.WheelSteps(), s.steps) << s.wheel;
        EXPECT_EQ(rig.input.WheelDirection(), s.direction) << s.wheel;
    }
}

struct SelectorStep {
    int axisByte;
    int function;
    bool led800;
    Log expected;
    int axisAfter;
    int modeAfter;
};

struct SelectorCase {
    const char* name;
    std::vector<SelectorStep> steps;
};

TEST(Decoder, SelectorAndButtonSequencesSendTheHostCodes) {
    const SelectorCase cases[] = {
        {"first poll counts as a change of function",
         {{1, 1, false, {"DoButton 334"}, 0, 1}, {1, 1, false, {}, 0, 1}}},
        {"first poll on Y: function change with X, then leaving X",
         {{2, 1, false, {"DoButton 334", "DoButton 334"}, 1, 1},
          {2, 2, false, {"DoButton 335"}, 1, 2}}},
        {"function selector: one code per change, bit 7 ignored, 0 and 9 ignored",
         {{1, 1, false, {"DoButton 334"}, 0, 1},
          {1, 2, false, {"DoButton 334"}, 0, 2},
          {1, 2, false, {}, 0, 2},
          {1, 0x83, false, {"DoButton 334"}, 0, 3},
          {1, 0, false, {}, 0, 3},
          {1, 9, false, {}, 0, 3},
          {1, 0x7F, false, {}, 0, 3},
          {1, 3, false, {}, 0, 3},
          {1, 6, false, {"DoButton 334"}, 0, 6}}},
        {"axis selector sends the old axis, then selects the new one",
         {{1, 1, false, {"DoButton 334"}, 0, 1},
          {3, 1, false, {"DoButton 334"}, 2, 1},
          {5, 1, false, {"DoButton 336"}, 4, 1},
          {4, 1, false, {"DoButton 338"}, 3, 1}}},
        {"axis bytes outside 1..5 send nothing and keep the axis",
         {{2, 1, false, {"DoButton 334", "DoButton 334"}, 1, 1},
          {0, 1, false, {}, 1, 1},
          {6, 1, false, {}, 1, 1},
          {0xC7, 1, false, {}, 1, 1},
          {2, 1, false, {"DoButton 335"}, 1, 1}}},
        {"inhibit switch: the axis follows only on release",
         {{2, 1, false, {"DoButton 334", "DoButton 334"}, 1, 1},
          {0x12, 1, false, {}, 1, 1},
          {0x13, 1, false, {}, 1, 1},
          {0x03, 1, false, {"DoButton 335"}, 2, 1}}},
        {"button press sends 1021, its release re-selects the axis",
         {{1, 1, false, {"DoButton 334"}, 0, 1},
          {0x21, 1, true, {"DoButton 1021"}, 0, 1},
          {0x01, 1, true, {"DoButton 334"}, 0, 1}}},
        {"button held with LED 800 on: 1021 once",
         {{1, 1, true, {"DoButton 334"}, 0, 1},
          {0x21, 1, true, {"DoButton 1021"}, 0, 1},
          {0x21, 1, true, {}, 0, 1},
          {0x21, 1, true, {}, 0, 1}}},
        {"button held with LED 800 off: 1021 on every poll until the LED comes on",
         {{1, 1, false, {"DoButton 334"}, 0, 1},
          {0x21, 1, false, {"DoButton 1021"}, 0, 1},
          {0x21, 1, false, {"DoButton 1021"}, 0, 1},
          {0x21, 1, true, {}, 0, 1},
          {0x01, 1, true, {"DoButton 334"}, 0, 1},
          {0x21, 1, true, {"DoButton 1021"}, 0, 1}}},
        {"button and function change in one poll: button first",
         {{1, 1, false, {"DoButton 334"}, 0, 1},
          {0x21, 5, false, {"DoButton 1021", "DoButton 334"}, 0, 5}}},
    };
    for (const SelectorCase& c : cases) {
        SCOPED_TRACE(c.name);
        InputRig rig;
        int i = 0;
        for (const SelectorStep& s : c.steps) {
            rig.host.led[800] = s.led800 ? 1 : 0;
            rig.Poll(Report(0, 0, s.axisByte, s.function));
            EXPECT_EQ(rig.host.TakeLog(), s.expected) << "poll " << i;
            EXPECT_EQ(rig.input.AxisIndex(), s.axisAfter) << "poll " << i;
            EXPECT_EQ(rig.input.WheelMode(), s.modeAfter) << "poll " << i;
            ++i;
        }
    }
}

TEST(Decoder, InhibitFollowsTheSwitchOnEveryPoll) {
    InputRig rig;
    const struct {
        int axisByte;
        bool inhibit;
    } polls[] = {{0x01, false}, {0x11, true}, {0x31, true}, {0x21, false}, {0x01, false}};
    for (const auto& p : polls) {
        rig.Poll(Report(0, 0, p.axisByte, 1));
        EXPECT_EQ(rig.input.JogInhibit(), p.inhibit) << p.axisByte;
    }
}

}  // namespace
}  // namespace hk4
