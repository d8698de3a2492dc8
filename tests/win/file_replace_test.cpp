// Replacing a file in one piece, on this program's copy of the plug-in's
// code: what is replaced, what is refused, and what the replaced file keeps.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "file_identity.h"
#include "settings/file_replace_win32.h"
#include "win_test_support.h"

namespace {

using hk4test::Attributes;
using hk4test::NamesIn;

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += static_cast<char>(c);
    return out;
}

// Writes `bytes` to the temporary file as MSXML would: the file exists,
// empty, and is opened anew.
bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    return hk4test::WriteFile(Narrow(path), bytes);
}

// Replaces `path` with "new", checking the temporary file's place and name.
bool ReplaceWithNew(const std::string& path) {
    const std::wstring target = Wide(path);
    return hk4::ReplaceFileContent(target, [&](const std::wstring& temp) {
        EXPECT_LE(temp.size(), target.size());
        EXPECT_EQ(temp.substr(0, temp.find_last_of(L'\\')),
                  target.substr(0, target.find_last_of(L'\\')));
        return WriteBytes(temp, "new");
    });
}

TEST(FileReplace, ReplacesOrLeavesTheTargetWhole) {
    struct Case {
        const char* what;
        const char* name;
        std::optional<std::string> before;  // none: no file
        // Runs before the replacement; may hold a handle until the end.
        std::function<HANDLE(const std::string& dir, const std::string& path)> prepare;
        // Writes the temporary file.
        std::function<bool(const std::wstring& temp, const std::string& path)> write;
        bool replaced;
        std::string after;
        std::vector<std::string> files;
    };
    const auto none = [](const std::string&, const std::string&) { return INVALID_HANDLE_VALUE; };
    const auto writeNew = [](const std::wstring& temp, const std::string&) {
        return WriteBytes(temp, "new");
    };
    const Case cases[] = {
        {"a missing target is created",
         "profile.xml",
         std::nullopt,
         none,
         writeNew,
         true,
         "new",
         {"profile.xml"}},
        {"an existing target is replaced",
         "profile.xml",
         "old",
         none,
         writeNew,
         true,
         "new",
         {"profile.xml"}},
        {"an empty target is replaced",
         "profile.xml",
         "",
         none,
         writeNew,
         true,
         "new",
         {"profile.xml"}},
        {"a write that fails",
         "profile.xml",
         "old",
         none,
         [](const std::wstring& temp, const std::string&) {
             WriteBytes(temp, "half");
             return false;
         },
         false,
         "old",
         {"profile.xml"}},
        {"a write that leaves nothing",
         "profile.xml",
         "old",
         none,
         [](const std::wstring&, const std::string&) { return true; },
         false,
         "old",
         {"profile.xml"}},
        {"a read-only target",
         "profile.xml",
         "old",
         [](const std::string&, const std::string& path) {
             SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
             return INVALID_HANDLE_VALUE;
         },
         writeNew,
         false,
         "old",
         {"profile.xml"}},
        {"a target held open without sharing its deletion",
         "profile.xml",
         "old",
         [](const std::string&, const std::string& path) {
             return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
         },
         writeNew,
         false,
         "old",
         {"profile.xml"}},
        {"a target another writer creates meanwhile is theirs",
         "profile.xml",
         std::nullopt,
         none,
         [](const std::wstring& temp, const std::string& path) {
             return hk4test::WriteFile(path, "theirs") && WriteBytes(temp, "new");
         },
         false,
         "theirs",
         {"profile.xml"}},
        {"a name of one character", "a", "old", none, writeNew, true, "new", {"a"}},
        {"a name of one character, new", "~", std::nullopt, none, writeNew, true, "new", {"~"}},
        {"names taken by other files are passed over",
         "profile.xml",
         "old",
         [](const std::string& dir, const std::string&) {
             hk4test::WriteFile(dir + "\\~hk40.tmp", "other");
             CreateDirectoryA((dir + "\\~hk41.tmp").c_str(), nullptr);
             return INVALID_HANDLE_VALUE;
         },
         writeNew,
         true,
         "new",
         {"profile.xml", "~hk40.tmp", "~hk41.tmp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = hk4test::TempDir();
        const std::string path = dir + "\\" + c.name;
        if (c.before) {
            ASSERT_TRUE(hk4test::WriteFile(path, *c.before));
        }
        const HANDLE held = c.prepare(dir, path);
        const bool replaced = hk4::ReplaceFileContent(Wide(path), [&](const std::wstring& temp) {
            EXPECT_LE(temp.size(), path.size());
            return c.write(temp, path);
        });
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(replaced, c.replaced);
        EXPECT_EQ(hk4test::ReadFile(path), c.after);
        EXPECT_EQ(NamesIn(dir), c.files);
        if (c.files.size() > 1) {  // the other files are left as they were
            EXPECT_EQ(hk4test::ReadFile(dir + "\\~hk40.tmp"), "other");
            EXPECT_NE(Attributes(dir + "\\~hk41.tmp") & FILE_ATTRIBUTE_DIRECTORY, 0u);
        }
    }
}

// The replaced file keeps the attributes it had; archive is set, as after
// any write, so that backups see the change.
TEST(FileReplace, KeepsTheTargetsAttributes) {
    const DWORD cases[] = {
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE,
        FILE_ATTRIBUTE_HIDDEN,
        FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
        FILE_ATTRIBUTE_NORMAL,
    };
    for (const DWORD before : cases) {
        SCOPED_TRACE("attributes " + std::to_string(before));
        const std::string dir = hk4test::TempDir();
        const std::string path = dir + "\\profile.xml";
        ASSERT_TRUE(hk4test::WriteFile(path, "old"));
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), before));
        // Wine keeps archive on every file; hidden and system as set.
        constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        ASSERT_EQ(Attributes(path) & kHiddenSystem, before & kHiddenSystem);
        ASSERT_TRUE(ReplaceWithNew(path));
        EXPECT_EQ(hk4test::ReadFile(path), "new");
        const DWORD want = (before & kHiddenSystem) | FILE_ATTRIBUTE_ARCHIVE;
        EXPECT_EQ(Attributes(path), want);
        EXPECT_EQ(NamesIn(dir), std::vector<std::string>{"profile.xml"});
    }
}

// Owner, group and permissions. Only what this file system keeps can be
// shown: under Wine the permissions are the file's mode bits, and owner and
// group always the running account.
TEST(FileReplace, KeepsTheTargetsSecurity) {
    const std::string dir = hk4test::TempDir();
    const std::string path = dir + "\\profile.xml";
    const std::string fresh = dir + "\\fresh.xml";
    ASSERT_TRUE(hk4test::WriteFile(path, "old"));
    ASSERT_TRUE(hk4test::WriteFile(fresh, ""));
    // Only this account and the system, nobody else.
    ASSERT_TRUE(hk4test::SetSecurityText(path, "D:P(A;;FA;;;SY)(A;;FA;;;CU)"));
    const std::string before = hk4test::SecurityText(path);
    ASSERT_FALSE(before.empty());
    if (before == hk4test::SecurityText(fresh))
        GTEST_SKIP() << "this file system keeps no permissions but its own: " << before;
    DeleteFileA(fresh.c_str());
    ASSERT_TRUE(ReplaceWithNew(path));
    EXPECT_EQ(hk4test::ReadFile(path), "new");
    EXPECT_EQ(hk4test::SecurityText(path), before);
    EXPECT_EQ(NamesIn(dir), std::vector<std::string>{"profile.xml"});
}

TEST(FileReplace, KeepsTheTargetsCreationTime) {
    const std::string dir = hk4test::TempDir();
    const std::string path = dir + "\\profile.xml";
    ASSERT_TRUE(hk4test::WriteFile(path, "old"));
    constexpr unsigned long long kJanuary2001 = 126227808000000000ull;
    hk4test::SetCreationTime(path, kJanuary2001);
    if (hk4test::CreationTime(path) != kJanuary2001)
        GTEST_SKIP() << "this file system does not keep a creation time that is set";
    ASSERT_TRUE(ReplaceWithNew(path));
    EXPECT_EQ(hk4test::ReadFile(path), "new");
    EXPECT_EQ(hk4test::CreationTime(path), kJanuary2001);
}

// A replacement gives the name a new file: another name of the old one, a
// hard link, keeps the old content, whole.
TEST(FileReplace, AHardLinkKeepsTheOldContent) {
    const std::string dir = hk4test::TempDir();
    const std::string path = dir + "\\profile.xml";
    const std::string link = dir + "\\link.xml";
    ASSERT_TRUE(hk4test::WriteFile(path, "old"));
    if (!CreateHardLinkA(link.c_str(), path.c_str(), nullptr)) GTEST_SKIP() << "no hard links here";
    ASSERT_TRUE(ReplaceWithNew(path));
    EXPECT_EQ(hk4test::ReadFile(path), "new");
    EXPECT_EQ(hk4test::ReadFile(link), "old");
    EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"link.xml", "profile.xml"}));
}

}  // namespace
