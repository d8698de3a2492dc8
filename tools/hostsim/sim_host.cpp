#include "hostsim/sim_host.h"

#include <cstdlib>
#include <cstring>

#include "hostsim/device_hooks.h"
#include "hostsim/trace.h"

namespace hostsim {

namespace {

SimHost* g_current = nullptr;

// Field writes the plug-in made before this callback come first.
void Flush() {
    if (g_current) g_current->FlushWrites();
}

void CheckLive(const std::string& what) {
    if (g_current) g_current->CheckLive(what);
}

void Inside(const char* callback, const std::string& argument) {
    if (g_current && g_current->inside) g_current->inside(callback, argument);
}

void HK4_CDECL OnDoButton(int32_t code) {
    const SimulatorTime host;
    Flush();
    const std::string line = Format("< DoButton %d", code);
    CheckLive(line);
    TheTrace().Line(line);
    TheTrace().Record(line);
    Inside("DoButton", std::to_string(code));
}

void HK4_CDECL OnSetDRO(int32_t number, double value) {
    const SimulatorTime host;
    Flush();
    CheckLive(Format("< SetDRO %d", number));
    TheTrace().Line(Format("< SetDRO %d %.10g", number, value));
    if (TheTrace().Recording()) TheTrace().Record(Format("< SetDRO %d %.17g", number, value));
    if (g_current) g_current->dros[number] = value;
}

double HK4_CDECL OnGetDRO(int32_t number) {
    const SimulatorTime host;
    double value = 0.0;
    if (g_current) {
        Flush();
        CheckLive(Format("< GetDRO %d", number));
        auto it = g_current->dros.find(number);
        if (it != g_current->dros.end()) value = it->second;
        if (g_current->traceReads || (number == 818 && g_current->traceSnapshotReads))
            TheTrace().Line(Format("< GetDRO %d -> %.10g", number, value));
        Inside("GetDRO", std::to_string(number));
    }
    return value;
}

uint8_t HK4_CDECL OnGetLED(int32_t number) {
    const SimulatorTime host;
    uint8_t value = 0;
    if (g_current) {
        Flush();
        CheckLive(Format("< GetLED %d", number));
        auto it = g_current->leds.find(number);
        if (it != g_current->leds.end()) value = it->second;
        if (g_current->traceReads) TheTrace().Line(Format("< GetLED %d -> %d", number, value));
        Inside("GetLED", std::to_string(number));
    }
    return value;
}

void HK4_CDECL OnSetLED(int32_t number, bool on) {
    const SimulatorTime host;
    Flush();
    CheckLive(Format("< SetLED %d", number));
    TheTrace().Line(Format("< SetLED %d %d", number, on ? 1 : 0));
}

void HK4_CDECL OnCode(const char* line) {
    const SimulatorTime host;
    Flush();
    const std::string text = "< Code " + Quote(line);
    CheckLive(text);
    TheTrace().Line(text);
    TheTrace().Record(text);
    Inside("Code", line ? line : "");
}

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND CreateParentWindow() {
    static ATOM atom = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "HostSimMainWindow";
        return RegisterClassA(&wc);
    }();
    (void)atom;
    return CreateWindowExA(0, "HostSimMainWindow", "Host simulator", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                           200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

SimHost::SimHost()
    : motion_(static_cast<unsigned char*>(std::calloc(1, hk4::kMotionBlockSize))),
      options_(static_cast<unsigned char*>(std::calloc(1, hk4::kOptionsBlockSize))),
      planner_(static_cast<unsigned char*>(std::calloc(1, hk4::kPlannerBlockSize))) {
    parentWindow_ = CreateParentWindow();
    const int32_t handle = static_cast<int32_t>(reinterpret_cast<intptr_t>(parentWindow_));
    std::memcpy(parentObject_ + 28, &handle, sizeof handle);
    view_.blocks = hk4::HostBlocks{motion(), options(), planner(), parentObject_};
    watch_.Take(view_);
    exactWatch_.Take(view_);

    // The message line starts as an empty, unshared string.
    hk4::HostStringData* empty = strings_.Allocate(0, 1);
    char* chars = empty->chars();
    std::memcpy(planner_.get() + hk4::fields::StatusTextOffset, &chars, sizeof chars);
    g_current = this;
}

SimHost::~SimHost() {
    char* chars = nullptr;
    std::memcpy(&chars, planner_.get() + hk4::fields::StatusTextOffset, sizeof chars);
    if (chars) {
        hk4::HostStringData* data = reinterpret_cast<hk4::HostStringData*>(chars) - 1;
        data->manager->Free(data);
    }
    if (parentWindow_) DestroyWindow(parentWindow_);
    if (g_current == this) g_current = nullptr;
}

std::string SimHost::StatusText() const {
    char* chars = nullptr;
    std::memcpy(&chars, planner_.get() + hk4::fields::StatusTextOffset, sizeof chars);
    if (!chars) return std::string();
    const hk4::HostStringData* data = reinterpret_cast<const hk4::HostStringData*>(chars) - 1;
    return std::string(chars, static_cast<std::size_t>(data->length));
}

void SimHost::InstallCallbacks(const hostside::PluginApi& api) {
    api.SetDoButton(OnDoButton);
    api.SetSetDRO(OnSetDRO);
    api.SetGetDRO(OnGetDRO);
    api.SetGetLED(OnGetLED);
    api.SetSetLED(OnSetLED);
    api.SetCode(OnCode);
}

void SimHost::CheckLive(const std::string& what) {
    if (released && fault) fault(what + " " + releasedBy);
}

void SimHost::FlushWrites() {
    if (!TheTrace().Enabled()) return;
    for (const std::string& line : watch_.Changes(view_)) {
        ++writesSeen;
        const bool stop = line.compare(0, 16, "< write JogStop[") == 0 &&
                          line.compare(line.size() - 4, 4, " = 1") == 0;
        if (!(stop && stopsAllowed)) CheckLive(line);
        TheTrace().Line(line);
    }
    if (TheTrace().Recording())
        for (const std::string& line : exactWatch_.Changes(view_)) TheTrace().Record(line);
    const std::string status = StatusText();
    if (status != lastStatus_) {
        CheckLive("< message");
        lastStatus_ = status;
        TheTrace().Line("< message " + Quote(status.c_str()));
    }
}

bool SimHost::SetField(const std::string& name, double value) {
    const NamedField* f = FindHostField(name);
    if (!f) return false;
    FlushWrites();
    WriteField(view_, *f, value);
    watch_.Take(view_);
    exactWatch_.Take(view_);
    return true;
}

SimHost* SimHost::Current() {
    return g_current;
}

}  // namespace hostsim
