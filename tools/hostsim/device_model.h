// The virtual system the plug-in talks to through its patched imports: HID
// device interfaces with their paths, open file handles, the driver-side
// input queues, overlapped reads, output reports, events, device
// notifications and timers, on one clock.
//
// The clock is virtual in stepped mode (it moves only when the scenario or a
// wait of the plug-in moves it) and real in real-time mode, where a pendant
// thread produces reports and completes reads while the host thread runs.
// Every member is guarded by `lock`; the hooks release it before anything
// that may block or call back into the plug-in.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hostsim {

using Micros = int64_t;
inline constexpr Micros kMs = 1000;

inline constexpr uint16_t kPendantVid = 0x04D8;
inline constexpr uint16_t kPendantPid = 0xFCE1;
inline constexpr std::size_t kDriverQueueReports = 32;  // the HID driver's default ring
inline constexpr DWORD kInputReportBytes = 8;
inline constexpr DWORD kOutputReportBytes = 5;

// The HID device-interface class.
extern const GUID kHidGuid;

// "4ms", "4.5ms", "1000ms".
std::string FormatMs(Micros t);
std::string FormatGuid(const GUID& g);  // "HID" for the HID class
std::string HexBytes(const uint8_t* p, std::size_t n);

enum class ReadMode { Immediate, Late, Never, Fail };
enum class ReportPolicy { OnChange, Periodic, Off };

struct Report {
    uint8_t bytes[kInputReportBytes] = {};
    Micros produced = 0;
    uint64_t seq = 0;
};

struct VirtualDevice {
    std::string name;  // the scenario's name for it
    std::string path;  // device-interface path
    uint16_t vid = kPendantVid;
    uint16_t pid = kPendantPid;
    bool present = true;
    bool failProbeOpen = false, failReadOpen = false, failWriteOpen = false;
    bool failAttributes = false, failWrites = false;
    // A write the device (or its hub) holds: never completed (`writes
    // hold`), or completed this long after it started (`writes hold MS`).
    bool holdWrites = false;
    Micros writeHold = -1;
    ReadMode readMode = ReadMode::Immediate;
    Micros lateBy = 0;
    // What the pendant's controls show: byte 0 report ID, 1 wheel counter,
    // 2 speed, 3 axis selector with the inhibit (0x10) and button (0x20)
    // bits, 4 function selector.
    uint8_t state[kInputReportBytes] = {0, 0, 0, 1, 1, 0, 0, 0};
    ReportPolicy policy = ReportPolicy::OnChange;
    Micros period = 0;
    Micros nextPeriodic = 0;
    // Behaves as Wine's HID stack does (`stack=wine`): the interface
    // broadcast comes in the wide form, upper case, even to an ANSI window,
    // after a DBT_DEVNODES_CHANGED without data; a read of the removed device
    // fails with ERROR_ACCESS_DENIED (STATUS_DELETE_PENDING); a queue that
    // overflowed hands its oldest survivor out last.
    bool wineStack = false;
    int lamp = -1;  // byte 1 of the last output report, -1 before the first
    int order = 0;  // position in the system's device list
    uint8_t lastTraced[kInputReportBytes] = {};
    bool traced = false;
};

enum class HandleKind { Probe, Read, Write, ReadWrite };

struct VirtualHandle {
    int number = 0;
    std::string label;  // "read#2"
    std::size_t device = 0;
    HandleKind kind = HandleKind::Probe;
    DWORD flags = 0;
    bool open = true;
    bool dead = false;  // its device went away; it never works again
    std::deque<Report> queue;
    bool overflowed = false;  // reports were dropped since the queue was last empty
};

// One overlapped read, or (`write`) one output report write. While it is
// Pending or Cancelling the system owns its buffer and OVERLAPPED; Completed
// means the system is done with them;
// `observed` means the plug-in has seen the end (ReadFile returned TRUE, a
// wait on its event succeeded, or GetOverlappedResult reported it).
enum class ReadState { Pending, Cancelling, Completed };

struct ReadOp {
    int number = 0;
    std::size_t handle = 0;  // index into handles
    uint8_t* buffer = nullptr;
    DWORD size = 0;
    OVERLAPPED* ov = nullptr;
    HANDLE event = nullptr;
    Micros started = 0;
    DWORD thread = 0;  // that started it (CancelIo cancels by thread)
    ReadState state = ReadState::Pending;
    bool observed = false;
    DWORD error = 0;  // Win32 error of a completed read, 0 = data
    DWORD bytes = 0;
    Report report;  // the report it delivered
    bool write = false;
    Micros endsAt = -1;                     // when a held write completes; -1 = never by itself
    uint8_t sent[kOutputReportBytes] = {};  // the report a write carries
};

inline const char* Kind(const ReadOp& op) {
    return op.write ? "write" : "read";
}

struct EventRecord {
    std::string label;
    bool open = true;
    bool usedByRead = false;
};

struct DeviceList {
    std::string label;
    std::vector<std::size_t> devices;  // snapshot, in list order
    bool open = true;
};

struct Registration {
    std::string label;
    HWND window = nullptr;
    GUID guid{};
    DWORD flags = 0;
    bool open = true;
};

struct TimerRecord {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT period = 0;
    Micros nextDue = 0;
    bool live = true;
};

struct Broadcast {
    WPARAM event = 0;  // DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE or DBT_DEVNODES_CHANGED
    std::string path;
    std::string device;
    bool wide = false;  // DEV_BROADCAST_DEVICEINTERFACE_W, the name upper case
};

// What the bench reads: the newest report the plug-in has seen, and when the
// plug-in wrote output reports.
struct ObservedReport {
    uint64_t seq = 0;
    Micros produced = 0;
};

class DeviceModel {
  public:
    explicit DeviceModel(bool stepped);

    std::recursive_mutex lock;
    const bool stepped;
    // The system has CancelIoEx (Windows Vista and later); without it, as on
    // Windows XP, GetProcAddress finds none.
    bool hasCancelIoEx = true;

    // --- clock ---
    Micros Now();
    // Threads of the plug-in other than the host's that wait with a time
    // limit (its jog watchdog): in stepped mode the limit runs on the
    // virtual clock, by thread. `released`: the clock passed the limit and
    // the thread runs until it waits again.
    struct Sleeper {
        Micros deadline = 0;
        bool released = false;
    };
    std::map<DWORD, Sleeper> sleepers;
    const DWORD hostThread = GetCurrentThreadId();
    // After the host's thread moved the clock (the lock not held): lets every
    // sleeper whose limit has passed run until it waits again, so that what
    // it does happens at that time and not whenever the system gets to it.
    void LetSleepersRun();
    // Runs every scheduled thing up to `t` (inclusive or not), then sets the
    // clock to `t` (stepped mode; real-time mode only runs what is due).
    void AdvanceTo(Micros t, bool inclusive);
    // The time of the next scheduled thing, or -1.
    Micros NextEventTime();
    void Schedule(Micros at, std::function<void()> action);

    // --- devices (the scenario's side) ---
    std::size_t AddDevice(const std::string& name, uint16_t vid, uint16_t pid,
                          const std::string& path, bool present);
    VirtualDevice* Find(const std::string& name);
    std::vector<VirtualDevice> devices;
    // Emits a report from the device's current controls.
    void Produce(std::size_t device);
    // The controls changed: a report now if it reports on change.
    void ControlsChanged(std::size_t device);
    void SetPolicy(std::size_t device, ReportPolicy policy, Micros period);
    void Unplug(std::size_t device, const std::string& broadcastPath);
    void Plug(std::size_t device, const std::string& newPath);
    bool failClassDevs = false, failEnum = false;

    // --- what the plug-in holds ---
    std::vector<VirtualHandle> handles;
    std::vector<ReadOp> reads;
    std::map<HANDLE, EventRecord> events;
    std::vector<DeviceList> lists;
    std::vector<Registration> registrations;
    std::vector<TimerRecord> timers;
    std::deque<Broadcast> broadcasts;  // waiting for the host thread

    static HANDLE HandleValue(std::size_t index);
    // The handle's index, or -1 when `h` is not a virtual device handle.
    long HandleIndex(HANDLE h) const;
    static HDEVINFO ListValue(std::size_t index);
    long ListIndex(HDEVINFO h) const;
    static HDEVNOTIFY RegistrationValue(std::size_t index);
    long RegistrationIndex(HDEVNOTIFY h) const;
    // The device whose path equals `path` (case-insensitively), or -1.
    long DeviceByPath(const std::string& path) const;
    std::string WindowLabel(HWND w);
    HWND hostWindow = nullptr;

    // --- reads ---
    // Completes every pending read, and every held write, that can complete
    // now.
    void CompleteReads();
    // Completes the held writes on the device's handles now.
    void ReleaseWrites(std::size_t device);
    // The device received an output report: its lamp follows byte 1.
    void OutputReport(VirtualDevice& d, const uint8_t* bytes);
    // Takes the next report of a read handle's queue (not empty).
    Report TakeReport(VirtualHandle& h);
    // The error of a read on a removed device.
    DWORD GoneError(const VirtualHandle& h) const;
    // The read that last used this OVERLAPPED, or null.
    ReadOp* ReadByOverlapped(const OVERLAPPED* ov);
    // Finishes a read that is being cancelled: writes its OVERLAPPED and
    // signals its event, as the system does when the cancellation is done.
    void FinishCancel(ReadOp& op);
    // Marks the reads whose event is `ev` and that have ended as seen.
    void ObserveByEvent(HANDLE ev);
    void Observe(ReadOp& op);
    bool InFlight(const ReadOp& op) const {
        return op.state == ReadState::Pending || op.state == ReadState::Cancelling;
    }

    // --- checks ---
    void Error(const std::string& text);
    int errors = 0;
    // Everything the plug-in still holds, as one trace line.
    std::string OpenSummary();
    // Reports, as errors, every handle, list, event, registration, live
    // window and unfinished read left after StopPlug.
    void CheckAfterStop(HWND pluginWindow);

    ObservedReport observed;
    std::function<void(Micros at)> onOutputReport;  // bench hooks
    std::function<void(const Report&)> onProduce;
    bool traceReports = true;  // trace report production

    // Counters that give stable labels.
    int nextHandle = 1, nextRead = 1, nextEvent = 1, nextList = 1, nextRegistration = 1,
        nextOverlapped = 1, nextWindow = 1;
    std::map<const void*, std::string> overlappedLabels;
    std::map<HWND, std::string> windowLabels;
    std::string OverlappedLabel(const OVERLAPPED* ov);

  private:
    void RunDue(Micros t, bool inclusive);
    void PushReport(std::size_t device);
    void CompleteRead(ReadOp& op, const Report& r);

    Micros now_ = 0;
    LARGE_INTEGER start_{}, freq_{};
    std::multimap<Micros, std::function<void()>> scheduled_;
    uint64_t nextSeq_ = 1;
    int nextOrder_ = 0;
};

// The model the hooks work on (set while a plug-in is attached).
DeviceModel* Model();
void SetModel(DeviceModel* model);

}  // namespace hostsim
