// How the simulator matches expected trace lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostsim/expect.h"
#include "hostsim/record_sizes.h"

namespace {

using hostsim::Check;
using hostsim::Expectation;
using hostsim::ExpectKind;
using hostsim::GlobMatch;

TEST(Expect, GlobStarMatchesAnyRun) {
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    } const cases[] = {
        {"! CreateFileA * access=0 *", "! CreateFileA \"\\\\?\\hid#x\" access=0 share=READ", true},
        {"! CreateFileA * access=0 *", "! CreateFileA \"p\" access=GENERIC_READ share=0", false},
        {"~ tick 1 at *", "~ tick 1 at 25ms", true},
        {"~ tick 1 at *", "~ tick 12 at 300ms", false},
        {"< Code \"ENDJOG\"", "< Code \"ENDJOG\"", true},
        {"< Code \"ENDJOG\"", "< Code \"ENDJOG\" ", false},
        {"*", "", true},
    };
    for (const Case& c : cases) EXPECT_EQ(GlobMatch(c.pattern, c.text), c.match) << c.pattern;
}

TEST(Expect, SelectedLinesMustMatchExactlyWithGapsWhereAllowed) {
    const std::vector<std::string> window = {
        "> StopPlug",
        "! CloseHandle read#2 -> TRUE",
        "# a note never counts",
        "error: faults are reported on their own",
        "< write JogStop[0] = 1",
        "< Code \"ENDJOG\"",
        "! CloseHandle write#3 -> TRUE",
    };
    struct Case {
        ExpectKind kind;
        std::vector<std::string> selectors;
        std::vector<std::string> lines;
        bool pass;
    } const cases[] = {
        {ExpectKind::Exact, {"<"}, {"< write JogStop[0] = 1", "< Code \"ENDJOG\""}, true},
        {ExpectKind::Exact, {"Code"}, {"< Code \"ENDJOG\"", "< Code \"ENDJOG\""}, false},
        {ExpectKind::Exact, {"CloseHandle"}, {"! CloseHandle read#2 -> TRUE"}, false},
        {ExpectKind::Exact, {}, {"> StopPlug", "...", "! CloseHandle write#3 -> TRUE"}, true},
        {ExpectKind::Exact, {}, {"> StopPlug", "...", "< Code *", "..."}, true},
        {ExpectKind::Exact, {}, {"...", "> StopPlug"}, false},
        {ExpectKind::Has, {}, {"> StopPlug", "< Code \"ENDJOG\""}, true},
        {ExpectKind::Has, {}, {"< Code \"ENDJOG\"", "> StopPlug"}, false},
        {ExpectKind::None, {"DoButton"}, {}, true},
        {ExpectKind::None, {"write"}, {}, false},
    };
    for (const Case& c : cases) {
        Expectation e;
        e.kind = c.kind;
        e.selectors = c.selectors;
        e.lines = c.lines;
        std::string report;
        EXPECT_EQ(Check(e, window, report), c.pass) << (c.lines.empty() ? "" : c.lines[0]);
        EXPECT_EQ(report.empty(), c.pass);
    }
}

// Expected lines name the record sizes that differ between the 32-bit and
// the x64 build; each build puts in its own.
TEST(Expect, RecordSizesAreThoseOfThisBuild) {
    const std::string ifd = std::to_string(sizeof(void*) == 4 ? 28 : 32);
    const std::string det = std::to_string(sizeof(void*) == 4 ? 5 : 8);
    struct Case {
        std::string line;
        bool ok;
        std::string expanded;
    } const cases[] = {
        {"! SetupDiEnumDeviceInterfaces list#1 HID 0 cbSize=sizeof(SP_DEVICE_INTERFACE_DATA) -> "
         "TRUE",
         true, "! SetupDiEnumDeviceInterfaces list#1 HID 0 cbSize=" + ifd + " -> TRUE"},
        {"a=sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) b=sizeof(HIDD_ATTRIBUTES)", true,
         "a=" + det + " b=12"},
        {"sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)sizeof(void*)", true,
         "32" + std::to_string(sizeof(void*))},
        {"~ no sizes here {4d1e55b2-f16f-11cf-88cb-001111000030}", true,
         "~ no sizes here {4d1e55b2-f16f-11cf-88cb-001111000030}"},
        {"cbSize=sizeof(SP_DEVINFO_DATA)", false, ""},
        {"cbSize=sizeof(HIDD_ATTRIBUTES", false, ""},
    };
    for (const Case& c : cases) {
        std::string out, error;
        ASSERT_EQ(hostsim::ExpandRecordSizes(c.line, out, error), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(out, c.expanded);
        } else {
            EXPECT_FALSE(error.empty()) << c.line;
        }
    }
}

}  // namespace
