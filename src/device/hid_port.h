// What the pendant link needs from the operating system, behind one small
// interface: the HID device list, device files, the read event with its
// overlapped record, device notifications and the poll timer.
//
// The Windows build implements it with the Win32 calls of the same names
// (hid_port_win32.cpp); tests use fakes that record every call and inject
// faults. The link passes the Win32 flag values it wants through this
// interface unchanged, so that the exact open parameters are decided (and
// tested) in the platform-free code; the Windows port checks at compile time
// that they equal the system's constants.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace hk4 {

// A device-interface class GUID, laid out as the system's GUID.
struct DeviceGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

// Win32 constant values used by the link.
namespace win32 {
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kFileShareRead = 0x00000001u;
inline constexpr uint32_t kFileShareWrite = 0x00000002u;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kFileFlagOverlapped = 0x40000000u;
inline constexpr uint32_t kDigcfPresent = 0x00000002u;
inline constexpr uint32_t kDigcfDeviceInterface = 0x00000010u;
inline constexpr uint32_t kDbtDevTypDeviceInterface = 5;
inline constexpr uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorIoIncomplete = 996;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
}  // namespace win32

// Parameters of CreateFileA (no security attributes, no template).
struct OpenParams {
    uint32_t access = 0;
    uint32_t share = 0;
    uint32_t disposition = 0;
    uint32_t flags = 0;
};

// Vendor and product ID from HidD_GetAttributes.
struct HidAttributes {
    uint16_t VendorID = 0;
    uint16_t ProductID = 0;
};

// State of the one report read (or of the one report write).
enum class ReadStatus {
    Completed,  // the read has ended with data; `bytes` tells how much
    Pending,    // still going on: the system may still use the buffer
    Failed,     // ended without data; nothing is outstanding
    Gone,       // ended because the device was removed; nothing is outstanding
};

// What a failed ReadFile or WriteFile (`started`) or GetOverlappedResult
// means, from GetLastError: still going on, the device removed, or another
// failure.
// Windows fails a read on a removed device with ERROR_DEVICE_NOT_CONNECTED;
// Wine's class driver with ERROR_ACCESS_DENIED (STATUS_DELETE_PENDING).
ReadStatus ReadFailure(uint32_t lastError, bool started);

struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    uint32_t bytes = 0;
};

inline constexpr uint32_t kReportReadSize = 8;

// The completion event of the report read (`ReadEvent`), created manual-reset
// and signalled, together with the read's `OVERLAPPED` record
// (`ReadOverlapped`: offset 0, event = this event) and the buffer the system
// fills. One object, because all three must live exactly as long as a read
// that may still be outstanding.
class ReadEventRecord {
  public:
    virtual ~ReadEventRecord() = default;  // closes the event
    // WaitForSingleObject on the event: true when it is signalled within
    // `ms` milliseconds (0 = just look).
    virtual bool Wait(uint32_t ms) = 0;
    // The buffer of the report read. Read it only once the read has ended.
    virtual const uint8_t* Buffer() const = 0;
};

// An open device file (CreateFileA). Destroying it closes the handle.
class HidFile {
  public:
    virtual ~HidFile() = default;
    virtual bool GetAttributes(HidAttributes& attributes) = 0;  // HidD_GetAttributes
    // ReadFile of kReportReadSize bytes into the record's buffer, overlapped
    // with the record. Completed when the data came at once.
    virtual ReadResult StartRead(ReadEventRecord& record) = 0;
    // GetOverlappedResult without waiting, for the read or write that uses
    // the record.
    virtual ReadResult FinishRead(ReadEventRecord& record) = 0;
    // CancelIoEx of the read or write that uses the record (CancelIo where
    // the system lacks CancelIoEx: the thread that started the transfer
    // cancels it; each file has only one).
    virtual void CancelRead(ReadEventRecord& record) = 0;
    // WriteFile of `size` bytes (at most kReportReadSize), copied into the
    // record's buffer first, overlapped with the record. Completed when the
    // write ended at once; Pending while the system still sends it.
    virtual ReadResult StartWrite(ReadEventRecord& record, const uint8_t* data, uint32_t size) = 0;
};

// The list of present device interfaces of one class (SetupDiGetClassDevsA).
// Destroying it calls SetupDiDestroyDeviceInfoList.
class DeviceList {
  public:
    virtual ~DeviceList() = default;
    // SetupDiEnumDeviceInterfaces at `index`; false when the list is exhausted.
    virtual bool EnumInterface(const DeviceGuid& guid, uint32_t index) = 0;
    // The path of the interface last enumerated, from the two calls of
    // SetupDiGetDeviceInterfaceDetailA (size, then data); false when it
    // cannot be had.
    virtual bool InterfacePath(std::string& path) = 0;
};

// Something that ends when destroyed: a device-notification registration.
class PortRegistration {
  public:
    virtual ~PortRegistration() = default;
};

class HidPort {
  public:
    virtual ~HidPort() = default;

    virtual DeviceGuid GetHidGuid() = 0;  // HidD_GetHidGuid
    // SetupDiGetClassDevsA with no enumerator and no window; null on failure.
    virtual std::unique_ptr<DeviceList> GetClassDevs(const DeviceGuid& guid, uint32_t flags) = 0;
    // CreateFileA; null when the open failed.
    virtual std::unique_ptr<HidFile> Open(const std::string& path, const OpenParams& params) = 0;
    // CreateEventA (no security attributes, no name) with its overlapped
    // record; null on failure.
    virtual std::unique_ptr<ReadEventRecord> CreateReadEvent(bool manualReset,
                                                             bool initialState) = 0;
    // RegisterDeviceNotificationA for the window, filtered on the interface
    // class; null on failure.
    virtual std::unique_ptr<PortRegistration> RegisterDeviceNotifications(
        const DeviceGuid& classGuid) = 0;
    // SetTimer on the window, no callback procedure; false on failure. No
    // object stands for the timer, so that starting and stopping it never
    // needs memory.
    virtual bool StartTimer(uint32_t id, uint32_t periodMs) = 0;
    virtual void StopTimer(uint32_t id) = 0;  // KillTimer
    // Whether `byte` starts a two-byte character in the system's ANSI code
    // page (device paths are in that code page).
    virtual bool IsLeadByte(uint8_t byte) = 0;
};

}  // namespace hk4
