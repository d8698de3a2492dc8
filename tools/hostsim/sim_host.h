// The simulated host: its memory blocks, its message-line string, its DROs
// and LEDs, the parent window, and the callbacks that record into the trace.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostsim/host_fields.h"
#include "hostside/host_string_manager.h"
#include "hostside/plugin_api.h"
#include "plugin/host.h"

namespace hostsim {

class SimHost {
  public:
    SimHost();
    ~SimHost();
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    void* motion() const { return motion_.get(); }
    void* options() const { return options_.get(); }
    void* planner() const { return planner_.get(); }
    void* parentObject() { return parentObject_; }
    HWND parentWindow() const { return parentWindow_; }

    // Typed access to the blocks, the way the plug-in reaches them.
    const hk4::Host& view() const { return view_; }

    std::string StatusText() const;
    hostside::CountingStringManager& strings() { return strings_; }

    std::map<int32_t, double> dros;
    std::map<int32_t, uint8_t> leds;
    bool traceReads = false;          // also trace GetDRO and GetLED calls
    bool traceSnapshotReads = false;  // also trace GetDRO 818 (a soak's snapshot check)
    // Runs inside each callback the plug-in makes (after it is traced), with
    // the callback's name and argument ("Code", "DOJOG"; "GetLED", "800"):
    // where a host lets window messages through.
    std::function<void(const char* callback, const std::string& argument)> inside;
    // Set once StopPlug has returned (or the library is being unloaded),
    // cleared by InitControl: the host's callbacks and blocks are no longer
    // the plug-in's to use, and each call or write is a fault.
    bool released = false;
    const char* releasedBy = "after StopPlug returned";
    // While released: a jog's stop (a JogStop of 1) is still the plug-in's
    // to write (the library is being unloaded and stops the jog it ran).
    bool stopsAllowed = false;
    std::function<void(const std::string& what)> fault;
    void CheckLive(const std::string& what);

    // Installs the recording callbacks through the plug-in's installers.
    void InstallCallbacks(const hostside::PluginApi& api);

    // Traces every change the plug-in made to a named host field or to the
    // message line since the last call ("< write JogStop[0] = 1",
    // "< message \" Jog OFF. \""). A write of the value a field already
    // held changes nothing and is not seen.
    void FlushWrites();
    // Writes FlushWrites has traced so far.
    long writesSeen = 0;
    // The host itself sets a field: not traced as the plug-in's write.
    bool SetField(const std::string& name, double value);

    // The instance the callbacks record into.
    static SimHost* Current();

  private:
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char, Free> motion_, options_, planner_;
    unsigned char parentObject_[hk4::kParentWindowSize] = {};
    HWND parentWindow_ = nullptr;
    hk4::Host view_;
    hostside::CountingStringManager strings_;
    FieldWatch watch_;
    FieldWatch exactWatch_{17};  // for the record
    std::string lastStatus_;
};

}  // namespace hostsim
