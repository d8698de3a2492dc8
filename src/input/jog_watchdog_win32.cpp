#include "input/jog_watchdog_win32.h"

#include <windows.h>

#include "device/unique_handle_win32.h"

namespace hk4 {

namespace {

// The longest the owner waits for the thread to end. It needs nothing but a
// turn at the loader lock to do so, which its owner does not hold.
constexpr DWORD kThreadEndMs = 2000;
// Enough for the thread's few frames; reserved, not committed.
constexpr SIZE_T kThreadStack = 64 * 1024;

}  // namespace

struct Win32JogWatchdog::Shared {
    CRITICAL_SECTION lock;
    JogDeadline watch;  // under `lock`
    bool quit = false;  // under `lock`
    UniqueEvent wake;   // auto-reset: the watch was armed, or quit
    UniqueEvent thread;
    HMODULE pinned = nullptr;
    Host* world = nullptr;

    Shared() { InitializeCriticalSection(&lock); }
    ~Shared() { DeleteCriticalSection(&lock); }
};

namespace {

using Shared = Win32JogWatchdog::Shared;

// Held only around a few assignments and the one write of the stop flag:
// never across a call into the host.
class Locked {
  public:
    explicit Locked(Shared& s) : lock_(s.lock) { EnterCriticalSection(&lock_); }
    ~Locked() { LeaveCriticalSection(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    CRITICAL_SECTION& lock_;
};

void Serve(Shared& s) {
    for (;;) {
        DWORD wait = INFINITE;
        {
            const Locked locked(s);
            if (s.quit) return;
            const uint32_t now = GetTickCount();
            if (s.watch.StopIfDue(now)) s.world->WorldChanged();
            const uint32_t remaining = s.watch.Remaining(now);
            if (remaining != JogDeadline::kNever) wait = remaining;
        }
        WaitForSingleObject(s.wake.get(), wait);
    }
}

// The thread holds a reference to this library from before it starts until
// it has left: the library cannot be unloaded under its feet, and it leaves
// through the system's FreeLibraryAndExitThread, never returning into code
// that may be gone.
DWORD WINAPI ActorMain(void* arg) {
    Shared& s = *static_cast<Shared*>(arg);
    const HMODULE pinned = s.pinned;
    Serve(s);
    FreeLibraryAndExitThread(pinned, 0);
    return 0;
}

// With the lock held.
void StartThread(Shared& s) {
    if (s.thread || !s.wake) return;
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&ActorMain), &self))
        return;
    s.pinned = self;
    s.thread.reset(CreateThread(nullptr, kThreadStack, ActorMain, &s,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    // Without a thread only the ticks end the jog, as before.
    if (!s.thread) FreeLibrary(self);
}

}  // namespace

Win32JogWatchdog::Win32JogWatchdog(Host& world) : shared_(new Shared) {
    shared_->world = &world;
    // Not CreateEventA: nothing here is a device's event.
    shared_->wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

Win32JogWatchdog::~Win32JogWatchdog() {
    {
        const Locked locked(*shared_);
        shared_->quit = true;
        shared_->watch.Disarm();
    }
    if (shared_->thread) {
        SetEvent(shared_->wake.get());
        if (WaitForSingleObject(shared_->thread.get(), kThreadEndMs) != WAIT_OBJECT_0)
            return;  // still running: its state is left to it
    }
    delete shared_;
}

void Win32JogWatchdog::WheelMoved() {
    const uint32_t now = GetTickCount();
    const Locked locked(*shared_);
    shared_->watch.WheelMoved(now);
}

bool Win32JogWatchdog::LetRun(const Host& host, int32_t axis) {
    bool wake = false;
    {
        const Locked locked(*shared_);
        const bool wasArmed = shared_->watch.Armed();
        if (!shared_->watch.LetRun(host, axis)) return false;
        if (!wasArmed && shared_->watch.Armed()) {
            StartThread(*shared_);
            wake = true;
        }
    }
    // The thread waited without a limit: it takes up the deadline.
    if (wake) SetEvent(shared_->wake.get());
    return true;
}

void Win32JogWatchdog::Disarm() {
    // The thread wakes at the old deadline, finds nothing armed and sleeps.
    const Locked locked(*shared_);
    shared_->watch.Disarm();
}

bool Win32JogWatchdog::TakeStop() {
    const Locked locked(*shared_);
    return shared_->watch.TakeStop();
}

bool Win32JogWatchdog::ThreadStarted() const {
    const Locked locked(*shared_);
    return static_cast<bool>(shared_->thread);
}

}  // namespace hk4
