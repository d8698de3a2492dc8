// Finding the pendant, and following it being unplugged and plugged in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "pendant_test_support.h"

namespace hk4test {
namespace {

using Log = std::vector<std::string>;

std::string Probe(const std::string& path, const std::string& result) {
    return "CreateFileA " + path + " 0x0 0x3 3 0x0 -> " + result;
}
std::string OpenRead(const std::string& path, const std::string& result) {
    return "CreateFileA " + path + " 0x80000000 0x3 3 0x40000000 -> " + result;
}
std::string OpenWrite(const std::string& path, const std::string& result) {
    return "CreateFileA " + path + " 0x40000000 0x3 3 0x40000000 -> " + result;
}

int EndJogs(const Rig& rig) {
    return static_cast<int>(std::count(rig.host.code.begin(), rig.host.code.end(), "ENDJOG"));
}

TEST(FindPendant, ProbesInListOrderAndOpensTheFirstPendantWithTheExactCalls) {
    Rig rig;
    rig.port.devices = {Mouse(), Pendant(), Pendant(kSecondPendantPath)};
    EXPECT_TRUE(rig.window->FindPendant());
    const Log expected = {
        "HidD_GetHidGuid",
        "SetupDiGetClassDevsA hid 0x12",
        "SetupDiEnumDeviceInterfaces hid 0",
        "SetupDiGetDeviceInterfaceDetailA 0",
        Probe(kMousePath, "#1"),
        "HidD_GetAttributes #1",
        "CloseHandle #1",  // not the pendant: closed at once
        "SetupDiEnumDeviceInterfaces hid 1",
        "SetupDiGetDeviceInterfaceDetailA 1",
        Probe(kPendantPath, "#2"),
        "HidD_GetAttributes #2",
        "RegisterDeviceNotificationA hid",
        "CreateEventA 1 1 -> ev1",
        OpenRead(kPendantPath, "#3"),
        OpenWrite(kPendantPath, "#4"),
        "SetupDiDestroyDeviceInfoList",
        "SetTimer 1 25",
    };
    EXPECT_EQ(rig.TakeLog(), expected);
    EXPECT_TRUE(rig.window->DevicePresent);
    EXPECT_EQ(rig.window->DevicePath, kPendantPath);
    EXPECT_EQ(rig.port.openFiles(), 3);  // probe, read and write

    // Destruction closes everything it opened and ends the registrations.
    rig.window.reset();
    const Log closing = {"CloseHandle #2",
                         "CloseHandle #3",
                         "CloseHandle #4",
                         "CloseHandle ev1",
                         "UnregisterDeviceNotification",
                         "KillTimer 1"};
    EXPECT_EQ(rig.TakeLog(), closing);
    EXPECT_EQ(rig.port.openFiles(), 0);
    EXPECT_EQ(rig.port.openEvents(), 0);
    EXPECT_EQ(rig.port.timers(), 0);
    EXPECT_EQ(rig.port.registrations(), 0);
    EXPECT_TRUE(rig.port.faults.empty());
}

TEST(FindPendant, SearchOutcomes) {
    FakeDevice noOpen = Pendant();
    noOpen.opens = false;
    FakeDevice noAttributes = Pendant();
    noAttributes.attributes = false;
    FakeDevice noPath = Pendant();
    noPath.pathKnown = false;
    FakeDevice otherProduct{kMousePath, 0x04D8, 0xFCE2};
    FakeDevice otherVendor{kMousePath, 0x04D9, 0xFCE1};
    FakeDevice noReportOpen = Pendant();
    noReportOpen.reportOpens = false;

    struct Case {
        const char* name;
        std::vector<FakeDevice> devices;
        bool listFails;
        bool found;
        std::string path;
        int openFiles;  // after the search
        bool readOpen;
        bool writeOpen;
    };
    const Case cases[] = {
        {"empty list", {}, false, false, "", 0, false, false},
        {"list query fails", {Pendant()}, true, false, "", 0, false, false},
        {"only another device", {Mouse()}, false, false, "", 0, false, false},
        {"same vendor, other product", {otherProduct}, false, false, "", 0, false, false},
        {"same product, other vendor", {otherVendor}, false, false, "", 0, false, false},
        {"unopenable device skipped",
         {noOpen, Pendant(kSecondPendantPath)},
         false,
         true,
         kSecondPendantPath,
         3,
         true,
         true},
        {"unreadable attributes skipped",
         {noAttributes, Mouse()},
         false,
         false,
         "",
         0,
         false,
         false},
        {"unknown path skipped",
         {noPath, Pendant(kSecondPendantPath)},
         false,
         true,
         kSecondPendantPath,
         3,
         true,
         true},
        {"two pendants: the first wins",
         {Pendant(), Pendant(kSecondPendantPath)},
         false,
         true,
         kPendantPath,
         3,
         true,
         true},
        {"report handles fail to open", {noReportOpen}, false, true, kPendantPath, 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.port.devices = c.devices;
        rig.port.listFails = c.listFails;
        EXPECT_EQ(rig.window->FindPendant(), c.found);
        EXPECT_EQ(rig.window->DevicePresent, c.found);
        EXPECT_EQ(rig.window->DevicePath, c.path);
        EXPECT_EQ(rig.port.openFiles(), c.openFiles);
        EXPECT_EQ(rig.window->ReadHandle != nullptr, c.readOpen);
        EXPECT_EQ(rig.window->WriteHandle != nullptr, c.writeOpen);
        // Registered whether or not the pendant was found, so that one
        // plugged in later is heard of.
        EXPECT_EQ(rig.port.registrations(), 1);
        EXPECT_EQ(rig.port.openEvents(), c.found ? 1 : 0);
        // The timer runs whether or not the pendant was found, and starts
        // after the list is gone.
        EXPECT_EQ(rig.port.timers(), 1);
        ASSERT_FALSE(rig.port.log.empty());
        EXPECT_EQ(rig.port.log.back(), "SetTimer 1 25");
        EXPECT_EQ(rig.port.CountOf("SetupDiDestroyDeviceInfoList"), c.listFails ? 0 : 1);
        // The search ends at the first match: nothing after it is looked at.
        if (c.found) {
            std::size_t match = 0;
            while (c.devices[match].path != c.path) ++match;
            EXPECT_EQ(rig.port.CountOf("SetupDiEnumDeviceInterfaces"), int(match) + 1);
        }
    }
}

TEST(DeviceChange, RemovalOfThePendantClosesStopsTheJogAndSendsEndjogOnce) {
    Rig rig;
    rig.Link();
    EXPECT_TRUE(rig.Removal(kPendantPath));
    const Log expected = {"CloseHandle #3", "CloseHandle #4"};
    EXPECT_EQ(rig.TakeLog(), expected);
    EXPECT_FALSE(rig.window->DevicePresent);
    EXPECT_EQ(rig.window->ReadHandle, nullptr);
    EXPECT_EQ(rig.window->WriteHandle, nullptr);
    // The probe handle, the path and the read event survive unplugging.
    EXPECT_NE(rig.window->ProbeHandle, nullptr);
    EXPECT_NE(rig.window->ReadEvent, nullptr);
    EXPECT_EQ(rig.window->DevicePath, kPendantPath);
    // JogStop of the selected axis (X) in its jog record, and nothing else.
    EXPECT_EQ(rig.host.MotionByte(163954), 1);
    EXPECT_EQ(rig.host.MotionByte(163954 + 96), 0);
    EXPECT_EQ(rig.host.MotionByte(163953), 0);
    EXPECT_EQ(rig.host.MotionByte(163955), 0);
    EXPECT_EQ(rig.host.code, (std::vector<std::string>{"ENDJOG"}));

    // The link is down: ticks touch neither the device nor the host.
    for (int i = 0; i < 3; ++i) rig.Tick();
    EXPECT_TRUE(rig.TakeLog().empty());
    EXPECT_EQ(rig.host.ledReads, 0);
    EXPECT_EQ(rig.host.code.size(), 1u);
}

TEST(DeviceChange, RemovalStopsTheJogOfTheAxisTheDecoderSelected) {
    Rig rig;
    rig.Link();
    rig.port.Push(MakeReport(0, 3));  // axis selector on Z
    rig.Tick();
    const int selected = rig.window->input.AxisIndex();
    rig.Removal(kPendantPath);
    for (int axis = 0; axis < 6; ++axis)
        EXPECT_EQ(rig.host.MotionByte(163954 + 96 * axis), axis == selected ? 1 : 0) << axis;
}

TEST(DeviceChange, OnlyARemovalOfOurInterfacePathCounts) {
    std::string upper = kPendantPath;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    struct Case {
        const char* name;
        uint32_t type;
        std::string path;
        bool ours;
    };
    const Case cases[] = {
        {"our path", 5, kPendantPath, true},
        {"our path in capitals", 5, upper, true},
        {"another HID device", 5, kMousePath, false},
        {"the second pendant", 5, kSecondPendantPath, false},
        {"our path with more after it", 5, std::string(kPendantPath) + "0", false},
        {"a prefix of our path", 5, std::string(kPendantPath).substr(0, 20), false},
        {"empty name", 5, "", false},
        {"not a device interface", 2, kPendantPath, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        EXPECT_TRUE(rig.Removal(c.path, c.type));
        EXPECT_EQ(rig.window->DevicePresent, !c.ours);
        EXPECT_EQ(rig.host.code.size(), c.ours ? 1u : 0u);
        EXPECT_EQ(rig.host.MotionByte(163954), c.ours ? 1 : 0);
        EXPECT_EQ(rig.port.openFiles(), c.ours ? 1 : 3);
    }
}

// A device-interface broadcast's name bytes as they follow dbcc_name's
// offset: narrow, or wide (UTF-16, as Wine sends it even to an ANSI window),
// with `padding` bytes after the terminator.
std::vector<unsigned char> NameRecord(const std::string& name, bool wide, int padding) {
    std::vector<unsigned char> bytes;
    for (char ch : name) {
        bytes.push_back(static_cast<unsigned char>(ch));
        if (wide) bytes.push_back(0);
    }
    bytes.insert(bytes.end(), wide ? 2 : 1, 0);
    bytes.insert(bytes.end(), static_cast<std::size_t>(padding), 0);
    return bytes;
}

TEST(DeviceChange, ARemovalBroadcastIsReadInTheNarrowOrTheWideForm) {
    std::string upper = kPendantPath;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    struct Case {
        const char* name;
        std::vector<unsigned char> record;
        bool ours;
    };
    std::vector<unsigned char> nonAscii = NameRecord(kPendantPath, true, 0);
    nonAscii[8] = 0x4E;  // the fifth character: U+4E68 instead of 'h'
    nonAscii[9] = 0x4E;
    const Case cases[] = {
        {"narrow", NameRecord(kPendantPath, false, 0), true},
        {"narrow, padded", NameRecord(kPendantPath, false, 3), true},
        {"wide", NameRecord(kPendantPath, true, 0), true},
        {"wide, padded", NameRecord(kPendantPath, true, 2), true},
        {"wide, in capitals (Wine)", NameRecord(upper, true, 0), true},
        {"wide, another device", NameRecord(kMousePath, true, 0), false},
        {"wide, the second pendant", NameRecord(kSecondPendantPath, true, 0), false},
        {"wide, our path with more after it", NameRecord(std::string(kPendantPath) + "0", true, 0),
         false},
        {"wide, a character beyond ASCII", nonAscii, false},
        // Too large for either reading: the narrow name as it stands.
        {"narrow name in a record too large", NameRecord(kPendantPath, false, 40), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link();
        hk4::DeviceBroadcast broadcast;
        broadcast.deviceType = 5;
        hk4::ReadInterfaceName(c.record.data(), c.record.size(), broadcast);
        EXPECT_TRUE(rig.window->OnDeviceChange(0x8004, &broadcast));
        EXPECT_EQ(rig.window->DevicePresent, !c.ours);
        EXPECT_EQ(rig.host.code.size(), c.ours ? 1u : 0u);
    }
}

TEST(DeviceChange, EventsThatAreNeitherArrivalNorRemovalChangeNothing) {
    Rig rig;
    rig.Link();
    hk4::DeviceBroadcast ours{5, kPendantPath, {}};
    for (uint32_t type : {0x0007u, 0x8001u, 0x8002u, 0x8003u, 0x8006u, 0x0018u}) {
        EXPECT_TRUE(rig.window->OnDeviceChange(type, &ours)) << type;
    }
    EXPECT_TRUE(rig.window->OnDeviceChange(0x8004, nullptr));  // removal without data
    EXPECT_TRUE(rig.TakeLog().empty());
    EXPECT_TRUE(rig.window->DevicePresent);
    EXPECT_TRUE(rig.host.code.empty());
}

TEST(DeviceChange, WithNoPendantFoundARemovalIsNeverOurs) {
    Rig rig;
    rig.Link({Mouse()});
    EXPECT_TRUE(rig.Removal(""));
    EXPECT_TRUE(rig.Removal(kMousePath));
    EXPECT_TRUE(rig.host.code.empty());
    EXPECT_EQ(rig.host.MotionByte(163954), 0);
}

TEST(DeviceChange, ArrivalReopensBothHandlesFromTheStoredPath) {
    Rig rig;
    rig.Link();
    EXPECT_TRUE(rig.Arrival());
    const Log expected = {"CloseHandle #3", "CloseHandle #4", OpenRead(kPendantPath, "#5"),
                          OpenWrite(kPendantPath, "#6")};
    EXPECT_EQ(rig.TakeLog(), expected);
    EXPECT_TRUE(rig.window->DevicePresent);
    EXPECT_EQ(rig.port.openEvents(), 1);  // the read event is not made again
}

TEST(DeviceChange, ArrivalSearchesWithTheCallsOfTheStartUpSearch) {
    const std::vector<FakeDevice> devices = {Mouse(), Pendant(), Pendant(kSecondPendantPath)};
    Rig atStart;
    atStart.port.devices = devices;
    atStart.window->FindPendant();
    Log expected = atStart.TakeLog();
    // Neither a second registration nor a second timer.
    expected.erase(std::remove(expected.begin(), expected.end(), "RegisterDeviceNotificationA hid"),
                   expected.end());
    expected.erase(std::remove(expected.begin(), expected.end(), "SetTimer 1 25"), expected.end());

    Rig later;
    later.Link({});
    later.port.devices = devices;
    EXPECT_TRUE(later.Arrival());
    EXPECT_EQ(later.TakeLog(), expected);
}

TEST(DeviceChange, AnArrivalWithNoPendantLinkedSearchesAgain) {
    const std::string keyboard = "\\\\?\\hid#vid_04f2&pid_0112#keyboard";
    struct Case {
        const char* name;
        std::vector<FakeDevice> atStart;    // what the start-up search sees
        bool removed;                       // the pendant's removal came before the arrival
        std::vector<FakeDevice> atArrival;  // what is there when a device arrives
        bool present;
        std::string path;
        bool searched;
        int openFiles;  // probe, read and write of a linked pendant
        int events;     // the read's record, and the write's once a tick wrote
    };
    const Case cases[] = {
        {"never found, still none",
         {Mouse()},
         false,
         {Mouse(), Mouse(keyboard)},
         false,
         "",
         true,
         0,
         0},
        {"never found, now plugged in",
         {Mouse()},
         false,
         {Mouse(), Pendant()},
         true,
         kPendantPath,
         true,
         3,
         1},
        {"away, another device arrives",
         {Pendant()},
         true,
         {Mouse()},
         false,
         kPendantPath,
         true,
         0,
         2},
        {"away, back at its port", {Pendant()}, true, {Pendant()}, true, kPendantPath, false, 3, 2},
        // The stored path is tried first: a pendant back where it was is
        // linked again even behind another pendant in the list.
        {"away, back at its port behind another pendant",
         {Pendant()},
         true,
         {Pendant(kSecondPendantPath), Pendant()},
         true,
         kPendantPath,
         false,
         3,
         2},
        {"away, back at another port",
         {Pendant()},
         true,
         {Mouse(), Pendant(kSecondPendantPath)},
         true,
         kSecondPendantPath,
         true,
         3,
         2},
        {"gone before its removal came",
         {Pendant()},
         false,
         {Mouse()},
         false,
         kPendantPath,
         true,
         0,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Link(c.atStart);
        rig.Tick();  // a read of a linked pendant is left outstanding
        if (c.removed) rig.Removal(kPendantPath);
        rig.port.devices = c.atArrival;
        rig.TakeLog();
        EXPECT_TRUE(rig.Arrival());

        EXPECT_EQ(rig.window->DevicePresent, c.present);
        EXPECT_EQ(rig.window->DevicePath, c.path);
        EXPECT_EQ(rig.port.CountOf("SetupDiGetClassDevsA"), c.searched ? 1 : 0);
        EXPECT_EQ(rig.port.openFiles(), c.openFiles);
        EXPECT_EQ(rig.window->ReadHandle != nullptr, c.present);
        EXPECT_EQ(rig.window->WriteHandle != nullptr, c.present);
        EXPECT_EQ(rig.window->ProbeHandle != nullptr, c.present);
        EXPECT_EQ(rig.port.openEvents(), c.events);
        EXPECT_EQ(rig.port.registrations(), 1);
        EXPECT_EQ(rig.port.timers(), 1);
        EXPECT_EQ(rig.port.CountOf("RegisterDeviceNotificationA"), 0);
        EXPECT_EQ(rig.port.CountOf("SetTimer"), 0);
        // An arrival neither stops a jog nor ends one.
        EXPECT_EQ(EndJogs(rig), c.removed ? 1 : 0);

        // A linked pendant is polled; with none, ticks leave the device
        // and the host alone.
        rig.port.Push(MakeReport(9));
        rig.TakeLog();
        const int lampReads = rig.host.ledReadsOf[800];
        rig.Tick();
        EXPECT_EQ(rig.port.CountOf("WriteFile"), c.present ? 1 : 0);
        EXPECT_EQ(rig.window->InputReport[1], c.present ? 9 : 0);
        EXPECT_EQ(rig.host.ledReadsOf[800] - lampReads, c.present ? 1 : 0);

        // Unplugged again, wherever it is now: one more ENDJOG.
        if (c.present) {
            rig.Removal(c.path);
            EXPECT_FALSE(rig.window->DevicePresent);
            EXPECT_EQ(EndJogs(rig), c.removed ? 2 : 1);
        }
        rig.window.reset();
        EXPECT_EQ(rig.port.openFiles(), 0);
        EXPECT_EQ(rig.port.openEvents(), 0);
        EXPECT_EQ(rig.port.registrations(), 0);
        EXPECT_TRUE(rig.port.faults.empty()) << rig.port.faults[0];
    }
}

TEST(SameDevicePath, FoldsAsciiLettersOnlyAndTakesDoubleByteCharactersWhole) {
    struct Case {
        const char* name;
        std::string a, b;
        bool shiftJis;
        bool same;
    };
    const Case cases[] = {
        {"equal", "\\\\?\\hid#vid_04d8", "\\\\?\\hid#vid_04d8", false, true},
        {"letters differ in case", "\\\\?\\HID#VID_04D8&PID_FCE1", "\\\\?\\hid#vid_04d8&pid_fce1",
         false, true},
        {"different length", "abc", "abcd", false, false},
        {"different letter", "abc", "abd", false, false},
        // Only letters fold: characters 0x20 apart that are no letters differ.
        {"bracket and brace", "a[", "A{", false, false},
        {"at sign and grave", "@", "`", false, false},
        {"caret and tilde", "^", "~", false, false},
        {"high bytes compared as they are", "É", "é", false, false},
        // 0x83 0x41 and 0x83 0x61 are two different katakana: the trail
        // byte is no letter.
        {"double-byte trail byte not folded", "xAy", "XaY", true, false},
        {"double-byte characters equal", "xAy", "XAY", true, true},
        {"without a lead byte the same bytes fold", "xAy", "XaY", false, true},
        {"lead byte last", "ab", "AB", true, true},
        {"empty", "", "", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHidPort port;
        port.shiftJis = c.shiftJis;
        auto lead = [&port](uint8_t b) { return port.IsLeadByte(b); };
        EXPECT_EQ(hk4::SameDevicePath(c.a, c.b, lead), c.same);
        EXPECT_EQ(hk4::SameDevicePath(c.b, c.a, lead), c.same);
    }
}

}  // namespace
}  // namespace hk4test
