#include "hostsim/expect.h"

#include <algorithm>

namespace hostsim {

namespace {

std::string NameOf(const std::string& line) {
    if (line.size() < 3 || line[1] != ' ') return std::string();
    const std::size_t end = line.find(' ', 2);
    return line.substr(2, end == std::string::npos ? std::string::npos : end - 2);
}

std::vector<std::string> Filter(const std::vector<std::string>& window,
                                const std::vector<std::string>& selectors) {
    std::vector<std::string> out;
    for (const std::string& l : window)
        if (Matchable(l) && Selected(l, selectors)) out.push_back(l);
    return out;
}

bool IsGap(const std::string& pattern) {
    return pattern == "...";
}

// Whole-list match of patterns (with "..." gaps) against lines.
bool ListMatch(const std::vector<std::string>& p, const std::vector<std::string>& a) {
    // ok[i][j]: p[i..] matches a[j..]
    std::vector<std::vector<char>> ok(p.size() + 1, std::vector<char>(a.size() + 1, 0));
    ok[p.size()][a.size()] = 1;
    for (std::size_t i = p.size(); i-- > 0;) {
        for (std::size_t j = a.size() + 1; j-- > 0;) {
            if (IsGap(p[i]))
                ok[i][j] = ok[i + 1][j] || (j < a.size() && ok[i][j + 1]);
            else
                ok[i][j] = j < a.size() && GlobMatch(p[i], a[j]) && ok[i + 1][j + 1];
        }
    }
    return ok[0][0];
}

// A line-by-line diff (longest common subsequence) for the report.
std::string Diff(const std::vector<std::string>& p, const std::vector<std::string>& a) {
    std::vector<std::string> q;
    for (const std::string& s : p)
        if (!IsGap(s)) q.push_back(s);
    std::vector<std::vector<int>> l(q.size() + 1, std::vector<int>(a.size() + 1, 0));
    for (std::size_t i = q.size(); i-- > 0;)
        for (std::size_t j = a.size(); j-- > 0;)
            l[i][j] =
                GlobMatch(q[i], a[j]) ? l[i + 1][j + 1] + 1 : std::max(l[i + 1][j], l[i][j + 1]);
    std::string out;
    std::size_t i = 0, j = 0;
    while (i < q.size() || j < a.size()) {
        if (i < q.size() && j < a.size() && GlobMatch(q[i], a[j])) {
            out += "    " + a[j] + "\n";
            ++i;
            ++j;
        } else if (j < a.size() && (i == q.size() || l[i][j + 1] >= l[i + 1][j])) {
            out += "  + " + a[j++] + "\n";
        } else {
            out += "  - " + q[i++] + "\n";
        }
    }
    return out;
}

}  // namespace

bool Matchable(const std::string& line) {
    return !line.empty() && line[0] != '#' && line.compare(0, 6, "error:") != 0;
}

bool Selected(const std::string& line, const std::vector<std::string>& selectors) {
    if (selectors.empty()) return true;
    const std::string name = NameOf(line);
    for (const std::string& s : selectors) {
        if (s.size() == 1 && line[0] == s[0]) return true;
        if (s == name) return true;
    }
    return false;
}

bool GlobMatch(const std::string& pattern, const std::string& text) {
    std::size_t p = 0, t = 0, star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool Check(const Expectation& e, const std::vector<std::string>& window, std::string& report) {
    const std::vector<std::string> actual = Filter(window, e.selectors);
    switch (e.kind) {
        case ExpectKind::Exact:
            if (ListMatch(e.lines, actual)) return true;
            report =
                "  (- expected but missing, + traced but not expected)\n" + Diff(e.lines, actual);
            return false;
        case ExpectKind::None:
            if (actual.empty()) return true;
            report = "  traced, but none was expected:\n";
            for (const std::string& l : actual) report += "  + " + l + "\n";
            return false;
        case ExpectKind::Has: {
            std::size_t j = 0;
            for (std::size_t i = 0; i < e.lines.size(); ++i) {
                while (j < actual.size() && !GlobMatch(e.lines[i], actual[j])) ++j;
                if (j == actual.size()) {
                    // Show what was traced of the kinds expected.
                    std::vector<std::string> names;
                    for (const std::string& l : e.lines) names.push_back(NameOf(l));
                    report = "  not found in order: " + e.lines[i] + "\n  traced of these kinds:\n";
                    int shown = 0;
                    for (const std::string& l : actual) {
                        if (std::find(names.begin(), names.end(), NameOf(l)) == names.end())
                            continue;
                        if (++shown > 80) {
                            report += "    ...\n";
                            break;
                        }
                        report += "    " + l + "\n";
                    }
                    return false;
                }
                ++j;
            }
            return true;
        }
    }
    return false;
}

}  // namespace hostsim
