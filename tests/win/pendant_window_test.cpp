// The hidden pendant window through the real DLL: how it is created, that
// it answers device notifications safely, and that StopPlug leaves nothing
// behind. (With the simulator's virtual pendant, the scenarios follow the
// ticks and device changes through this window.)
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hostside/plugin_api.h"
#include "plugin/host.h"
#include "win_test_support.h"

namespace {

int g_lampReads = 0;
std::vector<std::string> g_code;

uint8_t HK4_CDECL CountGetLED(int32_t number) {
    if (number == 800) ++g_lampReads;
    return 0;
}
void HK4_CDECL RecordCode(const char* line) {
    g_code.push_back(line ? line : "");
}
void HK4_CDECL IgnoreButton(int32_t) {}

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// The host: its window, its blocks and the plug-in loaded into it.
class TestHost {
  public:
    explicit TestHost(bool withParent = true) {
        static const ATOM atom = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = ParentProc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "PendantWindowTestParent";
            return RegisterClassA(&wc);
        }();
        (void)atom;
        if (withParent)
            parent =
                CreateWindowExA(0, "PendantWindowTestParent", "host", WS_OVERLAPPEDWINDOW, 50, 50,
                                300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        const int32_t handle = static_cast<int32_t>(reinterpret_cast<intptr_t>(parent));
        std::memcpy(parentObject + 28, &handle, sizeof handle);
        motion.resize(hk4::kMotionBlockSize);
        options.resize(hk4::kOptionsBlockSize);
        planner.resize(hk4::kPlannerBlockSize);
        g_lampReads = 0;
        g_code.clear();
    }
    ~TestHost() {
        if (api.module) {
            api.StopPlug();
            api.Unload();
        }
        if (parent) DestroyWindow(parent);
    }

    bool Load() {
        std::string error;
        if (!api.Load(hk4test::CopyPlugin("HalvexK4.dll"), error)) {
            ADD_FAILURE() << error;
            return false;
        }
        api.SetDoButton(IgnoreButton);
        api.SetGetLED(CountGetLED);
        api.SetCode(RecordCode);
        return true;
    }
    bool InitControl() {
        return api.InitControl(motion.data(), options.data(), planner.data(), parentObject);
    }
    std::vector<HWND> Children() const {
        std::vector<HWND> children;
        for (HWND c = FindWindowExA(parent, nullptr, nullptr, nullptr); c;
             c = FindWindowExA(parent, c, nullptr, nullptr))
            children.push_back(c);
        return children;
    }

    HWND parent = nullptr;
    unsigned char parentObject[hk4::kParentWindowSize] = {};
    std::vector<unsigned char> motion, options, planner;
    hostside::PluginApi api;
};

// Runs the message loop until `done` or `ms` have passed.
template <typename Done>
bool PumpUntil(Done done, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

void Pump(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

std::string ClassOf(HWND hwnd) {
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

TEST(PendantWindow, IsAHiddenChildOfTheHostWindowWithTheGivenShape) {
    TestHost host;
    ASSERT_TRUE(host.Load());
    ASSERT_TRUE(host.InitControl());
    const std::vector<HWND> children = host.Children();
    ASSERT_EQ(children.size(), 1u);
    HWND child = children[0];
    EXPECT_EQ(GetAncestor(child, GA_PARENT), host.parent);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)), static_cast<DWORD>(WS_CHILD));
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_EQ(GetDlgCtrlID(child), 1);
    EXPECT_EQ(GetWindowTextLengthA(child), 0);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, host.parent, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 10);
    EXPECT_EQ(rect.bottom, 10);
    // A window class of the plug-in's own.
    EXPECT_EQ(reinterpret_cast<HMODULE>(GetClassLongPtrA(child, GCLP_HMODULE)), host.api.module);
    const std::string className = ClassOf(child);

    host.api.StopPlug();
    EXPECT_FALSE(IsWindow(child));
    EXPECT_TRUE(host.Children().empty());
    // The class goes with the window: a later load of the library at
    // another address must not find one that points into the old one.
    WNDCLASSA info{};
    EXPECT_FALSE(GetClassInfoA(host.api.module, className.c_str(), &info));
    host.api.StopPlug();  // a second StopPlug does nothing
}

TEST(PendantWindow, RepeatedInitControlKeepsOneWindow) {
    TestHost host;
    ASSERT_TRUE(host.Load());
    ASSERT_TRUE(host.InitControl());
    ASSERT_TRUE(host.InitControl());
    EXPECT_EQ(host.Children().size(), 1u);
}

TEST(PendantWindow, WithoutAHostWindowNothingIsCreatedAndTheEntryPointsStillWork) {
    TestHost host(false);
    ASSERT_TRUE(host.Load());
    EXPECT_TRUE(host.InitControl());
    host.api.PostInitControl();
    Pump(100);
    EXPECT_EQ(g_lampReads, 0);
    host.api.StopPlug();
    host.api.StopPlug();
}

TEST(PendantWindow, DeviceChangesWithoutAPendantAreAnsweredAndChangeNothing) {
    TestHost host;
    ASSERT_TRUE(host.Load());
    ASSERT_TRUE(host.InitControl());
    const std::vector<HWND> children = host.Children();
    ASSERT_EQ(children.size(), 1u);
    HWND child = children[0];
    host.api.PostInitControl();  // no pendant here: the link stays down

    Pump(150);
    EXPECT_EQ(g_lampReads, 0);  // ticks with the link down read no LED

    // An HID arrival makes the link search again; with no pendant here it
    // finds none and the link stays down.
    DEV_BROADCAST_DEVICEINTERFACE_A arrival{};
    arrival.dbcc_size = sizeof arrival;
    arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    EXPECT_EQ(
        SendMessageA(child, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival)),
        TRUE);
    EXPECT_EQ(SendMessageA(child, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), TRUE);  // no record
    Pump(150);
    EXPECT_EQ(g_lampReads, 0);

    // Removals that are not of our pendant change nothing, also when the
    // record is damaged.
    struct {
        DEV_BROADCAST_DEVICEINTERFACE_A header;
        char more[64];
    } removal{};
    removal.header.dbcc_size = sizeof removal;
    removal.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::strcpy(removal.header.dbcc_name, "\\\\?\\hid#vid_046d&pid_c077#1");
    EXPECT_EQ(SendMessageA(child, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                           reinterpret_cast<LPARAM>(&removal)),
              TRUE);
    removal.header.dbcc_size = 2;  // shorter than a header
    EXPECT_EQ(SendMessageA(child, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                           reinterpret_cast<LPARAM>(&removal)),
              TRUE);
    EXPECT_EQ(SendMessageA(child, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0), TRUE);
    EXPECT_EQ(SendMessageA(child, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), TRUE);
    EXPECT_TRUE(g_code.empty());

    EXPECT_EQ(g_lampReads, 0);
}

}  // namespace
