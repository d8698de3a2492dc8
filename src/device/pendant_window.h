// The pendant window's behaviour, free of the platform: it finds and opens
// the pendant, follows it being unplugged and plugged in, and polls it on
// every timer tick. The Windows window (pendant_window_win32.cpp) owns one of
// these and forwards WM_TIMER and WM_DEVICECHANGE to it; everything it does
// to the system goes through the HidPort it is given.
//
// Everything runs on the host's user-interface thread, one call at a time.
// The only other actor is the system completing the outstanding report read
// and the outstanding report write.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "device/device_change_queue.h"
#include "device/hid_port.h"
#include "device/output_gate.h"
#include "input/decoder.h"
#include "input/host_codes.h"
#include "plugin/plugin_state.h"

namespace hk4 {

// The pendant's identity, compared with the 16-bit IDs widened to 32 bits.
inline constexpr uint32_t kPendantVendorId = 0x04D8;
inline constexpr uint32_t kPendantProductId = 0xFCE1;

inline constexpr uint32_t kPollTimerId = 1;
inline constexpr uint32_t kPollPeriodMs = 25;
// Reads one tick may take to reach the newest queued report. The system
// queues 32 reports per device; the bound keeps a device that reports faster
// than we can read from holding the host's thread.
inline constexpr int kMaxReadsPerTick = 64;
// Longest a close waits for a cancelled read to end before it gives the
// read's memory up for lost rather than free it under the system's feet.
inline constexpr uint32_t kCancelWaitMs = 1000;

inline constexpr uint8_t kOutputLampOn = 1;

// The lamp shows the host's LED that the pendant's button switches.
inline constexpr int32_t kLampLed = kLedPendantButton;

// What a WM_DEVICECHANGE carries, read safely out of its broadcast record.
// The name is a view into the message, valid while it is handled: reading a
// broadcast needs no memory, so that a removal is never lost for want of it.
struct DeviceBroadcast {
    uint32_t deviceType = 0;  // dbch_devicetype
    std::string_view name;    // dbcc_name of a device-interface broadcast
    // The name when the broadcast came in the wide form (UTF-16), which
    // Wine sends even to an ANSI window; `name` is then empty.
    std::u16string_view wideName;
};

// Reads the dbcc_name of a device-interface broadcast from its `available`
// bytes (dbcc_size less the name's offset), in whichever form it came: the
// record's size tells. A narrow name with its terminator fills the record
// (up to the padding of its last 4 bytes); a wide one read as narrow
// stops after its first character, and it is wide when its units with their
// terminator fill the record instead.
void ReadInterfaceName(const unsigned char* bytes, std::size_t available, DeviceBroadcast& out);

// A wide broadcast name against a device path: ASCII letters fold, and any
// character beyond ASCII (never in a device path) makes them differ.
bool SameDevicePathWide(std::u16string_view wide, std::string_view path);

// Case-insensitive comparison of two device paths in the system's ANSI code
// page: ASCII letters fold, a double-byte character is compared whole (its
// trail byte never folds as if it were a letter of its own).
bool SameDevicePath(std::string_view a, std::string_view b,
                    const std::function<bool(uint8_t)>& isLeadByte);

class PendantWindow {
  public:
    // `watchdog` ends a jog of the wheel when no tick comes; it must outlive
    // the window. Without one only ticks end it.
    PendantWindow(HidPort& port, PluginState& plugin, JogWatchdog* watchdog = nullptr);
    // Ends a continuous jog of the wheel still running, then closes the
    // pendant (an outstanding read is cancelled and waited for first), the
    // read event, the notification registration and the timer.
    ~PendantWindow();
    PendantWindow(const PendantWindow&) = delete;
    PendantWindow& operator=(const PendantWindow&) = delete;

    // Searches the HID devices for the pendant, opens it, registers for
    // device notifications and starts the poll timer (the last two also
    // when no pendant was found). Returns DevicePresent.
    bool FindPendant();
    // Registers the window for HID arrivals and removals, once per window.
    void RegisterDeviceNotifications();
    // WM_DEVICECHANGE; `data` is null when the message carried none. While
    // a tick runs, the change waits for the tick's end.
    bool OnDeviceChange(uint32_t eventType, const DeviceBroadcast* data);
    bool IsOurDevice(const DeviceBroadcast* header) const;
    // WM_TIMER: one polling tick. The timer ID is not looked at.
    void OnTimer(uintptr_t timerId);
    void BuildOutputReport();
    // Stops the poll timer at once: the window is going (the host stopped
    // the plug-in from inside a tick, whose end the destruction waits for).
    void StopTimer();
    bool InTick() const { return inTick_; }
    // StopPlug, or a second InitControl: while the host's call lasts, the
    // timer stops, the jog the wheel started ends ("ENDJOG", also one still
    // owed) and DROs 818 and 821 get the step jog's snapshot back. Whatever
    // of a tick is left to run after that finds the host released.
    void Dismiss();

    // Device link. Read them from outside; only the window changes them.
    std::string DevicePath;
    std::unique_ptr<HidFile> ProbeHandle;
    // The read's event together with its overlapped record (ReadOverlapped)
    // and the buffer the read fills.
    std::unique_ptr<ReadEventRecord> ReadEvent;
    DeviceGuid HidGuid;
    bool DevicePresent = false;
    std::unique_ptr<HidFile> ReadHandle;
    std::unique_ptr<HidFile> WriteHandle;
    // The write's event, overlapped record and buffer, made with the first
    // write; like ReadEvent it outlives the handles.
    std::unique_ptr<ReadEventRecord> WriteEvent;

    // Polling state shared with the wheel functions: RestoreAbsolute,
    // TabShown, TabTicks.
    TickShared shared;
    uint8_t InputReport[kInputReportSize] = {};
    uint32_t BytesRead = 0;  // byte count of the last report taken
    uint8_t OutputReport[kOutputReportSize] = {};
    uint8_t PreviousReport[kInputReportSize] = {};

    // Decoder and jog state.
    InputInterpreter input;

    bool ReadOutstanding() const { return readPending_; }
    bool WriteOutstanding() const { return writePending_; }

  private:
    // Links the first pendant in the HID device list, or, with none there,
    // leaves the link down with no handles. Starts no timer.
    void SearchPendant();
    // An HID device arrived: reopen the pendant at its path, or search.
    void OnArrival();
    // Closes and opens ReadHandle and WriteHandle from DevicePath.
    void OpenReportHandles();
    void EnsureReadEvent();
    // Closes ReadHandle; an outstanding read is cancelled and has ended
    // before the handle goes.
    void CloseReadHandle();
    // The same for WriteHandle and its outstanding write.
    void CloseWriteHandle();
    // Cancels the transfer outstanding on `file` with `record` and waits a
    // bounded time for it to end; a transfer that does not end takes its
    // record with it (AbandonRecord). Clears `pending`.
    void EndOutstanding(HidFile& file, std::unique_ptr<ReadEventRecord>& record, bool& pending);
    void OnRemoval();
    // Takes the link down after a failure; a jog the link may have started
    // is ended as on a removal.
    void FailLinkDown();
    // The link went down: the selected axis's jog stops, "ENDJOG" goes out
    // (the one a waiting removal owed) and the wheel's history is forgotten.
    void EndJogWithLink();
    void ApplyChange(DeviceChange change);
    // The changes that came in during the tick, in arrival order; also those
    // that come in while these are acted on.
    void ApplyDeferredChanges();

    // A tick that came while another runs: it counts for the deadman as a
    // poll without wheel steps; a jog that ends so is stopped through its
    // record at once and its "ENDJOG" waits for the running tick's end.
    void DroppedTick();
    // Stops the jog through its record at once (a write into host memory,
    // no host call) for a removal that has to wait for the tick's end.
    void StopJogRecord();
    // The "ENDJOG" that a dropped tick or a waiting removal owes the host.
    void SendOwedEndJog();

    // Tick steps.
    void CountTabScreenTime();
    void SampleHostIdle();
    void RunTick();
    void WriteOutputReport();
    // Leaves the newest report that has arrived in InputReport; with none,
    // InputReport keeps the previous report.
    void ReadNewestReport();
    // What the last ReadNewestReport brought, for the decoder: the wheel's
    // motion over the reports it drained (none for a baseline or a queue
    // that may have overflowed) and a press among them.
    ReportArrival TakeArrival();
    // Asks how the outstanding read ended, once ReadEvent is signalled.
    ReadResult EndRead();
    // A read failed because the pendant is gone: its removal is queued.
    void ReadDeviceGone();
    // Copies a completed read into InputReport when it brought a whole
    // report; true when it did.
    bool TakeReport(const ReadResult& result);
    // Gives up a transfer that does not end after its cancellation: its
    // memory is kept for ever rather than freed while the system may still
    // use it.
    static void AbandonRecord(std::unique_ptr<ReadEventRecord> record);
    // Asks how the outstanding write ended, once WriteEvent is signalled;
    // true when none is outstanding any more.
    bool EndWrite();

    HidPort& port_;
    PluginState& plugin_;
    std::unique_ptr<PortRegistration> notifications_;
    bool timerRunning_ = false;
    // The registration could not be made for want of memory: the tick tries
    // again, so that a pendant plugged in later is still heard of.
    bool registrationLost_ = false;
    bool readPending_ = false;  // a read on ReadHandle may still fill ReadEvent's buffer
    // A write on WriteHandle may still be sending WriteEvent's buffer,
    // which holds `writing_`.
    bool writePending_ = false;
    uint8_t writing_[kOutputReportSize] = {};
    // Set at every link-up: the next report taken is the wheel's baseline.
    bool baselinePending_ = false;
    // Of the reports taken this tick: how many, a press among them, and
    // whether the button was held in the last one (or the one decoded before).
    int reportsTaken_ = 0;
    bool pressTaken_ = false;
    bool buttonHeld_ = false;
    // The last drain that took reports may have overflowed: the button is
    // not known until one that did not shows it.
    bool buttonUncertain_ = false;
    // The wheel context and counter of the last report taken (or decoded
    // before), and the wheel's signed motion over the reports taken since
    // the last change of context.
    uint32_t lastContext_ = 0;
    int32_t lastCounter_ = 0;
    int32_t motion_ = 0;
    bool inTick_ = false;
    bool applyingChanges_ = false;
    bool endJogOwed_ = false;
    // This tick's read found the pendant removed: nothing is decoded.
    bool readGone_ = false;
    bool dismissed_ = false;  // see Host::dismissed
    DeviceChangeQueue deferred_;
    OutputGate output_;
};

}  // namespace hk4
