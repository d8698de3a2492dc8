// The virtual pendant of the host simulator, driven through its hooks the way
// the plug-in calls them, so that the scenarios built on it can be trusted.
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/device_hooks.h"
#include "hostsim/device_model.h"
#include "hostsim/trace.h"

namespace {

using namespace hostsim;

template <typename Fn>
Fn Hook(const char* name) {
    for (const Redirect& r : DeviceRedirects())
        if (std::strcmp(r.function, name) == 0) return reinterpret_cast<Fn>(r.replacement);
    ADD_FAILURE() << "no hook for " << name;
    return nullptr;
}

const auto kGetHidGuid = Hook<decltype(&HidD_GetHidGuid)>("HidD_GetHidGuid");
const auto kClassDevs = Hook<decltype(&SetupDiGetClassDevsA)>("SetupDiGetClassDevsA");
const auto kEnum = Hook<decltype(&SetupDiEnumDeviceInterfaces)>("SetupDiEnumDeviceInterfaces");
const auto kDetail =
    Hook<decltype(&SetupDiGetDeviceInterfaceDetailA)>("SetupDiGetDeviceInterfaceDetailA");
const auto kDestroy = Hook<decltype(&SetupDiDestroyDeviceInfoList)>("SetupDiDestroyDeviceInfoList");
const auto kAttributes = Hook<decltype(&HidD_GetAttributes)>("HidD_GetAttributes");
const auto kCreateFile = Hook<decltype(&CreateFileA)>("CreateFileA");
const auto kClose = Hook<decltype(&CloseHandle)>("CloseHandle");
const auto kRead = Hook<decltype(&ReadFile)>("ReadFile");
const auto kWrite = Hook<decltype(&WriteFile)>("WriteFile");
const auto kResult = Hook<decltype(&GetOverlappedResult)>("GetOverlappedResult");
const auto kCancel = Hook<decltype(&CancelIoEx)>("CancelIoEx");
const auto kCancelIo = Hook<decltype(&CancelIo)>("CancelIo");
const auto kGetProcAddress = Hook<decltype(&GetProcAddress)>("GetProcAddress");
const auto kCreateEvent = Hook<decltype(&CreateEventA)>("CreateEventA");
const auto kWait = Hook<decltype(&WaitForSingleObject)>("WaitForSingleObject");
const auto kRegister = Hook<decltype(&RegisterDeviceNotificationA)>("RegisterDeviceNotificationA");
const auto kUnregister =
    Hook<decltype(&UnregisterDeviceNotification)>("UnregisterDeviceNotification");

const char* const kPendantPath = "\\\\?\\hid#vid_04d8&pid_fce1#1";
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

class VirtualPendant : public ::testing::Test {
  protected:
    void SetUp() override {
        TheTrace().Clear();
        SetModel(&m);
        pendant = m.AddDevice("pendant", kPendantVid, kPendantPid, kPendantPath, true);
        event = kCreateEvent(nullptr, TRUE, TRUE, nullptr);
        ov.hEvent = event;
    }
    void TearDown() override {
        SetModel(nullptr);
        if (m.events.count(event)) CloseHandle(event);
    }

    HANDLE OpenRead(const char* path = kPendantPath) {
        return kCreateFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    void Report(uint8_t wheel) {
        m.devices[pendant].state[1] = wheel;
        m.Produce(pendant);
    }
    bool Signalled() { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

    DeviceModel m{true};
    std::size_t pendant = 0;
    HANDLE event = nullptr;
    OVERLAPPED ov{};
    uint8_t buf[8] = {};
    DWORD n = 0;
};

TEST_F(VirtualPendant, DiscoveryListsPresentInterfacesInOrderAndChecksRecordSizes) {
    m.devices.clear();
    m.AddDevice("mouse", 0x046D, 0xC077, "\\\\?\\hid#mouse", true);
    m.AddDevice("pendant", kPendantVid, kPendantPid, kPendantPath, true);
    m.AddDevice("gone", kPendantVid, kPendantPid, "\\\\?\\hid#gone", false);
    GUID guid{};
    kGetHidGuid(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, kHidGuid));
    HDEVINFO list = kClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);

    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data - 4;
    EXPECT_FALSE(kEnum(list, nullptr, &guid, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = sizeof data;

    std::vector<std::string> paths;
    for (DWORD i = 0; kEnum(list, nullptr, &guid, i, &data); ++i) {
        DWORD need = 0;
        EXPECT_FALSE(kDetail(list, &data, nullptr, 0, &need, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<char> storage(need);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = need;  // the allocated size is not the record size
        EXPECT_FALSE(kDetail(list, &data, detail, need, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_FALSE(kDetail(list, &data, detail, need - 1, nullptr, nullptr));
        ASSERT_TRUE(kDetail(list, &data, detail, need, nullptr, nullptr));
        EXPECT_EQ(need, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                            std::strlen(detail->DevicePath) + 1);
        paths.push_back(detail->DevicePath);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(paths, (std::vector<std::string>{"\\\\?\\hid#mouse", kPendantPath}));
    EXPECT_TRUE(kDestroy(list));
    EXPECT_FALSE(kDestroy(list));
    EXPECT_EQ(m.errors, 1);  // destroyed twice
}

TEST_F(VirtualPendant, OpensFollowTheDeviceAndAreCountedByKind) {
    HANDLE probe = kCreateFile(kPendantPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    ASSERT_TRUE(kAttributes(probe, &attributes));
    EXPECT_EQ(attributes.VendorID, kPendantVid);
    EXPECT_EQ(attributes.ProductID, kPendantPid);

    // Another port's path, upper case (paths compare without case), an open
    // the device refuses.
    EXPECT_EQ(OpenRead("\\\\?\\hid#elsewhere"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE read = OpenRead("\\\\?\\HID#VID_04D8&PID_FCE1#1");
    EXPECT_NE(read, INVALID_HANDLE_VALUE);
    m.devices[pendant].failWriteOpen = true;
    EXPECT_EQ(kCreateFile(kPendantPath, GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(m.OpenSummary(),
              "~ open: probe=1 read=1 write=0 events=1 lists=0 notifications=0 timers=0 reads=0");

    EXPECT_TRUE(kClose(probe));
    EXPECT_TRUE(kClose(read));
    EXPECT_TRUE(kClose(event));
    EXPECT_FALSE(kClose(read));
    EXPECT_EQ(m.errors, 1);  // closed twice
    m.CheckAfterStop(nullptr);
    EXPECT_EQ(m.errors, 1);  // nothing left open
}

TEST_F(VirtualPendant, ReadStartsByResettingTheEventAndCompletesWhenAReportComes) {
    HANDLE h = OpenRead();
    ASSERT_TRUE(Signalled());  // created signalled
    EXPECT_FALSE(kRead(h, buf, sizeof buf, nullptr, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_FALSE(Signalled());
    EXPECT_FALSE(kResult(h, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

    Report(5);
    EXPECT_TRUE(Signalled());
    EXPECT_EQ(buf[1], 5);
    EXPECT_EQ(m.observed.seq, 0u);  // not seen by the reader yet
    ASSERT_TRUE(kResult(h, &ov, &n, FALSE));
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(m.observed.seq, 1u);

    // A report already queued completes the next read at once.
    Report(6);
    Report(7);
    ASSERT_TRUE(kRead(h, buf, sizeof buf, &n, &ov));
    EXPECT_EQ(buf[1], 6);
    EXPECT_EQ(m.observed.seq, 2u);
    kClose(h);
}

TEST_F(VirtualPendant, TheDriverQueueHolds32ReportsAndDropsTheOldest) {
    HANDLE h = OpenRead();
    for (int i = 1; i <= 40; ++i) Report(static_cast<uint8_t>(i));
    std::vector<int> got;
    while (kRead(h, buf, sizeof buf, nullptr, &ov)) got.push_back(buf[1]);
    ASSERT_EQ(got.size(), kDriverQueueReports);
    EXPECT_EQ(got.front(), 9);
    EXPECT_EQ(got.back(), 40);
    kCancel(h, &ov);
    kResult(h, &ov, &n, FALSE);
    kClose(h);
}

TEST_F(VirtualPendant, SteppedWaitsDecideByTheVirtualClock) {
    struct Case {
        ReadMode mode;
        Micros lateBy;
        Micros reportAt;  // -1: queued before the read
        DWORD expected;
        Micros clockAfter;
    };
    const Case cases[] = {
        {ReadMode::Immediate, 0, 4 * kMs, WAIT_OBJECT_0, 4 * kMs},
        {ReadMode::Immediate, 0, 5 * kMs, WAIT_TIMEOUT, 5 * kMs},  // the deadline is exclusive
        {ReadMode::Immediate, 0, 6 * kMs, WAIT_TIMEOUT, 5 * kMs},
        {ReadMode::Late, 3 * kMs, -1, WAIT_OBJECT_0, 3 * kMs},
        {ReadMode::Late, 3 * kMs, 1 * kMs, WAIT_OBJECT_0, 3 * kMs},
        {ReadMode::Late, 9 * kMs, -1, WAIT_TIMEOUT, 5 * kMs},
        {ReadMode::Never, 0, -1, WAIT_TIMEOUT, 5 * kMs},
    };
    for (const Case& c : cases) {
        DeviceModel model(true);
        SetModel(&model);
        const std::size_t d = model.AddDevice("p", kPendantVid, kPendantPid, kPendantPath, true);
        model.devices[d].readMode = c.mode;
        model.devices[d].lateBy = c.lateBy;
        HANDLE ev = kCreateEvent(nullptr, TRUE, TRUE, nullptr);
        OVERLAPPED o{};
        o.hEvent = ev;
        HANDLE h = OpenRead();
        if (c.reportAt < 0) model.Produce(d);
        EXPECT_FALSE(kRead(h, buf, sizeof buf, nullptr, &o));
        if (c.reportAt >= 0) model.Schedule(c.reportAt, [&model, d] { model.Produce(d); });
        EXPECT_EQ(kWait(ev, 5), c.expected) << "report at " << c.reportAt;
        EXPECT_EQ(model.Now(), c.clockAfter) << "report at " << c.reportAt;
        kCancel(h, &o);
        kResult(h, &o, &n, FALSE);
        kClose(h);
        kClose(ev);
        model.CheckAfterStop(nullptr);
        EXPECT_EQ(model.errors, 0);
    }
    SetModel(&m);
}

TEST_F(VirtualPendant, AReadOnAClosedHandleMustBeFinishedBeforeItsRecordIsReused) {
    // Closed and reused at once: the system may still write the record.
    HANDLE h = OpenRead();
    EXPECT_FALSE(kRead(h, buf, sizeof buf, nullptr, &ov));
    EXPECT_TRUE(kClose(h));
    HANDLE again = OpenRead();
    EXPECT_FALSE(kRead(again, buf, sizeof buf, nullptr, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(m.errors, 1);
    m.CheckAfterStop(nullptr);
    EXPECT_GE(m.errors, 2);  // and it is still unfinished at the end

    // Finished first (a wait on its event), then reused: no fault.
    DeviceModel clean(true);
    SetModel(&clean);
    clean.AddDevice("pendant", kPendantVid, kPendantPid, kPendantPath, true);
    HANDLE ev = kCreateEvent(nullptr, TRUE, TRUE, nullptr);
    OVERLAPPED o{};
    o.hEvent = ev;
    h = OpenRead();
    EXPECT_FALSE(kRead(h, buf, sizeof buf, nullptr, &o));
    EXPECT_TRUE(kCancel(h, &o));
    EXPECT_EQ(kWait(ev, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(o.Internal, kStatusCancelled);
    EXPECT_FALSE(kResult(h, &o, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_TRUE(kClose(h));
    again = OpenRead();
    EXPECT_FALSE(kRead(again, buf, sizeof buf, nullptr, &o));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    // Closed with the read outstanding, then finished through
    // GetOverlappedResult: no fault either.
    EXPECT_TRUE(kClose(again));
    EXPECT_FALSE(kResult(again, &o, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    kClose(ev);
    clean.CheckAfterStop(nullptr);
    EXPECT_EQ(clean.errors, 0);
    SetModel(&m);
}

// Without CancelIoEx (Windows XP) the plug-in cancels with CancelIo, which
// reaches only the reads the calling thread started.
TEST_F(VirtualPendant, CancelIoCancelsTheCallingThreadsReadsOnly) {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(reinterpret_cast<void*>(kGetProcAddress(kernel, "CancelIoEx")),
              reinterpret_cast<void*>(kCancel));
    EXPECT_EQ(kGetProcAddress(kernel, "GetTickCount"), GetProcAddress(kernel, "GetTickCount"));
    DeviceModel xp(true);
    xp.hasCancelIoEx = false;
    SetModel(&xp);
    xp.AddDevice("pendant", kPendantVid, kPendantPid, kPendantPath, true);
    EXPECT_EQ(kGetProcAddress(kernel, "CancelIoEx"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    HANDLE ev = kCreateEvent(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED o{};
    o.hEvent = ev;
    HANDLE h = OpenRead();
    EXPECT_FALSE(kRead(h, buf, sizeof buf, nullptr, &o));
    std::thread other([&] { EXPECT_TRUE(kCancelIo(h)); });
    other.join();
    EXPECT_FALSE(kResult(h, &o, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));  // still pending
    EXPECT_TRUE(kCancelIo(h));
    EXPECT_EQ(kWait(ev, INFINITE), WAIT_OBJECT_0);
    EXPECT_FALSE(kResult(h, &o, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_TRUE(kClose(h));
    kClose(ev);
    xp.CheckAfterStop(nullptr);
    EXPECT_EQ(xp.errors, 0);
    for (const std::string& l : TheTrace().Lines()) EXPECT_NE(l.compare(0, 6, "error:"), 0) << l;
    SetModel(&m);
}

TEST_F(VirtualPendant, UnplugFailsTheReadAndAPlugInMayComeAtAnotherPath) {
    HANDLE h = OpenRead();
    HANDLE w = kCreateFile(kPendantPath, GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(kRead(h, buf, sizeof buf, nullptr, &ov));
    m.Unplug(pendant, "");
    EXPECT_TRUE(Signalled());
    EXPECT_FALSE(kResult(h, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    const uint8_t out[5] = {0, 1, 0, 0, 0};
    EXPECT_FALSE(kWrite(w, out, sizeof out, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    ASSERT_EQ(m.broadcasts.size(), 1u);
    EXPECT_EQ(m.broadcasts[0].event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(m.broadcasts[0].path, kPendantPath);
    EXPECT_EQ(OpenRead(), INVALID_HANDLE_VALUE);

    m.Plug(pendant, "\\\\?\\hid#vid_04d8&pid_fce1#2");
    EXPECT_EQ(m.broadcasts.back().event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(m.broadcasts.back().path, "\\\\?\\hid#vid_04d8&pid_fce1#2");
    EXPECT_EQ(OpenRead(), INVALID_HANDLE_VALUE);  // the old path is gone
    HANDLE moved = OpenRead("\\\\?\\hid#vid_04d8&pid_fce1#2");
    EXPECT_NE(moved, INVALID_HANDLE_VALUE);
    // The old handles stay dead.
    EXPECT_FALSE(kRead(h, buf, sizeof buf, nullptr, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    for (HANDLE x : {h, w, moved}) kClose(x);
    m.broadcasts.clear();
}

struct Seen {
    std::vector<WPARAM> events;
    std::vector<std::string> names;
};
Seen g_seen;

LRESULT CALLBACK RecordingProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DEVICECHANGE) {
        const auto* b = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lp);
        g_seen.events.push_back(wp);
        g_seen.names.push_back(b->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
                                       IsEqualGUID(b->dbcc_classguid, kHidGuid) &&
                                       b->dbcc_size >
                                           offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) +
                                               std::strlen(b->dbcc_name)
                                   ? b->dbcc_name
                                   : "malformed");
        return TRUE;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

TEST_F(VirtualPendant, BroadcastsReachOnlyRegisteredWindows) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VirtualPendantTestWindow";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 1, 1, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    g_seen = Seen{};

    m.Unplug(pendant, "\\\\?\\HID#VID_04D8&PID_FCE1#1");
    DeliverBroadcasts();  // nobody registered
    EXPECT_TRUE(g_seen.events.empty());

    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kHidGuid;
    HDEVNOTIFY reg = kRegister(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(reg, nullptr);
    m.Plug(pendant, "");
    m.Unplug(pendant, "\\\\?\\HID#VID_04D8&PID_FCE1#1");
    DeliverBroadcasts();
    EXPECT_EQ(g_seen.events, (std::vector<WPARAM>{DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}));
    EXPECT_EQ(g_seen.names,
              (std::vector<std::string>{kPendantPath, "\\\\?\\HID#VID_04D8&PID_FCE1#1"}));

    EXPECT_TRUE(kUnregister(reg));
    m.Plug(pendant, "");
    DeliverBroadcasts();
    EXPECT_EQ(g_seen.events.size(), 2u);
    DestroyWindow(window);
    EXPECT_EQ(m.errors, 0);
}

}  // namespace
