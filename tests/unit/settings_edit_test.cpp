// The configuration dialog's decisions: reading the edits, what OK takes,
// and the reread / write-back sequence around the dialog.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings_edit.h"

namespace hk4 {
namespace {

TEST(ParseEditInt, ReadsLikeScanfDecimalAndSaturates) {
    const std::optional<int32_t> none;
    struct Case {
        std::string text;
        std::optional<int32_t> want;
    } cases[] = {
        {"25", 25},
        {"0", 0},
        {"-3", -3},
        {"+7", 7},
        {"007", 7},
        {"  \t\r\n\v\f42", 42},  // every white space scanf skips
        {"12abc", 12},           // the rest is ignored
        {"12 34", 12},
        {"3.9", 3},
        {"", none},
        {"   ", none},
        {"abc", none},
        {"x12", none},
        {"-", none},
        {"+", none},
        {"- 5", none},  // the sign must touch the digits
        {"+-5", none},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", INT32_MAX},  // one past: saturates rather than wrapping
        {"-2147483649", INT32_MIN},
        {"99999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999", INT32_MIN},
        {std::string(62, ' ') + "5", 5},     // the 63rd character is still read
        {std::string(63, ' ') + "5", none},  // the 64th is not
        {"12" + std::string(61, '0') + "9", INT32_MAX},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseEditInt(c.text), c.want) << '"' << c.text << '"';
    }
}

TEST(VelFromSelection, ASelectedEntryWinsElseAValidVelStaysElseTheDefault) {
    struct Case {
        int selection;
        int16_t current;
        int16_t want;
    } cases[] = {
        {0, 5, 0},   {9, 5, 9},   {4, -1, 4},   // an entry is taken as it is
        {-1, 7, 7},  {-1, 0, 0},  {-1, 9, 9},   // none selected: a valid Vel stays
        {-1, 10, 2}, {-1, -1, 2}, {-1, 12, 2},  // an out-of-table Vel is never stored
        {10, 5, 5},                             // an index past the table counts as no selection
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VelFromSelection(c.selection, c.current), c.want)
            << c.selection << " " << c.current;
    }
}

TEST(InitialFields, SelectsVelOnlyInsideTheTableAndShowsDecimals) {
    Settings s;
    s.StepJogRate = 100;
    s.DelaySteps = 25;
    s.PercentTime = -3;
    for (int vel : {-1, 0, 2, 9, 10, 12, -32768}) {
        s.Vel = static_cast<int16_t>(vel);
        const DialogFields f = InitialFields(s);
        EXPECT_EQ(f.selection, vel >= 0 && vel <= 9 ? vel : -1) << vel;
        EXPECT_EQ(f.feedRate, "100");
        EXPECT_EQ(f.delaySteps, "25");
        EXPECT_EQ(f.displayTime, "-3");
    }
}

Settings Values(int16_t vel, int32_t rate, int32_t delay, int32_t time) {
    Settings s;
    s.Vel = vel;
    s.StepJogRate = rate;
    s.DelaySteps = delay;
    s.PercentTime = time;
    return s;
}

void ExpectSame(const Settings& a, const Settings& b) {
    EXPECT_EQ(a.Vel, b.Vel);
    EXPECT_EQ(a.StepJogRate, b.StepJogRate);
    EXPECT_EQ(a.DelaySteps, b.DelaySteps);
    EXPECT_EQ(a.PercentTime, b.PercentTime);
}

TEST(ConfirmFields, TheFirstEditWithoutAnIntegerRefusesEverything) {
    const Settings current = Values(2, 100, 25, 3);
    struct Case {
        DialogFields fields;
        int refused;
    } cases[] = {
        {{4, "x", "y", "z"}, IDC_FEED_RATE},  // checked in the order 4164, 4165, 4166
        {{4, "1", "y", "z"}, IDC_DELAY_STEPS},  {{4, "1", "2", "z"}, IDC_DISPLAY_TIME},
        {{4, "1", "", "3"}, IDC_DELAY_STEPS},  // empty is refused like letters
        {{4, "1", "2", " "}, IDC_DISPLAY_TIME},
    };
    for (const Case& c : cases) {
        const OkOutcome out = ConfirmFields(c.fields, current);
        EXPECT_EQ(out.refusedEdit, c.refused);
        ExpectSame(out.settings, current);
    }
}

TEST(ConfirmFields, AcceptedValuesGoToTheirSettings) {
    // 4164 is the feed rate, 4165 the delay, 4166 the display time.
    const OkOutcome out = ConfirmFields({7, "12abc", " 500", "-4"}, Values(2, 100, 25, 3));
    EXPECT_EQ(out.refusedEdit, 0);
    ExpectSame(out.settings, Values(7, 12, 500, -4));
    // Unchanged fields store the same values again.
    const Settings s = Values(3, 80, 10, 0);
    const OkOutcome same = ConfirmFields(InitialFields(s), s);
    EXPECT_EQ(same.refusedEdit, 0);
    ExpectSame(same.settings, s);
    // No list entry: the mend keeps a valid Vel and replaces an invalid one.
    ExpectSame(ConfirmFields({-1, "1", "2", "3"}, Values(6, 0, 0, 0)).settings, Values(6, 1, 2, 3));
    ExpectSame(ConfirmFields({-1, "1", "2", "3"}, Values(12, 0, 0, 0)).settings,
               Values(2, 1, 2, 3));
}

// A store that records every call, in order.
struct RecordingStore {
    std::map<std::string, int32_t> values;  // key -> stored value
    std::vector<std::string> calls;

    int32_t GetInt(const std::string& section, const std::string& key, int32_t def) {
        calls.push_back("get " + section + "/" + key + " " + std::to_string(def));
        const auto it = values.find(key);
        return it == values.end() ? def : it->second;
    }
    bool SetInt(const std::string& section, const std::string& key, int32_t value) {
        calls.push_back("set " + section + "/" + key + " " + std::to_string(value));
        values[key] = value;
        return true;
    }
};

TEST(EditSettingsOn, RereadsWithTheDialogDefaultsThenWritesAllFourBackInOrder) {
    RecordingStore store;
    Settings settings = Values(0, 100, 25, 3);  // as start-up leaves an empty profile
    bool ran = false;
    EditSettingsOn(store, settings, [&] {
        ran = true;
        ExpectSame(settings, Values(2, 100, 25, 3));  // the dialog opens on the reread values
        store.calls.push_back("dialog");
    });
    EXPECT_TRUE(ran);
    const std::vector<std::string> want = {
        "get Halvex_K4_Pendant/Vel 2",
        "get Halvex_K4_Pendant/StepJogRate 100",
        "get Halvex_K4_Pendant/PercentTime 3",
        "get Halvex_K4_Pendant/DelaySteps 25",
        "dialog",
        "set Halvex_K4_Pendant/Vel 2",
        "set Halvex_K4_Pendant/StepJogRate 100",
        "set Halvex_K4_Pendant/PercentTime 3",
        "set Halvex_K4_Pendant/DelaySteps 25",
    };
    EXPECT_EQ(store.calls, want);
}

TEST(EditSettingsOn, TheRereadReplacesTheVariablesAndWhatTheDialogConfirmsIsStored) {
    RecordingStore store;
    store.values = {{"Vel", 65536 + 4}, {"StepJogRate", 60}, {"PercentTime", 0}, {"DelaySteps", 9}};
    Settings settings = Values(1, 1, 1, 1);
    EditSettingsOn(store, settings, [&] {
        ExpectSame(settings, Values(4, 60, 9, 0));
        settings = Values(-1, 70, 8, 5);  // what OK made of the user's input
    });
    EXPECT_EQ(store.values["Vel"], -1);  // the 16-bit Vel widens with its sign
    EXPECT_EQ(store.values["StepJogRate"], 70);
    EXPECT_EQ(store.values["DelaySteps"], 8);
    EXPECT_EQ(store.values["PercentTime"], 5);
    ExpectSame(settings, Values(-1, 70, 8, 5));
}

}  // namespace
}  // namespace hk4
