// The report read, and the end of the report write. At most one read is
// outstanding, into the read event record's own buffer; InputReport only
// ever receives a read that has ended with a whole report, so the decoders
// never see a buffer that the system can still fill. The write has a record
// of its own, and ends the same way: seen without waiting, or cancelled and
// waited for when its handle closes.
//
// A tick drains what has already arrived, without waiting, and keeps the
// newest report, so the decoded report is never older than about one tick
// whatever the pendant's report rate. When nothing has arrived it decodes the
// previous report at once: the host's thread is never held waiting, and a
// report that comes later is the next tick's newest. The outstanding read
// stays for the next tick.
#include <cstring>
#include <vector>

#include "device/pendant_window.h"
#include "input/wheel.h"

namespace hk4 {

ReadStatus ReadFailure(uint32_t lastError, bool started) {
    if (lastError == (started ? win32::kErrorIoPending : win32::kErrorIoIncomplete))
        return ReadStatus::Pending;
    if (lastError == win32::kErrorDeviceNotConnected || lastError == win32::kErrorAccessDenied)
        return ReadStatus::Gone;
    return ReadStatus::Failed;
}

void PendantWindow::ReadNewestReport() {
    reportsTaken_ = 0;
    pressTaken_ = false;
    buttonHeld_ = ButtonHeld(InputReport);
    lastContext_ = WheelContext(InputReport);
    lastCounter_ = InputReport[1];
    motion_ = 0;
    // With no read handle there is no read to wait for.
    if (!ReadHandle || !ReadEvent) return;
    int reads = 0;
    for (;;) {
        if (readPending_) {
            if (!ReadEvent->Wait(0)) break;
            const ReadResult ended = EndRead();
            if (ended.status == ReadStatus::Gone) ReadDeviceGone();
            if (ended.status != ReadStatus::Completed) break;
            TakeReport(ended);
        }
        if (reads == kMaxReadsPerTick) break;
        ++reads;
        const ReadResult started = ReadHandle->StartRead(*ReadEvent);
        if (started.status == ReadStatus::Gone) ReadDeviceGone();
        if (started.status == ReadStatus::Failed || started.status == ReadStatus::Gone) break;
        if (started.status == ReadStatus::Pending) {
            readPending_ = true;
            continue;  // it may have ended already
        }
        TakeReport(started);
    }
}

// A read that failed because the pendant was removed: the removal it stands
// for is acted on at the tick's end, as a removal broadcast arriving in the
// tick would be (the broadcast itself may come later, or, on a stack that
// sends it in a form the window cannot read, not at all).
void PendantWindow::ReadDeviceGone() {
    deferred_.Push(DeviceChange::Removal);
    // The jog stops now; the old report is not decoded again, so nothing
    // can start one before the removal is acted on.
    StopJogRecord();
    readGone_ = true;
}

ReadResult PendantWindow::EndRead() {
    const ReadResult result = ReadHandle->FinishRead(*ReadEvent);
    if (result.status != ReadStatus::Pending) readPending_ = false;
    return result;
}

bool PendantWindow::EndWrite() {
    if (!writePending_) return true;
    if (!WriteEvent->Wait(0)) return false;
    const ReadResult ended = WriteHandle->FinishRead(*WriteEvent);
    if (ended.status == ReadStatus::Pending) return false;
    writePending_ = false;
    // The pendant shows what this write carried, or, when it failed, an
    // unknown lamp that the gate writes again.
    output_.Written(writing_, ended.status == ReadStatus::Completed);
    return true;
}

bool PendantWindow::TakeReport(const ReadResult& result) {
    // A short read is no report.
    if (result.bytes != kInputReportSize) return false;
    std::memcpy(InputReport, ReadEvent->Buffer(), sizeof InputReport);
    BytesRead = result.bytes;
    // Only the newest report is decoded: a press and its release between
    // two ticks would otherwise be lost.
    const bool held = ButtonHeld(InputReport);
    if (held && !buttonHeld_) pressTaken_ = true;
    buttonHeld_ = held;
    // Each report's motion counts against the report before it, so that any
    // number of queued reports adds up to what the wheel turned (their
    // first and last counters alone would alias). Motion is only carried
    // over to the newest report's axis and function from the last change of
    // selection on: a turn on X, then Z selected before the tick, does not
    // move Z.
    const uint32_t context = WheelContext(InputReport);
    if (context != lastContext_) motion_ = 0;
    motion_ += SignedSteps(ClassifyWheel(lastCounter_, InputReport[1], kWheelUp));
    lastContext_ = context;
    lastCounter_ = InputReport[1];
    ++reportsTaken_;
    return true;
}

ReportArrival PendantWindow::TakeArrival() {
    ReportArrival arrival;
    arrival.counted = true;
    arrival.motion = motion_;
    if (reportsTaken_ != 0) {
        // The driver's queue may have overflowed: reports were lost between
        // those taken, and the counters no longer tell the motion. This poll
        // moves nothing, and the next poll that takes reports only sets
        // where the wheel stands: the report taken last need not be the
        // newest one (Wine hands the oldest survivor of a full queue out
        // last). Nor does it tell the button: a press or a hold seen in
        // such a drain may be long over, so the button does nothing until a
        // drain that did not overflow shows it.
        buttonUncertain_ = reportsTaken_ >= kDriverQueueReports;
    }
    arrival.buttonKnown = !buttonUncertain_;
    arrival.press = pressTaken_ && arrival.buttonKnown;
    if (reportsTaken_ == 0) return arrival;  // the previous report again: no motion
    const bool overflowed = buttonUncertain_;
    // A link's first reports only set where the wheel stands: a counter
    // left from before start-up or from an earlier link moves nothing.
    if (baselinePending_ || overflowed) arrival.motion = 0;
    baselinePending_ = overflowed;
    return arrival;
}

void PendantWindow::CloseReadHandle() {
    if (!ReadHandle) return;
    EndOutstanding(*ReadHandle, ReadEvent, readPending_);
    ReadHandle.reset();
}

void PendantWindow::CloseWriteHandle() {
    if (!WriteHandle) return;
    EndOutstanding(*WriteHandle, WriteEvent, writePending_);
    WriteHandle.reset();
}

void PendantWindow::EndOutstanding(HidFile& file, std::unique_ptr<ReadEventRecord>& record,
                                   bool& pending) {
    if (!pending) return;
    file.CancelRead(*record);
    // A cancelled transfer ends soon; only once it has ended may its buffer
    // and record be reused or freed. What a read brought is dropped.
    const bool ended =
        record->Wait(kCancelWaitMs) && file.FinishRead(*record).status != ReadStatus::Pending;
    if (!ended) AbandonRecord(std::move(record));
    pending = false;
}

void PendantWindow::AbandonRecord(std::unique_ptr<ReadEventRecord> record) {
    // Reachable for ever and never freed: the system may still use the
    // buffer and the record. A new event is made when it is needed again.
    static auto* const lost = new std::vector<std::unique_ptr<ReadEventRecord>>();
    lost->push_back(std::move(record));
}

}  // namespace hk4
