// The names of a replacement's short-lived files: beside the target, never
// longer than it, never the target itself.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "settings/file_replace_names.h"

namespace hk4 {
namespace {

std::vector<std::wstring> AllOf(const std::wstring& target) {
    SiblingNames names(target);
    std::vector<std::wstring> all;
    for (std::wstring path = names.Next(); !path.empty(); path = names.Next()) all.push_back(path);
    EXPECT_TRUE(names.Next().empty()) << "no more after the end";
    return all;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

TEST(SiblingNames, StayBesideTheTargetAndNoLongerThanIt) {
    struct Case {
        const char* what;
        std::wstring target;
        std::wstring folder;  // every candidate starts with it
        std::vector<std::wstring> first;
        std::size_t count;
    };
    const std::wstring longFolder = L"\\\\?\\C:\\" + std::wstring(240, L'd') + L"\\";
    const Case cases[] = {
        {"a usual profile",
         L"C:\\CncHost\\profile.xml",
         L"C:\\CncHost\\",
         {L"C:\\CncHost\\~hk40.tmp", L"C:\\CncHost\\~hk41.tmp"},
         SiblingNames::kMaxCandidates},
        {"past the tagged form's digits, shorter names follow",
         L"C:\\p\\profile.x",
         L"C:\\p\\",
         {L"C:\\p\\~hk40.tmp"},
         SiblingNames::kMaxCandidates},
        {"one character: other single characters",
         L"C:\\p\\a",
         L"C:\\p\\",
         {L"C:\\p\\~", L"C:\\p\\0", L"C:\\p\\1"},
         36},
        {"one character that is the first candidate",
         L"C:\\p\\~",
         L"C:\\p\\",
         {L"C:\\p\\0", L"C:\\p\\1"},
         36},
        {"two characters", L"C:\\p\\ab", L"C:\\p\\", {L"C:\\p\\~0", L"C:\\p\\~1"}, 36},
        {"a name that is a candidate, in capitals",
         L"C:\\p\\~HK40.TMP",
         L"C:\\p\\",
         {L"C:\\p\\~hk41.tmp"},
         SiblingNames::kMaxCandidates - 1},
        {"forward slashes",
         L"C:/p/profile.xml",
         L"C:/p/",
         {L"C:/p/~hk40.tmp"},
         SiblingNames::kMaxCandidates},
        {"no folder", L"profile.xml", L"", {L"~hk40.tmp"}, SiblingNames::kMaxCandidates},
        {"relative to a drive",
         L"C:p.xml",
         L"C:",
         {L"C:~0", L"C:~1"},
         SiblingNames::kMaxCandidates},
        {"the long-path form keeps its prefix",
         longFolder + L"profile.xml",
         longFolder,
         {longFolder + L"~hk40.tmp"},
         SiblingNames::kMaxCandidates},
        {"a folder, not a file", L"C:\\p\\", L"C:\\p\\", {}, 0},
        {"nothing", L"", L"", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::wstring> all = AllOf(c.target);
        ASSERT_EQ(all.size(), c.count);
        ASSERT_GE(all.size(), c.first.size());
        EXPECT_EQ(std::vector<std::wstring>(all.begin(), all.begin() + c.first.size()), c.first);
        std::set<std::wstring> seen;
        for (const std::wstring& path : all) {
            SCOPED_TRACE(std::string(path.begin(), path.end()));
            EXPECT_LE(path.size(), c.target.size());
            ASSERT_EQ(path.compare(0, c.folder.size(), c.folder), 0);
            const std::wstring name = path.substr(c.folder.size());
            EXPECT_FALSE(name.empty());
            EXPECT_EQ(name.find_first_of(L"\\/:"), std::wstring::npos);
            EXPECT_NE(Lower(path), Lower(c.target));
            EXPECT_TRUE(seen.insert(Lower(path)).second) << "twice";
        }
    }
}

// Every name length gets candidates, all fitting, none the target.
TEST(SiblingNames, EveryNameLengthHasFittingCandidates) {
    for (std::size_t length = 1; length <= 20; ++length) {
        for (const wchar_t fill : {L'a', L'~', L'0'}) {
            const std::wstring target = L"D:\\x\\" + std::wstring(length, fill);
            SCOPED_TRACE(std::string(target.begin(), target.end()));
            const std::vector<std::wstring> all = AllOf(target);
            EXPECT_GE(all.size(), 35u);
            for (const std::wstring& path : all) {
                EXPECT_LE(path.size(), target.size());
                EXPECT_NE(path, target);
            }
        }
    }
}

}  // namespace
}  // namespace hk4
