#include "pendantcheck/pendant_view.h"

#include "device/pendant_window.h"

namespace pendantcheck {

namespace {

constexpr uint32_t kCancelWaitMs = 1000;

}  // namespace

PendantView::PendantView(HWND window) : port_(window) {
    notifications_ = port_.RegisterDeviceNotifications(port_.GetHidGuid());
    read_ = port_.CreateReadEvent(true, true);
}

PendantView::~PendantView() {
    Close();
}

bool PendantView::Search() {
    if (file_) return true;
    if (!read_) read_ = port_.CreateReadEvent(true, true);
    if (!read_) return false;
    const hk4::DeviceGuid guid = port_.GetHidGuid();
    auto list =
        port_.GetClassDevs(guid, hk4::win32::kDigcfPresent | hk4::win32::kDigcfDeviceInterface);
    if (!list) return false;
    for (uint32_t i = 0; list->EnumInterface(guid, i); ++i) {
        std::string path;
        if (!list->InterfacePath(path)) continue;
        // No access asked for: the IDs can be read even of a device that
        // another program holds open exclusively.
        auto probe = port_.Open(path, {0, hk4::win32::kFileShareRead | hk4::win32::kFileShareWrite,
                                       hk4::win32::kOpenExisting, 0});
        hk4::HidAttributes ids;
        if (!probe || !probe->GetAttributes(ids) || ids.VendorID != hk4::kPendantVendorId ||
            ids.ProductID != hk4::kPendantProductId)
            continue;
        file_ = port_.Open(path, {hk4::win32::kGenericRead,
                                  hk4::win32::kFileShareRead | hk4::win32::kFileShareWrite,
                                  hk4::win32::kOpenExisting, hk4::win32::kFileFlagOverlapped});
        if (!file_) continue;
        path_ = path;
        baseline_ = true;
        pending_ = false;
        return true;
    }
    return false;
}

void PendantView::Poll() {
    // Bounded, so that a device that reports without pause cannot hold the
    // window's thread.
    for (int reads = 0; file_ && reads < 64; ++reads) {
        hk4::ReadResult result;
        if (pending_) {
            if (!read_->Wait(0)) return;
            result = file_->FinishRead(*read_);
            if (result.status == hk4::ReadStatus::Pending) return;
            pending_ = false;
        } else {
            result = file_->StartRead(*read_);
            if (result.status == hk4::ReadStatus::Pending) {
                pending_ = true;
                continue;
            }
        }
        if (result.status != hk4::ReadStatus::Completed) {
            Close();  // gone, or failing: searched for again
            return;
        }
        if (result.bytes == sizeof report_) Take(read_->Buffer());
    }
}

void PendantView::Take(const uint8_t* bytes) {
    const int counter = bytes[1];
    if (!baseline_) {
        int delta = counter - report_[1];
        if (delta > 127) delta -= 256;
        if (delta < -128) delta += 256;
        clicks_ += delta;
        if (delta != 0) lastDirection_ = delta > 0 ? 0 : 1;
    }
    baseline_ = false;
    for (std::size_t i = 0; i < sizeof report_; ++i) report_[i] = bytes[i];
    haveReport_ = true;
}

void PendantView::Close() {
    if (file_ && pending_) {
        file_->CancelRead(*read_);
        if (!read_->Wait(kCancelWaitMs)) {
            // The system may still write into the read's buffer: it is
            // given up rather than freed.
            static_cast<void>(read_.release());
        }
    }
    pending_ = false;
    file_.reset();
    haveReport_ = false;
}

}  // namespace pendantcheck
