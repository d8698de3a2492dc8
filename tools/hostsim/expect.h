// Expectations on the trace: which lines of a stretch of the trace are
// looked at, and how they must match the lines a scenario expects.
#pragma once

#include <string>
#include <vector>

namespace hostsim {

// A trace line's kind: its first character ("<", "!", "~", ">", "=") and its
// name, the word after it ("DoButton", "CreateFileA", "write", "tick").
// A selector is either; an empty selector list takes every line.
bool Selected(const std::string& line, const std::vector<std::string>& selectors);

// Notes ("# ...") and detected faults ("error: ...") are never matched:
// faults fail the run on their own.
bool Matchable(const std::string& line);

// `*` in a pattern stands for any run of characters.
bool GlobMatch(const std::string& pattern, const std::string& text);

enum class ExpectKind {
    Exact,  // the selected lines are exactly these; a line "..." stands for any run
    Has,    // these lines appear in this order; anything may lie between
    None,   // no selected line at all
};

struct Expectation {
    ExpectKind kind = ExpectKind::Exact;
    std::vector<std::string> selectors;
    std::vector<std::string> lines;
};

// Checks `window` (the trace since the previous expectation). On failure
// returns false and fills `report` with a readable diff.
bool Check(const Expectation& e, const std::vector<std::string>& window, std::string& report);

}  // namespace hostsim
