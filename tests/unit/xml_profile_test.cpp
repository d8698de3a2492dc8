// The profile store's logic over the in-memory document: what it reads, and
// what the file holds after the store is destroyed.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>

#include "settings/profile_number.h"
#include "settings/settings_loading.h"
#include "settings/xml_profile.h"
#include "unit/memory_xml_document.h"

namespace hk4 {
namespace {

using hk4test::MemoryFiles;
using hk4test::MemoryXmlDocument;

constexpr const char* kPath = "C:\\CncHost\\profile.xml";
const char* const S = kSection;

// Runs one store over `before` (no file when empty optional) and returns the
// file as it is afterwards (empty optional: there is no file).
struct StoreRun {
    std::shared_ptr<MemoryFiles> files = std::make_shared<MemoryFiles>();

    std::optional<std::string> operator()(const std::optional<std::string>& before,
                                          const std::function<void(XmlProfile&)>& use,
                                          bool ntFamily = true, const std::string& path = kPath) {
        if (before) files->files[kPath] = *before;
        {
            XmlProfile store(std::make_unique<MemoryXmlDocument>(files), path, ntFamily);
            use(store);
        }
        auto it = files->files.find(kPath);
        if (it == files->files.end()) return std::nullopt;
        return it->second;
    }
};

void Nothing(XmlProfile&) {}

TEST(XmlProfile, ReadsAndTheFileTheyLeaveBehind) {
    struct Case {
        const char* what;
        std::optional<std::string> before;
        std::function<void(XmlProfile&)> use;
        std::optional<std::string> after;
    };
    const Case cases[] = {
        {"missing file: created holding only an empty root", std::nullopt, Nothing, "<profile/>"},
        {"empty file: nothing to lose, replaced like a missing one", "", Nothing, "<profile/>"},
        {"missing file: reads give defaults and add nothing", std::nullopt,
         [](XmlProfile& p) {
             EXPECT_EQ(p.GetInt(S, "Vel", 7), 7);
             EXPECT_EQ(p.GetString(S, "Name", "dflt"), "dflt");
         },
         "<profile/>"},
        {"values of an existing section",
         "<profile><Halvex_K4_Pendant><Vel>4</Vel><StepJogRate>-250</StepJogRate>"
         "</Halvex_K4_Pendant></profile>",
         [](XmlProfile& p) {
             EXPECT_EQ(p.GetInt(S, "Vel", 0), 4);
             EXPECT_EQ(p.GetInt(S, "StepJogRate", 0), -250);
             EXPECT_EQ(p.GetInt(S, "DelaySteps", 25), 25);
         },
         "<profile><Halvex_K4_Pendant><Vel>4</Vel><StepJogRate>-250</StepJogRate>"
         "</Halvex_K4_Pendant></profile>"},
        {"an empty key element is read as missing and removed; its section stays",
         "<profile><Halvex_K4_Pendant><Vel></Vel><PercentTime/></Halvex_K4_Pendant>"
         "</profile>",
         [](XmlProfile& p) {
             EXPECT_EQ(p.GetInt(S, "Vel", 9), 9);
             EXPECT_EQ(p.GetString(S, "PercentTime", "d"), "d");
         },
         "<profile><Halvex_K4_Pendant></Halvex_K4_Pendant></profile>"},
        {"only the empty one of several keys goes",
         "<profile><Halvex_K4_Pendant><A>1</A><Vel/><B>2</B></Halvex_K4_Pendant></profile>",
         [](XmlProfile& p) { EXPECT_EQ(p.GetInt(S, "Vel", 3), 3); },
         "<profile><Halvex_K4_Pendant><A>1</A><B>2</B></Halvex_K4_Pendant></profile>"},
        {"text that is not a number reads as 0, not as the default",
         "<profile><Halvex_K4_Pendant><Vel>x</Vel><A>  42abc</A><B>-7</B></Halvex_K4_Pendant>"
         "</profile>",
         [](XmlProfile& p) {
             EXPECT_EQ(p.GetInt(S, "Vel", 5), 0);
             EXPECT_EQ(p.GetInt(S, "A", 5), 42);
             EXPECT_EQ(p.GetInt(S, "B", 5), -7);
         },
         "<profile><Halvex_K4_Pendant><Vel>x</Vel><A>  42abc</A><B>-7</B></Halvex_K4_Pendant>"
         "</profile>"},
        {"the text of nested content counts as the value",
         "<profile><Halvex_K4_Pendant><Vel>1<i>2</i></Vel></Halvex_K4_Pendant></profile>",
         [](XmlProfile& p) { EXPECT_EQ(p.GetInt(S, "Vel", 0), 12); },
         "<profile><Halvex_K4_Pendant><Vel>1<i>2</i></Vel></Halvex_K4_Pendant></profile>"},
        {"only direct children are sections and keys",
         "<profile><Vel>5</Vel><Other><Halvex_K4_Pendant><Vel>6</Vel></Halvex_K4_Pendant>"
         "</Other><Halvex_K4_Pendant><Deep><Vel>7</Vel></Deep></Halvex_K4_Pendant></profile>",
         [](XmlProfile& p) { EXPECT_EQ(p.GetInt(S, "Vel", -1), -1); },
         "<profile><Vel>5</Vel><Other><Halvex_K4_Pendant><Vel>6</Vel></Halvex_K4_Pendant>"
         "</Other><Halvex_K4_Pendant><Deep><Vel>7</Vel></Deep></Halvex_K4_Pendant></profile>"},
        {"of two same-named keys and sections only the first is read",
         "<profile><Halvex_K4_Pendant><Vel>1</Vel><Vel>2</Vel></Halvex_K4_Pendant>"
         "<Halvex_K4_Pendant><Vel>3</Vel><X>4</X></Halvex_K4_Pendant></profile>",
         [](XmlProfile& p) {
             EXPECT_EQ(p.GetInt(S, "Vel", 0), 1);
             EXPECT_EQ(p.GetInt(S, "X", 0), 0);
         },
         "<profile><Halvex_K4_Pendant><Vel>1</Vel><Vel>2</Vel></Halvex_K4_Pendant>"
         "<Halvex_K4_Pendant><Vel>3</Vel><X>4</X></Halvex_K4_Pendant></profile>"},
        {"a root with another name is kept", "<HostProfile><Other/></HostProfile>",
         [](XmlProfile& p) { EXPECT_EQ(p.GetInt(S, "Vel", 2), 2); },
         "<HostProfile><Other/></HostProfile>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreRun run;
        EXPECT_EQ(run(c.before, c.use), c.after);
    }
}

// The file is written only when the store changed what it holds.
TEST(XmlProfile, AStoreThatChangesNothingWritesNothing) {
    const std::string complete =
        "<profile>\n <Halvex_K4_Pendant><Vel>4</Vel><A>x</A></Halvex_K4_Pendant>\n</profile>";
    const std::function<void(XmlProfile&)> uses[] = {
        Nothing,
        [](XmlProfile& p) { EXPECT_EQ(p.GetInt(S, "Missing", 3), 3); },
        [](XmlProfile& p) {
            p.SetInt(S, "Vel", p.GetInt(S, "Vel", 0));
            p.SetString(S, "A", "x");
        },
    };
    for (const auto& use : uses) {
        StoreRun run;
        EXPECT_EQ(run(complete, use), complete);
        EXPECT_TRUE(run.files->saved.empty());
    }
}

TEST(XmlProfile, WritesAndTheDocumentLayout) {
    struct Case {
        const char* what;
        std::optional<std::string> before;
        std::function<void(XmlProfile&)> use;
        std::string after;
    };
    const Case cases[] = {
        {"a missing section is appended last, holding its key", "<profile><A>1</A></profile>",
         [](XmlProfile& p) { EXPECT_TRUE(p.SetInt(S, "Vel", 5)); },
         "<profile><A>1</A><Halvex_K4_Pendant><Vel>5</Vel></Halvex_K4_Pendant></profile>"},
        {"a missing key is appended last in its section",
         "<profile><Halvex_K4_Pendant><A>1</A></Halvex_K4_Pendant><B/></profile>",
         [](XmlProfile& p) { p.SetInt(S, "Vel", -3); },
         "<profile><Halvex_K4_Pendant><A>1</A><Vel>-3</Vel></Halvex_K4_Pendant><B/></profile>"},
        {"an existing key keeps its place and all its content is replaced",
         "<profile><Halvex_K4_Pendant><A>1</A><Vel>7<i>8</i>9</Vel><B>2</B>"
         "</Halvex_K4_Pendant></profile>",
         [](XmlProfile& p) { p.SetInt(S, "Vel", 12); },
         "<profile><Halvex_K4_Pendant><A>1</A><Vel>12</Vel><B>2</B></Halvex_K4_Pendant>"
         "</profile>"},
        {"of two same-named keys only the first is written",
         "<profile><Halvex_K4_Pendant><Vel>1</Vel><Vel>2</Vel></Halvex_K4_Pendant></profile>",
         [](XmlProfile& p) {
             p.SetInt(S, "Vel", 9);
             EXPECT_EQ(p.GetInt(S, "Vel", 0), 9);
         },
         "<profile><Halvex_K4_Pendant><Vel>9</Vel><Vel>2</Vel></Halvex_K4_Pendant></profile>"},
        {"a fresh section holds its keys in the order they were first written", std::nullopt,
         [](XmlProfile& p) {
             p.SetInt(S, "Vel", 2);
             p.SetInt(S, "StepJogRate", 100);
             p.SetInt(S, "PercentTime", 3);
             p.SetInt(S, "DelaySteps", 25);
         },
         "<profile><Halvex_K4_Pendant><Vel>2</Vel><StepJogRate>100</StepJogRate>"
         "<PercentTime>3</PercentTime><DelaySteps>25</DelaySteps></Halvex_K4_Pendant>"
         "</profile>"},
        {"the 32-bit bounds are written in full", "<HostProfile/>",
         [](XmlProfile& p) {
             p.SetInt(S, "Lo", INT32_MIN);
             p.SetInt(S, "Hi", INT32_MAX);
             EXPECT_EQ(p.GetInt(S, "Lo", 0), INT32_MIN);
             EXPECT_EQ(p.GetInt(S, "Hi", 0), INT32_MAX);
         },
         "<HostProfile><Halvex_K4_Pendant><Lo>-2147483648</Lo><Hi>2147483647</Hi>"
         "</Halvex_K4_Pendant></HostProfile>"},
        {"strings go in and come back as given", "<profile/>",
         [](XmlProfile& p) {
             EXPECT_TRUE(p.SetString(S, "Name", "a<b & c"));
             EXPECT_EQ(p.GetString(S, "Name", ""), "a<b & c");
         },
         "<profile><Halvex_K4_Pendant><Name>a&lt;b &amp; c</Name></Halvex_K4_Pendant>"
         "</profile>"},
        {"writing an empty string leaves an element that the next read removes", "<profile/>",
         [](XmlProfile& p) {
             p.SetString(S, "A", "");
             p.SetString(S, "B", "");
             EXPECT_EQ(p.GetInt(S, "A", 4), 4);
         },
         "<profile><Halvex_K4_Pendant><B></B></Halvex_K4_Pendant></profile>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreRun run;
        EXPECT_EQ(run(c.before, c.use), c.after);
    }
}

// Whenever the store cannot stand behind its document it reads defaults,
// drops writes and leaves the host's file exactly as it was.
TEST(XmlProfile, FilesItCannotOwnAreNeverWritten) {
    const std::string valid =
        "<profile><Halvex_K4_Pendant><Vel>4</Vel></Halvex_K4_Pendant></profile>";
    auto readWrite = [](XmlProfile& p) {
        EXPECT_EQ(p.GetInt(S, "Vel", 11), 11);
        EXPECT_TRUE(p.SetInt(S, "Vel", 5));
        EXPECT_EQ(p.GetInt(S, "Vel", 11), 11);  // the write went nowhere
        EXPECT_TRUE(p.SetString(S, "Name", "n"));
        EXPECT_EQ(p.GetString(S, "Name", "d"), "d");
    };
    const char* const unreadable[] = {
        "<profile><Halvex_K4_Pendant><Vel>4</Vel>",  // cut short
        "Vel=4",                                     // not XML
        "<a></b>",                                   // mismatched tags
    };
    for (const char* before : unreadable) {
        SCOPED_TRACE(before);
        StoreRun run;
        EXPECT_EQ(run(before, readWrite), before);
        EXPECT_TRUE(run.files->saved.empty());
    }

    // Not an NT-family Windows: the host's path is not used at all, the
    // store works in memory and keeps nothing.
    {
        StoreRun run;
        EXPECT_EQ(run(
                      valid,
                      [](XmlProfile& p) {
                          EXPECT_EQ(p.GetInt(S, "Vel", 11), 11);
                          p.SetInt(S, "Vel", 5);
                          EXPECT_EQ(p.GetInt(S, "Vel", 11), 5);
                      },
                      false),
                  valid);
        EXPECT_TRUE(run.files->saved.empty());
    }
    // No profile name yet: nothing to load, nothing saved anywhere.
    {
        StoreRun run;
        run(
            std::nullopt, [](XmlProfile& p) { p.SetInt(S, "Vel", 5); }, true, "");
        EXPECT_TRUE(run.files->saved.empty());
        EXPECT_TRUE(run.files->files.empty());
    }
}

// The save works on the file as it is then: what the host wrote while the
// store was open stays, and a file the changes cannot be made in is left.
TEST(XmlProfile, TheSaveMakesItsChangesInTheFileAsItIsNow) {
    using Outcome = XmlProfile::SaveOutcome;
    struct Case {
        const char* what;
        std::optional<std::string> before;    // when the store loads
        std::optional<std::string> meantime;  // the host's file when it saves
        std::optional<std::string> after;
        Outcome outcome;
    };
    const std::string ours = "<Halvex_K4_Pendant><Vel>4</Vel><A></A></Halvex_K4_Pendant>";
    const Case cases[] = {
        {"the host's change is kept beside ours", "<profile><T>3</T>" + ours + "</profile>",
         "<profile><T>6</T>" + ours + "</profile>",
         "<profile><T>6</T><Halvex_K4_Pendant><Vel>7</Vel></Halvex_K4_Pendant></profile>",
         Outcome::Written},
        {"our section, dropped by the host, is written anew",
         "<profile><T>3</T>" + ours + "</profile>", "<profile><T>6</T></profile>",
         "<profile><T>6</T><Halvex_K4_Pendant><Vel>7</Vel></Halvex_K4_Pendant></profile>",
         Outcome::Written},
        {"a value the host wrote meanwhile into the key we drop stays",
         "<profile>" + ours + "</profile>",
         "<profile><Halvex_K4_Pendant><Vel>7</Vel><A>5</A></Halvex_K4_Pendant></profile>",
         "<profile><Halvex_K4_Pendant><Vel>7</Vel><A>5</A></Halvex_K4_Pendant></profile>",
         Outcome::NothingToWrite},
        {"a profile that went away is not made again", "<profile>" + ours + "</profile>",
         std::nullopt, std::nullopt, Outcome::ProfileChanged},
        {"an emptied profile is left empty", "<profile>" + ours + "</profile>", "", "",
         Outcome::ProfileChanged},
        {"a profile no longer well-formed is left as it is", "<profile>" + ours + "</profile>",
         "<profile><T>6</profile>", "<profile><T>6</profile>", Outcome::ProfileChanged},
        {"a profile the host created meanwhile gets our section in its own text", std::nullopt,
         "<HostProfile><T>6</T></HostProfile>",
         "<HostProfile><T>6</T><Halvex_K4_Pendant><Vel>7</Vel></Halvex_K4_Pendant>"
         "</HostProfile>",
         Outcome::Written},
        {"a profile missing throughout is created", std::nullopt, std::nullopt,
         "<profile><Halvex_K4_Pendant><Vel>7</Vel></Halvex_K4_Pendant></profile>",
         Outcome::Written},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto files = std::make_shared<MemoryFiles>();
        if (c.before) files->files[kPath] = *c.before;
        XmlProfile store(std::make_unique<MemoryXmlDocument>(files), kPath, true);
        EXPECT_EQ(store.GetInt(S, "A", 1), 1);
        store.SetInt(S, "Vel", 7);
        files->files.erase(kPath);
        if (c.meantime) files->files[kPath] = *c.meantime;
        EXPECT_EQ(store.Save(), c.outcome);
        auto it = files->files.find(kPath);
        EXPECT_EQ(it == files->files.end() ? std::nullopt : std::optional<std::string>(it->second),
                  c.after);
        EXPECT_EQ(store.Save(), Outcome::NothingToWrite) << "a store saves once";
    }
}

TEST(XmlProfile, WithoutADocumentReadsGiveDefaultsAndWritesAreDropped) {
    XmlProfile store(nullptr, kPath, true);
    EXPECT_EQ(store.GetInt(S, "Vel", 3), 3);
    EXPECT_TRUE(store.SetInt(S, "Vel", 5));
    EXPECT_EQ(store.GetInt(S, "Vel", 3), 3);
    EXPECT_TRUE(store.SetString(S, "Name", "x"));
    EXPECT_EQ(store.GetString(S, "Name", "d"), "d");
}

TEST(ProfileNumber, ReadsLikeTheHostsNumbersAndSaturates) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"0", 0},
        {"25", 25},
        {"  42abc", 42},
        {"\t\r\n\v\f 8", 8},
        {"-7", -7},
        {"+7", 7},
        {"007", 7},
        {"12 34", 12},
        {"1e5", 1},
        {"0x10", 0},
        {"x", 0},
        {"", 0},
        {"   ", 0},
        {"-", 0},
        {"+-1", 0},
        {"- 1", 0},
        {"\xEF\xBC\x93", 0},  // a full-width digit is not a digit
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"4294967297", INT32_MAX},  // would wrap to 1 in 32 bits
        {"99999999999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999999999", INT32_MIN},
        {"000000000000000000000000000000012", 12},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseProfileInt(c.text), c.value) << '"' << c.text << '"';

    const int32_t formatted[] = {0, 25, -3, INT32_MIN, INT32_MAX};
    const char* const texts[] = {"0", "25", "-3", "-2147483648", "2147483647"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(FormatProfileInt(formatted[i]), texts[i]);
        EXPECT_EQ(ParseProfileInt(texts[i]), formatted[i]);
    }
}

TEST(LoadSettings, StartUpDefaultsAndStoredValues) {
    struct Case {
        const char* what;
        std::optional<std::string> before;
        Settings want;
        std::optional<std::string> after;
    };
    const std::string full =
        "<profile><Halvex_K4_Pendant><Vel>5</Vel><StepJogRate>250</StepJogRate>"
        "<PercentTime>0</PercentTime><DelaySteps>-4</DelaySteps></Halvex_K4_Pendant></profile>";
    const Case cases[] = {
        {"first start: no file", std::nullopt, {0, 100, 25, 3}, "<profile/>"},
        {"a profile without the section",
         "<profile><Other/></profile>",
         {0, 100, 25, 3},
         "<profile><Other/></profile>"},
        {"all four stored", full, {5, 250, -4, 0}, full},
        {"Vel keeps the low 16 bits",
         "<profile><Halvex_K4_Pendant><Vel>65538</Vel></Halvex_K4_Pendant></profile>",
         {2, 100, 25, 3},
         "<profile><Halvex_K4_Pendant><Vel>65538</Vel></Halvex_K4_Pendant></profile>"},
        {"Vel's low 16 bits read signed",
         "<profile><Halvex_K4_Pendant><Vel>40000</Vel></Halvex_K4_Pendant></profile>",
         {-25536, 100, 25, 3},
         "<profile><Halvex_K4_Pendant><Vel>40000</Vel></Halvex_K4_Pendant></profile>"},
        {"empty values give the defaults and go",
         "<profile><Halvex_K4_Pendant><Vel/><StepJogRate/><PercentTime></PercentTime>"
         "<DelaySteps>7</DelaySteps></Halvex_K4_Pendant></profile>",
         {0, 100, 7, 3},
         "<profile><Halvex_K4_Pendant><DelaySteps>7</DelaySteps></Halvex_K4_Pendant>"
         "</profile>"},
        {"an unreadable profile gives the defaults and stays",
         "<profile>",
         {0, 100, 25, 3},
         "<profile>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Settings got{-1, -1, -1, -1};
        StoreRun run;
        EXPECT_EQ(run(c.before, [&](XmlProfile& p) { LoadSettings(p, got); }), c.after);
        EXPECT_EQ(got.Vel, c.want.Vel);
        EXPECT_EQ(got.StepJogRate, c.want.StepJogRate);
        EXPECT_EQ(got.DelaySteps, c.want.DelaySteps);
        EXPECT_EQ(got.PercentTime, c.want.PercentTime);
    }
    EXPECT_EQ(VelFromProfile(-1), -1);
    EXPECT_EQ(VelFromProfile(INT32_MIN), 0);
    EXPECT_EQ(VelFromProfile(32767), 32767);
    EXPECT_EQ(VelFromProfile(32768), -32768);
}

}  // namespace
}  // namespace hk4
