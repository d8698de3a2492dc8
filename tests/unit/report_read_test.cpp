// The report read: one read outstanding at most, only whole reports reach
// the decoder, the newest report that has arrived wins, no wait, and a read
// cancelled and ended before its handle goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pendant_test_support.h"

namespace hk4test {
namespace {

using Log = std::vector<std::string>;

uint8_t Wheel(const Rig& rig) {
    return rig.window->InputReport[1];
}

TEST(ReportRead, QueuedReportsAreDrainedAndTheNewestWins) {
    for (const int queued : {1, 5, 32, 40}) {
        SCOPED_TRACE(queued);
        Rig rig;
        rig.Link();
        for (int i = 1; i <= queued; ++i) rig.port.Push(MakeReport(static_cast<uint8_t>(i)));
        rig.Tick();
        EXPECT_EQ(Wheel(rig), queued);  // the driver dropped the oldest beyond 32
        EXPECT_EQ(rig.port.queued(), 0u);
        EXPECT_EQ(rig.window->PreviousReport[1], 0);
        EXPECT_TRUE(rig.window->ReadOutstanding());
        EXPECT_EQ(rig.port.CountOf("WaitForSingleObject ev1 5"), 0);  // no wait needed
        EXPECT_TRUE(rig.port.faults.empty()) << rig.port.faults[0];
    }
}

TEST(ReportRead, AnEndlessStreamDoesNotHoldTheTick) {
    Rig rig;
    rig.Link();
    rig.port.alwaysReady = true;
    rig.Tick();
    const int reads = rig.port.CountOf("ReadFile");
    EXPECT_GE(reads, 2);
    EXPECT_LE(reads, 64);
    EXPECT_EQ(Wheel(rig), rig.port.readyWheel);  // the last one read
    EXPECT_EQ(rig.port.log.back().rfind("WriteFile", 0), 0u);
}

TEST(ReportRead, NothingArrivedDecodesThePreviousReportAtOnce) {
    Rig rig;
    rig.Link();
    rig.port.Push(MakeReport(9));
    rig.Tick();
    ASSERT_EQ(Wheel(rig), 9);
    rig.TakeLog();

    const uint32_t tickAt = rig.port.now() + 25;
    rig.Tick();
    // The read left outstanding by the first tick is looked at, not doubled,
    // and not waited for; the lamp has not changed, so nothing is written.
    const Log expected = {"WaitForSingleObject ev1 0"};
    EXPECT_EQ(rig.TakeLog(), expected);
    EXPECT_EQ(rig.port.now(), tickAt);
    EXPECT_EQ(Wheel(rig), 9);
    EXPECT_EQ(rig.window->PreviousReport[1], 9);
    EXPECT_TRUE(rig.port.faults.empty());
}

TEST(ReportRead, AReportThatComesAfterTheTickBeganIsTheNextTicks) {
    struct Case {
        uint32_t delayMs;  // after the tick began
        bool thisTick;
    };
    const Case cases[] = {{0, true}, {1, false}, {4, false}, {6, false}, {20, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delayMs);
        Rig rig;
        rig.Link();
        rig.Tick();  // leaves a read outstanding
        const uint32_t tickAt = rig.port.now() + 25;
        rig.port.Schedule(tickAt + c.delayMs, MakeReport(42));
        rig.Tick();
        EXPECT_EQ(Wheel(rig), c.thisTick ? 42 : 0);
        EXPECT_EQ(rig.port.now(), tickAt);  // the tick never waited
        EXPECT_EQ(rig.port.CountOf("WaitForSingleObject ev1 5"), 0);
        rig.Tick();  // a later report is taken by the next tick
        EXPECT_EQ(Wheel(rig), 42);
        EXPECT_TRUE(rig.port.faults.empty());
    }
}

TEST(ReportRead, TheDecodedReportIsTheNewestWhateverTheRate) {
    struct Case {
        const char* name;
        std::vector<uint32_t> times;  // when the pendant reports
    };
    std::vector<uint32_t> every1, every8;
    for (uint32_t t = 1; t <= 300; ++t) every1.push_back(t);
    for (uint32_t t = 8; t <= 300; t += 8) every8.push_back(t);
    const Case cases[] = {
        {"every 1 ms", every1},
        {"every 8 ms", every8},
        {"on change only", {30, 31, 100, 103, 180, 251}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        for (std::size_t i = 0; i < c.times.size(); ++i)
            rig.port.Schedule(c.times[i], MakeReport(static_cast<uint8_t>(i + 1)));
        for (int tick = 1; tick <= 12; ++tick) {
            rig.Tick();
            // Newest report produced by the time the tick ran.
            uint8_t newest = 0;
            for (std::size_t i = 0; i < c.times.size(); ++i)
                if (c.times[i] <= rig.port.now()) newest = static_cast<uint8_t>(i + 1);
            EXPECT_EQ(Wheel(rig), newest) << "tick " << tick;
        }
        EXPECT_TRUE(rig.port.faults.empty());
    }
}

TEST(ReportRead, AFailedOrShortReadIsNoReport) {
    {
        Rig rig;
        rig.Link();
        rig.port.Push(MakeReport(3));
        rig.Tick();
        rig.port.readsFail = true;
        rig.port.Push(MakeReport(4));
        rig.TakeLog();
        rig.Tick();
        // Nothing is outstanding after a failed read: no wait; the lamp is
        // as written.
        const Log expected = {"ReadFile #3"};
        // The outstanding read took report 4 at once; afterwards reads fail.
        EXPECT_EQ(Wheel(rig), 4);
        rig.TakeLog();
        rig.Tick();
        EXPECT_EQ(rig.TakeLog(), expected);
        EXPECT_EQ(Wheel(rig), 4);
    }
    {
        Rig rig;
        rig.Link();
        rig.port.readBytes = 7;
        rig.port.Push(MakeReport(3));
        rig.Tick();
        EXPECT_EQ(Wheel(rig), 0);
        EXPECT_TRUE(rig.port.faults.empty());
    }
}

TEST(ReportRead, AReadFailureTellsGoingOnRemovedOrFailed) {
    using hk4::ReadStatus;
    struct Case {
        uint32_t error;
        bool started;
        ReadStatus status;
    };
    const Case cases[] = {
        {997, true, ReadStatus::Pending},   // ERROR_IO_PENDING from ReadFile
        {996, false, ReadStatus::Pending},  // ERROR_IO_INCOMPLETE from GetOverlappedResult
        {997, false, ReadStatus::Failed},   // each code only where it belongs
        {996, true, ReadStatus::Failed},
        {1167, true, ReadStatus::Gone},  // ERROR_DEVICE_NOT_CONNECTED (Windows)
        {1167, false, ReadStatus::Gone},
        {5, true, ReadStatus::Gone},  // ERROR_ACCESS_DENIED (Wine: STATUS_DELETE_PENDING)
        {5, false, ReadStatus::Gone},
        {995, false, ReadStatus::Failed},  // ERROR_OPERATION_ABORTED: cancelled
        {31, false, ReadStatus::Failed},   // ERROR_GEN_FAILURE
    };
    for (const Case& c : cases)
        EXPECT_EQ(hk4::ReadFailure(c.error, c.started), c.status)
            << c.error << (c.started ? " started" : " finished");
}

TEST(ReportRead, AReadOnARemovedPendantIsItsRemoval) {
    struct Case {
        const char* name;
        bool outstanding;  // the outstanding read fails, else the next one started
        hk4::ReadStatus failure;
        bool removal;
    };
    const Case cases[] = {
        {"outstanding read, device gone", true, hk4::ReadStatus::Gone, true},
        {"read started, device gone", false, hk4::ReadStatus::Gone, true},
        {"outstanding read, other failure", true, hk4::ReadStatus::Failed, false},
        {"read started, other failure", false, hk4::ReadStatus::Failed, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        rig.Tick();  // a read is outstanding
        if (c.outstanding) {
            rig.port.RemoveUnderHandles(c.failure);
        } else {
            rig.port.Push(MakeReport(1));
            rig.port.readsFail = true;
            rig.port.failure = c.failure;
        }
        rig.Tick();
        EXPECT_EQ(rig.window->DevicePresent, !c.removal);
        EXPECT_EQ(rig.window->ReadHandle == nullptr, c.removal);
        EXPECT_EQ(rig.host.code,
                  c.removal ? std::vector<std::string>{"ENDJOG"} : std::vector<std::string>{});
        // The removal broadcast that follows finds the link down already.
        rig.Removal(kPendantPath);
        EXPECT_EQ(rig.host.code, std::vector<std::string>{"ENDJOG"});
        EXPECT_TRUE(rig.port.faults.empty()) << rig.port.faults[0];
    }
}

TEST(ReportRead, ClosingTheReadHandleCancelsAndEndsTheOutstandingRead) {
    const Log cancel = {"CancelIoEx #3", "WaitForSingleObject ev1 1000", "GetOverlappedResult #3",
                        "CloseHandle #3"};
    for (const char* how : {"removal", "arrival", "destruction"}) {
        SCOPED_TRACE(how);
        Rig rig;
        rig.Link();
        rig.Tick();
        ASSERT_TRUE(rig.window->ReadOutstanding());
        rig.TakeLog();
        const std::string h = how;
        if (h == "removal") rig.Removal(kPendantPath);
        if (h == "arrival") rig.Arrival();
        if (h == "destruction") rig.window.reset();
        const Log log = rig.TakeLog();
        ASSERT_GE(log.size(), cancel.size());
        // The probe handle goes first on destruction.
        const std::size_t from = h == "destruction" ? 1 : 0;
        EXPECT_EQ(Log(log.begin() + from, log.begin() + from + cancel.size()), cancel);
        // Reports that come now are left with the driver, not written into
        // a buffer of ours.
        rig.port.Push(MakeReport(77));
        if (rig.window) {
            EXPECT_FALSE(rig.window->ReadOutstanding());
        }
        EXPECT_TRUE(rig.port.faults.empty()) << rig.port.faults[0];
        if (h == "arrival") {
            rig.Tick();
            EXPECT_EQ(Wheel(rig), 77);
            EXPECT_EQ(rig.port.CountOf("ReadFile #5"), 2);
        }
    }
}

TEST(ReportRead, AReadThatDoesNotEndAfterCancellingKeepsItsMemory) {
    Rig rig;
    rig.Link();
    rig.port.cancelEndsRead = false;
    rig.Tick();
    rig.Removal(kPendantPath);
    EXPECT_EQ(rig.window->ReadEvent, nullptr);
    EXPECT_EQ(rig.port.openEvents(), 2);  // the record was not freed (nor the write's)
    // The read ends late: it writes into memory that is still ours (the
    // address sanitizer would see anything else).
    rig.port.Push(MakeReport(5));
    const std::vector<std::string> faults = {"handle closed with its read outstanding",
                                             "read completed after its handle was closed"};
    EXPECT_EQ(rig.port.faults, faults);
    rig.port.faults.clear();

    // The pendant comes back: a new event, and polling goes on.
    rig.port.cancelEndsRead = true;
    rig.TakeLog();
    rig.Arrival();
    // (ev2 is the write's, made by the first tick.)
    EXPECT_EQ(rig.port.CountOf("CreateEventA 1 1 -> ev3"), 1);
    rig.port.Push(MakeReport(6));
    rig.Tick();
    EXPECT_EQ(Wheel(rig), 6);
    rig.window.reset();
    EXPECT_EQ(rig.port.openEvents(), 1);  // only the abandoned one
    EXPECT_TRUE(rig.port.faults.empty());
}

}  // namespace
}  // namespace hk4test
