// The watchdog's thread: it sleeps while no jog of the wheel runs and wakes
// at the deadline of one that does (docs/jog-watchdog.md).
#pragma once

#include <memory>

#include "input/jog_watchdog.h"

namespace hk4 {

class Win32JogWatchdog final : public JogWatchdog {
  public:
    // A stop tells `world` (Host::WorldChanged) that a tick running then acts
    // on a world that is gone.
    explicit Win32JogWatchdog(Host& world);
    // Ends the thread and waits for it (StopPlug or InitControl).
    ~Win32JogWatchdog() override;
    // The library is unloaded without StopPlug (process detach, under the
    // loader lock): the watched jog's stop is written now, and the thread is
    // parked for good. Waits only for what needs no loader lock; the object
    // is left to the thread, never destroyed.
    void Abandon() noexcept;
    Win32JogWatchdog(const Win32JogWatchdog&) = delete;
    Win32JogWatchdog& operator=(const Win32JogWatchdog&) = delete;

    void WheelMoved() override;
    bool LetRun(const Host& host, int32_t axis) override;
    void Disarm() override;
    bool TakeStop() override;

    // Whether the thread has been started (it starts with the first jog).
    bool ThreadStarted() const;

    struct Shared;

  private:
    // Held by the thread too: left to it when it does not end in time.
    Shared* shared_;
};

}  // namespace hk4
