#include "device/pendant_window.h"

namespace hk4 {

PendantWindow::PendantWindow(HidPort& port, PluginState& plugin, JogWatchdog* watchdog)
    : port_(port), plugin_(plugin) {
    if (watchdog) input.SetWatchdog(*watchdog);
}

PendantWindow::~PendantWindow() {
    // No more ticks will come to end it: a jog the wheel started stops with
    // the window (StopPlug), not whenever the host gets round to it.
    // A dismissed link ended its jog then; the host may belong to the next
    // link by now.
    if (DevicePresent && !dismissed_) input.EndRunningJog(plugin_.host);
    ProbeHandle.reset();
    // The read is cancelled and has ended before its buffer and record go.
    CloseReadHandle();
    WriteHandle.reset();
    ReadEvent.reset();
    notifications_.reset();
    StopTimer();
}

}  // namespace hk4
