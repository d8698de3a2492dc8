// The plug-in boundary: cycle counters, settings and their table, the host
// field accessor and the display name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "hk4_version.h"
#include "plugin/cycle_counters.h"
#include "plugin/host.h"
#include "plugin/plugin_state.h"
#include "settings/settings.h"

namespace hk4 {
namespace {

TEST(CycleCounters, ReverseSettleCountsTo1001ThenRunsFrom101) {
    CycleCounters c;
    for (int i = 0; i < 1001; ++i) c.Update();
    EXPECT_EQ(c.ReverseSettle, 1001);
    c.Update();
    EXPECT_EQ(c.ReverseSettle, 101);
    for (int i = 0; i < 900; ++i) c.Update();
    EXPECT_EQ(c.ReverseSettle, 1001);
    c.Update();
    EXPECT_EQ(c.ReverseSettle, 101);
}

TEST(CycleCounters, HoldsRunDownToZeroInExactlyThreeCyclesAndStayThere) {
    CycleCounters c;
    c.Update();
    EXPECT_EQ(c.StepJogHold, 0);
    EXPECT_EQ(c.WheelActiveHold, 0);
    c.StepJogHold = 3;
    c.WheelActiveHold = 3;
    const int expected[] = {2, 1, 0, 0};
    for (int want : expected) {
        c.Update();
        EXPECT_EQ(c.StepJogHold, want);
        EXPECT_EQ(c.WheelActiveHold, want);
    }
    // A negative hold (never set by the plug-in) keeps counting down rather
    // than being mistaken for "run out".
    c.StepJogHold = -1;
    c.Update();
    EXPECT_EQ(c.StepJogHold, -2);
}

TEST(Settings, WidthsAndStartValues) {
    static_assert(std::is_same_v<decltype(Settings::Vel), int16_t>);
    static_assert(std::is_same_v<decltype(Settings::StepJogRate), int32_t>);
    static_assert(std::is_same_v<decltype(Settings::DelaySteps), int32_t>);
    static_assert(std::is_same_v<decltype(Settings::PercentTime), int32_t>);
    const Settings s;
    EXPECT_EQ(s.Vel, 0);
    EXPECT_EQ(s.StepJogRate, 0);
    EXPECT_EQ(s.DelaySteps, 0);
    EXPECT_EQ(s.PercentTime, 0);
}

TEST(Settings, SensitivityTableGivesDivisorAndListText) {
    struct Row {
        int vel, divisor;
        const char* label;
    };
    const Row rows[] = {{0, 3, "1"}, {1, 4, "2"},  {2, 5, "3"},  {3, 6, "4"},  {4, 7, "5"},
                        {5, 9, "6"}, {6, 11, "7"}, {7, 15, "8"}, {8, 20, "9"}, {9, 25, "10"}};
    for (const Row& r : rows) {
        EXPECT_EQ(SensitivityDivisor(r.vel), r.divisor) << r.vel;
        EXPECT_EQ(SensitivityLabel(r.vel), r.label) << r.vel;
    }
    // Out of range values are clamped, never used as an index.
    EXPECT_EQ(SensitivityDivisor(-1), 3);
    EXPECT_EQ(SensitivityDivisor(12), 25);
    EXPECT_EQ(SensitivityDivisor(-32768), 3);
    EXPECT_EQ(SensitivityDivisor(32767), 25);
}

TEST(HostAccessor, ReadsAndWritesEachFieldAtItsByteOffset) {
    std::vector<unsigned char> motion(kMotionBlockSize, 0xAA), options(kOptionsBlockSize, 0),
        planner(kPlannerBlockSize, 0);
    Host host;
    host.blocks = HostBlocks{motion.data(), options.data(), planner.data(), nullptr};

    host.write(fields::JogStop.at(2), uint8_t{1});
    EXPECT_EQ(motion[163954 + 96 * 2], 1);
    EXPECT_EQ(motion[163954 + 96 * 2 + 1], 0xAA);  // one byte, no more
    EXPECT_EQ(motion[163954 + 96 * 2 - 1], 0xAA);

    host.write(fields::JogDirection.at(4), int32_t{0x01020304});
    EXPECT_EQ(motion[163960 + 96 * 4], 0x04);  // little-endian, unaligned-safe
    EXPECT_EQ(motion[163960 + 96 * 4 + 3], 0x01);

    const double angle = 30.0;
    std::memcpy(&options[133672], &angle, sizeof angle);
    EXPECT_EQ(host.read(fields::RotationAngle), 30.0);

    const int32_t rate = 12345;
    std::memcpy(&planner[801608 + 4 * 3], &rate, sizeof rate);
    EXPECT_EQ(host.read(fields::AxisFullRate.at(3)), 12345);
    // Axis indices outside 0..5 never leave the array.
    EXPECT_EQ(fields::AxisFullRate.at(9).offset, 801608u + 4 * 5);
    EXPECT_EQ(fields::AxisFullRate.at(-1).offset, 801608u);
    // The odd-offset busy byte sits at the block's last byte.
    motion[166367] = 7;
    EXPECT_EQ(host.read(fields::MotionBusy), 7);
}

TEST(HostAccessor, BlocksNotGivenReadZeroAndDropWrites) {
    Host host;
    EXPECT_EQ(host.read(fields::StepSize), 0.0);
    host.write(fields::JogStop.at(0), uint8_t{1});  // must not crash
    EXPECT_FALSE(host.SetStatusText(" Jog OFF. "));
    // Callbacks never installed are skipped.
    host.DoButton(323);
    host.Code("G90");
    EXPECT_EQ(host.GetDRO(3), 0.0);
    EXPECT_FALSE(host.GetLED(800));
}

int32_t g_lastButton = 0;
uint8_t g_ledValue = 0;

TEST(HostAccessor, AnyNonZeroLedByteReadsAsOn) {
    Host host;
    host.callbacks.GetLED = [](int32_t) -> uint8_t { return g_ledValue; };
    host.callbacks.DoButton = [](int32_t code) { g_lastButton = code; };
    for (uint8_t v : {uint8_t{0}, uint8_t{1}, uint8_t{2}, uint8_t{0x80}, uint8_t{0xFF}}) {
        g_ledValue = v;
        EXPECT_EQ(host.GetLED(800), v != 0) << int(v);
    }
    host.DoButton(1021);
    EXPECT_EQ(g_lastButton, 1021);
}

TEST(DisplayName, FileNameWithoutDirectoryAndLastExtension) {
    // The suffix carries the project's version, the one the build was given.
    const std::string suffix = std::string(" Pendant --Zentorin Ver ") + HK4_VERSION_TEXT;
    EXPECT_EQ(MakeDisplayName("C:\\CncHost\\PlugIns\\HalvexK4.dll"), "HalvexK4" + suffix);
    EXPECT_EQ(MakeDisplayName("C:\\x\\a.b.dll"), "a.b" + suffix);
    EXPECT_EQ(ModuleBaseName("C:/dir.v2/plugin"), "plugin");
    EXPECT_EQ(ModuleBaseName("plain"), "plain");
}

TEST(DisplayName, VersionTextIsTheVersionNumbers) {
    const std::string numbers = std::to_string(HK4_VERSION_MAJOR) + "." +
                                std::to_string(HK4_VERSION_MINOR) + "." +
                                std::to_string(HK4_VERSION_PATCH);
    EXPECT_EQ(HK4_VERSION_TEXT, numbers);
    EXPECT_EQ(HK4_FILE_VERSION_TEXT, numbers + ".0");
}

}  // namespace
}  // namespace hk4
