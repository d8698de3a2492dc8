// The host's message loop in real time, and the thread that plays the
// pendant in real time (it produces reports and completes reads while the
// host thread runs the plug-in's own 25 ms timer).
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "hostsim/device_model.h"
#include "hostside/plugin_api.h"
#include "hostsim/sim_host.h"

namespace hostsim {

struct LoopOptions {
    DWORD ms = 500;                             // how long the host runs
    DWORD cycleMs = 10;                         // one Update per host cycle
    HWND timerWindow = nullptr;                 // when set, the WM_TIMER dispatches to it are timed
    std::vector<double>* tickMicros = nullptr;  // host-thread time of each tick
    std::vector<double>* tickSimulatorMicros = nullptr;  // of which the virtual system's
    std::function<void()> afterTick;                     // runs when a timed tick has returned
    std::function<void()> afterPoll;  // runs when any tick of the plug-in's window has returned
};

// Runs the host's message loop: dispatches messages, calls Update once per
// cycle, delivers device broadcasts and traces the host field writes.
void RunHostLoop(const hostside::PluginApi& api, SimHost& host, const LoopOptions& options);

// Holds the host's thread for `span` of real time without letting a message
// through (a long redraw, a script, a debugger). Only another thread of the
// plug-in can act meanwhile: its writes into the host's blocks are traced as
// they are seen, every millisecond, and the time of the first one from the
// hold's start is traced against `expected` +- `tolerance` ms (none expected:
// -1). `follow(at)` runs at each look with the time since the hold's start
// (a stepped scenario moves its virtual clock with it).
void HoldHostThread(SimHost& host, Micros span, long expected, long tolerance,
                    const std::function<void(Micros)>& follow);

class PendantThread {
  public:
    explicit PendantThread(DeviceModel& model);
    ~PendantThread();
    PendantThread(const PendantThread&) = delete;
    PendantThread& operator=(const PendantThread&) = delete;

  private:
    void Run();
    DeviceModel& model_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace hostsim
