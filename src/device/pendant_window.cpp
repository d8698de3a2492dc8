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
    // The read and the write are cancelled and have ended before their
    // buffers and records go.
    CloseReadHandle();
    CloseWriteHandle();
    ReadEvent.reset();
    WriteEvent.reset();
    notifications_.reset();
    StopTimer();
}

}  // namespace hk4
