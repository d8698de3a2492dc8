// The pendant check window's words: its number fields as a machinist types
// them, and the device path cut to what tells two ports apart.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "pendantcheck/window_text.h"

namespace {

using pendantcheck::NumberField;
using pendantcheck::ReadNumberField;

const NumberField kFullRate{
    L"Full rate", L"a whole number of units per minute", 1, 1000000, L"1", L"1000000", true};
const NumberField kStepSize{L"Step size", L"a distance in units", 0.0001, 100, L"0.0001", L"100",
                            false};

TEST(NumberField, TakesTheWholeTextAsADecimalNumberOrRefusesItSayingWhy) {
    const std::wstring fullRate = L"Full rate: a whole number of units per minute, 1 to 1000000.";
    const std::wstring stepSize = L"Step size: a distance in units, 0.0001 to 100.";
    struct Case {
        const NumberField& field;
        const wchar_t* text;
        std::optional<double> value;
        std::wstring refusal;
    };
    const Case cases[] = {
        {kFullRate, L"3000", 3000, L""},
        {kFullRate, L"  +3000 ", 3000, L""},
        {kFullRate, L"3000.0", 3000, L""},
        {kFullRate, L"1.9", std::nullopt, fullRate},  // refused, not cut to 1
        {kFullRate, L"0x10", std::nullopt, fullRate},
        {kFullRate, L"1e3", std::nullopt, fullRate},
        {kFullRate, L"100abc", std::nullopt, fullRate},
        {kFullRate, L"", std::nullopt, fullRate},
        {kFullRate, L"0", std::nullopt, fullRate},
        {kFullRate, L"1000001", std::nullopt, fullRate},
        {kFullRate, L"99999999999999999999999", std::nullopt, fullRate},
        {kFullRate, L"-5", std::nullopt, fullRate},
        {kStepSize, L"0.01", 0.01, L""},
        {kStepSize, L".5", 0.5, L""},
        {kStepSize, L"0x10", std::nullopt, stepSize},  // not 16
        {kStepSize, L"1.2.3", std::nullopt, stepSize},
        {kStepSize, L"inf", std::nullopt, stepSize},
        {kStepSize, L"0,01", std::nullopt,
         L"Step size: \"0,01\" has a comma; write a decimal point (0.01)."},
        {kStepSize, L"1,000.5", std::nullopt, stepSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        const pendantcheck::FieldReading r = ReadNumberField(c.field, c.text);
        EXPECT_EQ(r.value, c.value);
        EXPECT_EQ(r.refusal, c.refusal);
    }
}

TEST(DevicePath, ShowsTheInstanceThatTellsTwoPortsApart) {
    const struct {
        const char* path;
        const char* shown;
    } cases[] = {
        {"\\\\?\\hid#vid_04d8&pid_fce1#7&1f2e0001&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
         "7&1f2e0001&0&0000"},
        {"\\\\?\\HID#VID_04D8&PID_FCE1#1#{4d1e55b2-f16f-11cf-88cb-001111000030}", "1"},
        {"\\\\?\\hid#vid_04d8&pid_fce1#2", "2"},
        {"\\\\.\\pendant", "\\\\.\\pendant"},
    };
    for (const auto& c : cases) EXPECT_EQ(pendantcheck::ShortDevicePath(c.path), c.shown);
}

}  // namespace
