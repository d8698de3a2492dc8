// Finding the pendant among the HID devices, and following it being
// unplugged and plugged in again.
#include <cstring>
#include <exception>

#include "device/pendant_window.h"

namespace hk4 {

namespace {

// Opened with no access rights only to read the HID attributes.
constexpr OpenParams kProbeParams{0, win32::kFileShareRead | win32::kFileShareWrite,
                                  win32::kOpenExisting, 0};
constexpr OpenParams kReadParams{win32::kGenericRead,
                                 win32::kFileShareRead | win32::kFileShareWrite,
                                 win32::kOpenExisting, win32::kFileFlagOverlapped};
// Reports are written overlapped too: a pendant or hub that holds an OUT
// transfer must not hold the host's thread with it.
constexpr OpenParams kWriteParams{win32::kGenericWrite,
                                  win32::kFileShareRead | win32::kFileShareWrite,
                                  win32::kOpenExisting, win32::kFileFlagOverlapped};

uint8_t FoldAscii(uint8_t c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c - 'A' + 'a') : c;
}

}  // namespace

void ReadInterfaceName(const unsigned char* bytes, std::size_t available, DeviceBroadcast& out) {
    constexpr std::size_t kPadding = 3;
    std::size_t narrow = 0;
    while (narrow < available && bytes[narrow] != 0) ++narrow;
    out.name = std::string_view(reinterpret_cast<const char*>(bytes), narrow);
    out.wideName = {};
    if (narrow + 1 + kPadding >= available) return;
    // Too large for its narrow name: a wide one? Its units are read byte by
    // byte (little-endian), the record's alignment aside.
    std::size_t units = 0;
    while (2 * units + 1 < available && (bytes[2 * units] | bytes[2 * units + 1]) != 0) ++units;
    const std::size_t used = 2 * (units + 1);
    if (units == 0 || used > available || used + kPadding < available) return;
    out.name = {};
    out.wideName = std::u16string_view(reinterpret_cast<const char16_t*>(bytes), units);
}

bool SameDevicePathWide(std::u16string_view wide, std::string_view path) {
    if (wide.size() != path.size()) return false;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t w = wide[i];
        const uint8_t c = static_cast<uint8_t>(path[i]);
        if (w >= 0x80 || c >= 0x80) return false;
        if (FoldAscii(static_cast<uint8_t>(w)) != FoldAscii(c)) return false;
    }
    return true;
}

bool SameDevicePath(std::string_view a, std::string_view b,
                    const std::function<bool(uint8_t)>& isLeadByte) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const uint8_t ca = static_cast<uint8_t>(a[i]);
        const uint8_t cb = static_cast<uint8_t>(b[i]);
        if (isLeadByte(ca)) {
            // A double-byte character: its trail byte may look like an ASCII
            // letter but is no letter, so both bytes must match as they are.
            if (ca != cb) return false;
            if (i + 1 < a.size()) {
                ++i;
                if (a[i] != b[i]) return false;
            }
            continue;
        }
        if (FoldAscii(ca) != FoldAscii(cb)) return false;
    }
    return true;
}

bool PendantWindow::FindPendant() {
    // A search that fails for want of memory leaves the link down; the
    // registration and the timer are still made, so that the next arrival
    // searches again.
    std::exception_ptr failure;
    try {
        SearchPendant();
    } catch (...) {
        failure = std::current_exception();
        FailLinkDown();
    }
    // Registered also when no pendant was found, so that the window hears
    // of a pendant plugged in later. Without memory for it, the ticks try
    // again.
    try {
        RegisterDeviceNotifications();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    // The poll timer runs whether or not the pendant was found.
    StopTimer();
    timerRunning_ = port_.StartTimer(kPollTimerId, kPollPeriodMs);
    if (failure) std::rethrow_exception(failure);
    return DevicePresent;
}

void PendantWindow::SearchPendant() {
    // A pendant linked before is forgotten, with the probe handle that
    // held it; only what this search finds counts.
    ProbeHandle.reset();
    DevicePresent = false;
    HidGuid = port_.GetHidGuid();
    std::unique_ptr<DeviceList> list =
        port_.GetClassDevs(HidGuid, win32::kDigcfPresent | win32::kDigcfDeviceInterface);
    if (list) {
        // The first pendant in the list's order wins; later devices are
        // never looked at.
        for (uint32_t index = 0; list->EnumInterface(HidGuid, index); ++index) {
            std::string path;
            if (!list->InterfacePath(path)) continue;
            ProbeHandle = port_.Open(path, kProbeParams);
            HidAttributes attributes;
            const bool known = ProbeHandle && ProbeHandle->GetAttributes(attributes);
            if (known && uint32_t{attributes.VendorID} == kPendantVendorId &&
                uint32_t{attributes.ProductID} == kPendantProductId) {
                DevicePresent = true;
                DevicePath = path;
                RegisterDeviceNotifications();
                OpenReportHandles();
                break;  // the probe handle of the pendant stays open
            }
            ProbeHandle.reset();
        }
        list.reset();
    }
    if (!DevicePresent) {
        // No pendant: the link is down and holds no transfer handles.
        CloseReadHandle();
        CloseWriteHandle();
        // A pendant lost this way (no removal of its path came) leaves no
        // jog of its wheel running.
        input.EndRunningJog(plugin_.host);
    }
}

void PendantWindow::RegisterDeviceNotifications() {
    // One registration for the life of the window: a search on an arrival
    // finds it made already.
    if (notifications_) return;
    // The whole HID class: the window hears of every HID interface.
    registrationLost_ = true;
    notifications_ = port_.RegisterDeviceNotifications(HidGuid);
    registrationLost_ = false;  // a refusal by the system is final
}

void PendantWindow::EnsureReadEvent() {
    if (!ReadEvent) ReadEvent = port_.CreateReadEvent(true, true);
}

void PendantWindow::OpenReportHandles() {
    CloseReadHandle();
    CloseWriteHandle();
    EnsureReadEvent();
    // A failed open leaves that handle closed; the tick then skips that
    // transfer and the pendant still counts as present.
    ReadHandle = port_.Open(DevicePath, kReadParams);
    WriteHandle = port_.Open(DevicePath, kWriteParams);
    // The pendant's lamp is unknown until the next tick writes it.
    output_.LinkUp();
    // The link is (re)made: the wheel counts from the first report that
    // comes, whatever the counter held before.
    baselinePending_ = true;
    buttonUncertain_ = false;
}

bool PendantWindow::OnDeviceChange(uint32_t eventType, const DeviceBroadcast* data) {
    const HostGate gate(plugin_.host, &dismissed_);
    DeviceChange change;
    if (eventType == win32::kDbtDeviceArrival) {
        change = DeviceChange::Arrival;
    } else if (eventType == win32::kDbtDeviceRemoveComplete && IsOurDevice(data)) {
        change = DeviceChange::Removal;
    } else {
        return true;
    }
    // A tick running now read the pendant as it was before this change.
    plugin_.host.WorldChanged();
    deferred_.Push(change);
    // Inside a tick, or while earlier changes are acted on, the change waits
    // its turn; a removal stops the jog at once all the same.
    if (!inTick_ && !applyingChanges_)
        ApplyDeferredChanges();
    else if (change == DeviceChange::Removal)
        StopJogRecord();
    return true;
}

void PendantWindow::StopJogRecord() {
    if (!DevicePresent) return;
    const int32_t jogging = input.Jog().JoggingAxis;
    if (jogging != kNoAxis && jogging != input.AxisIndex()) plugin_.host.StopJog(jogging);
    plugin_.host.StopJog(input.AxisIndex());
    endJogOwed_ = true;
}

void PendantWindow::ApplyDeferredChanges() {
    if (applyingChanges_) return;
    applyingChanges_ = true;
    // Every change is acted on even when one fails; the first failure is
    // passed on afterwards.
    std::exception_ptr failure;
    DeviceChange change;
    while (deferred_.Pop(change)) {
        try {
            ApplyChange(change);
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    applyingChanges_ = false;
    if (failure) std::rethrow_exception(failure);
}

void PendantWindow::ApplyChange(DeviceChange change) {
    if (change == DeviceChange::Removal) {
        OnRemoval();
        return;
    }
    try {
        OnArrival();
    } catch (...) {
        // No half-open link: down, and the next arrival tries again.
        FailLinkDown();
        throw;
    }
}

void PendantWindow::OnRemoval() {
    // Already down: a read on the removed pendant failed first, and the
    // removal broadcast came after it.
    if (!DevicePresent && !ReadHandle && !WriteHandle) return;
    CloseReadHandle();
    CloseWriteHandle();
    DevicePresent = false;
    EndJogWithLink();
}

void PendantWindow::EndJogWithLink() {
    plugin_.host.WorldChanged();
    endJogOwed_ = false;  // this "ENDJOG" is the one owed
    // The jog may run on another axis than the selected one (a stale poll
    // moved the selection without ending it): its record stops too.
    const int32_t jogging = input.Jog().JoggingAxis;
    if (jogging != kNoAxis && jogging != input.AxisIndex()) plugin_.host.StopJog(jogging);
    plugin_.host.StopJog(input.AxisIndex());
    plugin_.host.Code("ENDJOG");
    input.LinkLost();
}

void PendantWindow::FailLinkDown() {
    const bool wasUp = DevicePresent;
    CloseReadHandle();
    CloseWriteHandle();
    DevicePresent = false;
    if (wasUp) EndJogWithLink();
}

void PendantWindow::OnArrival() {
    // Any HID device may have arrived. While the pendant is where it was
    // linked, its handles are simply opened again from its path.
    if (!DevicePath.empty()) {
        DevicePresent = true;
        OpenReportHandles();
        if (ReadHandle || WriteHandle) return;
    }
    // Never found, or no longer at its path (it may be back at another USB
    // port): look for it as the start-up search does.
    SearchPendant();
}

bool PendantWindow::IsOurDevice(const DeviceBroadcast* header) const {
    if (!header || header->deviceType != win32::kDbtDevTypDeviceInterface) return false;
    // With no pendant found there is no path of ours to recognise.
    if (DevicePath.empty()) return false;
    if (!header->wideName.empty()) return SameDevicePathWide(header->wideName, DevicePath);
    return SameDevicePath(header->name, DevicePath,
                          [this](uint8_t byte) { return port_.IsLeadByte(byte); });
}

}  // namespace hk4
