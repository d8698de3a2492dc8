// The store's changes made in the profile's own text: where each one lands,
// and the files whose text cannot be followed.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/profile_splice.h"

namespace hk4 {
namespace {

using Kind = ProfileEdit::Kind;
constexpr const char* S = "Halvex_K4_Pendant";

std::optional<std::u16string> Widen(const std::string& text) {
    std::u16string out;
    for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

ProfileEdit Set(const std::string& key, const std::string& value) {
    return {Kind::Set, S, key, value};
}
ProfileEdit Remove(const std::string& key) {
    return {Kind::Remove, S, key, ""};
}

std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

TEST(ProfileSplice, ChangesLandInTheFilesOwnText) {
    struct Case {
        const char* what;
        std::string before;
        std::vector<ProfileEdit> edits;
        std::optional<std::string> after;  // nothing: the text is not rewritten
    };
    const Case cases[] = {
        {"markup that only looks like our section is passed over",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE p [<!ENTITY e \"]>\"><!-- ] -->]>\n"
         "<p a=\">\" b='/>'><!-- <Halvex_K4_Pendant> --><x><Halvex_K4_Pendant/>"
         "</x><![CDATA[<Halvex_K4_Pendant>]]><?pi <Halvex_K4_Pendant>?></p>",
         {Set("Vel", "5")},
         "<?xml version=\"1.0\"?>\n<!DOCTYPE p [<!ENTITY e \"]>\"><!-- ] -->]>\n"
         "<p a=\">\" b='/>'><!-- <Halvex_K4_Pendant> --><x><Halvex_K4_Pendant/>"
         "</x><![CDATA[<Halvex_K4_Pendant>]]><?pi <Halvex_K4_Pendant>?><Halvex_K4_Pendant>"
         "<Vel>5</Vel></Halvex_K4_Pendant></p>"},
        {"a section follows the root's indentation, its keys one step further, tabs kept",
         "<p>\n\t<Other/>\n</p>\n",
         {Set("Vel", "2"), Set("DelaySteps", "-3")},
         "<p>\n\t<Other/>\n\t<Halvex_K4_Pendant>\n\t\t<Vel>2</Vel>\n\t\t<DelaySteps>-3</DelaySteps>"
         "\n\t</Halvex_K4_Pendant>\n</p>\n"},
        {"the first of two keys gets the value, attributes and all content replaced",
         "<p><Halvex_K4_Pendant><Vel a=\"1\">3<b>4</b></Vel><Vel>2</Vel><X/></Halvex_K4_Pendant>"
         "</p>",
         {Set("Vel", "7"), Set("X", "1")},
         "<p><Halvex_K4_Pendant><Vel a=\"1\">7</Vel><Vel>2</Vel><X>1</X></Halvex_K4_Pendant></p>"},
        {"a root written as an empty element is opened up",
         "<p/>",
         {Set("Vel", "1")},
         "<p><Halvex_K4_Pendant><Vel>1</Vel></Halvex_K4_Pendant></p>"},
        {"an empty section in an indented file gets its key on a line of its own",
         "<p>\r\n  <Halvex_K4_Pendant />\r\n</p>",
         {Set("Vel", "1")},
         "<p>\r\n  <Halvex_K4_Pendant >\r\n    <Vel>1</Vel>\r\n  </Halvex_K4_Pendant>\r\n</p>"},
        {"a removed key takes its line with it; one sharing its line goes alone",
         "<p>\r\n  <Halvex_K4_Pendant>\r\n    <Vel/>\r\n    <A>1</A><PercentTime></PercentTime>"
         "\r\n  </Halvex_K4_Pendant>\r\n</p>",
         {Remove("Vel"), Remove("PercentTime")},
         "<p>\r\n  <Halvex_K4_Pendant>\r\n    <A>1</A>\r\n  </Halvex_K4_Pendant>\r\n</p>"},
        {"values beyond printable ASCII go in as references",
         "<p/>",
         {{Kind::Set, "K", "V", "a<&>\r\xE9"}},
         "<p><K><V>a&lt;&amp;&gt;&#13;&#233;</V></K></p>"},
        {"UTF-16 big-endian keeps its mark and order",
         Utf16("<p></p>", true),
         {Set("Vel", "1")},
         Utf16("<p><Halvex_K4_Pendant><Vel>1</Vel></Halvex_K4_Pendant></p>", true)},
        {"a removal that finds nothing",
         "<p><Halvex_K4_Pendant/></p>",
         {Remove("Vel")},
         std::nullopt},
        {"UCS-4 is not followed",
         std::string("\0\0\0<\0\0\0p\0\0\0/\0\0\0>", 16),
         {Set("Vel", "1")},
         std::nullopt},
        {"a comment that never ends", "<p><!-- </p>", {Set("Vel", "1")}, std::nullopt},
        {"a section name beyond ASCII", "<p/>", {{Kind::Set, "\xE9", "Vel", "1"}}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SpliceProfile(c.before, c.edits, Widen), c.after);
    }
}

}  // namespace
}  // namespace hk4
