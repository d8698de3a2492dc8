#include "input/jog_watchdog_win32.h"

#include <windows.h>

#include "device/unique_handle_win32.h"

namespace hk4 {

namespace {

// The longest the owner waits for the thread to start, to park (it needs
// nothing but our lock to do so, never the loader lock) and to end.
constexpr DWORD kThreadEndMs = 2000;
// Enough for the thread's few frames; reserved, not committed.
constexpr SIZE_T kThreadStack = 64 * 1024;

}  // namespace

struct Win32JogWatchdog::Shared {
    CRITICAL_SECTION lock;
    JogDeadline watch;    // under `lock`
    bool quit = false;    // under `lock`
    UniqueEvent wake;     // auto-reset: the watch was armed, or quit
    UniqueEvent started;  // manual-reset: the thread runs our code
    UniqueEvent parked;   // manual-reset: the thread runs none of our code again
    UniqueEvent never;    // never signalled: what a parked thread waits on
    UniqueEvent thread;
    // The library's reference the thread was started with, while the owner
    // has not seen it start (then it is the thread's for good).
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

// The thread never returns into our code once it has quit: one system call
// tells the owner it is parked and starts an alertable wait that nothing
// ends but the owner's APC, the system's ExitThread, which leaves from
// inside the wait (docs/jog-watchdog.md).
DWORD WINAPI ActorMain(void* arg) {
    Shared& s = *static_cast<Shared*>(arg);
    SetEvent(s.started.get());
    Serve(s);
    for (;;) SignalObjectAndWait(s.parked.get(), s.never.get(), INFINITE, TRUE);
}

// With the lock held. The library is pinned until the thread is seen to
// run: a thread that has not reached our code yet cannot be parked, and an
// unload then would start it in code that is gone.
void StartThread(Shared& s) {
    if (s.thread || !s.wake || !s.started || !s.parked || !s.never) return;
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&ActorMain), &self))
        return;
    s.thread.reset(CreateThread(nullptr, kThreadStack, ActorMain, &s,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    // Without a thread only the ticks end the jog, as before.
    if (!s.thread || WaitForSingleObject(s.started.get(), kThreadEndMs) == WAIT_OBJECT_0)
        FreeLibrary(self);  // the host's own reference holds the library meanwhile
    else
        s.pinned = self;  // kept for good: the library then stays loaded
}

// Tells the thread to quit and waits until it is parked; then queues its
// exit. True when the thread runs none of our code any more (or never ran).
// Needs nothing but the lock from the thread, so it may run under the
// loader lock.
bool ParkThread(Shared& s) {
    {
        const Locked locked(s);
        s.quit = true;
    }
    if (!s.thread) return true;
    SetEvent(s.wake.get());
    if (WaitForSingleObject(s.parked.get(), kThreadEndMs) != WAIT_OBJECT_0) return false;
    // The system's own function as the APC: no code of ours runs in it.
    QueueUserAPC(reinterpret_cast<PAPCFUNC>(reinterpret_cast<void*>(&ExitThread)), s.thread.get(),
                 0);
    return true;
}

}  // namespace

Win32JogWatchdog::Win32JogWatchdog(Host& world) : shared_(new Shared) {
    shared_->world = &world;
    // Not CreateEventA: nothing here is a device's event.
    shared_->wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    shared_->started.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    shared_->parked.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    shared_->never.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

Win32JogWatchdog::~Win32JogWatchdog() {
    {
        const Locked locked(*shared_);
        shared_->watch.Disarm();
    }
    // A thread that did not park, or whose wait still holds our handles,
    // keeps what it uses.
    if (!ParkThread(*shared_)) return;
    if (shared_->thread &&
        WaitForSingleObject(shared_->thread.get(), kThreadEndMs) != WAIT_OBJECT_0)
        return;
    delete shared_;
}

void Win32JogWatchdog::Abandon() noexcept {
    {
        const Locked locked(*shared_);
        shared_->watch.StopNow();
    }
    // Its state is left to the thread: its last wait holds the handles.
    ParkThread(*shared_);
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
