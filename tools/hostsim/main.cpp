// Host simulator: loads the plug-in, plays the host's part and prints a
// trace of everything the plug-in did to the host and to the (virtual)
// pendant. See docs/simulator.md.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hostsim/bench.h"
#include "hostsim/save_bench.h"
#include "hostsim/device_hooks.h"
#include "hostsim/device_model.h"
#include "hostsim/host_loop.h"
#include "hostsim/import_patch.h"
#include "hostside/plugin_api.h"
#include "hostsim/scenario.h"
#include "hostsim/sim_host.h"
#include "hostsim/trace.h"

namespace {

void Usage() {
    std::fprintf(
        stderr,
        "usage: hostsim [options] PLUGIN.dll\n"
        "  --scenario FILE   run a scenario (docs/scenarios.md); exit 0 passed, 1 failed,\n"
        "                    2 unusable, 77 skipped\n"
        "  --quiet           with --scenario: print only failures\n"
        "  --record FILE     with --scenario in stepped mode: write the host callbacks\n"
        "                    (DoButton, Code, SetDRO, field writes), values to the last\n"
        "                    bit, to FILE\n"
        "  --bench WHICH     real-time measurements: all, silent, on-change, 8ms, 1ms;\n"
        "                    real: nothing patched, the tick's time with the system's pendant;\n"
        "                    save: the configuration dialog's save on profiles of 10 KB to 5 MB\n"
        "  --seconds S       length of each bench run (default 10)\n"
        "  --real-pendant    use the pendant plugged into this PC (nothing is patched)\n"
        "  --run-ms N        without a scenario: run the host for N ms (default 3000)\n"
        "  --reads           also trace the plug-in's DRO and LED reads\n"
        "  --profile FILE    the host profile passed to SetProName\n"
        "  --linger-ms N     without a scenario: stay N ms after unloading the plug-in\n"
        "  --field NAME V    without a scenario: the host field NAME holds V (the host starts\n"
        "                    with StepSize 0.01, AxisFullRate[0..5] 6000 and a jog rate of 50 %%)\n"
        "  --hold-after-jog DELAY HOLD FIRST TOLERANCE\n"
        "                    without a scenario: after the first tick of a jog that has run\n"
        "                    DELAY ms since its \"DOJOG\", the host's thread is held HOLD ms\n"
        "                    without pumping; the first write meanwhile is expected\n"
        "                    FIRST +- TOLERANCE ms from the hold's start\n"
        "  --button-switches-led\n"
        "                    without a scenario: the host's action for the pendant's button\n"
        "                    (1021) switches LED 800, the pendant's lamp, on or off\n"
        "Without --scenario or --bench the host runs in real time, with a virtual pendant\n"
        "whose wheel turns, unless --real-pendant is given.\n");
}

// The plain run: the host's calls in their order, then its message loop in
// real time.
using Fields = std::vector<std::pair<std::string, double>>;

// A hold of the host's thread once a jog runs (--hold-after-jog).
struct HoldAfterJog {
    DWORD delayMs = 0, holdMs = 0;
    long firstWrite = -1, tolerance = 0;
};

int PlainRun(const std::string& dll, const std::string& profile, DWORD runMs, bool reads,
             bool realPendant, const Fields& fields, const HoldAfterJog& hold, bool buttonLed) {
    hostsim::Trace& trace = hostsim::TheTrace();
    trace.SetEcho(stdout);
    hostside::PluginApi api;
    if (!hostsim::LoadPlugin(api, dll)) return 1;
    trace.Line("# loaded " + dll);
    std::unique_ptr<hostsim::DeviceModel> model;
    hostsim::ImportPatch patch;
    {
        hostsim::SimHost host;
        host.traceReads = reads;
        host.leds[83] = 1;  // the host's jog switch is on
        // A machine set up to jog: a step size, a full rate on every axis and
        // a jog rate, so that every wheel function shows what it sends.
        host.SetField("StepSize", 0.01);
        for (int axis = 0; axis < 6; ++axis)
            host.SetField(hostsim::Format("AxisFullRate[%d]", axis), 6000);
        host.dros[3] = 50.0;
        for (const auto& f : fields) {
            if (!host.SetField(f.first, f.second)) {
                std::fprintf(stderr, "hostsim: no host field %s\n", f.first.c_str());
                return 2;
            }
        }
        if (!realPendant) {
            model = std::make_unique<hostsim::DeviceModel>(false);
            hostsim::SetModel(model.get());
            model->hostWindow = host.parentWindow();
            const std::size_t d =
                model->AddDevice("pendant", hostsim::kPendantVid, hostsim::kPendantPid,
                                 "\\\\?\\hid#vid_04d8&pid_fce1#7&1f2e0001&0&0000#"
                                 "{4d1e55b2-f16f-11cf-88cb-001111000030}",
                                 true);
            model->SetPolicy(d, hostsim::ReportPolicy::Periodic, 100 * hostsim::kMs);
            hostsim::SetBeforeSystemCall([] {
                if (hostsim::SimHost* h = hostsim::SimHost::Current()) h->FlushWrites();
            });
            patch.Apply(api.module, hostsim::DeviceRedirects());
            trace.Line("# a virtual pendant reports every 100 ms; its wheel turns every 500 ms");
            for (int i = 1; i * 500 < static_cast<int>(runMs); ++i)
                model->Schedule(i * 500 * hostsim::kMs, [m = model.get(), d] {
                    ++m->devices[d].state[1];
                    m->ControlsChanged(d);
                });
        } else {
            trace.Line("# real pendant: nothing is patched");
        }
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
        {
            std::unique_ptr<hostsim::PendantThread> pendant;
            if (model) pendant = std::make_unique<hostsim::PendantThread>(*model);
            hostsim::LoopOptions o;
            o.ms = runMs;
            // The hold comes right after a tick, once, while a jog runs that
            // has run DELAY ms: from a "DOJOG" on, up to its "ENDJOG".
            bool jogging = false, held = false;
            DWORD jogAt = 0;
            host.inside = [&](const char* callback, const std::string& argument) {
                if (buttonLed && !std::strcmp(callback, "DoButton") && argument == "1021") {
                    uint8_t& lamp = host.leds[800];
                    lamp = !lamp;
                    trace.Line(lamp ? "# the host switches LED 800 on"
                                    : "# the host switches LED 800 off");
                }
                if (hold.holdMs && !std::strcmp(callback, "Code")) {
                    if (argument == "ENDJOG") jogging = false;
                    if (argument != "DOJOG" || jogging) return;
                    jogging = true;
                    jogAt = GetTickCount();
                }
            };
            if (hold.holdMs) {
                o.afterPoll = [&] {
                    if (!jogging || held || GetTickCount() - jogAt < hold.delayMs) return;
                    held = true;
                    trace.Line(hostsim::Format("# the host's thread is held for %lu ms",
                                               static_cast<unsigned long>(hold.holdMs)));
                    hostsim::HoldHostThread(host, hold.holdMs * hostsim::kMs, hold.firstWrite,
                                            hold.tolerance, [](hostsim::Micros) {});
                };
            }
            hostsim::RunHostLoop(api, host, o);
            host.inside = nullptr;
        }
        trace.Line("> StopPlug");
        api.StopPlug();
        host.FlushWrites();
        if (model) {
            std::lock_guard<std::recursive_mutex> g(model->lock);
            model->CheckAfterStop(nullptr);
        }
        patch.Restore();
        hostsim::SetBeforeSystemCall(nullptr);
    }
    api.Unload();
    hostsim::SetModel(nullptr);
    trace.Line("# unloaded");
    return model && model->errors ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dll, profile = "hostsim-profile.xml", scenario, bench, record;
    DWORD runMs = 3000, lingerMs = 0;
    double seconds = 10.0;
    bool reads = false, quiet = false, realPendant = false, buttonLed = false;
    Fields fields;
    HoldAfterJog hold;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--profile" && more) {
            profile = argv[++i];
        } else if (a == "--run-ms" && more) {
            runMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--scenario" && more) {
            scenario = argv[++i];
        } else if (a == "--record" && more) {
            record = argv[++i];
        } else if (a == "--bench" && more) {
            bench = argv[++i];
        } else if (a == "--seconds" && more) {
            seconds = std::strtod(argv[++i], nullptr);
        } else if (a == "--linger-ms" && more) {
            lingerMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--field" && i + 2 < argc) {
            fields.emplace_back(argv[i + 1], std::strtod(argv[i + 2], nullptr));
            i += 2;
        } else if (a == "--hold-after-jog" && i + 4 < argc) {
            hold.delayMs = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
            hold.holdMs = static_cast<DWORD>(std::strtoul(argv[i + 2], nullptr, 10));
            hold.firstWrite = std::strtol(argv[i + 3], nullptr, 10);
            hold.tolerance = std::strtol(argv[i + 4], nullptr, 10);
            i += 4;
        } else if (a == "--button-switches-led") {
            buttonLed = true;
        } else if (a == "--reads") {
            reads = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--real-pendant") {
            realPendant = true;
        } else if (a[0] != '-' && dll.empty()) {
            dll = a;
        } else {
            Usage();
            return 2;
        }
    }
    if (dll.empty() || seconds <= 0) {
        Usage();
        return 2;
    }
    // The host initialises COM on its user-interface thread; the plug-in
    // relies on that.
    CoInitialize(nullptr);
    int status;
    if (!scenario.empty()) {
        hostsim::ScenarioOptions o;
        o.echo = !quiet;
        o.record = record;
        status = hostsim::RunScenario(scenario, dll, o);
    } else if (bench == "save") {
        status = hostsim::RunSaveBench(dll);
    } else if (!bench.empty()) {
        status = hostsim::RunBench(bench, dll, seconds);
    } else {
        status = PlainRun(dll, profile, runMs, reads, realPendant, fields, hold, buttonLed);
        // What the plug-in left open can be seen from outside meanwhile.
        if (lingerMs) Sleep(lingerMs);
    }
    CoUninitialize();
    return status;
}
