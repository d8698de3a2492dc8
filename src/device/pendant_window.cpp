#include "device/pendant_window.h"

namespace hk4 {

PendantWindow::PendantWindow(HidPort& port, PluginState& plugin) : port_(port), plugin_(plugin) {}

PendantWindow::~PendantWindow() {
    ProbeHandle.reset();
    // The read is cancelled and has ended before its buffer and record go.
    CloseReadHandle();
    WriteHandle.reset();
    ReadEvent.reset();
    notifications_.reset();
    StopTimer();
}

}  // namespace hk4
