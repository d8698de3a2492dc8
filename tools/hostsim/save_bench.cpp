#include "hostsim/save_bench.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "hostside/plugin_api.h"
#include "hostsim/bench.h"
#include "hostsim/sim_host.h"
#include "hostsim/trace.h"
#include "settings/config_dialog_ids.h"

namespace hostsim {

namespace {

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// A host profile of about `bytes`: sections of settings, and a tool table
// with one flat list of entries (the kind of element that grows), our
// section complete near the top.
std::string Profile(std::size_t bytes) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<profile>\r\n"
        "  <Halvex_K4_Pendant>\r\n    <Vel>2</Vel>\r\n    <StepJogRate>100</StepJogRate>\r\n"
        "    <PercentTime>3</PercentTime>\r\n    <DelaySteps>25</DelaySteps>\r\n"
        "  </Halvex_K4_Pendant>\r\n";
    char line[160];
    for (int s = 0; text.size() < bytes / 2; ++s) {
        std::snprintf(line, sizeof line, "  <Section%d>\r\n", s);
        text += line;
        for (int k = 0; k < 20; ++k) {
            std::snprintf(line, sizeof line, "    <Key%d>%d.%04d</Key%d>\r\n", k, s, k, k);
            text += line;
        }
        std::snprintf(line, sizeof line, "  </Section%d>\r\n", s);
        text += line;
    }
    text += "  <ToolTable>\r\n";
    for (int t = 1; text.size() < bytes; ++t) {
        std::snprintf(line, sizeof line,
                      "    <Tool number=\"%d\" diameter=\"%d.000\">drill %d mm</Tool>\r\n", t,
                      t % 20 + 1, t % 20 + 1);
        text += line;
    }
    return text + "  </ToolTable>\r\n</profile>\r\n";
}

struct DialogSearch {
    DWORD thread;
    HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND w, LPARAM p) {
    auto* search = reinterpret_cast<DialogSearch*>(p);
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "#32770" && IsWindowVisible(w)) {
        search->found = w;
        return FALSE;
    }
    return TRUE;
}

struct Timing {
    double start = 0;  // SetProName and PostInitControl
    double open = 0;   // Config until the dialog shows
    double save = 0;   // OK until Config returns: the host's thread held
    bool written = false;
};

bool WriteProfile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    const bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f) std::fclose(f);
    return written;
}

// `hostWrites`: the host rewrites the profile (one tool changed) while the
// dialog is open, so that the save works on a file it has not loaded.
bool RunOnce(const std::string& dll, const std::string& path, const std::string& bytes, int value,
             bool hostWrites, Timing& out) {
    if (!WriteProfile(path, bytes)) return false;
    hostside::PluginApi api;
    if (!LoadPlugin(api, dll)) return false;
    {
        SimHost host;
        host.InstallCallbacks(api);
        double t = Now();
        api.SetProName(path.c_str());
        api.InitControl(host.motion(), host.options(), host.planner(), host.parentObject());
        api.PostInitControl();
        out.start = Now() - t;

        // A user changes the feed rate and confirms, from a second thread.
        const DWORD hostThread = GetCurrentThreadId();
        std::atomic<double> shown{0}, ok{0};
        std::atomic<bool> done{false};
        std::thread user([&] {
            DialogSearch search{hostThread};
            while (!done && !search.found) {
                EnumThreadWindows(hostThread, FindDialog, reinterpret_cast<LPARAM>(&search));
                if (!search.found) Sleep(1);
            }
            if (!search.found) return;
            shown = Now();
            if (hostWrites) {
                std::string changed = bytes;
                const std::size_t tool = changed.find("drill 1 mm");
                if (tool != std::string::npos) changed[tool + 6] = '9';
                WriteProfile(path, changed);
            }
            SetDlgItemTextA(search.found, IDC_FEED_RATE, std::to_string(value).c_str());
            ok = Now();
            PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        });
        t = Now();
        api.Config();
        const double end = Now();
        done = true;
        user.join();
        out.open = shown - t;
        out.save = end - ok;
        api.StopPlug();
    }
    api.Unload();
    FILE* check = std::fopen(path.c_str(), "rb");
    std::string after;
    if (check) {
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, check)) > 0;)
            after.append(buffer, n);
        std::fclose(check);
    }
    out.written =
        after.find("<StepJogRate>" + std::to_string(value) + "</StepJogRate>") != std::string::npos;
    return true;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int RunSaveBench(const std::string& dll) {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir) + "hostsim-bench-save.xml";
    std::printf(
        "%d-bit build. The configuration dialog on a host profile of each size, the feed rate "
        "changed and confirmed; median of 3 runs (ms).\n\n"
        "| profile | start-up (SetProName, PostInitControl) | Config until the dialog shows | "
        "OK until Config returns | the same, the host having written the profile meanwhile | "
        "saved |\n|---|---|---|---|---|---|\n",
        static_cast<int>(sizeof(void*) * 8));
    const struct {
        const char* label;
        std::size_t bytes;
    } sizes[] = {{"10 KB", 10 * 1024}, {"1 MB", 1024 * 1024}, {"5 MB", 5 * 1024 * 1024}};
    for (const auto& s : sizes) {
        const std::string bytes = Profile(s.bytes);
        std::vector<double> start, open, save, saveChanged;
        bool written = true;
        for (int run = 0; run < 6; ++run) {
            Timing t;
            if (!RunOnce(dll, path, bytes, 200 + run, run >= 3, t)) return 1;
            if (run < 3) {
                start.push_back(t.start);
                open.push_back(t.open);
                save.push_back(t.save);
            } else {
                saveChanged.push_back(t.save);
            }
            written = written && t.written;
        }
        std::printf("| %s | %.0f | %.0f | %.0f | %.0f | %s |\n", s.label, Median(start),
                    Median(open), Median(save), Median(saveChanged), written ? "yes" : "NO");
        std::fflush(stdout);
    }
    DeleteFileA(path.c_str());
    return 0;
}

}  // namespace hostsim
