// The HID port over the Win32 HID, device-setup, file, event, notification
// and timer functions, for one window.
#pragma once

#include <windows.h>

#include "device/hid_port.h"

namespace hk4 {

class Win32HidPort final : public HidPort {
  public:
    // Notifications and timer ticks go to `window`.
    explicit Win32HidPort(HWND window) : window_(window) {}

    DeviceGuid GetHidGuid() override;
    std::unique_ptr<DeviceList> GetClassDevs(const DeviceGuid& guid, uint32_t flags) override;
    std::unique_ptr<HidFile> Open(const std::string& path, const OpenParams& params) override;
    std::unique_ptr<ReadEventRecord> CreateReadEvent(bool manualReset, bool initialState) override;
    std::unique_ptr<PortRegistration> RegisterDeviceNotifications(
        const DeviceGuid& classGuid) override;
    bool StartTimer(uint32_t id, uint32_t periodMs) override;
    void StopTimer(uint32_t id) override;
    bool IsLeadByte(uint8_t byte) override;

  private:
    HWND window_;
};

}  // namespace hk4
