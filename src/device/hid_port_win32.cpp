// The Win32 HID port. Device I/O goes only through the imported functions
// named in hid_port.h, called directly, so that a test host can stand in for
// the device by replacing them in this module's import table; CancelIoEx,
// which Windows XP lacks, is found through the imported GetProcAddress.
#include "device/hid_port_win32.h"

#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstring>
#include <vector>

#include "device/unique_handle_win32.h"

namespace hk4 {

static_assert(win32::kGenericRead == GENERIC_READ);
static_assert(win32::kGenericWrite == GENERIC_WRITE);
static_assert(win32::kFileShareRead == FILE_SHARE_READ);
static_assert(win32::kFileShareWrite == FILE_SHARE_WRITE);
static_assert(win32::kOpenExisting == OPEN_EXISTING);
static_assert(win32::kFileFlagOverlapped == FILE_FLAG_OVERLAPPED);
static_assert(win32::kDigcfPresent == DIGCF_PRESENT);
static_assert(win32::kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(win32::kDbtDevTypDeviceInterface == DBT_DEVTYP_DEVICEINTERFACE);
static_assert(win32::kDbtDeviceArrival == DBT_DEVICEARRIVAL);
static_assert(win32::kDbtDeviceRemoveComplete == DBT_DEVICEREMOVECOMPLETE);
static_assert(win32::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(win32::kErrorIoIncomplete == ERROR_IO_INCOMPLETE);
static_assert(win32::kErrorIoPending == ERROR_IO_PENDING);
static_assert(win32::kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED);

namespace {

// A device path longer than this is not a device path.
constexpr DWORD kMaxDetailSize = 32 * 1024;

GUID ToGuid(const DeviceGuid& guid) {
    GUID out{guid.data1, guid.data2, guid.data3, {}};
    std::memcpy(out.Data4, guid.data4, sizeof out.Data4);
    return out;
}

// Cancels the read or write that uses `overlapped`. CancelIoEx came with
// Windows Vista; on XP, CancelIo cancels the I/O the calling thread started
// on the file, which is that transfer: the host's thread starts and cancels
// it, and only one is outstanding per file (reads and writes have files of
// their own). Looked up at each (rare) call, so that nothing is kept between
// the plug-in's loads.
void CancelOneRead(HANDLE file, OVERLAPPED* overlapped) {
    using CancelIoExFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto cancelIoEx = kernel ? reinterpret_cast<CancelIoExFn>(reinterpret_cast<void*>(
                                         GetProcAddress(kernel, "CancelIoEx")))
                                   : nullptr;
    if (cancelIoEx)
        cancelIoEx(file, overlapped);
    else
        CancelIo(file);
}

DeviceGuid FromGuid(const GUID& guid) {
    DeviceGuid out;
    out.data1 = guid.Data1;
    out.data2 = guid.Data2;
    out.data3 = guid.Data3;
    std::memcpy(out.data4, guid.Data4, sizeof out.data4);
    return out;
}

class Win32ReadEvent final : public ReadEventRecord {
  public:
    explicit Win32ReadEvent(UniqueEvent event) : event_(std::move(event)) {
        // Offset 0 in both words; completion signals the event.
        overlapped.hEvent = event_.get();
    }
    bool Wait(uint32_t ms) override {
        return WaitForSingleObject(event_.get(), ms) == WAIT_OBJECT_0;
    }
    const uint8_t* Buffer() const override { return buffer; }

    OVERLAPPED overlapped{};
    uint8_t buffer[kReportReadSize] = {};
    DWORD bytesRead = 0;  // filled by a read or write that completes at once

  private:
    UniqueEvent event_;
};

class Win32File final : public HidFile {
  public:
    explicit Win32File(UniqueFile file) : file_(std::move(file)) {}

    bool GetAttributes(HidAttributes& attributes) override {
        HIDD_ATTRIBUTES a{};
        a.Size = sizeof a;
        if (!HidD_GetAttributes(file_.get(), &a)) return false;
        attributes.VendorID = a.VendorID;
        attributes.ProductID = a.ProductID;
        return true;
    }

    ReadResult StartRead(ReadEventRecord& base) override {
        // The one implementation of the record on this platform.
        Win32ReadEvent& record = static_cast<Win32ReadEvent&>(base);
        record.bytesRead = 0;
        if (ReadFile(file_.get(), record.buffer, kReportReadSize, &record.bytesRead,
                     &record.overlapped))
            return ReadResult{ReadStatus::Completed, record.bytesRead};
        return ReadResult{ReadFailure(GetLastError(), true), 0};
    }

    ReadResult FinishRead(ReadEventRecord& base) override {
        Win32ReadEvent& record = static_cast<Win32ReadEvent&>(base);
        DWORD bytes = 0;
        if (GetOverlappedResult(file_.get(), &record.overlapped, &bytes, FALSE))
            return ReadResult{ReadStatus::Completed, bytes};
        return ReadResult{ReadFailure(GetLastError(), false), 0};
    }

    void CancelRead(ReadEventRecord& base) override {
        Win32ReadEvent& record = static_cast<Win32ReadEvent&>(base);
        CancelOneRead(file_.get(), &record.overlapped);
    }

    ReadResult StartWrite(ReadEventRecord& base, const uint8_t* data, uint32_t size) override {
        Win32ReadEvent& record = static_cast<Win32ReadEvent&>(base);
        if (size > sizeof record.buffer) return ReadResult{ReadStatus::Failed, 0};
        // The system reads the report from the record until the write ends.
        std::memcpy(record.buffer, data, size);
        record.bytesRead = 0;
        if (WriteFile(file_.get(), record.buffer, size, &record.bytesRead, &record.overlapped))
            return ReadResult{ReadStatus::Completed, record.bytesRead};
        return ReadResult{ReadFailure(GetLastError(), true), 0};
    }

  private:
    UniqueFile file_;
};

class Win32DeviceList final : public DeviceList {
  public:
    explicit Win32DeviceList(UniqueDeviceInfoList list) : list_(std::move(list)) {}

    bool EnumInterface(const DeviceGuid& guid, uint32_t index) override {
        const GUID classGuid = ToGuid(guid);
        interface_ = SP_DEVICE_INTERFACE_DATA{};
        interface_.cbSize = sizeof interface_;
        return SetupDiEnumDeviceInterfaces(list_.get(), nullptr, &classGuid, index, &interface_) !=
               FALSE;
    }

    bool InterfacePath(std::string& path) override {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(list_.get(), &interface_, nullptr, 0, &required, nullptr);
        constexpr DWORD kFixed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        if (required <= kFixed || required > kMaxDetailSize) return false;
        std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        // The size of the fixed part, not of the buffer.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(list_.get(), &interface_, detail, required, nullptr,
                                              nullptr))
            return false;
        path.assign(detail->DevicePath, strnlen(detail->DevicePath, required - kFixed));
        return !path.empty();
    }

  private:
    UniqueDeviceInfoList list_;
    SP_DEVICE_INTERFACE_DATA interface_{};
};

class Win32Notification final : public PortRegistration {
  public:
    explicit Win32Notification(UniqueDeviceNotify handle) : handle_(std::move(handle)) {}

  private:
    UniqueDeviceNotify handle_;
};

}  // namespace

DeviceGuid Win32HidPort::GetHidGuid() {
    GUID guid{};
    HidD_GetHidGuid(&guid);
    return FromGuid(guid);
}

std::unique_ptr<DeviceList> Win32HidPort::GetClassDevs(const DeviceGuid& guid, uint32_t flags) {
    const GUID classGuid = ToGuid(guid);
    UniqueDeviceInfoList list(SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, flags));
    if (!list) return nullptr;
    return std::make_unique<Win32DeviceList>(std::move(list));
}

std::unique_ptr<HidFile> Win32HidPort::Open(const std::string& path, const OpenParams& params) {
    UniqueFile file(CreateFileA(path.c_str(), params.access, params.share, nullptr,
                                params.disposition, params.flags, nullptr));
    if (!file) return nullptr;
    return std::make_unique<Win32File>(std::move(file));
}

std::unique_ptr<ReadEventRecord> Win32HidPort::CreateReadEvent(bool manualReset,
                                                               bool initialState) {
    UniqueEvent event(CreateEventA(nullptr, manualReset, initialState, nullptr));
    if (!event) return nullptr;
    return std::make_unique<Win32ReadEvent>(std::move(event));
}

std::unique_ptr<PortRegistration> Win32HidPort::RegisterDeviceNotifications(
    const DeviceGuid& classGuid) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = ToGuid(classGuid);
    UniqueDeviceNotify handle(
        RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!handle) return nullptr;
    return std::make_unique<Win32Notification>(std::move(handle));
}

bool Win32HidPort::StartTimer(uint32_t id, uint32_t periodMs) {
    return SetTimer(window_, id, periodMs, nullptr) != 0;
}

void Win32HidPort::StopTimer(uint32_t id) {
    KillTimer(window_, id);
}

bool Win32HidPort::IsLeadByte(uint8_t byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace hk4
