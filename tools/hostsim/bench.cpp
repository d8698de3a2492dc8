#include "hostsim/bench.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <memory>
#include <vector>

#include "hostsim/device_hooks.h"
#include "hostsim/device_model.h"
#include "hostsim/host_loop.h"
#include "hostsim/import_patch.h"
#include "hostside/plugin_api.h"
#include "hostsim/sim_host.h"
#include "hostsim/trace.h"

namespace hostsim {

bool LoadPlugin(hostside::PluginApi& api, const std::string& dll) {
    std::string error;
    if (api.Load(dll, error)) return true;
    std::fprintf(stderr, "hostsim: %s\n", error.c_str());
    return false;
}

namespace {

struct Config {
    const char* name;
    const char* label;
    ReportPolicy policy;
    Micros period;
    // The function selector (1: step jog) and the speed byte while the wheel
    // turns; the fixed-rate jog keeps the jog watchdog armed.
    uint8_t function = 1;
    uint8_t speed = 0;
};

const Config kConfigs[] = {
    {"silent", "no reports", ReportPolicy::Off, 0},
    {"on-change", "on change", ReportPolicy::OnChange, 0},
    {"8ms", "every 8 ms", ReportPolicy::Periodic, 8 * kMs},
    {"1ms", "every 1 ms", ReportPolicy::Periodic, 1 * kMs},
    {"jog", "every 8 ms, a fixed-rate jog running", ReportPolicy::Periodic, 8 * kMs, 3, 40},
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    std::size_t rank =
        static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size()) + 0.999999);
    rank = std::min(std::max<std::size_t>(rank, 1), v.size());
    return v[rank - 1];
}

struct Decode {
    Micros at;
    uint64_t seq;
    Micros produced;
};

struct Result {
    double seconds = 0;  // measured stretch: the run less its first second
    std::vector<double> tickMicros;
    std::vector<double> simulatorMicros;  // the virtual system's part of each tick
    std::vector<double> ageMs;            // per tick: age of the report it decoded
    std::vector<double> latencyMs;        // per report: until a tick decoded it or a newer one
    std::size_t reports = 0;
    std::size_t writes = 0;  // output reports written in the measured stretch
};

// The wheel moves at irregular moments, 3 to 60 ms apart (a fixed
// pseudo-random sequence, the same for every run).
void ScheduleWheel(DeviceModel& m, std::size_t device, uint32_t seed) {
    const Micros gap = (3 + static_cast<Micros>(seed % 58)) * kMs;
    m.Schedule(m.Now() + gap, [&m, device, seed] {
        m.devices[device].state[1] = static_cast<uint8_t>(m.devices[device].state[1] + 1);
        m.ControlsChanged(device);
        ScheduleWheel(m, device, seed * 1664525u + 1013904223u);
    });
}

// The profile file a bench run gives the plug-in (deleted afterwards).
std::string BenchProfilePath() {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "hostsim-bench-profile.xml";
}

// The host's start-up calls; returns the plug-in's window (its timer's).
HWND StartPlugin(hostside::PluginApi& api, SimHost& host, const std::string& profile) {
    host.InstallCallbacks(api);
    api.SetProName(profile.c_str());
    api.InitControl(host.motion(), host.options(), host.planner(), host.parentObject());
    HWND window = FindWindowExA(host.parentWindow(), nullptr, nullptr, nullptr);
    api.PostInitControl();
    return window;
}

bool RunOne(const Config& c, const std::string& dll, double seconds, Result& out) {
    hostside::PluginApi api;
    if (!LoadPlugin(api, dll)) return false;
    auto model = std::make_unique<DeviceModel>(false);
    model->traceReports = false;
    SetModel(model.get());
    std::vector<Report> produced;
    std::vector<Decode> decodes;
    std::vector<Micros> writes;
    model->onProduce = [&produced](const Report& r) { produced.push_back(r); };
    model->onOutputReport = [&writes](Micros at) { writes.push_back(at); };
    const std::size_t pendant = model->AddDevice("pendant", kPendantVid, kPendantPid,
                                                 "\\\\?\\hid#vid_04d8&pid_fce1#7&1f2e0001&0&0000#"
                                                 "{4d1e55b2-f16f-11cf-88cb-001111000030}",
                                                 true);
    model->SetPolicy(pendant, c.policy, c.period);
    model->devices[pendant].state[2] = c.speed;
    model->devices[pendant].state[4] = c.function;
    ImportPatch patch;
    {
        SimHost host;
        host.leds[83] = 1;
        host.dros[3] = 50.0;
        host.SetField("AxisFullRate[0]", 6000);
        model->hostWindow = host.parentWindow();
        patch.Apply(api.module, DeviceRedirects());
        const std::string profile = BenchProfilePath();
        if (c.function == 3) {
            // The jog starts with the first notch.
            FILE* f = std::fopen(profile.c_str(), "wb");
            if (f) {
                std::fputs(
                    "<profile><Halvex_K4_Pendant><DelaySteps>0</DelaySteps>"
                    "</Halvex_K4_Pendant></profile>",
                    f);
                std::fclose(f);
            }
        }
        HWND window = StartPlugin(api, host, profile);
        {
            std::lock_guard<std::recursive_mutex> g(model->lock);
            if (c.policy != ReportPolicy::Off) {
                ScheduleWheel(*model, pendant, 12345u);
                model->Produce(pendant);  // the state at plug-in time
            }
        }
        {
            PendantThread thread(*model);
            LoopOptions o;
            o.ms = static_cast<DWORD>(seconds * 1000.0);
            o.cycleMs = 10;
            o.timerWindow = window;
            o.tickMicros = &out.tickMicros;
            o.tickSimulatorMicros = &out.simulatorMicros;
            // A tick decodes before it returns: the report it decoded is the
            // newest the plug-in has seen complete by then.
            o.afterTick = [&decodes, &model] {
                std::lock_guard<std::recursive_mutex> g(model->lock);
                decodes.push_back(
                    Decode{model->Now(), model->observed.seq, model->observed.produced});
            };
            RunHostLoop(api, host, o);
        }
        if (c.function == 3) {
            // The row means something only if the jog ran.
            std::fprintf(stderr, "hostsim: fixed-rate jog: JogVelocity[0] %d, JogStop[0] %d\n",
                         host.view().read(hk4::fields::JogVelocity.at(0)),
                         host.view().read(hk4::fields::JogStop.at(0)));
        }
        api.StopPlug();
        patch.Restore();
        DeleteFileA(profile.c_str());
    }
    api.Unload();
    SetModel(nullptr);

    // Ages, skipping the first second (start-up).
    const Micros from = decodes.empty() ? 0 : decodes.front().at + 1000 * kMs;
    const Micros to = decodes.empty() ? 0 : decodes.back().at;
    out.seconds = static_cast<double>(to - from) / (1000.0 * kMs);
    for (Micros w : writes)
        if (w >= from && w <= to) ++out.writes;
    for (const Decode& d : decodes)
        if (d.at >= from && d.seq > 0)
            out.ageMs.push_back(static_cast<double>(d.at - d.produced) / kMs);
    std::size_t k = 0;
    for (const Report& r : produced) {
        if (r.produced < from) continue;
        while (k < decodes.size() && (decodes[k].seq < r.seq || decodes[k].at < r.produced)) ++k;
        if (k == decodes.size()) break;  // produced after the last tick
        out.latencyMs.push_back(static_cast<double>(decodes[k].at - r.produced) / kMs);
        ++out.reports;
    }
    return true;
}

// Nothing patched: the pendant the system has (under Wine, the virtual
// pendant behind the class driver, fed from outside). Only the tick's time
// is measured: the report's age would need the device's clock.
bool RunReal(const std::string& dll, double seconds, Result& out) {
    hostside::PluginApi api;
    if (!LoadPlugin(api, dll)) return false;
    {
        SimHost host;
        host.leds[83] = 1;
        const std::string profile = BenchProfilePath();
        HWND window = StartPlugin(api, host, profile);
        LoopOptions o;
        o.ms = static_cast<DWORD>(seconds * 1000.0);
        o.cycleMs = 10;
        o.timerWindow = window;
        o.tickMicros = &out.tickMicros;
        RunHostLoop(api, host, o);
        api.StopPlug();
        DeleteFileA(profile.c_str());
    }
    api.Unload();
    out.seconds = seconds;
    return true;
}

}  // namespace

int RunBench(const std::string& which, const std::string& dll, double seconds) {
    TheTrace().SetEnabled(false);
    if (which == "real") {
        Result r;
        if (!RunReal(dll, seconds, r)) return 1;
        // Skip the first second's ticks (start-up).
        const std::size_t skip = std::min<std::size_t>(r.tickMicros.size(), 40);
        std::vector<double> t(r.tickMicros.begin() + static_cast<std::ptrdiff_t>(skip),
                              r.tickMicros.end());
        std::printf(
            "%d-bit build, the pendant behind the system's HID class driver.\n\n"
            "| ticks | tick median | p99 |\n|---|---|---|\n"
            "| %zu | %.3f ms | %.3f ms |\n",
            static_cast<int>(sizeof(void*) * 8), t.size(), Percentile(t, 50) / 1000.0,
            Percentile(t, 99) / 1000.0);
        return 0;
    }
    std::printf(
        "%d-bit build. Host-thread time per tick (ms): whole tick, and the plug-in's share "
        "(less the virtual system's time).\n\n"
        "| pendant reports | ticks | tick median | p99 | plug-in's share median | p99 | "
        "decoded report age median | p99 | max | reports | report to decode median | p99 | max | "
        "output writes/s |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n",
        static_cast<int>(sizeof(void*) * 8));
    bool any = false;
    for (const Config& c : kConfigs) {
        if (which != "all" && which != c.name) continue;
        any = true;
        Result r;
        if (!RunOne(c, dll, seconds, r)) return 1;
        auto ms = [](double us) { return Format("%.3f ms", us / 1000.0); };
        auto msv = [](const std::vector<double>& v, double p) {
            return v.empty() ? std::string("-") : Format("%.1f ms", Percentile(v, p));
        };
        std::vector<double> net;
        for (std::size_t i = 0; i < r.tickMicros.size() && i < r.simulatorMicros.size(); ++i)
            net.push_back(r.tickMicros[i] - r.simulatorMicros[i]);
        const double perSecond = r.seconds > 0 ? static_cast<double>(r.writes) / r.seconds : 0.0;
        std::printf("| %s | %zu | %s | %s | %s | %s | %s | %s | %s | %zu | %s | %s | %s | %.1f |\n",
                    c.label, r.tickMicros.size(), ms(Percentile(r.tickMicros, 50)).c_str(),
                    ms(Percentile(r.tickMicros, 99)).c_str(), ms(Percentile(net, 50)).c_str(),
                    ms(Percentile(net, 99)).c_str(), msv(r.ageMs, 50).c_str(),
                    msv(r.ageMs, 99).c_str(), msv(r.ageMs, 100).c_str(), r.reports,
                    msv(r.latencyMs, 50).c_str(), msv(r.latencyMs, 99).c_str(),
                    msv(r.latencyMs, 100).c_str(), perSecond);
        std::fflush(stdout);
    }
    if (!any) {
        std::fprintf(stderr, "hostsim: --bench all, silent, on-change, 8ms, 1ms or jog\n");
        return 2;
    }
    return 0;
}

}  // namespace hostsim
