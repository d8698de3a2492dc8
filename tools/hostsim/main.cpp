// Host simulator: loads the plug-in, plays the host's part and prints a
// trace of everything the plug-in did to the host.
//
//   hostsim [--profile FILE] [--run-ms N] [--reads] PLUGIN.dll
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostsim/plugin_api.h"
#include "hostsim/sim_host.h"
#include "hostsim/trace.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: hostsim [--profile FILE] [--run-ms N] [--reads] PLUGIN.dll\n"
                 "  --profile FILE  the host profile passed to SetProName (default: "
                 "hostsim-profile.xml)\n"
                 "  --run-ms N      run the host for N ms of real time (default 500)\n"
                 "  --reads         also trace the plug-in's DRO and LED reads\n");
}

// Runs the host's message loop for `ms`, with one Update per 10 ms host cycle.
void RunHost(const hostsim::PluginApi& api, DWORD ms) {
    const DWORD start = GetTickCount();
    DWORD nextCycle = start;
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (GetTickCount() - nextCycle < 0x80000000u) {
            api.Update();
            nextCycle += 10;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string dll, profile = "hostsim-profile.xml";
    DWORD runMs = 500;
    bool reads = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--profile") && i + 1 < argc) {
            profile = argv[++i];
        } else if (!std::strcmp(argv[i], "--run-ms") && i + 1 < argc) {
            runMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (!std::strcmp(argv[i], "--reads")) {
            reads = true;
        } else if (argv[i][0] != '-' && dll.empty()) {
            dll = argv[i];
        } else {
            Usage();
            return 2;
        }
    }
    if (dll.empty()) {
        Usage();
        return 2;
    }

    hostsim::Trace& trace = hostsim::TheTrace();
    trace.SetEcho(stdout);
    // The host initialises COM on its user-interface thread; the plug-in
    // relies on that.
    CoInitialize(nullptr);

    hostsim::PluginApi api;
    std::string error;
    if (!api.Load(dll, error)) {
        std::fprintf(stderr, "hostsim: %s\n", error.c_str());
        CoUninitialize();
        return 1;
    }
    trace.Line("# loaded " + dll);
    {
        hostsim::SimHost host;
        host.traceReads = reads;
        host.leds[83] = 1;  // the host's jog switch is on
        trace.Line("> SetDoButton, SetSetDRO, SetGetDRO, SetGetLED, SetSetLED, SetCode");
        host.InstallCallbacks(api);
        trace.Line("> SetProName " + hostsim::Quote(profile.c_str()));
        trace.Line("= " + hostsim::Quote(api.SetProName(profile.c_str())));
        trace.Line("> InitControl");
        trace.Line(
            api.InitControl(host.motion(), host.options(), host.planner(), host.parentObject())
                ? "= true"
                : "= false");
        trace.Line("> PostInitControl");
        api.PostInitControl();
        trace.Line(hostsim::Format("# host runs for %lu ms", static_cast<unsigned long>(runMs)));
        RunHost(api, runMs);
        trace.Line("> StopPlug");
        api.StopPlug();
        const std::string status = host.StatusText();
        if (!status.empty()) trace.Line("# message line " + hostsim::Quote(status.c_str()));
    }
    api.Unload();
    trace.Line("# unloaded");
    CoUninitialize();
    return 0;
}
