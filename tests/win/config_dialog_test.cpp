// The configuration dialog of the real plug-in, driven through Config by a
// user on a second thread: what it shows, what it refuses, and what ends up
// in the profile file.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "dialog_user.h"
#include "hostsim/device_hooks.h"
#include "hostsim/device_model.h"
#include "hostsim/host_loop.h"
#include "hostsim/import_patch.h"
#include "hostside/plugin_api.h"
#include "hostsim/sim_host.h"
#include "settings/config_dialog_ids.h"
#include "settings/xml_profile.h"
#include "win_test_support.h"

namespace {

using hk4test::DialogUser;
using hk4test::RunWithUser;
using hk4test::WindowText;
using KeyValues = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kCaption = "Configuration";

// The plug-in, loaded and given a profile path in a fresh folder; the file
// holds `xml` unless that is empty.
struct ConfiguredPlugin {
    hostside::PluginApi api;
    std::string profile;

    explicit ConfiguredPlugin(const std::string& xml = "") {
        std::string error;
        loaded = api.Load(hk4test::CopyPlugin("HalvexK4.dll"), error);
        EXPECT_TRUE(loaded) << error;
        profile = hk4test::TempDir() + "\\profile.xml";
        if (!xml.empty()) hk4test::WriteFile(profile, xml);
        if (loaded) api.SetProName(profile.c_str());
    }
    ~ConfiguredPlugin() {
        if (loaded) api.Unload();
    }

    // The key elements of the plug-in's section in the saved file, in order.
    KeyValues SavedSection() const {
        const std::string text = hk4test::ReadFile(profile);
        std::smatch section;
        static const std::regex sectionPattern(
            "<Halvex_K4_Pendant>([\\s\\S]*?)</Halvex_K4_Pendant>");
        if (!std::regex_search(text, section, sectionPattern)) return {};
        KeyValues keys;
        static const std::regex keyPattern("<(\\w+)>([^<]*)</\\1>");
        const std::string body = section[1];
        for (std::sregex_iterator it(body.begin(), body.end(), keyPattern), end; it != end; ++it)
            keys.emplace_back((*it)[1], (*it)[2]);
        return keys;
    }

    bool loaded = false;
};

std::string Profile(int vel, int rate, int time, int delay) {
    return "<profile><Halvex_K4_Pendant><Vel>" + std::to_string(vel) + "</Vel><StepJogRate>" +
           std::to_string(rate) + "</StepJogRate><PercentTime>" + std::to_string(time) +
           "</PercentTime><DelaySteps>" + std::to_string(delay) +
           "</DelaySteps></Halvex_K4_Pendant></profile>";
}

KeyValues Saved(int vel, int rate, int time, int delay) {
    return {{"Vel", std::to_string(vel)},
            {"StepJogRate", std::to_string(rate)},
            {"PercentTime", std::to_string(time)},
            {"DelaySteps", std::to_string(delay)}};
}

std::string Item(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

int Selection(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageA(dialog, IDC_SENSITIVITY, CB_GETCURSEL, 0, 0));
}

// Labels whose text does not fit on their one line, in the dialog's font.
std::vector<std::string> ClippedLabels(HWND dialog) {
    std::vector<std::string> clipped;
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    const HDC dc = GetDC(dialog);
    const HGDIOBJ previous = SelectObject(dc, font);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (hk4test::ClassName(child) != "Static" || (style & SS_TYPEMASK) != SS_LEFT) continue;
        const std::string text = WindowText(child);
        SIZE extent{};
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        RECT r{};
        GetClientRect(child, &r);
        if (extent.cx > r.right) clipped.push_back(text);
    }
    SelectObject(dc, previous);
    ReleaseDC(dialog, dc);
    return clipped;
}

// Esc or Enter, then the dialog must be gone.
void PressAndExpectClosed(DialogUser& user, HWND dialog, WORD key) {
    user.Press(key);
    EXPECT_TRUE(DialogUser::WaitUntil([&] { return !IsWindow(dialog); }))
        << "the dialog stayed open";
}

TEST(ConfigDialog, FirstConfigShowsTheDialogDefaultsAndEscStillWritesAllFourKeys) {
    ConfiguredPlugin plugin;
    ASSERT_TRUE(plugin.loaded);
    RunWithUser(plugin.api.Config, [&](DialogUser& user) {
        const HWND dialog = user.WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr) << "no configuration dialog";
        const LONG style = GetWindowLongA(dialog, GWL_STYLE);
        EXPECT_EQ(style & WS_SYSMENU, 0) << "no close box";
        EXPECT_NE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
        // The list: the table's texts in index order, "3" (index 2) selected.
        const HWND list = GetDlgItem(dialog, IDC_SENSITIVITY);
        ASSERT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 10);
        for (int i = 0; i < 10; ++i) {
            char text[16] = {};
            SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            EXPECT_EQ(std::string(text), std::to_string(i + 1)) << "entry " << i;
        }
        EXPECT_EQ(Selection(dialog), 2);
        EXPECT_EQ(WindowText(list), "3");
        EXPECT_EQ(Item(dialog, IDC_FEED_RATE), "100");
        EXPECT_EQ(Item(dialog, IDC_DELAY_STEPS), "25");
        EXPECT_EQ(Item(dialog, IDC_DISPLAY_TIME), "3");
        EXPECT_EQ(ClippedLabels(dialog), std::vector<std::string>{});
        // No pendant window, so no pendant: the link line says so.
        EXPECT_EQ(Item(dialog, IDC_LINK_STATE), "Pendant not found");
        // The focus starts in the first tab stop, the list.
        const HWND focus = user.Focus();
        EXPECT_TRUE(focus == list || GetParent(focus) == list);
        PressAndExpectClosed(user, dialog, VK_ESCAPE);
    });
    EXPECT_EQ(plugin.SavedSection(), Saved(2, 100, 3, 25));
}

TEST(ConfigDialog, LettersInTheDelayEditGiveOneMessageAndChangeNothing) {
    ConfiguredPlugin plugin(Profile(5, 80, 4, 10));
    ASSERT_TRUE(plugin.loaded);
    RunWithUser(plugin.api.Config, [&](DialogUser& user) {
        const HWND dialog = user.WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(user.TabTo(dialog, IDC_DELAY_STEPS));
        user.Type("abc");
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return Item(dialog, IDC_DELAY_STEPS) == "abc"; }));
        user.Press(VK_RETURN);
        std::vector<HWND> boxes;
        ASSERT_TRUE(DialogUser::WaitUntil([&] {
            boxes = user.OtherDialogs(dialog);
            return !boxes.empty();
        })) << "no message";
        Sleep(300);  // a second message would be there by now
        boxes = user.OtherDialogs(dialog);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(hk4test::MessageBoxText(boxes[0]), "Please enter an integer.");
        EXPECT_EQ(GetWindow(boxes[0], GW_OWNER), dialog);
        EXPECT_FALSE(IsWindowEnabled(dialog)) << "the message is modal to the dialog";
        user.Press(VK_RETURN);  // dismiss it
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return !IsWindow(boxes[0]); }));
        // The dialog stays open, with the edit to correct focused and selected.
        const HWND edit = GetDlgItem(dialog, IDC_DELAY_STEPS);
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return user.Focus() == edit; }));
        DWORD from = 1, to = 0;
        SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&to));
        EXPECT_EQ(from, 0u);
        EXPECT_EQ(to, 3u);
        Sleep(300);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_TRUE(user.OtherDialogs(dialog).empty()) << "a second message";
        PressAndExpectClosed(user, dialog, VK_ESCAPE);
    });
    EXPECT_EQ(plugin.SavedSection(), Saved(5, 80, 4, 10));
}

TEST(ConfigDialog, AnEmptyEditIsRefusedLikeLetters) {
    ConfiguredPlugin plugin(Profile(5, 80, 4, 10));
    ASSERT_TRUE(plugin.loaded);
    RunWithUser(plugin.api.Config, [&](DialogUser& user) {
        const HWND dialog = user.WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(user.TabTo(dialog, IDC_FEED_RATE));
        user.Press(VK_DELETE);  // the whole text is selected
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return Item(dialog, IDC_FEED_RATE).empty(); }));
        user.Press(VK_RETURN);
        std::vector<HWND> boxes;
        ASSERT_TRUE(DialogUser::WaitUntil([&] {
            boxes = user.OtherDialogs(dialog);
            return !boxes.empty();
        })) << "no message";
        EXPECT_EQ(hk4test::MessageBoxText(boxes[0]), "Please enter an integer.");
        user.Press(VK_RETURN);
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return !IsWindow(boxes[0]); }));
        EXPECT_TRUE(DialogUser::WaitUntil(
            [&] { return user.Focus() == GetDlgItem(dialog, IDC_FEED_RATE); }));
        PressAndExpectClosed(user, dialog, VK_ESCAPE);
    });
    EXPECT_EQ(plugin.SavedSection(), Saved(5, 80, 4, 10));
}

TEST(ConfigDialog, OkTakesEveryEditedValueAndANumberFollowedByLetters) {
    ConfiguredPlugin plugin(Profile(5, 80, 4, 10));
    ASSERT_TRUE(plugin.loaded);
    RunWithUser(plugin.api.Config, [&](DialogUser& user) {
        const HWND dialog = user.WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Selection(dialog), 5);
        user.Press(VK_DOWN);  // in the list: the next entry, "7"
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return Selection(dialog) == 6; }));
        ASSERT_TRUE(user.TabTo(dialog, IDC_FEED_RATE));
        user.Type("12abc");
        ASSERT_TRUE(user.TabTo(dialog, IDC_DELAY_STEPS));
        user.Type("500");  // beyond what the label suggests: no range check
        ASSERT_TRUE(user.TabTo(dialog, IDC_DISPLAY_TIME));
        user.Type("-2");
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return Item(dialog, IDC_DISPLAY_TIME) == "-2"; }));
        PressAndExpectClosed(user, dialog, VK_RETURN);
        EXPECT_TRUE(user.OtherDialogs(nullptr).empty()) << "an unexpected message";
    });
    EXPECT_EQ(plugin.SavedSection(), Saved(6, 12, -2, 500));
}

TEST(ConfigDialog, OkWithoutEditsStoresTheSameValuesAgain) {
    ConfiguredPlugin plugin(Profile(0, 0, 0, 100));
    ASSERT_TRUE(plugin.loaded);
    RunWithUser(plugin.api.Config, [&](DialogUser& user) {
        const HWND dialog = user.WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr);
        PressAndExpectClosed(user, dialog, VK_RETURN);
    });
    EXPECT_EQ(plugin.SavedSection(), Saved(0, 0, 0, 100));
}

TEST(ConfigDialog, AStoredVelOutsideTheTableSelectsNothingAndOkNeverStoresIt) {
    for (int vel : {12, -1}) {
        SCOPED_TRACE("Vel " + std::to_string(vel));
        for (WORD key : {VK_ESCAPE, VK_RETURN}) {
            ConfiguredPlugin plugin(Profile(vel, 80, 4, 10));
            ASSERT_TRUE(plugin.loaded);
            RunWithUser(plugin.api.Config, [&](DialogUser& user) {
                const HWND dialog = user.WaitForDialog(kCaption);
                ASSERT_NE(dialog, nullptr);
                EXPECT_EQ(Selection(dialog), CB_ERR);
                EXPECT_EQ(Item(dialog, IDC_SENSITIVITY), "");
                PressAndExpectClosed(user, dialog, key);
            });
            // Esc keeps what was read; OK with nothing selected takes the
            // dialog's default rather than a value with no table row.
            EXPECT_EQ(plugin.SavedSection(), Saved(key == VK_ESCAPE ? vel : 2, 80, 4, 10));
        }
    }
}

TEST(ConfigDialog, TypedTextInTheListKeepsAValidVelOnOk) {
    ConfiguredPlugin plugin(Profile(6, 80, 4, 10));
    ASSERT_TRUE(plugin.loaded);
    RunWithUser(plugin.api.Config, [&](DialogUser& user) {
        const HWND dialog = user.WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Selection(dialog), 6);
        user.Type("x");  // the list has the focus, its text selected
        ASSERT_TRUE(DialogUser::WaitUntil([&] { return Item(dialog, IDC_SENSITIVITY) == "x"; }));
        ASSERT_EQ(Selection(dialog), CB_ERR) << "typed text leaves no entry selected";
        PressAndExpectClosed(user, dialog, VK_RETURN);
    });
    EXPECT_EQ(plugin.SavedSection(), Saved(6, 80, 4, 10));
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(ConfigDialog, TheActiveWindowOwnsTheDialogAndIsDisabledMeanwhile) {
    ConfiguredPlugin plugin;
    ASSERT_TRUE(plugin.loaded);
    WNDCLASSA cls{};
    cls.lpfnWndProc = PlainWindowProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "hk4HostFrame";
    RegisterClassA(&cls);
    const HWND frame = CreateWindowExA(0, cls.lpszClassName, "Host", WS_OVERLAPPEDWINDOW, 400, 300,
                                       300, 200, nullptr, nullptr, cls.hInstance, nullptr);
    ASSERT_NE(frame, nullptr);
    ShowWindow(frame, SW_SHOW);
    SetActiveWindow(frame);
    ASSERT_EQ(GetActiveWindow(), frame);
    RunWithUser(plugin.api.Config, [&](DialogUser& user) {
        const HWND dialog = user.WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), frame);
        EXPECT_FALSE(IsWindowEnabled(frame));
        PressAndExpectClosed(user, dialog, VK_ESCAPE);
    });
    EXPECT_TRUE(IsWindowEnabled(frame));
    DestroyWindow(frame);
}

// The host may rewrite its profile while the dialog is open: OK makes the
// change in the file as the host left it, and leaves a file it cannot be
// made in as it is, saying so on the message line.
TEST(ConfigDialog, OkSavesIntoTheProfileAsTheHostLeftIt) {
    auto profile = [](const char* tool, const char* rate) {
        return std::string("<?xml version=\"1.0\"?>\r\n<profile>\r\n  <Tool>") + tool +
               "</Tool>\r\n  <Halvex_K4_Pendant>\r\n    <Vel>2</Vel>\r\n    <StepJogRate>" + rate +
               "</StepJogRate>\r\n    <PercentTime>3</PercentTime>\r\n"
               "    <DelaySteps>25</DelaySteps>\r\n  </Halvex_K4_Pendant>\r\n</profile>\r\n";
    };
    struct Case {
        const char* what;
        std::string meantime;  // empty: the profile is deleted
        std::string after;     // empty: there is no profile
        std::string message;
    };
    const Case cases[] = {
        {"the host's change stays beside ours", profile("drill 6 mm", "100"),
         profile("drill 6 mm", "321"), ""},
        {"a removed profile stays away", "", "", hk4::kProfileChangedText},
        {"a profile no longer well-formed stays as it is", "<profile><Tool>drill 6 mm</profile>",
         "<profile><Tool>drill 6 mm</profile>", hk4::kProfileChangedText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConfiguredPlugin plugin(profile("drill 3 mm", "100"));
        ASSERT_TRUE(plugin.loaded);
        hostsim::SimHost host;
        host.InstallCallbacks(plugin.api);
        ASSERT_TRUE(plugin.api.InitControl(host.motion(), host.options(), host.planner(),
                                           host.parentObject()));
        plugin.api.PostInitControl();
        RunWithUser(plugin.api.Config, [&](DialogUser& user) {
            const HWND dialog = user.WaitForDialog(kCaption);
            ASSERT_NE(dialog, nullptr);
            if (c.meantime.empty())
                DeleteFileA(plugin.profile.c_str());
            else
                hk4test::WriteFile(plugin.profile, c.meantime);
            SetDlgItemTextA(dialog, IDC_FEED_RATE, "321");
            PressAndExpectClosed(user, dialog, VK_RETURN);
        });
        plugin.api.StopPlug();
        const bool exists = GetFileAttributesA(plugin.profile.c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(exists ? hk4test::ReadFile(plugin.profile) : std::string(), c.after);
        EXPECT_EQ(host.StatusText(), c.message);
    }
}

// The link line in both states, following the pendant while the dialog is
// open: a virtual pendant (the import table patched), linked by
// PostInitControl, unplugged while the user looks at the dialog; the
// plug-in's timer runs in the dialog's modal loop and finds it gone.
TEST(ConfigDialog, TheLinkLineFollowsThePendantWhileOpen) {
    ConfiguredPlugin plugin;
    ASSERT_TRUE(plugin.loaded);
    hostsim::DeviceModel model(false);
    hostsim::SetModel(&model);
    const std::size_t pendant =
        model.AddDevice("pendant", hostsim::kPendantVid, hostsim::kPendantPid,
                        "\\\\?\\hid#vid_04d8&pid_fce1#1", true);
    model.SetPolicy(pendant, hostsim::ReportPolicy::Periodic, 100 * hostsim::kMs);
    hostsim::ImportPatch patch;
    patch.Apply(plugin.api.module, hostsim::DeviceRedirects());
    {
        hostsim::SimHost host;
        model.hostWindow = host.parentWindow();
        host.InstallCallbacks(plugin.api);
        EXPECT_TRUE(plugin.api.InitControl(host.motion(), host.options(), host.planner(),
                                           host.parentObject()));
        plugin.api.PostInitControl();
        {
            const hostsim::PendantThread reports(model);
            RunWithUser(plugin.api.Config, [&](DialogUser& user) {
                const HWND dialog = user.WaitForDialog(kCaption);
                ASSERT_NE(dialog, nullptr);
                EXPECT_TRUE(DialogUser::WaitUntil([&] {
                    return Item(dialog, IDC_LINK_STATE) == "Pendant connected";
                })) << Item(dialog, IDC_LINK_STATE);
                {
                    std::lock_guard<std::recursive_mutex> g(model.lock);
                    model.Unplug(pendant, "");
                }
                EXPECT_TRUE(DialogUser::WaitUntil([&] {
                    return Item(dialog, IDC_LINK_STATE) == "Pendant not found";
                })) << Item(dialog, IDC_LINK_STATE);
                PressAndExpectClosed(user, dialog, VK_ESCAPE);
            });
        }
        plugin.api.StopPlug();
    }
    patch.Restore();
    hostsim::SetModel(nullptr);
}

}  // namespace
