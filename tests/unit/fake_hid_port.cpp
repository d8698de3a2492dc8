#include "fake_hid_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hk4test {

namespace {

// The HID class GUID as the system reports it.
constexpr hk4::DeviceGuid kHidGuid{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::string HexValue(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

class FakeRegistration : public hk4::PortRegistration {
  public:
    FakeRegistration(FakeHidPort& port, std::string endLine, int& count)
        : port_(port), endLine_(std::move(endLine)), count_(count) {
        ++count_;
    }
    ~FakeRegistration() override {
        --count_;
        port_.Note(endLine_);
    }

  private:
    FakeHidPort& port_;
    std::string endLine_;
    int& count_;
};

class FakeList : public hk4::DeviceList {
  public:
    explicit FakeList(FakeHidPort& port) : port_(port) {}
    ~FakeList() override { port_.Note("SetupDiDestroyDeviceInfoList"); }
    bool EnumInterface(const hk4::DeviceGuid& guid, uint32_t index) override {
        port_.Note("SetupDiEnumDeviceInterfaces " + port_.GuidName(guid) + " " +
                   std::to_string(index));
        current_ = index;
        return index < port_.devices.size();
    }
    bool InterfacePath(std::string& path) override {
        port_.Note("SetupDiGetDeviceInterfaceDetailA " + std::to_string(current_));
        if (current_ >= port_.devices.size() || !port_.devices[current_].pathKnown) return false;
        path = port_.devices[current_].path;
        return true;
    }

  private:
    FakeHidPort& port_;
    uint32_t current_ = 0;
};

}  // namespace

std::string Hex(const uint8_t* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
        text += byte;
    }
    return text;
}

struct FakeHidPort::Record : hk4::ReadEventRecord {
    Record(FakeHidPort& p, int n, bool initial) : port(p), id(n), signalled(initial) {
        ++port.openEvents_;
        port.liveRecords[this] = true;
    }
    ~Record() override {
        port.Note("CloseHandle ev" + std::to_string(id));
        --port.openEvents_;
        if (outstanding) port.Fault("event record freed with its transfer outstanding");
        if (port.pending == this) port.pending = nullptr;
        if (port.pendingWrite == this) port.pendingWrite = nullptr;
        port.liveRecords.erase(this);
    }
    bool Wait(uint32_t ms) override {
        port.Note("WaitForSingleObject ev" + std::to_string(id) + " " + std::to_string(ms));
        const uint32_t deadline = port.now() + ms;
        while (!signalled) {
            if (!port.DeliverNextBefore(deadline)) break;
        }
        if (!signalled) port.AdvanceTo(deadline);
        return signalled;
    }
    const uint8_t* Buffer() const override {
        if (outstanding) port.Fault("buffer read while its read is outstanding");
        return buffer.data();
    }

    FakeHidPort& port;
    int id;
    bool signalled;
    bool outstanding = false;
    Report buffer{};
    hk4::ReadResult result{};
};

struct FakeHidPort::File : hk4::HidFile {
    File(FakeHidPort& p, int n, std::string at, hk4::OpenParams how)
        : port(p), id(n), path(std::move(at)), params(how) {
        ++port.openFiles_;
        port.liveFiles[this] = true;
    }
    ~File() override {
        port.Note("CloseHandle #" + std::to_string(id));
        --port.openFiles_;
        if (port.pendingFile == this && port.pending)
            port.Fault("handle closed with its read outstanding");
        if (port.pendingWriteFile == this && port.pendingWrite)
            port.Fault("handle closed with its write outstanding");
        if (port.pendingWriteFile == this) port.pendingWriteFile = nullptr;
        if (port.pendingFile == this) port.pendingFile = nullptr;
        port.liveFiles.erase(this);
    }
    bool GetAttributes(hk4::HidAttributes& attributes) override {
        port.Note("HidD_GetAttributes #" + std::to_string(id));
        for (const FakeDevice& d : port.devices) {
            if (d.path != path) continue;
            if (!d.attributes) return false;
            attributes.VendorID = d.vendor;
            attributes.ProductID = d.product;
            return true;
        }
        return false;
    }
    hk4::ReadResult StartRead(hk4::ReadEventRecord& base) override {
        port.Note("ReadFile #" + std::to_string(id));
        Record& record = static_cast<Record&>(base);
        if (port.pending) port.Fault("read started while another is outstanding");
        if (params.flags != hk4::win32::kFileFlagOverlapped)
            port.Fault("overlapped read on a handle opened without FILE_FLAG_OVERLAPPED");
        if (port.readsFail) return record.result = hk4::ReadResult{port.failure, 0};
        record.signalled = false;  // ReadFile resets the event when it starts
        if (port.queue_.empty() && port.alwaysReady) {
            record.buffer = Report{0, ++port.readyWheel, 0, 1, 1, 0, 0, 0};
            record.signalled = true;
            return record.result = hk4::ReadResult{hk4::ReadStatus::Completed, port.readBytes};
        }
        if (!port.queue_.empty()) {
            record.buffer = port.queue_.front();
            port.queue_.pop_front();
            record.signalled = true;
            return record.result = hk4::ReadResult{hk4::ReadStatus::Completed, port.readBytes};
        }
        record.outstanding = true;
        record.result = hk4::ReadResult{hk4::ReadStatus::Pending, 0};
        port.pending = &record;
        port.pendingFile = this;
        return record.result;
    }
    hk4::ReadResult FinishRead(hk4::ReadEventRecord& base) override {
        port.Note("GetOverlappedResult #" + std::to_string(id));
        return static_cast<Record&>(base).result;
    }
    void CancelRead(hk4::ReadEventRecord& base) override {
        port.Note("CancelIoEx #" + std::to_string(id));
        Record& record = static_cast<Record&>(base);
        if (!record.outstanding || !port.cancelEndsRead) return;
        record.outstanding = false;
        record.signalled = true;
        record.result = hk4::ReadResult{hk4::ReadStatus::Failed, 0};
        if (port.pendingWrite == &record) {
            port.pendingWrite = nullptr;
            port.pendingWriteFile = nullptr;
            return;
        }
        port.pending = nullptr;
        port.pendingFile = nullptr;
    }
    hk4::ReadResult StartWrite(hk4::ReadEventRecord& base, const uint8_t* data,
                               uint32_t size) override {
        port.Note("WriteFile #" + std::to_string(id) + " " + Hex(data, size));
        Record& record = static_cast<Record&>(base);
        if (params.access != hk4::win32::kGenericWrite ||
            params.flags != hk4::win32::kFileFlagOverlapped)
            port.Fault("overlapped write on a handle not opened for it");
        if (record.outstanding) port.Fault("write started while its record is outstanding");
        if (&record == port.pending) port.Fault("write started with the read's record");
        if (port.writesFail) return record.result = hk4::ReadResult{hk4::ReadStatus::Failed, 0};
        record.signalled = !port.writesHold;
        record.outstanding = port.writesHold;
        record.result = hk4::ReadResult{
            port.writesHold ? hk4::ReadStatus::Pending : hk4::ReadStatus::Completed, size};
        if (port.writesHold) {
            port.pendingWrite = &record;
            port.pendingWriteFile = this;
        }
        return record.result;
    }

    FakeHidPort& port;
    int id;
    std::string path;
    hk4::OpenParams params;
};

void FakeHidPort::EndWrite() {
    if (!pendingWrite) return;
    pendingWrite->outstanding = false;
    pendingWrite->signalled = true;
    pendingWrite->result = hk4::ReadResult{hk4::ReadStatus::Completed, 5};
    pendingWrite = nullptr;
    pendingWriteFile = nullptr;
}

FakeHidPort::FakeHidPort() = default;
FakeHidPort::~FakeHidPort() = default;

int FakeHidPort::CountOf(const std::string& prefix) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
        return line.compare(0, prefix.size(), prefix) == 0;
    }));
}

std::string FakeHidPort::GuidName(const hk4::DeviceGuid& guid) const {
    return std::memcmp(&guid, &kHidGuid, sizeof guid) == 0 ? "hid" : "other";
}

hk4::DeviceGuid FakeHidPort::GetHidGuid() {
    Note("HidD_GetHidGuid");
    return kHidGuid;
}

std::unique_ptr<hk4::DeviceList> FakeHidPort::GetClassDevs(const hk4::DeviceGuid& guid,
                                                           uint32_t flags) {
    Note("SetupDiGetClassDevsA " + GuidName(guid) + " " + HexValue(flags) +
         (listFails ? " -> fail" : ""));
    if (listFails) return nullptr;
    return std::make_unique<FakeList>(*this);
}

std::unique_ptr<hk4::HidFile> FakeHidPort::Open(const std::string& path,
                                                const hk4::OpenParams& params) {
    std::string line = "CreateFileA " + path + " " + HexValue(params.access) + " " +
                       HexValue(params.share) + " " + std::to_string(params.disposition) + " " +
                       HexValue(params.flags);
    bool opens = std::find(unplugged.begin(), unplugged.end(), path) == unplugged.end();
    const auto device = std::find_if(devices.begin(), devices.end(),
                                     [&](const FakeDevice& d) { return d.path == path; });
    opens = opens && device != devices.end() && device->opens &&
            (params.access == 0 || device->reportOpens);
    if (!opens) {
        Note(line + " -> fail");
        return nullptr;
    }
    const int id = nextFile_++;
    Note(line + " -> #" + std::to_string(id));
    return std::make_unique<File>(*this, id, path, params);
}

std::unique_ptr<hk4::ReadEventRecord> FakeHidPort::CreateReadEvent(bool manualReset,
                                                                   bool initialState) {
    const int id = nextEvent_++;
    Note("CreateEventA " + std::to_string(manualReset) + " " + std::to_string(initialState) +
         " -> ev" + std::to_string(id));
    return std::make_unique<Record>(*this, id, initialState);
}

std::unique_ptr<hk4::PortRegistration> FakeHidPort::RegisterDeviceNotifications(
    const hk4::DeviceGuid& classGuid) {
    Note("RegisterDeviceNotificationA " + GuidName(classGuid) + (registerFails ? " -> fail" : ""));
    if (registerFails) return nullptr;
    return std::make_unique<FakeRegistration>(*this, "UnregisterDeviceNotification",
                                              registrations_);
}

bool FakeHidPort::StartTimer(uint32_t id, uint32_t periodMs) {
    Note("SetTimer " + std::to_string(id) + " " + std::to_string(periodMs));
    ++timers_;
    return true;
}

void FakeHidPort::StopTimer(uint32_t id) {
    if (timers_ == 0) Fault("KillTimer of a timer that does not run");
    --timers_;
    Note("KillTimer " + std::to_string(id));
}

bool FakeHidPort::IsLeadByte(uint8_t b) {
    return shiftJis && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
}

void FakeHidPort::Schedule(uint32_t atMs, const Report& report) {
    scheduled_.emplace(atMs, report);
}

void FakeHidPort::Push(const Report& report) {
    Deliver(report);
}

bool FakeHidPort::DeliverNextBefore(uint32_t deadline) {
    if (scheduled_.empty() || scheduled_.begin()->first > deadline) return false;
    AdvanceTo(scheduled_.begin()->first);
    return true;
}

void FakeHidPort::AdvanceTo(uint32_t ms) {
    while (!scheduled_.empty() && scheduled_.begin()->first <= ms) {
        const auto next = scheduled_.begin();
        now_ = std::max(now_, next->first);
        const Report report = next->second;
        scheduled_.erase(next);
        Deliver(report);
    }
    now_ = std::max(now_, ms);
}

void FakeHidPort::RemoveUnderHandles(hk4::ReadStatus how) {
    readsFail = true;
    failure = how;
    if (!pending) return;
    pending->outstanding = false;
    pending->signalled = true;
    pending->result = hk4::ReadResult{how, 0};
    pending = nullptr;
    pendingFile = nullptr;
}

void FakeHidPort::Deliver(const Report& report) {
    if (pending && !readsNeverEnd) {
        Complete(*pending, report);
        return;
    }
    queue_.push_back(report);
    if (queue_.size() > kQueueSize) queue_.pop_front();  // the driver drops the oldest
}

void FakeHidPort::Complete(Record& record, const Report& report) {
    if (!liveRecords.count(&record)) {
        Fault("read completed into a freed record");
        return;
    }
    if (!pendingFile) Fault("read completed after its handle was closed");
    record.buffer = report;
    record.outstanding = false;
    record.signalled = true;
    record.result = hk4::ReadResult{hk4::ReadStatus::Completed, readBytes};
    pending = nullptr;
    pendingFile = nullptr;
}

}  // namespace hk4test
