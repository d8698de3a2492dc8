// Not a test: holds the configuration dialog open so that
// scripts/screenshot-config-dialog.sh can photograph the screen. It runs only
// when asked for by name (a disabled test) and with its two files named:
//   HK4_SHOT_RECT  written with "x y width height" of the dialog once shown
//   HK4_SHOT_DONE  the dialog closes once this file exists
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialog_user.h"
#include "hostside/plugin_api.h"
#include "win_test_support.h"

namespace {

TEST(DISABLED_ConfigDialogScreenshot, HoldsTheDialogOpenUntilPhotographed) {
    const char* rectFile = std::getenv("HK4_SHOT_RECT");
    const char* doneFile = std::getenv("HK4_SHOT_DONE");
    if (rectFile == nullptr || doneFile == nullptr) GTEST_SKIP() << "HK4_SHOT_* not set";
    hostside::PluginApi api;
    std::string error;
    ASSERT_TRUE(api.Load(hk4test::CopyPlugin("HalvexK4.dll"), error)) << error;
    api.SetProName((hk4test::TempDir() + "\\profile.xml").c_str());
    hk4test::RunWithUser(api.Config, [&](hk4test::DialogUser& user) {
        const HWND dialog = user.WaitForDialog("Configuration");
        ASSERT_NE(dialog, nullptr);
        Sleep(500);  // let it paint
        RECT r{};
        GetWindowRect(dialog, &r);
        const std::string rect = std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                                 std::to_string(r.right - r.left) + " " +
                                 std::to_string(r.bottom - r.top) + "\n";
        ASSERT_TRUE(hk4test::WriteFile(rectFile, rect));
        hk4test::DialogUser::WaitUntil(
            [&] { return GetFileAttributesA(doneFile) != INVALID_FILE_ATTRIBUTES; }, 60000);
        user.Press(VK_ESCAPE);
        hk4test::DialogUser::WaitUntil([&] { return !IsWindow(dialog); });
    });
    api.Unload();
}

}  // namespace
