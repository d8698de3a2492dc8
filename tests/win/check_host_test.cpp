// The machine of the pendant check window: what the host does with the
// plug-in's callbacks, and the actions it tells in plain words.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pendantcheck/check_host.h"

namespace {

using pendantcheck::CheckHost;

std::wstring Newest(const CheckHost& host) {
    return host.actions().empty() ? L"" : host.actions().front().text;
}

// The check window's blocks as the plug-in reaches them.
void View(CheckHost& host, hk4::Host& view) {
    view.blocks = {host.motion(), host.options(), host.planner(), host.parentObject()};
}

// A continuous jog as the plug-in starts one: the record, then "DOJOG".
void StartJog(CheckHost& host, int axis, int direction, int32_t velocity) {
    hk4::Host view;
    View(host, view);
    view.write(hk4::fields::JogDirection.at(axis), direction);
    view.write(hk4::fields::JogVelocity.at(axis), velocity);
    view.write(hk4::fields::JogStop.at(axis), uint8_t{0});
    view.write(hk4::fields::JogStart.at(axis), uint8_t{1});
    host.OnCode("DOJOG");
}

TEST(CheckHost, StepLinesMoveTheirAxesAndSayHowFar) {
    const struct {
        const char* line;
        double x, y, z;
        const wchar_t* action;
    } cases[] = {
        {"G91G1 F100 X 0.0100", 0.01, 0, 0, L"Step X +0.0100"},
        {"G91G1 Z -0.0030", 0, 0, -0.003, L"Step Z -0.0030"},
        {"G91G1 X0.0071 Y-0.0071 ", 0.0071, -0.0071, 0, L"Rotated step X +0.0071 Y -0.0071"},
        {"G90", 0, 0, 0, L""},
    };
    for (const auto& c : cases) {
        CheckHost host(nullptr);
        host.OnCode(c.line);
        EXPECT_DOUBLE_EQ(host.position[0], c.x) << c.line;
        EXPECT_DOUBLE_EQ(host.position[1], c.y) << c.line;
        EXPECT_DOUBLE_EQ(host.position[2], c.z) << c.line;
        EXPECT_EQ(Newest(host), c.action) << c.line;
    }
}

TEST(CheckHost, AJogMovesUntilEndjogOrItsStopFlag) {
    CheckHost host(nullptr);
    host.OnCode("ENDJOG");  // sent while the wheel rests: no jog to end
    EXPECT_TRUE(host.actions().empty());
    StartJog(host, 1, 1, 3000);
    EXPECT_EQ(Newest(host), L"Jog Y down at 3000 per minute");
    host.Advance(1000);  // 3000 per minute for one second
    EXPECT_NEAR(host.position[1], -50.0, 1e-9);
    StartJog(host, 1, 1, 1200);  // the speed follows the wheel: one line
    EXPECT_EQ(Newest(host), L"Jog Y down at 1200 per minute");
    EXPECT_EQ(host.actions().size(), 1u);
    host.OnCode("ENDJOG");
    EXPECT_EQ(Newest(host), L"Jog Y ends");
    host.Advance(1000);
    EXPECT_NEAR(host.position[1], -50.0, 1e-9);

    // A reversal stops the jog through its record alone.
    StartJog(host, 0, 0, 600);
    hk4::Host view;
    View(host, view);
    view.write(hk4::fields::JogStop.at(0), uint8_t{1});
    host.Advance(1000);
    EXPECT_EQ(Newest(host), L"Jog X stops");
    EXPECT_DOUBLE_EQ(host.position[0], 0.0);
}

TEST(CheckHost, ButtonsAndDrosAsTheHostAnswersThem) {
    CheckHost host(nullptr);
    host.OnDoButton(1021);  // the host's button action switches LED 800
    EXPECT_TRUE(host.Led(pendantcheck::kLampLed));
    EXPECT_EQ(Newest(host), L"Pendant button (its action now on)");
    host.OnDoButton(336);
    host.OnDoButton(336);
    EXPECT_EQ(Newest(host), L"Axis action Z");
    EXPECT_EQ(host.actions().front().repeats, 2);
    host.OnSetDro(3, 52.5);
    host.OnSetDro(3, 55.0);  // one line for the value as it changes
    EXPECT_EQ(Newest(host), L"Jog rate 55.0 %");
    EXPECT_DOUBLE_EQ(host.Dro(3), 55.0);
    const std::size_t lines = host.actions().size();
    host.OnSetDro(821, 100.0);  // the value it held: nothing to tell
    EXPECT_EQ(host.actions().size(), lines);
}

}  // namespace
