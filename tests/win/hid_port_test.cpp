// The Win32 HID port's report read against the system's own overlapped
// files: a message-mode pipe stands in for the pendant, each message one
// report. The pendant window's read logic runs on top of it unchanged.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "device/hid_port_win32.h"
#include "device/pendant_window.h"
#include "plugin/plugin_state.h"

namespace {

using hk4::ReadStatus;

constexpr hk4::OpenParams kReadParams{GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED};

// The device end of the pipe.
class PipeDevice {
  public:
    PipeDevice() {
        static int counter = 0;
        name = "\\\\.\\pipe\\hk4-report-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++counter);
        server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                  4096, 0, nullptr);
    }
    ~PipeDevice() {
        if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
    }
    void Connect() { ConnectNamedPipe(server, nullptr); }  // the client is already there
    void Send(uint8_t wheel, DWORD size = 8) {
        const uint8_t report[8] = {0, wheel, 0, 1, 1, 0, 0, 0};
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(server, report, size, &written, nullptr));
    }

    std::string name;
    HANDLE server = INVALID_HANDLE_VALUE;
};

TEST(Win32HidPort, OverlappedReadPendsCompletesAndIsCancelled) {
    PipeDevice device;
    ASSERT_NE(device.server, INVALID_HANDLE_VALUE);
    hk4::Win32HidPort port(nullptr);
    std::unique_ptr<hk4::HidFile> file = port.Open(device.name, kReadParams);
    ASSERT_NE(file, nullptr);
    device.Connect();
    std::unique_ptr<hk4::ReadEventRecord> event = port.CreateReadEvent(true, true);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(event->Wait(0));  // created signalled

    // Nothing sent: the read goes on, and starting it reset the event.
    EXPECT_EQ(file->StartRead(*event).status, ReadStatus::Pending);
    EXPECT_FALSE(event->Wait(0));
    EXPECT_EQ(file->FinishRead(*event).status, ReadStatus::Pending);

    // A report ends it.
    device.Send(42);
    EXPECT_TRUE(event->Wait(1000));
    const hk4::ReadResult done = file->FinishRead(*event);
    EXPECT_EQ(done.status, ReadStatus::Completed);
    EXPECT_EQ(done.bytes, 8u);
    EXPECT_EQ(event->Buffer()[1], 42);

    // A report already there completes the read at once.
    device.Send(43);
    const hk4::ReadResult now = file->StartRead(*event);
    EXPECT_EQ(now.status, ReadStatus::Completed);
    EXPECT_EQ(now.bytes, 8u);
    EXPECT_EQ(event->Buffer()[1], 43);

    // A cancelled read ends, without data.
    EXPECT_EQ(file->StartRead(*event).status, ReadStatus::Pending);
    file->CancelRead(*event);
    EXPECT_TRUE(event->Wait(1000));
    EXPECT_EQ(file->FinishRead(*event).status, ReadStatus::Failed);
}

TEST(Win32HidPort, OpenAndReadFailuresAreReported) {
    hk4::Win32HidPort port(nullptr);
    EXPECT_EQ(port.Open("\\\\.\\pipe\\hk4-no-such-pipe", kReadParams), nullptr);

    PipeDevice device;
    std::unique_ptr<hk4::HidFile> file = port.Open(device.name, kReadParams);
    ASSERT_NE(file, nullptr);
    device.Connect();
    std::unique_ptr<hk4::ReadEventRecord> event = port.CreateReadEvent(true, true);
    CloseHandle(device.server);  // the device goes away
    device.server = INVALID_HANDLE_VALUE;
    EXPECT_EQ(file->StartRead(*event).status, ReadStatus::Failed);
}

// The pendant window's tick over the real port: queued reports drain to the
// newest, an empty pipe leaves the previous report, and closing cancels.
TEST(Win32HidPort, PendantWindowReadsTheNewestReportThroughThePort) {
    PipeDevice device;
    hk4::Win32HidPort port(nullptr);
    hk4::PluginState plugin;
    auto window = std::make_unique<hk4::PendantWindow>(port, plugin);
    window->ReadHandle = port.Open(device.name, kReadParams);
    ASSERT_NE(window->ReadHandle, nullptr);
    device.Connect();
    window->ReadEvent = port.CreateReadEvent(true, true);
    window->DevicePresent = true;

    for (uint8_t wheel = 1; wheel <= 6; ++wheel) device.Send(wheel);
    window->OnTimer(1);
    EXPECT_EQ(window->InputReport[1], 6);
    EXPECT_TRUE(window->ReadOutstanding());

    window->OnTimer(1);  // nothing new
    EXPECT_EQ(window->InputReport[1], 6);
    EXPECT_EQ(window->PreviousReport[1], 6);

    device.Send(7, 5);  // a short report is no report
    window->OnTimer(1);
    EXPECT_EQ(window->InputReport[1], 6);
    device.Send(8);
    window->OnTimer(1);
    EXPECT_EQ(window->InputReport[1], 8);

    // Destruction with a read outstanding cancels it and waits for it.
    ASSERT_TRUE(window->ReadOutstanding());
    window.reset();
}

}  // namespace
