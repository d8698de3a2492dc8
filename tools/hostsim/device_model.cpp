#include "hostsim/device_model.h"

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hostsim/trace.h"

namespace hostsim {

const GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

namespace {

DeviceModel* g_model = nullptr;

constexpr uintptr_t kHandleBase = 0x5EED0000;
constexpr uintptr_t kListBase = 0x5EEE0000;
constexpr uintptr_t kRegistrationBase = 0x5EEF0000;
constexpr uintptr_t kStride = 16;

constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;
constexpr ULONG_PTR kStatusDeletePending = 0xC0000056;

long IndexOf(uintptr_t value, uintptr_t base, std::size_t count) {
    if (value < base || (value - base) % kStride != 0) return -1;
    const uintptr_t i = (value - base) / kStride;
    return i < count ? static_cast<long>(i) : -1;
}

bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

DeviceModel* Model() {
    return g_model;
}

void SetModel(DeviceModel* model) {
    g_model = model;
}

std::string FormatMs(Micros t) {
    if (t % kMs == 0) return Format("%lldms", static_cast<long long>(t / kMs));
    std::string s = Format("%.3f", static_cast<double>(t) / kMs);
    while (s.back() == '0') s.pop_back();
    return s + "ms";
}

std::string FormatGuid(const GUID& g) {
    if (IsEqualGUID(g, kHidGuid)) return "HID";
    return Format("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

std::string HexBytes(const uint8_t* p, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += Format(i ? " %02X" : "%02X", p[i]);
    return s;
}

DeviceModel::DeviceModel(bool isStepped) : stepped(isStepped) {
    QueryPerformanceFrequency(&freq_);
    QueryPerformanceCounter(&start_);
}

Micros DeviceModel::Now() {
    if (stepped) return now_;
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<Micros>((c.QuadPart - start_.QuadPart) * 1000000 / freq_.QuadPart);
}

void DeviceModel::Schedule(Micros at, std::function<void()> action) {
    scheduled_.emplace(at, std::move(action));
}

Micros DeviceModel::NextEventTime() {
    Micros next = -1;
    auto consider = [&next](Micros t) {
        if (next < 0 || t < next) next = t;
    };
    if (!scheduled_.empty()) consider(scheduled_.begin()->first);
    for (const VirtualDevice& d : devices)
        if (d.present && d.policy == ReportPolicy::Periodic && d.period > 0)
            consider(d.nextPeriodic);
    for (const ReadOp& op : reads) {
        if (op.state != ReadState::Pending) continue;
        if (op.write) {
            if (op.endsAt >= 0) consider(op.endsAt);
            continue;
        }
        const VirtualHandle& h = handles[op.handle];
        const VirtualDevice& d = devices[h.device];
        if (d.readMode == ReadMode::Late && !h.queue.empty())
            consider(std::max(op.started + d.lateBy, h.queue.front().produced));
    }
    return next;
}

void DeviceModel::RunDue(Micros t, bool inclusive) {
    for (;;) {
        const Micros te = NextEventTime();
        if (te < 0 || te > t || (te == t && !inclusive)) return;
        if (stepped) now_ = std::max(now_, te);
        // Scheduled actions first (they change the controls), then the
        // periodic reports, then the reads that can complete.
        while (!scheduled_.empty() && scheduled_.begin()->first <= te) {
            auto action = std::move(scheduled_.begin()->second);
            scheduled_.erase(scheduled_.begin());
            action();
        }
        for (std::size_t i = 0; i < devices.size(); ++i) {
            VirtualDevice& d = devices[i];
            if (d.present && d.policy == ReportPolicy::Periodic && d.period > 0 &&
                d.nextPeriodic <= te) {
                d.nextPeriodic += d.period;
                Produce(i);
            }
        }
        CompleteReads();
    }
}

void DeviceModel::LetSleepersRun() {
    // Bounded: a thread that leaves instead of waiting again is not waited
    // for past this.
    for (int spin = 0; spin < 1000; ++spin) {
        {
            const std::lock_guard<std::recursive_mutex> g(lock);
            bool running = false;
            for (const auto& entry : sleepers)
                running = running || entry.second.released || entry.second.deadline <= Now();
            if (!running) return;
        }
        Sleep(1);
    }
}

void DeviceModel::AdvanceTo(Micros t, bool inclusive) {
    RunDue(t, inclusive);
    if (stepped) now_ = std::max(now_, t);
}

std::size_t DeviceModel::AddDevice(const std::string& name, uint16_t vid, uint16_t pid,
                                   const std::string& path, bool present) {
    VirtualDevice d;
    d.name = name;
    d.vid = vid;
    d.pid = pid;
    d.path = path;
    d.present = present;
    d.order = nextOrder_++;
    devices.push_back(d);
    return devices.size() - 1;
}

VirtualDevice* DeviceModel::Find(const std::string& name) {
    for (VirtualDevice& d : devices)
        if (d.name == name) return &d;
    return nullptr;
}

void DeviceModel::Produce(std::size_t device) {
    VirtualDevice& d = devices[device];
    if (!d.present) return;
    Report r;
    std::memcpy(r.bytes, d.state, sizeof r.bytes);
    r.produced = Now();
    r.seq = nextSeq_++;
    if (onProduce) onProduce(r);
    if (traceReports && (!d.traced || std::memcmp(d.lastTraced, r.bytes, sizeof r.bytes) != 0 ||
                         d.policy == ReportPolicy::OnChange)) {
        TheTrace().Line(Format("~ %s report #%llu %s", d.name.c_str(),
                               static_cast<unsigned long long>(r.seq),
                               HexBytes(r.bytes, sizeof r.bytes).c_str()));
        std::memcpy(d.lastTraced, r.bytes, sizeof r.bytes);
        d.traced = true;
    }
    for (VirtualHandle& h : handles) {
        if (h.device != device || !h.open || h.dead) continue;
        if (h.kind != HandleKind::Read && h.kind != HandleKind::ReadWrite) continue;
        if (h.queue.size() >= kDriverQueueReports) {
            if (traceReports)
                TheTrace().Line(Format("~ %s queue full: report #%llu dropped", h.label.c_str(),
                                       static_cast<unsigned long long>(h.queue.front().seq)));
            h.queue.pop_front();
            h.overflowed = true;
        }
        h.queue.push_back(r);
    }
    CompleteReads();
}

void DeviceModel::ControlsChanged(std::size_t device) {
    if (devices[device].present && devices[device].policy == ReportPolicy::OnChange)
        Produce(device);
}

void DeviceModel::SetPolicy(std::size_t device, ReportPolicy policy, Micros period) {
    VirtualDevice& d = devices[device];
    d.policy = policy;
    d.period = period;
    d.nextPeriodic = Now() + period;
}

void DeviceModel::Unplug(std::size_t device, const std::string& broadcastPath) {
    VirtualDevice& d = devices[device];
    if (!d.present) return;
    d.present = false;
    TheTrace().Line("~ " + d.name + " unplugged");
    for (std::size_t i = 0; i < handles.size(); ++i) {
        VirtualHandle& h = handles[i];
        if (h.device != device || h.dead) continue;
        h.dead = true;
        h.queue.clear();
        // The driver fails the reads it holds at once.
        for (ReadOp& op : reads) {
            if (op.handle != i || op.state != ReadState::Pending) continue;
            op.ov->Internal = d.wineStack ? kStatusDeletePending : kStatusDeviceNotConnected;
            op.ov->InternalHigh = 0;
            op.state = ReadState::Completed;
            op.error = GoneError(h);
            if (op.event) SetEvent(op.event);
            TheTrace().Line(Format("~ %s fails %s: %s", h.label.c_str(),
                                   OverlappedLabel(op.ov).c_str(),
                                   d.wineStack ? "delete pending" : "device not connected"));
        }
    }
    if (d.wineStack) broadcasts.push_back(Broadcast{DBT_DEVNODES_CHANGED, "", d.name, false});
    broadcasts.push_back(Broadcast{DBT_DEVICEREMOVECOMPLETE,
                                   broadcastPath.empty() ? d.path : broadcastPath, d.name,
                                   d.wineStack});
}

void DeviceModel::Plug(std::size_t device, const std::string& newPath) {
    VirtualDevice& d = devices[device];
    if (d.present) return;
    if (!newPath.empty()) d.path = newPath;
    d.present = true;
    d.order = nextOrder_++;
    d.nextPeriodic = Now() + d.period;
    TheTrace().Line("~ " + d.name + " plugged in at " + Quote(d.path.c_str()));
    if (d.wineStack) broadcasts.push_back(Broadcast{DBT_DEVNODES_CHANGED, "", d.name, false});
    broadcasts.push_back(Broadcast{DBT_DEVICEARRIVAL, d.path, d.name, d.wineStack});
}

HANDLE DeviceModel::HandleValue(std::size_t index) {
    return reinterpret_cast<HANDLE>(kHandleBase + kStride * index);
}

long DeviceModel::HandleIndex(HANDLE h) const {
    return IndexOf(reinterpret_cast<uintptr_t>(h), kHandleBase, handles.size());
}

HDEVINFO DeviceModel::ListValue(std::size_t index) {
    return reinterpret_cast<HDEVINFO>(kListBase + kStride * index);
}

long DeviceModel::ListIndex(HDEVINFO h) const {
    return IndexOf(reinterpret_cast<uintptr_t>(h), kListBase, lists.size());
}

HDEVNOTIFY DeviceModel::RegistrationValue(std::size_t index) {
    return reinterpret_cast<HDEVNOTIFY>(kRegistrationBase + kStride * index);
}

long DeviceModel::RegistrationIndex(HDEVNOTIFY h) const {
    return IndexOf(reinterpret_cast<uintptr_t>(h), kRegistrationBase, registrations.size());
}

long DeviceModel::DeviceByPath(const std::string& path) const {
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (SamePathIgnoringCase(devices[i].path, path)) return static_cast<long>(i);
    return -1;
}

std::string DeviceModel::WindowLabel(HWND w) {
    if (w == nullptr) return "null";
    if (w == hostWindow) return "host";
    auto it = windowLabels.find(w);
    if (it != windowLabels.end()) return it->second;
    return windowLabels[w] = Format("window#%d", nextWindow++);
}

std::string DeviceModel::OverlappedLabel(const OVERLAPPED* ov) {
    if (ov == nullptr) return "null";
    auto it = overlappedLabels.find(ov);
    if (it != overlappedLabels.end()) return it->second;
    return overlappedLabels[ov] = Format("ov#%d", nextOverlapped++);
}

void DeviceModel::CompleteRead(ReadOp& op, const Report& r) {
    std::memcpy(op.buffer, r.bytes, std::min<DWORD>(op.size, kInputReportBytes));
    op.ov->Internal = 0;
    op.ov->InternalHigh = kInputReportBytes;
    op.state = ReadState::Completed;
    op.bytes = kInputReportBytes;
    op.report = r;
    if (traceReports)
        TheTrace().Line(Format("~ %s completes %s with report #%llu",
                               handles[op.handle].label.c_str(), OverlappedLabel(op.ov).c_str(),
                               static_cast<unsigned long long>(r.seq)));
    if (op.event) SetEvent(op.event);
}

Report DeviceModel::TakeReport(VirtualHandle& h) {
    if (h.overflowed && devices[h.device].wineStack && h.queue.size() > 1) {
        // Wine 8: after an overflow the oldest survivor comes out last.
        h.queue.push_back(h.queue.front());
        h.queue.pop_front();
    }
    h.overflowed = false;
    const Report r = h.queue.front();
    h.queue.pop_front();
    if (h.queue.empty()) h.overflowed = false;
    return r;
}

DWORD DeviceModel::GoneError(const VirtualHandle& h) const {
    return devices[h.device].wineStack ? ERROR_ACCESS_DENIED : ERROR_DEVICE_NOT_CONNECTED;
}

void DeviceModel::CompleteReads() {
    const Micros now = Now();
    for (ReadOp& op : reads) {
        if (op.state != ReadState::Pending) continue;
        if (op.write) {
            if (op.endsAt < 0 || op.endsAt > now) continue;
            op.ov->Internal = 0;
            op.ov->InternalHigh = op.bytes;
            op.state = ReadState::Completed;
            TheTrace().Line(Format("~ %s completes the write %s", handles[op.handle].label.c_str(),
                                   OverlappedLabel(op.ov).c_str()));
            OutputReport(devices[handles[op.handle].device], op.sent);
            if (op.event) SetEvent(op.event);
            continue;
        }
        VirtualHandle& h = handles[op.handle];
        if (h.queue.empty()) continue;
        const VirtualDevice& d = devices[h.device];
        const bool due = d.readMode == ReadMode::Immediate ||
                         (d.readMode == ReadMode::Late &&
                          std::max(op.started + d.lateBy, h.queue.front().produced) <= now);
        if (!due) continue;
        CompleteRead(op, TakeReport(h));
    }
}

void DeviceModel::ReleaseWrites(std::size_t device) {
    for (ReadOp& op : reads)
        if (op.write && op.state == ReadState::Pending && handles[op.handle].device == device)
            op.endsAt = Now();
    CompleteReads();
}

void DeviceModel::OutputReport(VirtualDevice& d, const uint8_t* bytes) {
    if (d.lamp != bytes[1]) {
        d.lamp = bytes[1];
        TheTrace().Line("~ " + d.name + " lamp " + (bytes[1] ? "on" : "off"));
    }
    if (onOutputReport) onOutputReport(Now());
}

ReadOp* DeviceModel::ReadByOverlapped(const OVERLAPPED* ov) {
    for (auto it = reads.rbegin(); it != reads.rend(); ++it)
        if (it->ov == ov) return &*it;
    return nullptr;
}

void DeviceModel::FinishCancel(ReadOp& op) {
    if (op.state != ReadState::Cancelling) return;
    op.ov->Internal = kStatusCancelled;
    op.ov->InternalHigh = 0;
    op.state = ReadState::Completed;
    op.error = ERROR_OPERATION_ABORTED;
    TheTrace().Line(Format("~ %s: %s on %s ends cancelled", OverlappedLabel(op.ov).c_str(),
                           Kind(op), handles[op.handle].label.c_str()));
    if (op.event) SetEvent(op.event);
}

void DeviceModel::Observe(ReadOp& op) {
    if (op.observed) return;
    op.observed = true;
    if (op.error == 0 && op.report.seq > observed.seq)
        observed = ObservedReport{op.report.seq, op.report.produced};
}

void DeviceModel::ObserveByEvent(HANDLE ev) {
    for (ReadOp& op : reads)
        if (op.event == ev && op.state == ReadState::Completed) Observe(op);
}

void DeviceModel::Error(const std::string& text) {
    ++errors;
    TheTrace().Line("error: " + text);
}

std::string DeviceModel::OpenSummary() {
    int probe = 0, read = 0, write = 0, ev = 0, list = 0, notify = 0, timer = 0, inflight = 0;
    for (const VirtualHandle& h : handles) {
        if (!h.open) continue;
        if (h.kind == HandleKind::Probe) ++probe;
        if (h.kind == HandleKind::Read || h.kind == HandleKind::ReadWrite) ++read;
        if (h.kind == HandleKind::Write || h.kind == HandleKind::ReadWrite) ++write;
    }
    for (const auto& e : events) ev += e.second.open;
    for (const DeviceList& l : lists) list += l.open;
    for (const Registration& r : registrations) notify += r.open;
    for (const TimerRecord& t : timers) timer += t.live && IsWindow(t.window);
    for (const ReadOp& op : reads) inflight += InFlight(op);
    return Format(
        "~ open: probe=%d read=%d write=%d events=%d lists=%d notifications=%d timers=%d "
        "reads=%d",
        probe, read, write, ev, list, notify, timer, inflight);
}

void DeviceModel::CheckAfterStop(HWND pluginWindow) {
    for (const VirtualHandle& h : handles)
        if (h.open) Error(h.label + " is still open after StopPlug");
    for (const auto& e : events)
        if (e.second.open) Error(e.second.label + " is still open after StopPlug");
    for (const DeviceList& l : lists)
        if (l.open) Error(l.label + " (device list) was never destroyed");
    for (const Registration& r : registrations)
        if (r.open) Error(r.label + " (device notifications) is still registered after StopPlug");
    for (ReadOp& op : reads)
        if (InFlight(op))
            Error(
                Format("the %s into %s on %s was never finished: after StopPlug the system "
                       "may still use its buffer and write into its OVERLAPPED",
                       Kind(op), OverlappedLabel(op.ov).c_str(), handles[op.handle].label.c_str()));
    if (pluginWindow && IsWindow(pluginWindow))
        Error(WindowLabel(pluginWindow) + " still exists after StopPlug");
}

}  // namespace hostsim
