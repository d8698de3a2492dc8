// A host that records what the pendant window does to it, and a window over
// a fake port, for the pendant link's tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/pendant_window.h"
#include "fake_hid_port.h"
#include "plugin/plugin_state.h"

namespace hk4test {

inline const char* const kPendantPath =
    "\\\\?\\hid#vid_04d8&pid_fce1#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
inline const char* const kMousePath =
    "\\\\?\\hid#vid_046d&pid_c077#7&2b3c4d5e&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
inline const char* const kSecondPendantPath =
    "\\\\?\\hid#vid_04d8&pid_fce1#7&99aa00bb&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

inline FakeDevice Pendant(const std::string& path = kPendantPath) {
    return FakeDevice{path, 0x04D8, 0xFCE1};
}
inline FakeDevice Mouse(const std::string& path = kMousePath) {
    return FakeDevice{path, 0x046D, 0xC077};
}

class RecordingHost {
  public:
    RecordingHost();
    ~RecordingHost();
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    hk4::PluginState state;
    std::vector<int32_t> buttons;   // DoButton codes, in order
    std::vector<std::string> code;  // Code lines, in order
    std::map<int32_t, uint8_t> leds;
    // Runs inside the Code callback, after the line is recorded: a host
    // that lets window messages through while it takes a command.
    std::function<void(const std::string&)> duringCode;
    std::function<void(int32_t)> duringButton;  // the same inside DoButton
    int ledReads = 0;                           // of any LED
    std::map<int32_t, int> ledReadsOf;          // per LED
    int Presses(int32_t code) const;

    uint8_t MotionByte(std::size_t offset) const { return motion_[offset]; }
    template <typename T>
    void Set(hk4::Field<T> field, T value) {
        state.host.write(field, value);
    }

  private:
    std::vector<unsigned char> motion_, options_, planner_, parent_;
};

// A pendant window over a fake port with the recording host.
struct Rig {
    FakeHidPort port;
    RecordingHost host;
    std::unique_ptr<hk4::PendantWindow> window =
        std::make_unique<hk4::PendantWindow>(port, host.state);

    // Finds the pendant among `devices` and forgets the calls it made. By
    // default a mouse comes first, so the pendant's probe handle is #2, its
    // read handle #3 and its write handle #4.
    void Link(std::vector<FakeDevice> devices = {Mouse(), Pendant()});
    // One tick, after `ms` of virtual time since the last one.
    void Tick(uint32_t ms = 25);
    bool Removal(const std::string& path, uint32_t type = 5);
    bool Arrival();
    // The calls the port saw since the last ClearLog, from the first
    // ReadFile/WaitForSingleObject/... onwards.
    std::vector<std::string> TakeLog();
};

inline Report MakeReport(uint8_t wheel, uint8_t axis = 1, uint8_t function = 1) {
    return Report{0, wheel, 0, axis, function, 0, 0, 0};
}

}  // namespace hk4test
