#include "hostsim/device_hooks.h"

#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "hostsim/device_model.h"
#include "hostsim/trace.h"

namespace hostsim {

namespace {

using Guard = std::unique_lock<std::recursive_mutex>;

void (*g_beforeCall)() = nullptr;

void BeforeCall() {
    if (g_beforeCall) g_beforeCall();
}

// Time the virtual system spends on the calling thread, so that the bench
// can tell the plug-in's share of a tick from the simulator's.
thread_local double t_simulatorMicros = 0.0;

double QpcMicros() {
    static const double perSecond = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1e6 / perSecond;
}

// Starts every call on a virtual object: traces the host's field writes
// first, and counts the call's time as the simulator's.
class SystemCall {
  public:
    SystemCall() : start_(QpcMicros()) { BeforeCall(); }
    ~SystemCall() { t_simulatorMicros += QpcMicros() - start_; }
    SystemCall(const SystemCall&) = delete;
    SystemCall& operator=(const SystemCall&) = delete;

  private:
    double start_;
};

std::string ErrorName(DWORD e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND:
            return "ERROR_FILE_NOT_FOUND";
        case ERROR_ACCESS_DENIED:
            return "ERROR_ACCESS_DENIED";
        case ERROR_INVALID_HANDLE:
            return "ERROR_INVALID_HANDLE";
        case ERROR_GEN_FAILURE:
            return "ERROR_GEN_FAILURE";
        case ERROR_INVALID_PARAMETER:
            return "ERROR_INVALID_PARAMETER";
        case ERROR_INSUFFICIENT_BUFFER:
            return "ERROR_INSUFFICIENT_BUFFER";
        case ERROR_NO_MORE_ITEMS:
            return "ERROR_NO_MORE_ITEMS";
        case ERROR_IO_INCOMPLETE:
            return "ERROR_IO_INCOMPLETE";
        case ERROR_IO_PENDING:
            return "ERROR_IO_PENDING";
        case ERROR_OPERATION_ABORTED:
            return "ERROR_OPERATION_ABORTED";
        case ERROR_DEVICE_NOT_CONNECTED:
            return "ERROR_DEVICE_NOT_CONNECTED";
        case ERROR_INVALID_USER_BUFFER:
            return "ERROR_INVALID_USER_BUFFER";
        case ERROR_NOT_FOUND:
            return "ERROR_NOT_FOUND";
        default:
            return Format("error %lu", static_cast<unsigned long>(e));
    }
}

std::string Ptr(const void* p) {
    return p ? "ptr" : "null";
}

std::string Bool(BOOL b) {
    return b ? "TRUE" : "FALSE";
}

// Named bits first, whatever is left in hex; "0" for none.
std::string Bits(DWORD value, std::initializer_list<std::pair<DWORD, const char*>> names) {
    std::string out;
    for (const auto& n : names) {
        if ((value & n.first) == n.first && n.first != 0) {
            out += (out.empty() ? "" : "|") + std::string(n.second);
            value &= ~n.first;
        }
    }
    if (value != 0 || out.empty())
        out += (out.empty() ? "" : "|") + Format("0x%lX", static_cast<unsigned long>(value));
    if (out == "0x0") out = "0";
    return out;
}

std::string AccessText(DWORD a) {
    return Bits(a, {{GENERIC_READ, "GENERIC_READ"}, {GENERIC_WRITE, "GENERIC_WRITE"}});
}

std::string ShareText(DWORD s) {
    return Bits(
        s, {{FILE_SHARE_READ, "READ"}, {FILE_SHARE_WRITE, "WRITE"}, {FILE_SHARE_DELETE, "DELETE"}});
}

std::string DispositionText(DWORD d) {
    switch (d) {
        case CREATE_NEW:
            return "CREATE_NEW";
        case CREATE_ALWAYS:
            return "CREATE_ALWAYS";
        case OPEN_EXISTING:
            return "OPEN_EXISTING";
        case OPEN_ALWAYS:
            return "OPEN_ALWAYS";
        case TRUNCATE_EXISTING:
            return "TRUNCATE_EXISTING";
        default:
            return Format("disposition=%lu", static_cast<unsigned long>(d));
    }
}

std::string DeviceTag(DeviceModel& m, const std::string& path) {
    const long d = m.DeviceByPath(path);
    return d < 0 ? std::string() : " [" + m.devices[static_cast<std::size_t>(d)].name + "]";
}

bool IsDevicePath(DeviceModel& m, const char* path) {
    return std::strncmp(path, "\\\\?\\", 4) == 0 || std::strncmp(path, "\\\\.\\", 4) == 0 ||
           m.DeviceByPath(path) >= 0;
}

std::string HandleText(DeviceModel& m, HANDLE h) {
    const long i = m.HandleIndex(h);
    if (i >= 0) return m.handles[static_cast<std::size_t>(i)].label;
    auto e = m.events.find(h);
    if (e != m.events.end()) return e->second.label;
    if (h == INVALID_HANDLE_VALUE) return "INVALID_HANDLE_VALUE";
    return h ? "other" : "null";
}

// Fails a call: trace, error code, result.
template <typename R>
R Fail(const std::string& line, DWORD error, R result, const char* shown = "FALSE") {
    TheTrace().Line(line + " -> " + shown + " " + ErrorName(error));
    SetLastError(error);
    return result;
}

bool Overlap(const void* a, std::size_t an, const void* b, std::size_t bn) {
    const auto* pa = static_cast<const unsigned char*>(a);
    const auto* pb = static_cast<const unsigned char*>(b);
    return pa < pb + bn && pb < pa + an;
}

// ---- SetupDi and HidD ----

void WINAPI Hook_HidD_GetHidGuid(LPGUID guid) {
    DeviceModel* m = Model();
    if (!m) return HidD_GetHidGuid(guid);
    const SystemCall call;
    Guard g(m->lock);
    if (guid) *guid = kHidGuid;
    TheTrace().Line("! HidD_GetHidGuid " + Ptr(guid) + " -> HID");
}

HDEVINFO WINAPI Hook_SetupDiGetClassDevsA(const GUID* guid, PCSTR enumerator, HWND parent,
                                          DWORD flags) {
    DeviceModel* m = Model();
    if (!m) return SetupDiGetClassDevsA(guid, enumerator, parent, flags);
    const SystemCall call;
    Guard g(m->lock);
    const std::string line = Format(
        "! SetupDiGetClassDevsA %s enumerator=%s hwnd=%s flags=0x%lX",
        guid ? FormatGuid(*guid).c_str() : "null", enumerator ? Quote(enumerator).c_str() : "null",
        m->WindowLabel(parent).c_str(), static_cast<unsigned long>(flags));
    if (m->failClassDevs)
        return Fail(line, ERROR_INVALID_PARAMETER, static_cast<HDEVINFO>(INVALID_HANDLE_VALUE),
                    "INVALID_HANDLE_VALUE");
    DeviceList list;
    list.label = Format("list#%d", m->nextList++);
    if (guid && IsEqualGUID(*guid, kHidGuid) && (flags & DIGCF_DEVICEINTERFACE)) {
        for (std::size_t i = 0; i < m->devices.size(); ++i)
            if (m->devices[i].present || !(flags & DIGCF_PRESENT)) list.devices.push_back(i);
        std::sort(list.devices.begin(), list.devices.end(), [m](std::size_t a, std::size_t b) {
            return m->devices[a].order < m->devices[b].order;
        });
    }
    m->lists.push_back(list);
    TheTrace().Line(line + " -> " + list.label);
    return DeviceModel::ListValue(m->lists.size() - 1);
}

BOOL WINAPI Hook_SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA devinfo,
                                             const GUID* guid, DWORD index,
                                             PSP_DEVICE_INTERFACE_DATA data) {
    DeviceModel* m = Model();
    const long li = m ? m->ListIndex(set) : -1;
    if (li < 0) return SetupDiEnumDeviceInterfaces(set, devinfo, guid, index, data);
    const SystemCall call;
    Guard g(m->lock);
    DeviceList& list = m->lists[static_cast<std::size_t>(li)];
    const std::string line = Format(
        "! SetupDiEnumDeviceInterfaces %s devinfo=%s %s %lu cbSize=%s", list.label.c_str(),
        Ptr(devinfo).c_str(), guid ? FormatGuid(*guid).c_str() : "null",
        static_cast<unsigned long>(index), data ? std::to_string(data->cbSize).c_str() : "null");
    if (!list.open) {
        m->Error("SetupDiEnumDeviceInterfaces on destroyed " + list.label);
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    if (m->failEnum) return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
    if (!data) return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(line, ERROR_INVALID_USER_BUFFER, FALSE);
    if (!guid || !IsEqualGUID(*guid, kHidGuid) || index >= list.devices.size())
        return Fail(line, ERROR_NO_MORE_ITEMS, FALSE);
    data->InterfaceClassGuid = kHidGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;  // which interface of the list this is
    TheTrace().Line(line + " -> TRUE");
    return TRUE;
}

BOOL WINAPI Hook_SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                  DWORD size, PDWORD required,
                                                  PSP_DEVINFO_DATA devinfo) {
    DeviceModel* m = Model();
    const long li = m ? m->ListIndex(set) : -1;
    if (li < 0) return SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, required, devinfo);
    const SystemCall call;
    Guard g(m->lock);
    DeviceList& list = m->lists[static_cast<std::size_t>(li)];
    const long which = data ? static_cast<long>(data->Reserved) - 1 : -1;
    std::string line =
        Format("! SetupDiGetDeviceInterfaceDetailA %s interface=%ld", list.label.c_str(), which);
    line += detail ? Format(" detail.cbSize=%lu", static_cast<unsigned long>(detail->cbSize))
                   : std::string(" detail=null");
    line += Format(" size=%lu required=%s devinfo=%s", static_cast<unsigned long>(size),
                   Ptr(required).c_str(), Ptr(devinfo).c_str());
    if (!list.open) {
        m->Error("SetupDiGetDeviceInterfaceDetailA on destroyed " + list.label);
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    if (!data || which < 0 || static_cast<std::size_t>(which) >= list.devices.size())
        return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
    const std::string& path = m->devices[list.devices[static_cast<std::size_t>(which)]].path;
    const DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                          path.size() + 1);
    if (required) *required = need;
    if (!detail) {
        if (size != 0) return Fail(line, ERROR_INVALID_USER_BUFFER, FALSE);
        TheTrace().Line(line + Format(" -> FALSE ERROR_INSUFFICIENT_BUFFER required=%lu",
                                      static_cast<unsigned long>(need)));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(line, ERROR_INVALID_USER_BUFFER, FALSE);
    if (size < need) return Fail(line, ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    TheTrace().Line(line + " -> TRUE " + Quote(path.c_str()) + DeviceTag(*m, path));
    return TRUE;
}

BOOL WINAPI Hook_SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    DeviceModel* m = Model();
    const long li = m ? m->ListIndex(set) : -1;
    if (li < 0) return SetupDiDestroyDeviceInfoList(set);
    const SystemCall call;
    Guard g(m->lock);
    DeviceList& list = m->lists[static_cast<std::size_t>(li)];
    const std::string line = "! SetupDiDestroyDeviceInfoList " + list.label;
    if (!list.open) {
        m->Error(list.label + " destroyed twice");
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    list.open = false;
    TheTrace().Line(line + " -> TRUE");
    return TRUE;
}

BOOLEAN WINAPI Hook_HidD_GetAttributes(HANDLE h, PHIDD_ATTRIBUTES attr) {
    DeviceModel* m = Model();
    const long hi = m ? m->HandleIndex(h) : -1;
    if (hi < 0) return HidD_GetAttributes(h, attr);
    const SystemCall call;
    Guard g(m->lock);
    VirtualHandle& vh = m->handles[static_cast<std::size_t>(hi)];
    const std::string line =
        "! HidD_GetAttributes " + vh.label +
        (attr ? Format(" Size=%lu", static_cast<unsigned long>(attr->Size)) : std::string(" null"));
    if (!vh.open) {
        m->Error("HidD_GetAttributes on closed " + vh.label);
        return Fail(line, ERROR_INVALID_HANDLE, BOOLEAN{FALSE});
    }
    const VirtualDevice& d = m->devices[vh.device];
    if (!attr || vh.dead || d.failAttributes) return Fail(line, ERROR_GEN_FAILURE, BOOLEAN{FALSE});
    attr->VendorID = d.vid;
    attr->ProductID = d.pid;
    attr->VersionNumber = 0x0100;
    TheTrace().Line(line + Format(" -> TRUE %04X:%04X", d.vid, d.pid));
    return TRUE;
}

// ---- files ----

HANDLE WINAPI Hook_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE templ) {
    DeviceModel* m = Model();
    if (!m || !path || !IsDevicePath(*m, path))
        return CreateFileA(path, access, share, sa, disposition, flags, templ);
    const SystemCall call;
    Guard g(m->lock);
    const std::string line =
        Format("! CreateFileA %s%s access=%s share=%s sa=%s %s flags=%s template=%s",
               Quote(path).c_str(), DeviceTag(*m, path).c_str(), AccessText(access).c_str(),
               ShareText(share).c_str(), Ptr(sa).c_str(), DispositionText(disposition).c_str(),
               Bits(flags, {{FILE_FLAG_OVERLAPPED, "OVERLAPPED"}}).c_str(), Ptr(templ).c_str());
    const long di = m->DeviceByPath(path);
    if (di < 0 || !m->devices[static_cast<std::size_t>(di)].present || disposition != OPEN_EXISTING)
        return Fail(line, ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE");
    const VirtualDevice& d = m->devices[static_cast<std::size_t>(di)];
    const bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
    const HandleKind kind = reads && writes ? HandleKind::ReadWrite
                            : reads         ? HandleKind::Read
                            : writes        ? HandleKind::Write
                                            : HandleKind::Probe;
    const bool fails = (kind == HandleKind::Probe && d.failProbeOpen) ||
                       (reads && d.failReadOpen) || (writes && d.failWriteOpen);
    if (fails) return Fail(line, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE");
    VirtualHandle vh;
    vh.number = m->nextHandle++;
    static const char* const kKindNames[] = {"probe", "read", "write", "readwrite"};
    vh.label = Format("%s#%d", kKindNames[static_cast<int>(kind)], vh.number);
    vh.device = static_cast<std::size_t>(di);
    vh.kind = kind;
    vh.flags = flags;
    m->handles.push_back(vh);
    TheTrace().Line(line + " -> " + vh.label);
    SetLastError(0);
    return DeviceModel::HandleValue(m->handles.size() - 1);
}

// The plug-in may open its own files (the profile) with the wide function;
// a device path opened that way would bypass the virtual pendant.
HANDLE WINAPI Hook_CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE templ) {
    DeviceModel* m = Model();
    if (m && path && (wcsncmp(path, L"\\\\?\\", 4) == 0 || wcsncmp(path, L"\\\\.\\", 4) == 0)) {
        const SystemCall call;
        Guard g(m->lock);
        m->Error("CreateFileW opens a device path, which the virtual pendant does not model");
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, access, share, sa, disposition, flags, templ);
}

BOOL WINAPI Hook_CloseHandle(HANDLE h) {
    DeviceModel* m = Model();
    if (!m) return CloseHandle(h);
    Guard g(m->lock);
    const long hi = m->HandleIndex(h);
    if (hi >= 0) {
        const SystemCall call;
        VirtualHandle& vh = m->handles[static_cast<std::size_t>(hi)];
        const std::string line = "! CloseHandle " + vh.label;
        if (!vh.open) {
            m->Error(vh.label + " closed twice");
            return Fail(line, ERROR_INVALID_HANDLE, FALSE);
        }
        vh.open = false;
        TheTrace().Line(line + " -> TRUE");
        // Closing cancels what the handle still has outstanding; the system
        // finishes the cancellation later and then writes the OVERLAPPED.
        for (ReadOp& op : m->reads) {
            if (op.handle != static_cast<std::size_t>(hi) || op.state != ReadState::Pending)
                continue;
            op.state = ReadState::Cancelling;
            TheTrace().Line("~ " + vh.label + " closed with the " + Kind(op) + " into " +
                            m->OverlappedLabel(op.ov) + " outstanding: cancelling");
        }
        return TRUE;
    }
    auto e = m->events.find(h);
    if (e == m->events.end()) return CloseHandle(h);
    const SystemCall call;
    for (const ReadOp& op : m->reads)
        if (op.event == h && m->InFlight(op))
            m->Error(e->second.label + " closed while the " + Kind(op) + " into " +
                     m->OverlappedLabel(op.ov) + " still signals it");
    const std::string label = e->second.label;
    m->events.erase(e);
    const BOOL ok = CloseHandle(h);
    TheTrace().Line("! CloseHandle " + label + " -> " + Bool(ok));
    return ok;
}

HANDLE WINAPI Hook_CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manual, BOOL initial, LPCSTR name) {
    DeviceModel* m = Model();
    if (!m) return CreateEventA(sa, manual, initial, name);
    const SystemCall call;
    Guard g(m->lock);
    HANDLE h = CreateEventA(sa, manual, initial, name);
    const DWORD err = GetLastError();
    std::string result = "NULL";
    if (h) {
        EventRecord rec;
        rec.label = Format("event#%d", m->nextEvent++);
        m->events[h] = rec;
        result = rec.label;
    }
    TheTrace().Line(Format("! CreateEventA sa=%s manual=%s initial=%s name=%s -> %s",
                           Ptr(sa).c_str(), Bool(manual).c_str(), Bool(initial).c_str(),
                           name ? Quote(name).c_str() : "null", result.c_str()));
    SetLastError(err);
    return h;
}

BOOL WINAPI Hook_ReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED ov) {
    DeviceModel* m = Model();
    const long hi = m ? m->HandleIndex(h) : -1;
    if (hi < 0) return ReadFile(h, buffer, size, read, ov);
    const SystemCall call;
    Guard g(m->lock);
    VirtualHandle& vh = m->handles[static_cast<std::size_t>(hi)];
    const std::string line = !TheTrace().Enabled()
                                 ? std::string()
                                 : Format("! ReadFile %s %lu bytesRead=%s %s", vh.label.c_str(),
                                          static_cast<unsigned long>(size), Ptr(read).c_str(),
                                          m->OverlappedLabel(ov).c_str());
    if (!vh.open) {
        m->Error("ReadFile on closed " + vh.label);
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    if (vh.kind != HandleKind::Read && vh.kind != HandleKind::ReadWrite)
        return Fail(line, ERROR_ACCESS_DENIED, FALSE);
    const bool overlappedHandle = vh.flags & FILE_FLAG_OVERLAPPED;
    if (!ov && overlappedHandle) {
        m->Error("ReadFile without an OVERLAPPED on overlapped " + vh.label);
        return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
    }
    if (!buffer || size < kInputReportBytes) return Fail(line, ERROR_INVALID_USER_BUFFER, FALSE);
    for (const ReadOp& op : m->reads) {
        if (!m->InFlight(op)) continue;
        if (ov && op.ov == ov) {
            m->Error("ReadFile reuses " + m->OverlappedLabel(ov) + " while the read on " +
                     m->handles[op.handle].label + " that uses it is not finished");
            return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
        }
        if (Overlap(op.buffer, op.size, buffer, size)) {
            m->Error("ReadFile into a buffer that the unfinished read into " +
                     m->OverlappedLabel(op.ov) + " on " + m->handles[op.handle].label +
                     " still owns");
            return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
        }
        if (op.handle == static_cast<std::size_t>(hi))
            m->Error("a second read is started on " + vh.label + " while one is outstanding (" +
                     m->OverlappedLabel(op.ov) + ")");
    }
    if (vh.dead) return Fail(line, m->GoneError(vh), FALSE);
    const VirtualDevice& d = m->devices[vh.device];
    if (!ov) {
        // A synchronous read would block the host's thread until a report
        // comes; only an immediate one is modelled.
        if (vh.queue.empty() || d.readMode != ReadMode::Immediate) {
            m->Error("synchronous ReadFile on " + vh.label + " would block the host thread");
            return Fail(line, ERROR_GEN_FAILURE, FALSE);
        }
    } else {
        // Starting a read resets the OVERLAPPED's event.
        if (ov->hEvent) {
            ResetEvent(ov->hEvent);
            auto e = m->events.find(ov->hEvent);
            if (e != m->events.end()) e->second.usedByRead = true;
        }
        ov->Internal = 0x103;  // STATUS_PENDING
        ov->InternalHigh = 0;
    }
    if (d.readMode == ReadMode::Fail) {
        if (ov) ov->Internal = 0xC0000001;  // STATUS_UNSUCCESSFUL
        return Fail(line, ERROR_GEN_FAILURE, FALSE);
    }
    // Reads the system is done with and the plug-in has seen, or whose
    // record is now reused, are forgotten.
    m->reads.erase(std::remove_if(m->reads.begin(), m->reads.end(),
                                  [ov](const ReadOp& r) {
                                      return r.state == ReadState::Completed &&
                                             (r.observed || (ov && r.ov == ov));
                                  }),
                   m->reads.end());
    ReadOp op;
    op.number = m->nextRead++;
    op.handle = static_cast<std::size_t>(hi);
    op.buffer = static_cast<uint8_t*>(buffer);
    op.size = size;
    op.ov = ov;
    op.event = ov ? ov->hEvent : nullptr;
    op.started = m->Now();
    op.thread = GetCurrentThreadId();
    if (d.readMode == ReadMode::Immediate && !vh.queue.empty()) {
        const Report r = m->TakeReport(vh);
        std::memcpy(buffer, r.bytes, kInputReportBytes);
        if (ov) {
            ov->Internal = 0;
            ov->InternalHigh = kInputReportBytes;
        }
        op.state = ReadState::Completed;
        op.bytes = kInputReportBytes;
        op.report = r;
        m->reads.push_back(op);
        m->Observe(m->reads.back());
        if (op.event) SetEvent(op.event);
        if (read) *read = kInputReportBytes;
        TheTrace().Line(line +
                        Format(" -> TRUE report #%llu", static_cast<unsigned long long>(r.seq)));
        SetLastError(0);
        return TRUE;
    }
    if (!ov) return Fail(line, ERROR_GEN_FAILURE, FALSE);
    m->reads.push_back(op);
    return Fail(line, ERROR_IO_PENDING, FALSE);
}

BOOL WINAPI Hook_WriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov) {
    DeviceModel* m = Model();
    const long hi = m ? m->HandleIndex(h) : -1;
    if (hi < 0) return WriteFile(h, buffer, size, written, ov);
    const SystemCall call;
    Guard g(m->lock);
    VirtualHandle& vh = m->handles[static_cast<std::size_t>(hi)];
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    const std::string line = !TheTrace().Enabled()
                                 ? std::string()
                                 : Format("! WriteFile %s [%s] written=%s %s", vh.label.c_str(),
                                          bytes ? HexBytes(bytes, size).c_str() : "null",
                                          Ptr(written).c_str(), m->OverlappedLabel(ov).c_str());
    if (!vh.open) {
        m->Error("WriteFile on closed " + vh.label);
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    if (vh.kind != HandleKind::Write && vh.kind != HandleKind::ReadWrite)
        return Fail(line, ERROR_ACCESS_DENIED, FALSE);
    if (!ov && (vh.flags & FILE_FLAG_OVERLAPPED)) {
        m->Error("WriteFile without an OVERLAPPED on overlapped " + vh.label);
        return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
    }
    for (const ReadOp& op : m->reads) {
        if (!m->InFlight(op)) continue;
        if (ov && op.ov == ov) {
            m->Error("WriteFile reuses " + m->OverlappedLabel(ov) + " while the " + Kind(op) +
                     " on " + m->handles[op.handle].label + " that uses it is not finished");
            return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
        }
        if (Overlap(op.buffer, op.size, buffer, size))
            m->Error("WriteFile from a buffer that the unfinished " + std::string(Kind(op)) +
                     " into " + m->OverlappedLabel(op.ov) + " still owns");
        if (op.write && op.handle == static_cast<std::size_t>(hi))
            m->Error("a second write is started on " + vh.label + " while one is outstanding (" +
                     m->OverlappedLabel(op.ov) + ")");
    }
    VirtualDevice& d = m->devices[vh.device];
    if (vh.dead) return Fail(line, m->GoneError(vh), FALSE);
    if (d.failWrites) return Fail(line, ERROR_GEN_FAILURE, FALSE);
    if (!bytes || size != kOutputReportBytes) return Fail(line, ERROR_INVALID_USER_BUFFER, FALSE);
    // Wine's class driver counts the report without its number.
    const DWORD count = d.wineStack ? size - 1 : size;
    if (ov) {
        // Transfers the system is done with and the plug-in has seen, or
        // whose record is now reused, are forgotten.
        m->reads.erase(std::remove_if(m->reads.begin(), m->reads.end(),
                                      [ov](const ReadOp& r) {
                                          return r.state == ReadState::Completed &&
                                                 (r.observed || r.ov == ov);
                                      }),
                       m->reads.end());
        if (ov->hEvent) ResetEvent(ov->hEvent);
        ov->Internal = 0x103;  // STATUS_PENDING
        ov->InternalHigh = 0;
        ReadOp op;
        op.number = m->nextRead++;
        op.handle = static_cast<std::size_t>(hi);
        op.buffer = static_cast<uint8_t*>(const_cast<void*>(buffer));
        op.size = size;
        op.ov = ov;
        op.event = ov->hEvent;
        op.started = m->Now();
        op.thread = GetCurrentThreadId();
        op.write = true;
        op.bytes = count;
        std::memcpy(op.sent, bytes, kOutputReportBytes);
        if (d.holdWrites) {
            // The device has not taken the report: the system keeps the
            // buffer and the OVERLAPPED until it does.
            op.endsAt = d.writeHold < 0 ? -1 : op.started + d.writeHold;
            m->reads.push_back(op);
            return Fail(line, ERROR_IO_PENDING, FALSE);
        }
        ov->Internal = 0;
        ov->InternalHigh = count;
        op.state = ReadState::Completed;
        op.observed = true;
        m->reads.push_back(op);
        if (ov->hEvent) SetEvent(ov->hEvent);
    } else if (d.holdWrites) {
        // A synchronous write returns only when the device takes the report:
        // the calling (host's) thread is held for as long as it holds it.
        if (d.writeHold < 0) {
            m->Error("synchronous WriteFile on " + vh.label +
                     " holds the host thread for ever: the device never takes the report");
            return Fail(line, ERROR_GEN_FAILURE, FALSE);
        }
        const Micros start = m->Now();
        if (m->stepped) {
            m->AdvanceTo(start + d.writeHold, true);
        } else {
            g.unlock();
            Sleep(static_cast<DWORD>(d.writeHold / kMs));
            g.lock();
        }
        if (written) *written = count;
        TheTrace().Line(line + Format(" -> TRUE %lu after %s (the host thread held)",
                                      static_cast<unsigned long>(count),
                                      FormatMs(m->Now() - start).c_str()));
        m->OutputReport(m->devices[vh.device], bytes);
        SetLastError(0);
        return TRUE;
    }
    if (written) *written = count;
    TheTrace().Line(line + Format(" -> TRUE %lu", static_cast<unsigned long>(count)));
    m->OutputReport(d, bytes);
    SetLastError(0);
    return TRUE;
}

// Waits on an event of the plug-in. Stepped mode decides by the virtual
// clock: the wait ends when something scheduled before its deadline signals
// the event, else at the deadline.
DWORD WaitOnEvent(DeviceModel& m, Guard& g, HANDLE ev, DWORD timeout, const std::string& label,
                  Micros& waited) {
    // A cancellation the plug-in now waits for is finished by the system.
    for (ReadOp& op : m.reads)
        if (op.event == ev && op.state == ReadState::Cancelling) m.FinishCancel(op);
    const Micros start = m.Now();
    DWORD result = WAIT_TIMEOUT;
    if (!m.stepped) {
        g.unlock();
        // The plug-in's own wait is its time, not the simulator's.
        const double before = QpcMicros();
        result = WaitForSingleObject(ev, timeout);
        t_simulatorMicros -= QpcMicros() - before;
        g.lock();
    } else {
        const Micros deadline = timeout == INFINITE ? -1 : start + Micros{timeout} * kMs;
        for (;;) {
            if (WaitForSingleObject(ev, 0) == WAIT_OBJECT_0) {
                result = WAIT_OBJECT_0;
                break;
            }
            const Micros te = m.NextEventTime();
            if (te >= 0 && (deadline < 0 || te < deadline)) {
                m.AdvanceTo(te, true);
                continue;
            }
            if (deadline < 0) {
                m.Error("waits without end on " + label + ": nothing will signal it");
                break;
            }
            m.AdvanceTo(deadline, false);
            break;
        }
    }
    waited = m.Now() - start;
    if (result == WAIT_OBJECT_0) m.ObserveByEvent(ev);
    return result;
}

// A wait of a thread of the plug-in other than the host's on a handle of its
// own, in stepped mode: the time limit runs on the virtual clock (see
// DeviceModel::LetSleepersRun).
DWORD VirtualTimedWait(DeviceModel& m, Guard& g, HANDLE h, DWORD timeout) {
    const DWORD thread = GetCurrentThreadId();
    m.sleepers.erase(thread);
    if (timeout == INFINITE || timeout == 0) {
        g.unlock();
        return WaitForSingleObject(h, timeout);
    }
    const Micros deadline = m.Now() + Micros{timeout} * kMs;
    m.sleepers[thread] = DeviceModel::Sleeper{deadline, false};
    for (;;) {
        g.unlock();
        const DWORD r = WaitForSingleObject(h, 1);
        g.lock();
        if (r != WAIT_TIMEOUT) {
            m.sleepers.erase(thread);
            return r;
        }
        if (m.Now() >= deadline) {
            m.sleepers[thread].released = true;
            return WAIT_TIMEOUT;
        }
    }
}

DWORD WINAPI Hook_WaitForSingleObject(HANDLE h, DWORD timeout) {
    DeviceModel* m = Model();
    if (!m) return WaitForSingleObject(h, timeout);
    Guard g(m->lock);
    auto e = m->events.find(h);
    if (e == m->events.end()) {
        if (m->stepped && GetCurrentThreadId() != m->hostThread)
            return VirtualTimedWait(*m, g, h, timeout);
        g.unlock();
        return WaitForSingleObject(h, timeout);
    }
    const SystemCall call;
    const std::string label = e->second.label;
    Micros waited = 0;
    const DWORD r = WaitOnEvent(*m, g, h, timeout, label, waited);
    const char* name = r == WAIT_OBJECT_0  ? "WAIT_OBJECT_0"
                       : r == WAIT_TIMEOUT ? "WAIT_TIMEOUT"
                                           : "WAIT_FAILED";
    const std::string limit =
        timeout == INFINITE ? "INFINITE" : std::to_string(static_cast<unsigned long>(timeout));
    if (m->stepped)
        TheTrace().Line("! WaitForSingleObject " + label + " " + limit + " -> " + name + " after " +
                        FormatMs(waited));
    else
        TheTrace().Line("! WaitForSingleObject " + label + " " + limit + " -> " + name);
    return r;
}

// The plug-in's clock: in stepped mode the virtual one (from an arbitrary
// start), so that its timing follows the scenario's time, not the machine's.
DWORD WINAPI Hook_GetTickCount() {
    DeviceModel* m = Model();
    if (!m || !m->stepped) return GetTickCount();
    const Guard g(m->lock);
    return static_cast<DWORD>(1000000 + m->Now() / kMs);
}

BOOL WINAPI Hook_GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD bytes, BOOL wait) {
    DeviceModel* m = Model();
    if (!m) return GetOverlappedResult(h, ov, bytes, wait);
    Guard g(m->lock);
    const long hi = m->HandleIndex(h);
    ReadOp* op = m->ReadByOverlapped(ov);
    if (hi < 0 && !op) {
        g.unlock();
        return GetOverlappedResult(h, ov, bytes, wait);
    }
    const SystemCall call;
    const std::string line =
        !TheTrace().Enabled()
            ? std::string()
            : Format("! GetOverlappedResult %s %s bytes=%s wait=%s", HandleText(*m, h).c_str(),
                     m->OverlappedLabel(ov).c_str(), Ptr(bytes).c_str(), Bool(wait).c_str());
    if (!op) {
        m->Error("GetOverlappedResult on " + m->OverlappedLabel(ov) + ", which no read uses");
        return Fail(line, ERROR_INVALID_PARAMETER, FALSE);
    }
    if (hi >= 0 && static_cast<std::size_t>(hi) != op->handle)
        m->Error("GetOverlappedResult asks " + m->handles[static_cast<std::size_t>(hi)].label +
                 " about the read on " + m->handles[op->handle].label);
    const std::size_t opIndex = static_cast<std::size_t>(op - m->reads.data());
    if (m->reads[opIndex].state == ReadState::Pending && wait) {
        Micros waited = 0;
        if (m->reads[opIndex].event)
            WaitOnEvent(*m, g, m->reads[opIndex].event, INFINITE, "the read's event", waited);
    }
    ReadOp& r = m->reads[opIndex];
    if (r.state == ReadState::Cancelling) m->FinishCancel(r);
    if (r.state == ReadState::Pending) return Fail(line, ERROR_IO_INCOMPLETE, FALSE);
    m->Observe(r);
    if (r.error) return Fail(line, r.error, FALSE);
    if (bytes) *bytes = r.bytes;
    if (r.write)
        TheTrace().Line(line + Format(" -> TRUE %lu", static_cast<unsigned long>(r.bytes)));
    else
        TheTrace().Line(line + Format(" -> TRUE %lu report #%llu",
                                      static_cast<unsigned long>(r.bytes),
                                      static_cast<unsigned long long>(r.report.seq)));
    SetLastError(0);
    return TRUE;
}

BOOL WINAPI Hook_CancelIoEx(HANDLE h, LPOVERLAPPED ov) {
    DeviceModel* m = Model();
    const long hi = m ? m->HandleIndex(h) : -1;
    if (hi < 0) return CancelIoEx(h, ov);
    const SystemCall call;
    Guard g(m->lock);
    VirtualHandle& vh = m->handles[static_cast<std::size_t>(hi)];
    const std::string line = "! CancelIoEx " + vh.label + " " + m->OverlappedLabel(ov);
    if (!vh.open) {
        m->Error("CancelIoEx on closed " + vh.label);
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    bool any = false;
    for (ReadOp& op : m->reads) {
        if (op.handle != static_cast<std::size_t>(hi) || op.state != ReadState::Pending) continue;
        if (ov && op.ov != ov) continue;
        op.state = ReadState::Cancelling;
        any = true;
    }
    if (!any) return Fail(line, ERROR_NOT_FOUND, FALSE);
    TheTrace().Line(line + " -> TRUE");
    SetLastError(0);
    return TRUE;
}

// CancelIo cancels the reads on the file that the calling thread started.
BOOL WINAPI Hook_CancelIo(HANDLE h) {
    DeviceModel* m = Model();
    const long hi = m ? m->HandleIndex(h) : -1;
    if (hi < 0) return CancelIo(h);
    const SystemCall call;
    Guard g(m->lock);
    VirtualHandle& vh = m->handles[static_cast<std::size_t>(hi)];
    const std::string line = "! CancelIo " + vh.label;
    if (!vh.open) {
        m->Error("CancelIo on closed " + vh.label);
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    const DWORD thread = GetCurrentThreadId();
    for (ReadOp& op : m->reads) {
        if (op.handle != static_cast<std::size_t>(hi) || op.state != ReadState::Pending) continue;
        if (op.thread == thread) op.state = ReadState::Cancelling;
    }
    TheTrace().Line(line + " -> TRUE");
    SetLastError(0);
    return TRUE;
}

// The plug-in looks up CancelIoEx at run time: it finds the simulator's, or
// none where the simulated system lacks it. Not traced: no device call.
FARPROC WINAPI Hook_GetProcAddress(HMODULE module, LPCSTR name) {
    DeviceModel* m = Model();
    const bool byName = reinterpret_cast<std::uintptr_t>(name) > 0xFFFF;
    if (m && byName && module == GetModuleHandleA("kernel32.dll") &&
        std::strcmp(name, "CancelIoEx") == 0) {
        if (!m->hasCancelIoEx) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Hook_CancelIoEx));
    }
    return GetProcAddress(module, name);
}

// ---- notifications and timers ----

HDEVNOTIFY WINAPI Hook_RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
    DeviceModel* m = Model();
    if (!m) return RegisterDeviceNotificationA(recipient, filter, flags);
    const SystemCall call;
    Guard g(m->lock);
    HWND window = static_cast<HWND>(recipient);
    std::string line = "! RegisterDeviceNotificationA " + m->WindowLabel(window);
    const auto* f = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
    if (f)
        line +=
            Format(" size=%lu type=%lu reserved=%lu %s", static_cast<unsigned long>(f->dbcc_size),
                   static_cast<unsigned long>(f->dbcc_devicetype),
                   static_cast<unsigned long>(f->dbcc_reserved),
                   f->dbcc_size >= sizeof *f ? FormatGuid(f->dbcc_classguid).c_str() : "-");
    else
        line += " filter=null";
    line += Format(" flags=0x%lX", static_cast<unsigned long>(flags));
    if (flags & DEVICE_NOTIFY_SERVICE_HANDLE) {
        m->Error("RegisterDeviceNotificationA for a service is not modelled");
        return Fail(line, ERROR_INVALID_PARAMETER, HDEVNOTIFY{nullptr}, "NULL");
    }
    if (!f || f->dbcc_size < sizeof *f || f->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        !IsWindow(window))
        return Fail(line, ERROR_INVALID_DATA, HDEVNOTIFY{nullptr}, "NULL");
    Registration r;
    r.label = Format("notify#%d", m->nextRegistration++);
    r.window = window;
    r.guid = f->dbcc_classguid;
    r.flags = flags;
    m->registrations.push_back(r);
    TheTrace().Line(line + " -> " + r.label);
    return DeviceModel::RegistrationValue(m->registrations.size() - 1);
}

BOOL WINAPI Hook_UnregisterDeviceNotification(HDEVNOTIFY h) {
    DeviceModel* m = Model();
    const long ri = m ? m->RegistrationIndex(h) : -1;
    if (ri < 0) return UnregisterDeviceNotification(h);
    const SystemCall call;
    Guard g(m->lock);
    Registration& r = m->registrations[static_cast<std::size_t>(ri)];
    const std::string line = "! UnregisterDeviceNotification " + r.label;
    if (!r.open) {
        m->Error(r.label + " unregistered twice");
        return Fail(line, ERROR_INVALID_HANDLE, FALSE);
    }
    r.open = false;
    TheTrace().Line(line + " -> TRUE");
    return TRUE;
}

UINT_PTR WINAPI Hook_SetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
    DeviceModel* m = Model();
    if (!m) return SetTimer(window, id, period, proc);
    const SystemCall call;
    Guard g(m->lock);
    const std::string line = Format("! SetTimer %s %llu %u proc=%s", m->WindowLabel(window).c_str(),
                                    static_cast<unsigned long long>(id), period,
                                    Ptr(reinterpret_cast<const void*>(proc)).c_str());
    UINT_PTR result = id;
    if (!m->stepped) {
        result = SetTimer(window, id, period, proc);
    } else if (!window || proc) {
        m->Error("SetTimer without a window, or with a callback, is not modelled in stepped mode");
        return Fail(line, ERROR_INVALID_PARAMETER, UINT_PTR{0}, "0");
    }
    if (result) {
        TimerRecord* t = nullptr;
        for (TimerRecord& r : m->timers)
            if (r.window == window && r.id == id && r.live) t = &r;
        if (!t) {
            m->timers.push_back(TimerRecord{});
            t = &m->timers.back();
        }
        t->window = window;
        t->id = id;
        t->period = std::max<UINT>(period, USER_TIMER_MINIMUM);
        t->nextDue = m->Now() + Micros{t->period} * kMs;
        t->live = true;
    }
    TheTrace().Line(line + Format(" -> %llu", static_cast<unsigned long long>(result)));
    return result;
}

BOOL WINAPI Hook_KillTimer(HWND window, UINT_PTR id) {
    DeviceModel* m = Model();
    if (!m) return KillTimer(window, id);
    const SystemCall call;
    Guard g(m->lock);
    BOOL ok = FALSE;
    for (TimerRecord& t : m->timers) {
        if (t.window == window && t.id == id && t.live) {
            t.live = false;
            ok = TRUE;
        }
    }
    if (!m->stepped) ok = KillTimer(window, id);
    TheTrace().Line(Format("! KillTimer %s %llu -> %s", m->WindowLabel(window).c_str(),
                           static_cast<unsigned long long>(id), Bool(ok).c_str()));
    return ok;
}

template <typename Fn>
void* Addr(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

}  // namespace

std::vector<Redirect> DeviceRedirects() {
    return {
        {"HidD_GetHidGuid", Addr(Hook_HidD_GetHidGuid)},
        {"HidD_GetAttributes", Addr(Hook_HidD_GetAttributes)},
        {"SetupDiGetClassDevsA", Addr(Hook_SetupDiGetClassDevsA)},
        {"SetupDiEnumDeviceInterfaces", Addr(Hook_SetupDiEnumDeviceInterfaces)},
        {"SetupDiGetDeviceInterfaceDetailA", Addr(Hook_SetupDiGetDeviceInterfaceDetailA)},
        {"SetupDiDestroyDeviceInfoList", Addr(Hook_SetupDiDestroyDeviceInfoList)},
        {"CreateFileA", Addr(Hook_CreateFileA)},
        {"CreateFileW", Addr(Hook_CreateFileW)},
        {"CloseHandle", Addr(Hook_CloseHandle)},
        {"ReadFile", Addr(Hook_ReadFile)},
        {"WriteFile", Addr(Hook_WriteFile)},
        {"GetOverlappedResult", Addr(Hook_GetOverlappedResult)},
        {"CancelIoEx", Addr(Hook_CancelIoEx)},
        {"CancelIo", Addr(Hook_CancelIo)},
        {"GetProcAddress", Addr(Hook_GetProcAddress)},
        {"CreateEventA", Addr(Hook_CreateEventA)},
        {"WaitForSingleObject", Addr(Hook_WaitForSingleObject)},
        {"GetTickCount", Addr(Hook_GetTickCount)},
        {"RegisterDeviceNotificationA", Addr(Hook_RegisterDeviceNotificationA)},
        {"UnregisterDeviceNotification", Addr(Hook_UnregisterDeviceNotification)},
        {"SetTimer", Addr(Hook_SetTimer)},
        {"KillTimer", Addr(Hook_KillTimer)},
    };
}

bool IsUnmodelledDeviceImport(const char* module, const char* function) {
    std::string mod = module;
    for (char& c : mod) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Redirect& r : DeviceRedirects())
        if (std::strcmp(r.function, function) == 0) return false;
    if (mod == "hid.dll" || mod == "setupapi.dll") return true;
    static const char* const kOther[] = {
        "DeviceIoControl",
        "ReadFileEx",
        "WriteFileEx",
        "GetOverlappedResultEx",
        "CreateFile2",
        "RegisterDeviceNotificationW",
        "WaitForSingleObjectEx",
        "MsgWaitForMultipleObjects",
        "MsgWaitForMultipleObjectsEx",
        "SetCoalescableTimer",
    };
    for (const char* name : kOther)
        if (std::strcmp(name, function) == 0) return true;
    return false;
}

double SimulatorMicros() {
    return t_simulatorMicros;
}

SimulatorTime::SimulatorTime() : start_(QpcMicros()) {}

SimulatorTime::~SimulatorTime() {
    t_simulatorMicros += QpcMicros() - start_;
}

void SetBeforeSystemCall(void (*fn)()) {
    g_beforeCall = fn;
}

void DeliverBroadcasts() {
    DeviceModel* m = Model();
    if (!m) return;
    for (;;) {
        Guard g(m->lock);
        if (m->broadcasts.empty()) return;
        const Broadcast b = m->broadcasts.front();
        m->broadcasts.pop_front();
        std::vector<HWND> targets;
        for (const Registration& r : m->registrations)
            if (r.open && IsWindow(r.window) &&
                (IsEqualGUID(r.guid, kHidGuid) || (r.flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES)))
                targets.push_back(r.window);
        const char* event = b.event == DBT_DEVICEARRIVAL          ? "DBT_DEVICEARRIVAL"
                            : b.event == DBT_DEVICEREMOVECOMPLETE ? "DBT_DEVICEREMOVECOMPLETE"
                                                                  : "DBT_DEVNODES_CHANGED";
        std::string name = b.path;
        if (b.wide)
            for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string what = b.event == DBT_DEVNODES_CHANGED
                                     ? std::string(event) + " [" + b.device + "]"
                                     : std::string(event) + (b.wide ? " wide " : " ") +
                                           Quote(name.c_str()) + " [" + b.device + "]";
        if (targets.empty()) {
            TheTrace().Line("~ " + what + ": no window registered for it");
            continue;
        }
        for (HWND w : targets) {
            // Narrow, or (Wine) wide with the name in UTF-16: dbcc_size
            // tells which, the ANSI window's registration notwithstanding.
            const std::size_t nameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
            const std::size_t unit = b.wide ? 2 : 1;
            std::vector<unsigned char> buf(nameAt + unit * (name.size() + 1));
            if (buf.size() < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A))
                buf.resize(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A));
            auto* msg = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buf.data());
            msg->dbcc_size = static_cast<DWORD>(buf.size());
            msg->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            msg->dbcc_reserved = 0;
            msg->dbcc_classguid = kHidGuid;
            for (std::size_t i = 0; i < name.size(); ++i)
                buf[nameAt + unit * i] = static_cast<unsigned char>(name[i]);
            TheTrace().Line("~ WM_DEVICECHANGE " + m->WindowLabel(w) + " " + what);
            g.unlock();
            const LPARAM data = b.event == DBT_DEVNODES_CHANGED ? 0 : reinterpret_cast<LPARAM>(msg);
            const LRESULT r = SendMessageA(w, WM_DEVICECHANGE, b.event, data);
            BeforeCall();
            TheTrace().Line(Format("= %lld", static_cast<long long>(r)));
            g.lock();
        }
    }
}

}  // namespace hostsim
