// Dialog resource 4013 and its pictures, read back from the built plug-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/config_dialog_ids.h"
#include "win_test_support.h"

namespace {

// A reader of the extended dialog template (DLGTEMPLATEEX and its items).
class TemplateReader {
  public:
    TemplateReader(const BYTE* data, std::size_t size) : p_(data), end_(data + size) {}

    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return Read<short>(); }
    BYTE Byte() { return Read<BYTE>(); }

    // A "string or ordinal" field: "#N" for an ordinal, else the text.
    std::string NameOrOrdinal() {
        if (Remaining() >= 2 && Peek() == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return Text();
    }

    std::string Text() {
        std::string text;
        for (WORD c = Word(); c != 0 && ok_; c = Word())
            text += c < 0x80 ? static_cast<char>(c) : '?';
        return text;
    }

    void AlignDword(const BYTE* base) {
        while (((p_ - base) & 3) != 0 && p_ < end_) ++p_;
    }
    void Skip(std::size_t n) { p_ = n <= Remaining() ? p_ + n : end_; }
    bool ok() const { return ok_; }

  private:
    std::size_t Remaining() const { return static_cast<std::size_t>(end_ - p_); }
    WORD Peek() const {
        WORD w;
        std::memcpy(&w, p_, sizeof w);
        return w;
    }
    template <typename T>
    T Read() {
        T value{};
        if (Remaining() < sizeof value) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }

    const BYTE* p_;
    const BYTE* end_;
    bool ok_ = true;
};

struct Item {
    DWORD style, exStyle;
    short x, y, cx, cy;
    int id;
    std::string cls, text;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kPicture = kChild | SS_BITMAP;
constexpr DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr DWORD kEdit = kChild | ES_LEFT | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
constexpr DWORD kGroup = kChild | BS_GROUPBOX;
// Predefined window classes appear in templates as ordinals.
const std::string kButton = "#128", kEditClass = "#129", kStatic = "#130", kCombo = "#133";

TEST(ConfigDialogResource, TemplateMatchesTheLayoutControlByControl) {
    const std::string dll = hk4test::CopyPlugin("HalvexK4.dll");
    HMODULE module = LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(IDD_CONFIGURATION), RT_DIALOG);
    ASSERT_NE(info, nullptr);
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
    TemplateReader r(data, SizeofResource(module, info));

    EXPECT_EQ(r.Word(), 1);       // dlgVer
    EXPECT_EQ(r.Word(), 0xFFFF);  // extended template
    r.Dword();                    // help id
    EXPECT_EQ(r.Dword(), static_cast<DWORD>(WS_EX_TOPMOST));
    // No WS_SYSMENU: the dialog has no close box. DS_SHELLFONT is
    // DS_SETFONT | DS_FIXEDSYS.
    EXPECT_EQ(r.Dword(), static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME |
                                            DS_SETFOREGROUND | DS_SHELLFONT));
    const int count = r.Word();
    const short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
    EXPECT_EQ((std::vector<short>{x, y, cx, cy}), (std::vector<short>{0, 0, 338, 255}));
    EXPECT_EQ(r.NameOrOrdinal(), "");  // no menu
    EXPECT_EQ(r.NameOrOrdinal(), "");  // the standard dialog class
    EXPECT_EQ(r.Text(), "Configuration");
    EXPECT_EQ(r.Word(), 8);  // points
    r.Word();                // weight
    r.Byte();                // italic
    r.Byte();                // charset
    EXPECT_EQ(r.Text(), "MS Shell Dlg");

    const std::vector<Item> want = {
        {kPicture, 0, 32, 116, 21, 19, -1, kStatic, "#4015"},
        {kLabel, 0, 213, 28, 107, 8, -1, kStatic, "Halvex K4 Pendant Configuration"},
        {kLabel, 0, 109, 122, 82, 8, -1, kStatic, "Speed Change Sensitivity"},
        {kPicture, 0, 30, 15, 183, 79, -1, kStatic, "#4016"},
        {kChild | CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 0, 61, 119, 40, 63, 4032, kCombo, ""},
        {kChild | BS_PUSHBUTTON | WS_TABSTOP, 0, 281, 241, 50, 14, IDOK, kButton, "OK"},
        {kPicture, 0, 32, 145, 21, 19, -1, kStatic, "#4017"},
        {kEdit, 0, 60, 148, 40, 12, 4164, kEditClass, ""},
        {kLabel, 0, 105, 150, 136, 8, -1, kStatic, "MPG Step Jogging FeedRate. Set 0 to Skip"},
        {kPicture, 0, 32, 174, 21, 19, -1, kStatic, "#4019"},
        {kPicture, 0, 32, 202, 21, 19, -1, kStatic, "#4020"},
        {kEdit, 0, 60, 176, 20, 14, 4165, kEditClass, ""},
        {kEdit, 0, 60, 204, 21, 14, 4166, kEditClass, ""},
        {kLabel, 0, 86, 179, 100, 8, -1, kStatic, "Steps to Delay Start, 0 to 100."},
        {kLabel, 0, 87, 207, 164, 8, -1, kStatic,
         "TAB Screen Display Time, Set 0 for No TAB Screen."},
        {kGroup, 0, 30, 110, 240, 27, -1, kButton, ""},
        {kGroup, 0, 29, 139, 240, 27, -1, kButton, ""},
        {kGroup, 0, 29, 168, 240, 27, -1, kButton, ""},
        {kGroup, 0, 30, 196, 240, 27, -1, kButton, ""},
        {kLabel, 0, 30, 244, 200, 8, IDC_LINK_STATE, kStatic, ""},
    };
    ASSERT_EQ(count, static_cast<int>(want.size()));
    for (const Item& w : want) {
        r.AlignDword(data);
        Item got{};
        r.Dword();  // help id
        got.exStyle = r.Dword();
        got.style = r.Dword();
        got.x = r.Short();
        got.y = r.Short();
        got.cx = r.Short();
        got.cy = r.Short();
        got.id = static_cast<int>(r.Dword());
        got.cls = r.NameOrOrdinal();
        got.text = r.NameOrOrdinal();
        r.Skip(r.Word());  // creation data
        ASSERT_TRUE(r.ok());
        SCOPED_TRACE("control " + std::to_string(w.id) + " \"" + w.text + "\"");
        EXPECT_EQ(got.id, w.id);
        EXPECT_EQ(got.cls, w.cls);
        EXPECT_EQ(got.text, w.text);
        EXPECT_EQ(got.style, w.style) << std::hex << (got.style ^ w.style);
        EXPECT_EQ(got.exStyle, w.exStyle);
        EXPECT_EQ((std::vector<short>{got.x, got.y, got.cx, got.cy}),
                  (std::vector<short>{w.x, w.y, w.cx, w.cy}));
    }
    FreeLibrary(module);
}

TEST(ConfigDialogResource, PicturesAre24BitOfTheirSizes) {
    const std::string dll = hk4test::CopyPlugin("HalvexK4.dll");
    HMODULE module = LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const struct {
        int id;
        LONG width, height;
    } pictures[] = {
        {4015, 31, 31}, {4016, 257, 126}, {4017, 31, 31}, {4019, 31, 31}, {4020, 31, 31}};
    for (const auto& p : pictures) {
        HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(p.id), RT_BITMAP);
        ASSERT_NE(info, nullptr) << p.id;
        BITMAPINFOHEADER header;
        ASSERT_GE(SizeofResource(module, info), sizeof header);
        std::memcpy(&header, LockResource(LoadResource(module, info)), sizeof header);
        EXPECT_EQ(header.biWidth, p.width) << p.id;
        EXPECT_EQ(header.biHeight, p.height) << p.id;
        EXPECT_EQ(header.biBitCount, 24) << p.id;
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB)) << p.id;
    }
    FreeLibrary(module);
}

}  // namespace
