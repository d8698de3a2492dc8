// The window's own look at the pendant: it finds the pendant the way the
// plug-in does (the first HID device with the pendant's IDs) and reads its
// input reports through a handle of its own, for reading only. The system
// gives every open handle its own copy of each report, so the plug-in's
// reads and its lamp are untouched.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "device/hid_port_win32.h"

namespace pendantcheck {

class PendantView {
  public:
    // Device notifications go to `window`.
    explicit PendantView(HWND window);
    ~PendantView();
    PendantView(const PendantView&) = delete;
    PendantView& operator=(const PendantView&) = delete;

    // Looks for the pendant when none is open. True when one is open.
    bool Search();
    // Takes every report that has arrived; notices the pendant gone.
    void Poll();
    // A device came or went: a removal is noticed by the failed read, an
    // arrival searches again.
    void OnDeviceChange() { Search(); }

    bool linked() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    bool haveReport() const { return haveReport_; }
    const uint8_t* report() const { return report_; }
    // Wheel clicks counted since the window opened (up positive), and the
    // direction of the last one.
    long clicks() const { return clicks_; }
    int lastDirection() const { return lastDirection_; }

  private:
    void Close();
    void Take(const uint8_t* bytes);

    hk4::Win32HidPort port_;
    std::unique_ptr<hk4::PortRegistration> notifications_;
    std::unique_ptr<hk4::HidFile> file_;
    std::unique_ptr<hk4::ReadEventRecord> read_;
    bool pending_ = false;
    std::string path_;
    uint8_t report_[8] = {};
    bool haveReport_ = false;
    bool baseline_ = true;  // the next report only sets where the counter stands
    long clicks_ = 0;
    int lastDirection_ = 0;
};

}  // namespace pendantcheck
