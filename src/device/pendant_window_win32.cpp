// The hidden pendant window: a child of the host's window that owns the
// pendant link and receives its timer ticks and device notifications.
#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include "device/hid_port_win32.h"
#include "device/pendant_window.h"
#include "plugin/lifecycle_win32.h"
#include "plugin/plugin_state.h"

namespace hk4 {

namespace {

constexpr char kClassName[] = "HalvexK4PendantWindow";
constexpr UINT_PTR kControlId = 1;

struct NativeWindow {
    HWND hwnd = nullptr;
    std::unique_ptr<Win32HidPort> port;
    std::unique_ptr<PendantWindow> link;

    ~NativeWindow() {
        // The link closes the pendant (an outstanding read is ended first),
        // unregisters its notifications and kills its timer before the
        // window goes.
        link.reset();
        port.reset();
        if (hwnd) DestroyWindow(hwnd);
    }
};

NativeWindow* g_window = nullptr;

PendantWindow* LinkOf(HWND hwnd) {
    return g_window && g_window->hwnd == hwnd ? g_window->link.get() : nullptr;
}

// Reads what the window needs out of a device broadcast, never beyond the
// size the record states.
bool ReadBroadcast(LPARAM lParam, DeviceBroadcast& out) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_size < sizeof(DEV_BROADCAST_HDR)) return false;
    out.deviceType = header->dbch_devicetype;
    constexpr std::size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (out.deviceType == DBT_DEVTYP_DEVICEINTERFACE && header->dbch_size > kNameAt) {
        const auto* item = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
        out.name.assign(item->dbcc_name, strnlen(item->dbcc_name, header->dbch_size - kNameAt));
    }
    return true;
}

LRESULT CALLBACK PendantWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (PendantWindow* link = LinkOf(hwnd)) link->OnTimer(static_cast<uintptr_t>(wParam));
            break;
        case WM_DEVICECHANGE:
            if (PendantWindow* link = LinkOf(hwnd)) {
                DeviceBroadcast broadcast;
                const bool hasData =
                    (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
                    ReadBroadcast(lParam, broadcast);
                link->OnDeviceChange(static_cast<uint32_t>(wParam), hasData ? &broadcast : nullptr);
            }
            return TRUE;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool RegisterWindowClass() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PendantWindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kClassName;
    if (RegisterClassA(&windowClass)) return true;
    // Left over from a load of this library that ended without StopPlug:
    // it may point at code that is no longer there.
    if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    UnregisterClassA(kClassName, ThisModule());
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace

void CreatePendantWindow(HWND parent) {
    DestroyPendantWindow();  // a repeated InitControl replaces the window
    if (!RegisterWindowClass()) return;
    HWND hwnd = CreateWindowExA(0, kClassName, nullptr, WS_CHILD, 0, 0, 10, 10, parent,
                                reinterpret_cast<HMENU>(kControlId), ThisModule(), nullptr);
    if (!hwnd) {
        // Without a window no tick or notification could ever arrive, so
        // nothing is opened later either.
        UnregisterClassA(kClassName, ThisModule());
        return;
    }
    auto window = std::make_unique<NativeWindow>();
    window->hwnd = hwnd;
    window->port = std::make_unique<Win32HidPort>(hwnd);
    window->link = std::make_unique<PendantWindow>(*window->port, Plugin());
    g_window = window.release();
}

void FindPendantOnWindow() {
    if (g_window && g_window->link) g_window->link->FindPendant();
}

void DestroyPendantWindow() {
    // Forgotten before it is torn down, so that a second call, or a message
    // that arrives meanwhile, finds no window.
    std::unique_ptr<NativeWindow> window(std::exchange(g_window, nullptr));
    if (!window) return;
    window.reset();
    UnregisterClassA(kClassName, ThisModule());
}

}  // namespace hk4
