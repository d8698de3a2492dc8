// How the simulator matches expected trace lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostsim/expect.h"

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

}  // namespace
