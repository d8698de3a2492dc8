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
#include "input/jog_watchdog_win32.h"
#include "plugin/boundary_win32.h"
#include "plugin/lifecycle_win32.h"
#include "plugin/plugin_state.h"

namespace hk4 {

namespace {

constexpr char kClassName[] = "HalvexK4PendantWindow";
constexpr UINT_PTR kControlId = 1;

struct NativeWindow {
    HWND hwnd = nullptr;
    std::unique_ptr<Win32HidPort> port;
    std::unique_ptr<Win32JogWatchdog> watchdog;  // outlives the link
    std::unique_ptr<PendantWindow> link;
    // Handlers of this window's messages now running (a host callback may
    // let a message through while one runs).
    int busy = 0;
    // StopPlug or a second InitControl came while a handler ran: the window
    // goes when the outermost handler has returned.
    bool doomed = false;
    NativeWindow* nextDoomed = nullptr;

    ~NativeWindow() {
        // The link closes the pendant (an outstanding read is ended first),
        // unregisters its notifications and kills its timer before the
        // window goes.
        link.reset();
        // The link ended its jog; the watchdog's thread ends here.
        watchdog.reset();
        port.reset();
        if (hwnd) DestroyWindow(hwnd);
    }
};

NativeWindow* g_window = nullptr;
NativeWindow* g_doomed = nullptr;  // windows waiting for their handlers to return
bool g_classRegistered = false;

// The live window whose handle is `hwnd`; a doomed window takes no more
// messages of its own.
NativeWindow* LiveWindow(HWND hwnd) {
    return g_window && g_window->hwnd == hwnd ? g_window : nullptr;
}

// The class goes once no window of it is left.
void ReleaseWindowClass() {
    if (!g_classRegistered || g_window || g_doomed) return;
    UnregisterClassA(kClassName, ThisModule());
    g_classRegistered = false;
}

void Unlink(NativeWindow* window) {
    for (NativeWindow** p = &g_doomed; *p; p = &(*p)->nextDoomed) {
        if (*p == window) {
            *p = window->nextDoomed;
            return;
        }
    }
}

// Counts a running handler of the window; when the last one returns on a
// doomed window, that window is destroyed, however the handler ended.
class HandlerScope {
  public:
    explicit HandlerScope(NativeWindow* window) : window_(window) { ++window_->busy; }
    ~HandlerScope() {
        if (--window_->busy != 0 || !window_->doomed) return;
        Unlink(window_);
        delete window_;
        ReleaseWindowClass();
    }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

  private:
    NativeWindow* window_;
};

// Reads what the window needs out of a device broadcast, never beyond the
// size the record states.
bool ReadBroadcast(LPARAM lParam, DeviceBroadcast& out) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_size < sizeof(DEV_BROADCAST_HDR)) return false;
    out.deviceType = header->dbch_devicetype;
    constexpr std::size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (out.deviceType == DBT_DEVTYP_DEVICEINTERFACE && header->dbch_size > kNameAt) {
        ReadInterfaceName(reinterpret_cast<const unsigned char*>(header) + kNameAt,
                          header->dbch_size - kNameAt, out);
    }
    return true;
}

void HandleTimer(NativeWindow* window, WPARAM wParam) {
    const HandlerScope scope(window);
    window->link->OnTimer(static_cast<uintptr_t>(wParam));
}

void HandleDeviceChange(NativeWindow* window, WPARAM wParam, LPARAM lParam) {
    const HandlerScope scope(window);
    DeviceBroadcast broadcast;
    const bool hasData = (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
                         ReadBroadcast(lParam, broadcast);
    window->link->OnDeviceChange(static_cast<uint32_t>(wParam), hasData ? &broadcast : nullptr);
}

LRESULT CALLBACK PendantWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // The system's and the host's frames lie below: nothing may unwind
    // into them.
    try {
        switch (message) {
            case WM_TIMER:
                if (NativeWindow* window = LiveWindow(hwnd)) HandleTimer(window, wParam);
                break;
            case WM_DEVICECHANGE:
                if (NativeWindow* window = LiveWindow(hwnd))
                    HandleDeviceChange(window, wParam, lParam);
                return TRUE;
            default:
                break;
        }
    } catch (...) {
        NoteFailure("pendant window message");
        if (message == WM_DEVICECHANGE) return TRUE;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool RegisterWindowClass() {
    // Still registered for a window that waits for its handlers to return.
    if (g_classRegistered) return true;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PendantWindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass)) {
        // Left over from a load of this library that ended without
        // StopPlug: it may point at code that is no longer there.
        if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
        UnregisterClassA(kClassName, ThisModule());
        if (!RegisterClassA(&windowClass)) return false;
    }
    g_classRegistered = true;
    return true;
}

}  // namespace

void CreatePendantWindow(HWND parent) {
    DestroyPendantWindow();  // a repeated InitControl replaces the window
    // The host stopped the plug-in from inside a callback of that: its
    // last word was stop, so no window is made.
    if (Plugin().host.released) return;
    // Made before the window, so that a window is never left without it.
    auto window = std::make_unique<NativeWindow>();
    if (!RegisterWindowClass()) return;
    window->hwnd = CreateWindowExA(0, kClassName, nullptr, WS_CHILD, 0, 0, 10, 10, parent,
                                   reinterpret_cast<HMENU>(kControlId), ThisModule(), nullptr);
    if (!window->hwnd) {
        // Without a window no tick or notification could ever arrive, so
        // nothing is opened later either.
        ReleaseWindowClass();
        return;
    }
    try {
        window->port = std::make_unique<Win32HidPort>(window->hwnd);
        window->watchdog = std::make_unique<Win32JogWatchdog>(Plugin().host);
        window->link =
            std::make_unique<PendantWindow>(*window->port, Plugin(), window->watchdog.get());
    } catch (...) {
        window.reset();  // destroys the window too
        ReleaseWindowClass();
        throw;
    }
    g_window = window.release();
}

void FindPendantOnWindow() {
    if (g_window && g_window->link) g_window->link->FindPendant();
}

bool PendantLinked() {
    return g_window && g_window->link && g_window->link->DevicePresent;
}

void DestroyPendantWindow() {
    // Forgotten before it is torn down, so that a second call, or a message
    // that arrives meanwhile, finds no window.
    NativeWindow* window = std::exchange(g_window, nullptr);
    if (!window) return;
    // The jog and the snapshot are settled while the host's call lasts: once
    // it has returned, nothing of ours may call the host again.
    // A failure there still lets the window go.
    if (window->link) Shielded("Dismiss", [window] { window->link->Dismiss(); });
    if (window->busy > 0) {
        // Called from inside one of the window's own handlers (a host
        // callback of a tick): no more ticks from now on (Dismiss stopped
        // the timer), but the window and its link live until that handler
        // has returned.
        window->doomed = true;
        window->nextDoomed = g_doomed;
        g_doomed = window;
        return;
    }
    delete window;
    ReleaseWindowClass();
}

void AbandonPendantWindow() noexcept {
    // Under the loader lock nothing may wait, call the host or destroy a
    // window (it may belong to another thread). The window's messages go to
    // the system's default procedure from now on, since this code is about
    // to go, and its own thread destroys it when it takes the WM_CLOSE. The
    // link, its handles and its read's memory are given up, never freed: a
    // read the system may still complete writes into memory that stays.
    auto abandon = [](NativeWindow* window) {
        if (!window) return;
        // A jog the wheel runs stops before the library lets go, and the
        // watchdog's thread runs no code of ours from here on.
        if (window->watchdog) window->watchdog->Abandon();
        if (!window->hwnd) return;
        SetWindowLongPtrA(window->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        PostMessageA(window->hwnd, WM_CLOSE, 0, 0);
    };
    abandon(std::exchange(g_window, nullptr));
    for (NativeWindow* w = std::exchange(g_doomed, nullptr); w; w = w->nextDoomed) abandon(w);
    // Left registered: a window of it still exists. A later load of the
    // library registers it afresh.
    g_classRegistered = false;
}

}  // namespace hk4
