// One polling tick: the TAB screen timeout, then, while the pendant is
// linked, host idle sampling, one report read, decoding and the lamp.
#include <cstring>
#include <limits>
#include <utility>

#include "device/pendant_window.h"

namespace hk4 {

namespace {

// Clears a flag when the scope ends, however it ends.
class TickScope {
  public:
    explicit TickScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~TickScope() { flag_ = false; }
    TickScope(const TickScope&) = delete;
    TickScope& operator=(const TickScope&) = delete;

  private:
    bool& flag_;
};

}  // namespace

void PendantWindow::OnTimer(uintptr_t /*timerId*/) {
    const HostGate gate(plugin_.host, &dismissed_);
    // A host callback that pumps messages could deliver the next tick while
    // this one is still decoding; that tick is dropped rather than run
    // inside this one, but the deadman still counts it.
    if (inTick_) {
        DroppedTick();
        return;
    }
    try {
        {
            TickScope scope(inTick_);
            const TickWorld world(plugin_.host);
            RunTick();
        }
        ApplyDeferredChanges();
        SendOwedEndJog();
    } catch (...) {
        // A removal that came in before the failure must still end the jog.
        ApplyDeferredChanges();
        SendOwedEndJog();
        throw;
    }
}

// The running tick read the pendant before this one was due: what it read
// is out of date, and it acts on it no further.
void PendantWindow::DroppedTick() {
    plugin_.host.WorldChanged();
    if (DevicePresent && input.DroppedPoll(plugin_.host)) endJogOwed_ = true;
}

void PendantWindow::SendOwedEndJog() {
    if (!std::exchange(endJogOwed_, false)) return;
    input.EndJogSent();
    plugin_.host.Code("ENDJOG");
}

void PendantWindow::Dismiss() {
    plugin_.host.WorldChanged();
    StopTimer();
    const bool owed = std::exchange(endJogOwed_, false);
    // The "G90" of a step line the host runs now (StopPlug from inside it).
    input.RestoreAbsoluteNow(plugin_.host);
    if (input.Jog().JoggingAxis != kNoAxis) {
        input.EndRunningJog(plugin_.host);
    } else if (owed) {
        input.EndJogSent();
        plugin_.host.Code("ENDJOG");
    }
    input.RestoreSnapshotNow(plugin_);
    dismissed_ = true;
}

void PendantWindow::RunTick() {
    if (registrationLost_) {
        try {
            RegisterDeviceNotifications();
        } catch (...) {
            // Still no memory: the next tick tries again; polling goes on.
        }
    }
    CountTabScreenTime();  // also while the link is down
    if (!DevicePresent) {
        // A step jog's feed override must not stay in force while the
        // pendant that made it is away.
        input.RestoreSnapshot(plugin_);
        return;
    }
    SampleHostIdle();
    std::memcpy(PreviousReport, InputReport, sizeof InputReport);
    ReadNewestReport();
    // Its own callbacks may hold this tick from now on no longer than the
    // deadman's time (Host::Stale).
    plugin_.host.ReportRead();
    if (std::exchange(readGone_, false)) return;
    input.DecodeReport(InputReport, shared, plugin_, TakeArrival());
    // The world changed inside the decoding (the pendant went, a stop): the
    // next tick writes the lamp from what is true then.
    if (plugin_.host.Stale()) return;
    BuildOutputReport();
    WriteOutputReport();
}

void PendantWindow::WriteOutputReport() {
    // One write at a time, never waited for: while one is outstanding the
    // lamp's newest report waits for the first tick after it has ended.
    if (!WriteHandle || !EndWrite() || !output_.Due(OutputReport)) return;
    if (!WriteEvent) WriteEvent = port_.CreateReadEvent(true, true);
    if (!WriteEvent) return;  // the next tick tries again
    std::memcpy(writing_, OutputReport, sizeof writing_);
    const ReadResult started =
        WriteHandle->StartWrite(*WriteEvent, OutputReport, sizeof OutputReport);
    writePending_ = started.status == ReadStatus::Pending;
    if (!writePending_) output_.Written(writing_, started.status == ReadStatus::Completed);
}

void PendantWindow::StopTimer() {
    if (timerRunning_) port_.StopTimer(kPollTimerId);
    timerRunning_ = false;
}

void PendantWindow::CountTabScreenTime() {
    // The count runs on up to the closing tick of any PercentTime (64 bits
    // reach 50 x INT32_MAX + 1); it stops at the top rather than wrap.
    if (shared.TabTicks < std::numeric_limits<int64_t>::max()) ++shared.TabTicks;
    // The products are taken in 64 bits: no PercentTime can overflow them.
    const int64_t percent = plugin_.settings.PercentTime;
    const int64_t ticks = shared.TabTicks;
    // Closing the screen the plug-in opened finishes what it started; it
    // counts as closed only once the press was made.
    if (percent * 50 < ticks && ticks < percent * 60 && shared.TabShown && percent != 0 &&
        plugin_.host.DoButton(kButtonTabScreen, Host::Call::Finishes))
        shared.TabShown = false;
}

void PendantWindow::SampleHostIdle() {
    const Host& host = plugin_.host;
    const bool idle = host.read(fields::PlannerBusy) == 0 &&
                      host.read(fields::PlannerCountB) == host.read(fields::PlannerCountA) &&
                      host.read(fields::MotionCountB) == host.read(fields::MotionCountA);
    if (idle) shared.RestoreAbsolute = host.read(fields::NoAbsoluteRestore) == 0;
}

void PendantWindow::BuildOutputReport() {
    std::memset(OutputReport, 0, sizeof OutputReport);
    OutputReport[1] = plugin_.host.GetLED(kLampLed) ? kOutputLampOn : 0;
}

}  // namespace hk4
