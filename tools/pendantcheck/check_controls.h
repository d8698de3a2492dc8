// The pendant check window's controls that show or change something, with
// the names a test reads them by (tools/pendantcheck/checkprobe.cpp).
#pragma once

namespace pendantcheck {

inline constexpr wchar_t kWindowClass[] = L"HalvexK4PendantCheck";

enum ControlId : int {
    kLink = 100,
    kWhere,
    kPlugin,
    kAxis,
    kFunction,
    kInhibit,
    kButton,
    kWheel,
    kLamp,
    kLed800,  // check box: the host's LED 800, which the lamp follows
    kLed83,   // check box: the host's jog switch
    kPositionX,
    kPositionY,
    kPositionZ,
    kPositionA,
    kPositionB,
    kJog,
    kJogRate,
    kFeedOverride,
    kDro74Label,
    kTabScreen,
    kMessage,
    kStepSizeEdit,
    kFullRateEdit,
    kJogRateEdit,
    kApply,
    kConfig,
    kActions,
};

struct NamedControl {
    int id;
    const char* name;
};

inline constexpr NamedControl kNamedControls[] = {
    {kLink, "link"},
    {kWhere, "where"},
    {kPlugin, "plugin"},
    {kAxis, "axis"},
    {kFunction, "function"},
    {kInhibit, "inhibit"},
    {kButton, "button"},
    {kWheel, "wheel"},
    {kLamp, "lamp"},
    {kLed800, "led800"},
    {kLed83, "led83"},
    {kPositionX, "x"},
    {kPositionY, "y"},
    {kPositionZ, "z"},
    {kPositionA, "a"},
    {kPositionB, "b"},
    {kJog, "jog"},
    {kJogRate, "jog-rate"},
    {kFeedOverride, "feed-override"},
    {kDro74Label, "dro74"},
    {kTabScreen, "tab"},
    {kMessage, "message"},
    {kStepSizeEdit, "step-size"},
    {kFullRateEdit, "full-rate"},
    {kJogRateEdit, "jog-rate-edit"},
    {kApply, "apply"},
    {kConfig, "config"},
    {kActions, "actions"},
};

}  // namespace pendantcheck
