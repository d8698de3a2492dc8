// A scripted HID port for the pendant window's tests: a device list, a
// driver-side report queue, reads that complete at once, late or never, and
// a log of every call in the order it was made. It also watches the rules of
// the one outstanding read and records every breach in `faults`.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_port.h"

namespace hk4test {

using Report = std::array<uint8_t, 8>;

struct FakeDevice {
    std::string path;
    uint16_t vendor = 0;
    uint16_t product = 0;
    bool pathKnown = true;    // the interface detail can be had
    bool opens = true;        // CreateFileA succeeds on it
    bool attributes = true;   // HidD_GetAttributes succeeds
    bool reportOpens = true;  // opens for reading or writing succeed
};

class FakeHidPort : public hk4::HidPort {
  public:
    FakeHidPort();
    ~FakeHidPort() override;

    // The script.
    std::vector<FakeDevice> devices;  // the device list, in its order
    bool listFails = false;           // SetupDiGetClassDevsA fails
    bool registerFails = false;
    std::vector<std::string> unplugged;                 // paths that no longer open
    bool readsFail = false;                             // ReadFile fails at once
    hk4::ReadStatus failure = hk4::ReadStatus::Failed;  // how reads fail
    uint32_t readBytes = 8;                             // byte count of a completed read
    bool cancelEndsRead = true;                         // CancelIoEx ends the outstanding read
    bool readsNeverEnd = false;                         // an outstanding read ignores arrivals
    bool alwaysReady = false;  // every read completes at once, wheel counting up
    bool writesFail = false;   // WriteFile fails
    bool writesHold = false;   // a write stays outstanding until EndWrite
    uint8_t readyWheel = 0;
    static constexpr std::size_t kQueueSize = 32;

    // A report the pendant produces at virtual time `atMs`.
    void Schedule(uint32_t atMs, const Report& report);
    // The pendant is removed under the open handles: the outstanding read
    // ends as `failure`, and every later read fails so at once.
    void RemoveUnderHandles(hk4::ReadStatus failure);
    // A report the pendant produces now.
    void Push(const Report& report);
    // The outstanding write ends with success.
    void EndWrite();
    // Moves virtual time forward, delivering what the pendant produced.
    void AdvanceTo(uint32_t ms);
    // Delivers the next scheduled report if it comes by `deadline`.
    bool DeliverNextBefore(uint32_t deadline);
    uint32_t now() const { return now_; }
    std::size_t queued() const { return queue_.size(); }

    std::vector<std::string> log;
    std::vector<std::string> faults;
    int openFiles() const { return openFiles_; }
    int openEvents() const { return openEvents_; }
    int timers() const { return timers_; }
    int registrations() const { return registrations_; }
    int CountOf(const std::string& prefix) const;
    void ClearLog() { log.clear(); }

    // HidPort.
    hk4::DeviceGuid GetHidGuid() override;
    std::unique_ptr<hk4::DeviceList> GetClassDevs(const hk4::DeviceGuid& guid,
                                                  uint32_t flags) override;
    std::unique_ptr<hk4::HidFile> Open(const std::string& path,
                                       const hk4::OpenParams& params) override;
    std::unique_ptr<hk4::ReadEventRecord> CreateReadEvent(bool manualReset,
                                                          bool initialState) override;
    std::unique_ptr<hk4::PortRegistration> RegisterDeviceNotifications(
        const hk4::DeviceGuid& classGuid) override;
    bool StartTimer(uint32_t id, uint32_t periodMs) override;
    void StopTimer(uint32_t id) override;
    bool IsLeadByte(uint8_t byte) override;

    // Shift-JIS lead bytes count as lead bytes when set.
    bool shiftJis = false;

    // Used by the fake objects.
    struct Record;
    struct File;
    void Note(const std::string& line) { log.push_back(line); }
    void Fault(const std::string& what) { faults.push_back(what); }
    std::string GuidName(const hk4::DeviceGuid& guid) const;
    void Deliver(const Report& report);
    void Complete(Record& record, const Report& report);

    Record* pending = nullptr;  // the record of the outstanding read
    File* pendingFile = nullptr;
    Record* pendingWrite = nullptr;  // the record of the outstanding write
    File* pendingWriteFile = nullptr;
    std::map<Record*, bool> liveRecords;
    std::map<File*, bool> liveFiles;
    int openFiles_ = 0;
    int openEvents_ = 0;
    int timers_ = 0;
    int registrations_ = 0;
    int nextFile_ = 1;
    int nextEvent_ = 1;

  private:
    std::deque<Report> queue_;
    std::multimap<uint32_t, Report> scheduled_;
    uint32_t now_ = 0;
};

std::string Hex(const uint8_t* data, std::size_t size);

}  // namespace hk4test
