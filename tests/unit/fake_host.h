// A small host for the input tests and benchmarks: plain C callbacks that
// record into the one current FakeHost, host blocks of the sizes the plug-in
// expects, and a message-line string object.
//
// With `recording` off the callbacks only count, so that a loop over the
// polling path can be checked for heap allocations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "input/decoder.h"
#include "plugin/host_string.h"
#include "plugin/plugin_state.h"

namespace hk4::testing {

class FakeHost;
inline FakeHost* g_fakeHost = nullptr;

// Allocates with malloc so that a replaced buffer can be told from the field's own.
class FakeStringManager final : public HostStringManager {
  public:
    HostStringData* Allocate(int capacity, int) override {
        auto* d = static_cast<HostStringData*>(
            std::calloc(1, sizeof(HostStringData) + static_cast<std::size_t>(capacity) + 1));
        if (d == nullptr) return nullptr;
        d->manager = this;
        d->capacity = capacity;
        d->refs = 1;
        ++allocations;
        return d;
    }
    void Free(HostStringData* d) override { std::free(d); }
    HostStringData* Reallocate(HostStringData*, int, int) override { return nullptr; }
    HostStringData* GetNilString() override { return nullptr; }
    HostStringManager* Clone() override { return this; }
    int allocations = 0;
};

class FakeHost {
  public:
    static constexpr int kNumbers = 1100;  // DRO and LED numbers the plug-in uses are below this

    FakeHost()
        : motion(kMotionBlockSize, 0),
          options(kOptionsBlockSize, 0),
          planner(kPlannerBlockSize, 0),
          parent(kParentWindowSize, 0) {
        g_fakeHost = this;
        Host& h = plugin.host;
        h.callbacks.DoButton = &OnDoButton;
        h.callbacks.SetDRO = &OnSetDRO;
        h.callbacks.GetDRO = &OnGetDRO;
        h.callbacks.GetLED = &OnGetLED;
        h.callbacks.SetLED = &OnSetLED;
        h.callbacks.Code = &OnCode;
        h.blocks = {motion.data(), options.data(), planner.data(), parent.data()};
        status_ = manager_.Allocate(64, 1);
        --manager_.allocations;
        SetStatusChars(status_);
        led[83] = 1;  // the host's jog switch on
        // Every axis configured, as on a real machine: a jog needs a full rate.
        for (int axis = 0; axis < 6; ++axis) h.write(fields::AxisFullRate.at(axis), int32_t{1000});
    }
    ~FakeHost() {
        HostStringData* d = Status();
        if (d != status_) std::free(d);
        std::free(status_);
        if (g_fakeHost == this) g_fakeHost = nullptr;
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    PluginState plugin;
    std::vector<unsigned char> motion, options, planner, parent;
    double dro[kNumbers] = {};
    uint8_t led[kNumbers] = {};
    bool recording = true;
    std::vector<std::string> log;  // "DoButton 334", "SetDRO 821 100", "Code G90"
    long calls = 0;                // every callback call, also when not recording
    long setDroCalls = 0;
    // Called on every Code call, also when not recording.
    void (*codeHook)(FakeHost& host, const char* line) = nullptr;
    // Called on every GetDRO call.
    void (*getDroHook)(FakeHost& host, int32_t number) = nullptr;

    const Host& host() const { return plugin.host; }
    Settings& settings() { return plugin.settings; }
    CycleCounters& counters() { return plugin.counters; }

    void Update(int cycles = 1) {
        for (int i = 0; i < cycles; ++i) plugin.counters.Update();
    }

    // The message line's current text; ClearStatus empties it in place.
    std::string StatusText() { return Status()->chars(); }
    void ClearStatus() {
        Status()->length = 0;
        Status()->chars()[0] = '\0';
    }
    HostStringData* Status() {
        char* chars = nullptr;
        std::memcpy(&chars, planner.data() + fields::StatusTextOffset, sizeof chars);
        return reinterpret_cast<HostStringData*>(chars) - 1;
    }

    std::vector<std::string> TakeLog() {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }

  private:
    void SetStatusChars(HostStringData* d) {
        char* chars = d->chars();
        std::memcpy(planner.data() + fields::StatusTextOffset, &chars, sizeof chars);
    }
    void Record(std::string entry) {
        if (recording) log.push_back(std::move(entry));
    }
    static int32_t Clamp(int32_t n) { return n < 0 ? 0 : (n >= kNumbers ? kNumbers - 1 : n); }

    static void OnDoButton(int32_t code) {
        FakeHost& f = *g_fakeHost;
        ++f.calls;
        if (f.recording) f.Record("DoButton " + std::to_string(code));
    }
    static void OnSetDRO(int32_t n, double v) {
        FakeHost& f = *g_fakeHost;
        ++f.calls;
        ++f.setDroCalls;
        f.dro[Clamp(n)] = v;
        if (f.recording) {
            char text[64];
            std::snprintf(text, sizeof text, "SetDRO %d %.10g", n, v);
            f.Record(text);
        }
    }
    static double OnGetDRO(int32_t n) {
        FakeHost& f = *g_fakeHost;
        ++f.calls;
        if (f.getDroHook) f.getDroHook(f, n);
        return f.dro[Clamp(n)];
    }
    static uint8_t OnGetLED(int32_t n) {
        FakeHost& f = *g_fakeHost;
        ++f.calls;
        return f.led[Clamp(n)];
    }
    static void OnSetLED(int32_t, bool) {
        FakeHost& f = *g_fakeHost;
        ++f.calls;
        f.Record("SetLED");
    }
    static void OnCode(const char* line) {
        FakeHost& f = *g_fakeHost;
        ++f.calls;
        if (f.codeHook) f.codeHook(f, line);
        if (f.recording) f.Record(std::string("Code ") + line);
    }

    FakeStringManager manager_;
    HostStringData* status_ = nullptr;
};

// An input report: wheel counter, speed byte, axis byte (with its flag bits)
// and function selector byte.
struct Report {
    uint8_t bytes[kInputReportSize] = {};
    Report(int wheel, int speed, int axisByte, int function) {
        bytes[1] = static_cast<uint8_t>(wheel);
        bytes[2] = static_cast<uint8_t>(speed);
        bytes[3] = static_cast<uint8_t>(axisByte);
        bytes[4] = static_cast<uint8_t>(function);
    }
};

// The decoder with its tick-shared fields and a fake host.
struct InputRig {
    FakeHost host;
    InputInterpreter input;
    TickShared shared;

    void Poll(const Report& r) { input.DecodeReport(r.bytes, shared, host.plugin); }

    // Settles the selectors on a function and axis, wheel counter 0, and
    // forgets what that did to the host.
    void Start(int function, int axisByte) {
        Poll(Report(0, 0, axisByte, function));
        host.log.clear();
    }
};

}  // namespace hk4::testing
