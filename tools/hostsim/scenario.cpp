#include "hostsim/scenario.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "hostsim/device_hooks.h"
#include "hostsim/device_model.h"
#include "hostsim/expect.h"
#include "hostsim/host_loop.h"
#include "hostsim/import_patch.h"
#include "hostside/plugin_api.h"
#include "hostsim/record_sizes.h"
#include "hostsim/sim_host.h"
#include "hostsim/soak.h"
#include "hostsim/trace.h"
#include "input/jog_watchdog.h"

namespace hostsim {

namespace {

using Tokens = std::vector<std::string>;
using Guard = std::lock_guard<std::recursive_mutex>;

struct BadLine {
    std::string message;
};

// Words, with "double quoted" words kept whole (no escapes: device paths are
// full of backslashes). A word starting with # ends the line.
Tokens Tokenize(const std::string& line) {
    Tokens out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
            if (line[i] == '"') {
                const std::size_t close = line.find('"', i + 1);
                if (close == std::string::npos) throw BadLine{"unclosed quote"};
                word += line.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                word += line[i++];
            }
        }
        out.push_back(word);
    }
    return out;
}

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    const std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

long Integer(const std::string& word, int base = 0) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(word.c_str(), &end, base);
    if (word.empty() || *end != '\0' || errno != 0) throw BadLine{"not a number: " + word};
    return v;
}

double Number(const std::string& word) {
    char* end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0') throw BadLine{"not a number: " + word};
    return v;
}

Micros Millis(const std::string& word) {
    const double ms = Number(word);
    if (ms < 0) throw BadLine{"negative time: " + word};
    return static_cast<Micros>(ms * kMs + 0.5);
}

bool OnOff(const std::string& word, const char* on, const char* off) {
    if (word == on) return true;
    if (word == off) return false;
    throw BadLine{std::string("expected ") + on + " or " + off + ", not " + word};
}

const std::string& Arg(const Tokens& t, std::size_t i) {
    if (i >= t.size()) throw BadLine{"missing argument after " + t.back()};
    return t[i];
}

// key=value words after position `from`.
std::string Option(const Tokens& t, std::size_t from, const std::string& key,
                   const std::string& fallback) {
    for (std::size_t i = from; i < t.size(); ++i)
        if (t[i].compare(0, key.size() + 1, key + "=") == 0) return t[i].substr(key.size() + 1);
    return fallback;
}

std::string DefaultPath(uint16_t vid, uint16_t pid, int n) {
    return Format(
        "\\\\?\\hid#vid_%04x&pid_%04x#7&1f2e%04x&0&0000#"
        "{4d1e55b2-f16f-11cf-88cb-001111000030}",
        vid, pid, n);
}

std::string TempProfilePath() {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return Format("%shostsim-%lu-profile.xml", dir,
                  static_cast<unsigned long>(GetCurrentProcessId()));
}

class Runner {
  public:
    Runner(std::string file, std::string dll, const ScenarioOptions& options)
        : file_(std::move(file)), dll_(std::move(dll)), options_(options) {}

    int Run();

  private:
    void Execute(const Tokens& t);
    void Repeat(const Tokens& t);
    void Soak(const Tokens& t);
    void Counters(const Tokens& t);
    void Allocations(const Tokens& t);
    void Sweep(const Tokens& t);
    void Inside(const char* callback, const std::string& argument);
    void FinishInsideStop();
    void Unload();
    void Hold(const Tokens& t);
    void SoakHold(Micros span, Micros lastStepsAt, JogWatch& watch);
    void DeviceCommand(std::size_t device, const Tokens& t, std::size_t at, Micros when);
    std::function<void()> DeviceAction(std::size_t device, const Tokens& t, std::size_t at);
    void ExpectBlock(const Tokens& t);
    void Start();
    void Call(const std::string& entry, const Tokens& t = {});
    void Stop();
    void Tick();
    void Update();
    void AfterDispatch();
    void Settle(Micros until);
    void RunFor(Micros span);
    long Device(const std::string& name);
    TimerRecord* LiveTimer();
    void Fail(const std::string& what);

    std::string file_, dll_;
    ScenarioOptions options_;
    std::vector<std::string> lines_;
    std::size_t cursor_ = 0;  // index of the line being run
    std::unique_ptr<DeviceModel> model_;
    std::unique_ptr<SimHost> host_;
    std::unique_ptr<PendantThread> pendant_;
    hostside::PluginApi api_;
    ImportPatch patch_, heapPatch_;
    std::string profile_;
    bool installed_ = false, started_ = false, stopped_ = false, realtime_ = false, xp_ = false;
    bool unloaded_ = false;  // "unload": the library is gone
    HWND pluginWindow_ = nullptr;
    std::size_t checkpoint_ = 0;
    int ticks_ = 0, expectations_ = 0;
    Micros lastTickAt_ = 0;
    DWORD cycleMs_ = 10;
    std::vector<std::string> failures_;
    ProcessCounters mark_;
    bool marked_ = false;
    // "inside CALLBACK ARGUMENT ACTION": run once, inside that callback.
    struct InsideAction {
        std::string callback, argument;
        Tokens action;
    };
    std::vector<InsideAction> inside_;
    bool stopInside_ = false;  // StopPlug ran inside a callback: checked afterwards
    std::string profileMark_;
    bool profileMarked_ = false;
};

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(no file)";
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Runner::Fail(const std::string& what) {
    const std::string text = Format("%s:%zu: %s", file_.c_str(), cursor_ + 1, what.c_str());
    failures_.push_back(text);
    // In the flow of the trace too, where it happened.
    if (options_.echo) std::printf("FAIL %s\n", text.c_str());
}

long Runner::Device(const std::string& name) {
    for (std::size_t i = 0; i < model_->devices.size(); ++i)
        if (model_->devices[i].name == name) return static_cast<long>(i);
    return -1;
}

TimerRecord* Runner::LiveTimer() {
    for (TimerRecord& t : model_->timers) {
        if (t.live && !IsWindow(t.window)) {
            t.live = false;  // a window's timers end with it
            TheTrace().Line("~ the timer of " + model_->WindowLabel(t.window) +
                            " ended with its window");
        }
        if (t.live) return &t;
    }
    return nullptr;
}

void Runner::AfterDispatch() {
    host_->FlushWrites();
    DeliverBroadcasts();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    host_->FlushWrites();
}

// Moves the virtual clock to `until`; broadcasts that became due reach the
// windows before anything else happens.
void Runner::Settle(Micros until) {
    {
        Guard g(model_->lock);
        model_->AdvanceTo(until, true);
    }
    model_->LetSleepersRun();
    AfterDispatch();
}

void Runner::Tick() {
    if (realtime_) throw BadLine{"tick is for stepped mode; use run in real time"};
    TimerRecord* t = LiveTimer();
    if (!t) {
        TheTrace().Line("~ tick: no timer is running");
        return;
    }
    const Micros due = std::max(model_->Now(), t->nextDue);
    Settle(due);
    t = LiveTimer();  // the broadcasts may have ended it
    if (!t) {
        TheTrace().Line("~ tick: no timer is running");
        return;
    }
    const HWND window = t->window;
    const UINT_PTR id = t->id;
    t->nextDue = due + Micros{t->period} * kMs;
    ++ticks_;
    lastTickAt_ = due;
    TheTrace().Line(Format("~ tick %d at %s", ticks_, FormatMs(due).c_str()));
    SendMessageA(window, WM_TIMER, id, 0);
    AfterDispatch();
}

void Runner::Update() {
    // A host that unloaded the library calls nothing of it.
    if (unloaded_) return;
    TheTrace().Line("> Update");
    api_.Update();
    AfterDispatch();
}

// Stepped: ticks when the timer is due and one Update per host cycle, in
// time order. Real time: the host's own loop.
void Runner::RunFor(Micros span) {
    if (realtime_) {
        LoopOptions o;
        o.ms = static_cast<DWORD>(span / kMs);
        o.cycleMs = cycleMs_;
        RunHostLoop(api_, *host_, o);
        return;
    }
    const Micros end = model_->Now() + span;
    Micros nextUpdate = model_->Now() + Micros{cycleMs_} * kMs;
    for (;;) {
        TimerRecord* t = LiveTimer();
        const Micros tick = t ? std::max(model_->Now(), t->nextDue) : end + 1;
        const Micros next = std::min(tick, nextUpdate);
        if (next > end) break;
        if (tick <= nextUpdate) {
            Tick();
        } else {
            Settle(nextUpdate);
            Update();
            nextUpdate += Micros{cycleMs_} * kMs;
        }
    }
    Settle(end);
}

void Runner::Call(const std::string& entry, const Tokens& t) {
    if (unloaded_) throw BadLine{"the library is unloaded"};
    Trace& trace = TheTrace();
    if (entry == "install-callbacks") {
        trace.Line("> SetDoButton, SetSetDRO, SetGetDRO, SetGetLED, SetSetLED, SetCode");
        host_->InstallCallbacks(api_);
        installed_ = true;
    } else if (entry == "SetProName") {
        trace.Line("> SetProName \"<profile>\"");
        trace.Line("= " + Quote(api_.SetProName(profile_.c_str())));
    } else if (entry == "InitControl") {
        trace.Line("> InitControl");
        host_->released = false;
        host_->releasedBy = "after StopPlug returned";
        const bool ok = api_.InitControl(host_->motion(), host_->options(), host_->planner(),
                                         host_->parentObject());
        trace.Line(ok ? "= true" : "= false");
        // The new child; a window of an earlier InitControl may still be
        // there (destroyed once the handler it was called from returns).
        HWND found = nullptr;
        for (HWND child = FindWindowExA(host_->parentWindow(), nullptr, nullptr, nullptr); child;
             child = FindWindowExA(host_->parentWindow(), child, nullptr, nullptr))
            if (!found || found == pluginWindow_) found = child;
        pluginWindow_ = found;
        if (pluginWindow_) {
            RECT r{};
            GetWindowRect(pluginWindow_, &r);
            MapWindowPoints(nullptr, host_->parentWindow(), reinterpret_cast<POINT*>(&r), 2);
            char title[64] = {};
            GetWindowTextA(pluginWindow_, title, sizeof title);
            Guard g(model_->lock);
            trace.Line(Format(
                "~ %s created: parent=host style=0x%08lX rect=%ld,%ld,%ld,%ld id=%d "
                "title=%s",
                model_->WindowLabel(pluginWindow_).c_str(),
                static_cast<unsigned long>(GetWindowLongPtrA(pluginWindow_, GWL_STYLE)), r.left,
                r.top, r.right, r.bottom, GetDlgCtrlID(pluginWindow_), Quote(title).c_str()));
        } else {
            trace.Line("~ no child window of host");
        }
    } else if (entry == "PostInitControl") {
        trace.Line("> PostInitControl");
        api_.PostInitControl();
        started_ = true;
    } else if (entry == "Update") {
        Update();
        return;
    } else if (entry == "StopPlug") {
        Stop();
        return;
    } else if (entry == "Config") {
        // The dialog is modal: a second thread closes it as Esc (or Enter) would.
        const bool ok = std::find(t.begin(), t.end(), "ok") != t.end();
        trace.Line(ok ? "> Config (closed with OK)" : "> Config (closed with Esc)");
        if (RunClosingDialog(api_.Config, L"Configuration", ok ? IDOK : IDCANCEL) == 0)
            trace.Line("~ no Configuration dialog appeared");
    } else {
        static const char* const kEmpty[] = {"DoDwell", "Reset", "JogOn", "JogOff",
                                             "Purge",   "Probe", "Home"};
        for (std::size_t i = 0; i < 7; ++i) {
            if (entry != kEmpty[i]) continue;
            trace.Line("> " + entry);
            void (*fns[])() = {api_.DoDwell, api_.Reset, api_.JogOn, api_.JogOff,
                               api_.Purge,   api_.Probe, api_.Home};
            fns[i]();
            AfterDispatch();
            return;
        }
        throw BadLine{"no such entry point: " + entry};
    }
    AfterDispatch();
}

// The host, inside a callback of the plug-in, does what the scenario said and
// then lets the pending window messages through, as a host whose callback
// pumps messages would.
void Runner::Inside(const char* callback, const std::string& argument) {
    for (auto it = inside_.begin(); it != inside_.end(); ++it) {
        // "*": whatever the argument (a soak's callbacks).
        if (it->callback != callback || (it->argument != "*" && it->argument != argument)) continue;
        const Tokens action = it->action;
        inside_.erase(it);
        std::string words;
        for (const std::string& w : action) words += (words.empty() ? "" : " ") + w;
        TheTrace().Line(
            Format("~ inside %s %s: %s", callback, Quote(argument.c_str()).c_str(), words.c_str()));
        if (action.size() == 2 && action[0] == "call" && action[1] == "StopPlug") {
            // Checked once the plug-in's frames below have returned.
            TheTrace().Line("> StopPlug");
            api_.StopPlug();
            host_->FlushWrites();
            host_->released = true;
            TheTrace().Line("~ StopPlug returned");
            stopped_ = stopInside_ = true;
            AfterDispatch();
        } else {
            Execute(action);
            AfterDispatch();
        }
        return;
    }
}

// The host unloads the library without StopPlug. Under the loader lock the
// plug-in may not call the host (a fault), wait (the wait's trace line
// shows it) or destroy its window (traced right after FreeLibrary); its
// window may go once the messages are let through.
void Runner::Unload() {
    if (unloaded_) throw BadLine{"unload: the library is unloaded already"};
    TheTrace().Line("> FreeLibrary");
    host_->FlushWrites();
    host_->released = true;
    host_->releasedBy = "while the library was unloaded without StopPlug";
    // The stop of a jog it ran is the one write the library may still make
    // before FreeLibrary returns; after that, nothing.
    host_->stopsAllowed = true;
    const HMODULE module = api_.module;
    FreeLibrary(module);
    host_->FlushWrites();
    host_->stopsAllowed = false;
    host_->releasedBy = "after the library was unloaded without StopPlug";
    char path[MAX_PATH];
    if (GetModuleFileNameA(module, path, MAX_PATH) != 0) {
        // A thread of the plug-in holds the library: it is not unloaded, and
        // what the plug-in does from now on is not done after an unload.
        TheTrace().Line("~ after FreeLibrary: the library is still loaded");
        host_->released = false;
    }
    api_ = hostside::PluginApi{};
    // Its import slots went with it.
    patch_.Forget();
    heapPatch_.Forget();
    unloaded_ = true;
    const HWND window = pluginWindow_;
    std::string label;
    {
        Guard g(model_->lock);
        label = model_->WindowLabel(window);
    }
    const bool was = window && IsWindow(window);
    TheTrace().Line(Format("~ after FreeLibrary: %s %s", label.c_str(),
                           was ? "still exists" : "was destroyed"));
    AfterDispatch();
    if (was)
        TheTrace().Line(Format("~ %s %s once messages were let through", label.c_str(),
                               IsWindow(window) ? "still exists" : "is gone"));
}

// "hold MS [first-write=MS tolerance=MS]": the host's thread is held for MS
// milliseconds of real time without letting a message through (a long
// redraw, a script, a debugger). Only another thread of the plug-in can act
// meanwhile: its writes into the host's blocks are traced as they are seen,
// every millisecond, and the time of the first one, from the hold's start,
// is traced against the expected time and tolerance. In stepped mode the
// virtual clock moves on with the real one meanwhile, without a tick.
void Runner::Hold(const Tokens& t) {
    const Micros span = Millis(Arg(t, 1));
    const long expected = Integer(Option(t, 2, "first-write", "-1"));
    const long tolerance = Integer(Option(t, 2, "tolerance", "0"));
    // Stepped: the virtual clock follows the real one through the hold, and
    // the plug-in's other threads get their turn as it moves.
    const Micros virtualStart = model_->Now();
    HoldHostThread(*host_, span, expected, tolerance, [&](Micros at) {
        if (realtime_) return;
        {
            Guard g(model_->lock);
            model_->AdvanceTo(virtualStart + at, true);
        }
        model_->LetSleepersRun();
    });
}

// A soak's hold of the host's thread (see Hold): no jog may run past the
// deadman's time since the last poll with wheel steps, with the tolerance of
// the hold scenarios.
void Runner::SoakHold(Micros span, Micros lastStepsAt, JogWatch& watch) {
    constexpr Micros kToleranceMs = 80;
    const Micros start = model_->Now();
    LARGE_INTEGER frequency, begin, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    for (Micros at = 0;;) {
        {
            Guard g(model_->lock);
            model_->AdvanceTo(start + at, true);
        }
        model_->LetSleepersRun();
        host_->FlushWrites();
        const Micros since = model_->Now() - lastStepsAt;
        if (since > (Micros{hk4::kJogDeadlineMs} + kToleranceMs) * kMs) watch.Held(since / kMs);
        if (at >= span) break;
        Sleep(1);
        QueryPerformanceCounter(&now);
        at = std::min(span, static_cast<Micros>((now.QuadPart - begin.QuadPart) * 1000000 /
                                                frequency.QuadPart));
    }
}

void Runner::FinishInsideStop() {
    if (!stopInside_) return;
    stopInside_ = false;
    AfterDispatch();
    Guard g(model_->lock);
    model_->CheckAfterStop(pluginWindow_);
}

// "allocations fail [after=N]": the plug-in's next allocation fails (the
// one after N more); "allocations work": the injection ends, and the trace
// says whether an allocation was refused meanwhile.
void Runner::Allocations(const Tokens& t) {
    const std::string& how = Arg(t, 1);
    if (how == "fail") {
        const long long after = Integer(Option(t, 2, "after", "0"), 10);
        FailAllocations(true, after);
        TheTrace().Line(after ? Format("~ allocations fail after %lld", after)
                              : std::string("~ allocations fail"));
    } else if (how == "work") {
        FailAllocations(false);
        const AllocationFailures f = TakeAllocationFailures();
        TheTrace().Line(Format("# allocations: %lld granted, %lld refused", f.granted, f.refused));
        TheTrace().Line(f.refused ? "~ allocations work again, some were refused"
                                  : "~ allocations work again, none was refused");
    } else {
        throw BadLine{"allocations fail [after=N] or allocations work"};
    }
}

// "sweep" ... "end": runs the lines of the body again and again, the first
// allocation of the plug-in failing in the first round, the second in the
// second, and so on, until a round runs through with no allocation refused.
// The rounds' trace is watched, not kept: the distinct results of the
// entry points ("=" lines) and notes of what was missing ("~ no ...") are
// traced after the sweep; faults count as always. Every round with a
// refusal must leave the profile file as it found it.
void Runner::Sweep(const Tokens& t) {
    if (t.size() != 1) throw BadLine{"sweep, then the lines to run, then end"};
    const std::size_t first = cursor_ + 1;
    std::size_t last = first;
    for (;; ++last) {
        if (last >= lines_.size()) throw BadLine{"sweep without end"};
        const Tokens body = Tokenize(lines_[last]);
        if (body.size() == 1 && body[0] == "end") break;
        if (!body.empty() && (body[0] == "expect" || body[0] == "repeat" || body[0] == "sweep" ||
                              body[0] == "allocations"))
            throw BadLine{"no " + body[0] + " inside sweep"};
    }
    std::vector<std::string> results;
    struct Sink {
        explicit Sink(std::vector<std::string>& out) {
            TheTrace().SetSink([&out](const std::string& line) {
                const bool result = line.compare(0, 2, "= ") == 0 ||
                                    line.compare(0, 5, "~ no ") == 0 ||
                                    line.compare(0, 6, "error:") == 0;
                if (result && std::find(out.begin(), out.end(), line) == out.end())
                    out.push_back(line);
            });
        }
        ~Sink() { TheTrace().SetSink(nullptr); }
    };
    const int errorsBefore = model_->errors;
    long long rounds = 0, changed = 0, granted = 0;
    for (long long n = 0;; ++n) {
        if (n > 100000) throw BadLine{"sweep: the body never runs through"};
        bool refused = false;
        const std::string before = FileBytes(profile_);
        {
            const Sink sink(results);
            FailAllocations(true, n);
            for (cursor_ = first; cursor_ < last; ++cursor_) {
                const Tokens body = Tokenize(lines_[cursor_]);
                if (!body.empty()) Execute(body);
                FinishInsideStop();
            }
            FailAllocations(false);
            const AllocationFailures f = TakeAllocationFailures();
            refused = f.refused > 0;
            granted += f.granted;
        }
        if (!refused) break;
        ++rounds;
        if (FileBytes(profile_) != before) ++changed;
    }
    cursor_ = last;
    for (const std::string& line : results) TheTrace().Line(line);
    TheTrace().Line(Format("# sweep: %lld allocations granted in all", granted));
    TheTrace().Line(Format("~ sweep: %lld rounds, one allocation refused in each", rounds));
    if (rounds == 0) Fail("sweep: no allocation was refused; the body exercised nothing");
    if (changed)
        Fail(Format("sweep: %lld rounds with a refused allocation changed the profile", changed));
    if (model_->errors > errorsBefore)
        Fail(Format("sweep: %d faults", model_->errors - errorsBefore));
}

void Runner::Start() {
    if (!installed_) Call("install-callbacks");
    Call("SetProName");
    Call("InitControl");
    Call("PostInitControl");
}

void Runner::Stop() {
    if (unloaded_) throw BadLine{"the library is unloaded"};
    TheTrace().Line("> StopPlug");
    api_.StopPlug();
    host_->FlushWrites();
    host_->released = true;
    AfterDispatch();
    stopped_ = true;
    Guard g(model_->lock);
    model_->CheckAfterStop(pluginWindow_);
}

std::function<void()> Runner::DeviceAction(std::size_t device, const Tokens& t, std::size_t at) {
    DeviceModel* m = model_.get();
    const std::string& verb = Arg(t, at);
    auto controls = [m, device](std::function<void(uint8_t*)> change) {
        return [m, device, change] {
            change(m->devices[device].state);
            m->ControlsChanged(device);
        };
    };
    if (verb == "wheel") {
        const std::string& v = Arg(t, at + 1);
        const long n = Integer(v, 10);
        const bool relative = v[0] == '+' || v[0] == '-';
        return controls(
            [n, relative](uint8_t* s) { s[1] = static_cast<uint8_t>(relative ? s[1] + n : n); });
    }
    if (verb == "speed" || verb == "function") {
        const uint8_t v = static_cast<uint8_t>(Integer(Arg(t, at + 1)));
        const int byte = verb == "speed" ? 2 : 4;
        return controls([v, byte](uint8_t* s) { s[byte] = v; });
    }
    if (verb == "axis") {
        const std::string& v = Arg(t, at + 1);
        static const char* const kNames[] = {"OFF", "X", "Y", "Z", "A", "B"};
        long value = -1;
        for (int i = 0; i < 6; ++i)
            if (v == kNames[i]) value = i;
        if (value < 0) value = Integer(v);
        // The whole byte, when given as a number above 15.
        const bool whole = value > 0x0F;
        return controls([value, whole](uint8_t* s) {
            s[3] = static_cast<uint8_t>(whole ? value : (s[3] & 0x30) | value);
        });
    }
    if (verb == "inhibit" || verb == "button") {
        const bool on = verb == "inhibit" ? OnOff(Arg(t, at + 1), "on", "off")
                                          : OnOff(Arg(t, at + 1), "down", "up");
        const uint8_t bit = verb == "inhibit" ? 0x10 : 0x20;
        return controls(
            [on, bit](uint8_t* s) { s[3] = static_cast<uint8_t>(on ? s[3] | bit : s[3] & ~bit); });
    }
    if (verb == "raw") {
        if (t.size() != at + 1 + kInputReportBytes) throw BadLine{"raw takes 8 hex bytes"};
        std::vector<uint8_t> bytes;
        for (std::size_t i = 0; i < kInputReportBytes; ++i)
            bytes.push_back(static_cast<uint8_t>(Integer(t[at + 1 + i], 16)));
        return controls([bytes](uint8_t* s) { std::copy(bytes.begin(), bytes.end(), s); });
    }
    if (verb == "report") return [m, device] { m->Produce(device); };
    if (verb == "reports") {
        const std::string& how = Arg(t, at + 1);
        if (how == "on-change")
            return [m, device] { m->SetPolicy(device, ReportPolicy::OnChange, 0); };
        if (how == "off") return [m, device] { m->SetPolicy(device, ReportPolicy::Off, 0); };
        Micros period = 0;
        if (how == "every")
            period = Millis(Arg(t, at + 2));
        else if (how == "per-second")
            period = static_cast<Micros>(1000000.0 / Number(Arg(t, at + 2)));
        else
            throw BadLine{"reports on-change, off, every MS or per-second N"};
        if (period <= 0) throw BadLine{"a report period must be positive"};
        return [m, device, period] { m->SetPolicy(device, ReportPolicy::Periodic, period); };
    }
    if (verb == "reads") {
        const std::string& how = Arg(t, at + 1);
        ReadMode mode;
        Micros late = 0;
        if (how == "immediate")
            mode = ReadMode::Immediate;
        else if (how == "never")
            mode = ReadMode::Never;
        else if (how == "fail")
            mode = ReadMode::Fail;
        else if (how == "late")
            mode = ReadMode::Late, late = Millis(Arg(t, at + 2));
        else
            throw BadLine{"reads immediate, late MS, never or fail"};
        return [m, device, mode, late] {
            m->devices[device].readMode = mode;
            m->devices[device].lateBy = late;
            m->CompleteReads();
        };
    }
    if (verb == "opens") {
        const bool fail = OnOff(Arg(t, at + 1), "fail", "ok");
        std::vector<std::string> kinds(t.begin() + static_cast<long>(at) + 2, t.end());
        if (kinds.empty()) kinds = {"all"};
        for (const std::string& k : kinds)
            if (k != "probe" && k != "read" && k != "write" && k != "all")
                throw BadLine{"opens fail|ok probe|read|write|all"};
        return [m, device, fail, kinds] {
            VirtualDevice& d = m->devices[device];
            for (const std::string& k : kinds) {
                if (k == "probe" || k == "all") d.failProbeOpen = fail;
                if (k == "read" || k == "all") d.failReadOpen = fail;
                if (k == "write" || k == "all") d.failWriteOpen = fail;
            }
        };
    }
    if (verb == "writes" && Arg(t, at + 1) == "hold") {
        const Micros hold = at + 2 < t.size() ? Millis(t[at + 2]) : -1;
        return [m, device, hold] {
            m->devices[device].holdWrites = true;
            m->devices[device].writeHold = hold;
        };
    }
    if (verb == "writes" && Arg(t, at + 1) == "ok") {
        // Writes held until now are taken at once.
        return [m, device] {
            m->devices[device].failWrites = false;
            m->devices[device].holdWrites = false;
            m->ReleaseWrites(device);
        };
    }
    if (verb == "attributes" || verb == "writes") {
        const bool fail = OnOff(Arg(t, at + 1), "fail", "ok");
        const bool attributes = verb == "attributes";
        return [m, device, fail, attributes] {
            (attributes ? m->devices[device].failAttributes : m->devices[device].failWrites) = fail;
        };
    }
    if (verb == "unplug") {
        std::string as;
        if (at + 1 < t.size()) {
            if (t[at + 1] == "upper")
                as = "upper";
            else if (t[at + 1] == "as")
                as = Arg(t, at + 2);
            else
                throw BadLine{"unplug [upper | as PATH]"};
        }
        return [m, device, as] {
            std::string path = as;
            if (as == "upper") {
                path = m->devices[device].path;
                for (char& c : path)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            m->Unplug(device, path);
        };
    }
    if (verb == "plug") {
        const std::string path = at + 1 < t.size() ? Option(t, at + 1, "path", t[at + 1]) : "";
        return [m, device, path] { m->Plug(device, path); };
    }
    throw BadLine{"unknown pendant action: " + verb};
}

void Runner::DeviceCommand(std::size_t device, const Tokens& t, std::size_t at, Micros when) {
    std::function<void()> action = DeviceAction(device, t, at);
    if (when >= 0) {
        Guard g(model_->lock);
        model_->Schedule(when, std::move(action));
        return;
    }
    {
        Guard g(model_->lock);
        action();
    }
    // An unplug or plug-in reaches the windows at once.
    AfterDispatch();
}

void Runner::ExpectBlock(const Tokens& t) {
    Expectation e;
    std::size_t sel = 1;
    if (t.size() > 1 && t[1] == "only") {
        sel = 2;
    } else if (t.size() > 1 && t[1] == "has") {
        e.kind = ExpectKind::Has;
        sel = 2;
    } else if (t.size() > 1 && t[1] == "none") {
        e.kind = ExpectKind::None;
        sel = 2;
        if (t.size() < 3) throw BadLine{"expect none needs the kinds of line"};
    } else if (t.size() > 1) {
        throw BadLine{"expect, expect only KINDS, expect has [KINDS] or expect none KINDS"};
    }
    e.selectors.assign(t.begin() + static_cast<long>(sel), t.end());
    const std::size_t first = cursor_;
    if (e.kind != ExpectKind::None) {
        for (;;) {
            if (++cursor_ >= lines_.size()) {
                cursor_ = first;
                throw BadLine{"expect block without end"};
            }
            const std::string line = Trim(lines_[cursor_]);
            if (line == "end") break;
            if (line.empty() || line.compare(0, 2, "//") == 0) continue;
            std::string expanded, error;
            if (!ExpandRecordSizes(line, expanded, error)) throw BadLine{error};
            e.lines.push_back(expanded);
        }
    }
    const std::vector<std::string> all = TheTrace().Lines();
    const std::vector<std::string> window(
        all.begin() + static_cast<long>(std::min(checkpoint_, all.size())), all.end());
    checkpoint_ = all.size();
    ++expectations_;
    std::string report;
    if (!Check(e, window, report)) {
        const std::size_t at = cursor_;
        cursor_ = first;
        Fail("expectation failed: " + Trim(lines_[first]) + "\n" + report);
        cursor_ = at;
    }
}

// "repeat N" runs the lines up to the next "end" N times. The body holds
// plain commands only: an expectation belongs after the loop, over the
// trace of all its rounds.
void Runner::Repeat(const Tokens& t) {
    const long times = Integer(Arg(t, 1), 10);
    if (times < 0) throw BadLine{"repeat takes a count of 0 or more"};
    const std::size_t first = cursor_ + 1;
    std::size_t last = first;
    for (;; ++last) {
        if (last >= lines_.size()) throw BadLine{"repeat without end"};
        const Tokens body = Tokenize(lines_[last]);
        if (body.size() == 1 && body[0] == "end") break;
        if (!body.empty() && (body[0] == "expect" || body[0] == "repeat"))
            throw BadLine{"no " + body[0] + " inside repeat"};
    }
    for (long round = 0; round < times; ++round) {
        for (cursor_ = first; cursor_ < last; ++cursor_) {
            const Tokens body = Tokenize(lines_[cursor_]);
            if (!body.empty()) Execute(body);
        }
    }
    cursor_ = last;
}

// "soak DEVICE TICKS [seed=N] [rest=K] [selectors=any|resting]
// [cycles=steady|random] [jog-switch=on|random]": TICKS polls of random input
// (see RandomPendant), each followed by 25 ms of host cycles and its tick
// (cycles=random: 0 to 5 Update calls, then the tick), watched by the host's
// side of jogs and removals; then K polls of rest. With jog-switch=random the
// host's jog switch (LED 83) flips now and then. The trace of the run is only
// watched, not kept.
void Runner::Soak(const Tokens& t) {
    const std::string& device = Arg(t, 1);
    if (Device(device) < 0) throw BadLine{"no device " + device};
    if (realtime_ || !started_) throw BadLine{"soak runs in stepped mode after start"};
    const long ticks = Integer(Arg(t, 2), 10);
    const long seed = Integer(Option(t, 3, "seed", "1"), 10);
    const int restLimit = static_cast<int>(Integer(Option(t, 3, "rest", "8"), 10));
    const std::string selectors = Option(t, 3, "selectors", "any");
    if (selectors != "any" && selectors != "resting") throw BadLine{"selectors=any or resting"};
    const std::string cycles = Option(t, 3, "cycles", "steady");
    if (cycles != "steady" && cycles != "random") throw BadLine{"cycles=steady or random"};
    const std::string jogSwitch = Option(t, 3, "jog-switch", "on");
    if (jogSwitch != "on" && jogSwitch != "random") throw BadLine{"jog-switch=on or random"};
    // One poll in N (on average) is followed by a hold of the host's thread
    // of 0 to 2 s.
    const long holdOne = Integer(Option(t, 3, "holds", "0"), 10);
    uint32_t holdRandom = static_cast<uint32_t>(seed) * 2654435761u + 1;
    auto nextHoldRandom = [&holdRandom] {
        holdRandom = holdRandom * 1664525u + 1013904223u;
        return holdRandom >> 8;
    };
    long holds = 0;
    // One poll in N (on average) has one of its host callbacks (the first
    // of a kind picked at random) run a modal loop of 10 to 150 ms, in which
    // the ticks that come are dropped, or hold the thread 50 to 300 ms.
    const long insideOne = Integer(Option(t, 3, "inside", "0"), 10);
    long insides = 0;
    Micros lastStepsAt = model_->Now();
    const std::string wheel = Option(t, 3, "wheel", "plain");
    if (wheel != "plain" && wheel != "bursts") throw BadLine{"wheel=plain or bursts"};
    bool jogSwitchOn = true;
    RandomPendant pendant(device, static_cast<uint32_t>(seed), selectors == "resting");
    if (wheel == "bursts") pendant.SendBursts();
    StepLineSum stepLines('X');
    const hk4::Host& host = host_->view();
    JogWatch watch([&host](int a) { return host.read(hk4::fields::JogStop.at(a)) == 1; },
                   [this, &host](int a) {
                       if (host.read(hk4::fields::JogStart.at(a)) != 1) return false;
                       host_->SetField(Format("JogStart[%d]", a), 0);
                       return true;
                   },
                   [&host](int a) {
                       const int32_t v = host.read(hk4::fields::JogVelocity.at(a));
                       return v >= 1 && v <= host.read(hk4::fields::AxisFullRate.at(a));
                   });
    struct Sink {
        Sink(JogWatch& w, StepLineSum& s) {
            TheTrace().SetSink([&w, &s](const std::string& line) {
                w.Line(line);
                s.Line(line);
            });
        }
        ~Sink() { TheTrace().SetSink(nullptr); }
    } sink(watch, stepLines);
    const std::size_t line = cursor_;
    const std::size_t d = static_cast<std::size_t>(Device(device));
    auto play = [&](const std::vector<std::string>& lines) {
        for (const std::string& l : lines) {
            const Tokens words = Tokenize(l);
            if (words[1] == "plug" || words[1] == "unplug") {
                if (words[1] == "unplug") watch.Removed();
                DeviceCommand(d, words, 1, -1);  // reaches the windows at once
            } else {
                Guard g(model_->lock);  // nothing for the windows: no dispatch
                DeviceAction(d, words, 1)();
            }
        }
    };
    // Each poll's changes go out in one report; the host cycles and the tick
    // of the poll follow in time order, as in "run".
    Execute(Tokenize(device + " reports off"));
    host_->traceSnapshotReads = true;
    int rested = 0;
    for (long i = 0; i < ticks; ++i) {
        play(pendant.Step());
        if (insideOne > 0 && nextHoldRandom() % static_cast<uint32_t>(insideOne) == 0) {
            static const char* const kCallbacks[] = {"Code", "DoButton", "GetLED", "GetDRO"};
            const bool loop = nextHoldRandom() % 2 == 0;
            const std::string ms =
                std::to_string(loop ? 10 + nextHoldRandom() % 141 : 50 + nextHoldRandom() % 251);
            inside_.clear();
            inside_.push_back(InsideAction{kCallbacks[nextHoldRandom() % 4], "*",
                                           Tokens{loop ? "run" : "hold", ms}});
            ++insides;
        }
        // Polls whose wheel motion the engine never sees as steps (inhibit
        // switch, OFF, the baseline report) count as rest.
        rested = pendant.wheelStepped() ? 0 : rested + 1;
        if (jogSwitch == "random" && pendant.FlipJogSwitch()) {
            jogSwitchOn = !jogSwitchOn;
            Execute(Tokenize(jogSwitchOn ? "led 83 on" : "led 83 off"));
        }
        if (cycles == "random") {
            Execute(Tokenize("update " + std::to_string(pendant.HostCycles())));
            Execute(Tokenize("tick"));
        } else {
            RunFor(25 * kMs);
        }
        watch.Rested(rested, restLimit);
        if (pendant.wheelStepped()) lastStepsAt = lastTickAt_;
        if (holdOne > 0 && nextHoldRandom() % static_cast<uint32_t>(holdOne) == 0) {
            SoakHold(Micros{nextHoldRandom() % 2001} * kMs, lastStepsAt, watch);
            ++holds;
        }
    }
    inside_.clear();
    if (!jogSwitchOn) Execute(Tokenize("led 83 on"));
    play(pendant.Rest());
    RunFor(restLimit * 25 * kMs);
    watch.Finish(rested + restLimit);
    Execute(Tokenize(device + " reports on-change"));
    cursor_ = line;
    TheTrace().SetSink(nullptr);
    host_->traceSnapshotReads = false;
    TheTrace().Line(watch.Summary());
    TheTrace().Line(watch.FinishSummary());
    if (holdOne > 0) TheTrace().Line(Format("~ soak: %ld holds", holds));
    if (insideOne > 0) TheTrace().Line(Format("~ soak: %ld callbacks held or looping", insides));
    if (wheel == "bursts") {
        // Step jog on X throughout: the host was asked to move X exactly as
        // far as the reports that reached the jog engine turned the wheel.
        const double turned =
            static_cast<double>(pendant.netTurned()) * host.read(hk4::fields::StepSize);
        TheTrace().Line(Format("~ soak: X moved %+.4f in %ld lines, the wheel turned %+.4f",
                               stepLines.distance, stepLines.lines, turned));
        if (std::fabs(stepLines.distance - turned) > 1e-6 || stepLines.lines == 0)
            Fail("the step jogs do not add up to the wheel's motion");
    } else if (watch.jogs == 0) {
        Fail("no continuous jog started: the soak exercised too little");
    }
    for (const std::string& f : watch.failures) Fail(f);
    if (watch.failureCount > static_cast<int>(watch.failures.size()))
        Fail(Format("... and %d more",
                    watch.failureCount - static_cast<int>(watch.failures.size())));
}

// "counters mark" and "counters check [handles=N] [private-kb=N] [gdi=N]
// [user=N]": the growth of the process's own counters since the mark, each
// within its tolerance (default 0). The figures are notes: they vary with the
// system, only the check is stable.
void Runner::Counters(const Tokens& t) {
    const ProcessCounters now = ReadProcessCounters();
    const std::string& what = Arg(t, 1);
    if (what == "mark") {
        mark_ = now;
        marked_ = true;
        const std::string how =
            now.how.empty() ? "" : " (" + now.how.substr(now.how[0] == ',' ? 2 : 1) + ")";
        TheTrace().Line(
            Format("# counters: handles=%lu private=%lu KB gdi=%lu user=%lu "
                   "plugin-blocks=%lld plugin-bytes=%lld%s",
                   static_cast<unsigned long>(now.handles),
                   static_cast<unsigned long>(now.privateBytes / 1024),
                   static_cast<unsigned long>(now.gdi), static_cast<unsigned long>(now.user),
                   now.heapBlocks, now.heapBytes, how.c_str()));
        return;
    }
    if (what != "check" || !marked_) throw BadLine{"counters mark, then counters check"};
    struct Growth {
        const char* name;
        long long grown;
    } growth[] = {
        {"handles", static_cast<long long>(now.handles) - mark_.handles},
        {"private-kb",
         (static_cast<long long>(now.privateBytes) - static_cast<long long>(mark_.privateBytes)) /
             1024},
        {"gdi", static_cast<long long>(now.gdi) - mark_.gdi},
        {"user", static_cast<long long>(now.user) - mark_.user},
        {"plugin-blocks", now.heapBlocks - mark_.heapBlocks},
        {"plugin-bytes", now.heapBytes - mark_.heapBytes},
    };
    std::string note = "# counters grew:";
    for (const Growth& g : growth) {
        const long long allowed = Integer(Option(t, 2, g.name, "0"), 10);
        note += Format(" %s %+lld", g.name, g.grown);
        if (g.grown > allowed)
            Fail(Format("%s grew by %lld, more than the %lld allowed", g.name, g.grown, allowed));
    }
    TheTrace().Line(note);
}

void Runner::Execute(const Tokens& t) {
    const std::string& cmd = t[0];
    if (cmd == "mode" || cmd == "requires" || cmd == "system") return;  // read before the run
    if (cmd == "host-cycle") {
        cycleMs_ = static_cast<DWORD>(Integer(Arg(t, 1)));
    } else if (cmd == "trace-reads") {
        host_->traceReads = OnOff(Arg(t, 1), "on", "off");
    } else if (cmd == "settings") {
        if (started_) throw BadLine{"settings must come before start"};
        std::string xml = "<profile><Halvex_K4_Pendant>";
        for (std::size_t i = 1; i < t.size(); ++i) {
            const std::size_t eq = t[i].find('=');
            if (eq == std::string::npos) throw BadLine{"settings Key=Value ..."};
            const std::string key = t[i].substr(0, eq);
            xml += "<" + key + ">" + std::to_string(Integer(t[i].substr(eq + 1), 10)) + "</" + key +
                   ">";
        }
        xml += "</Halvex_K4_Pendant></profile>";
        std::ofstream(profile_, std::ios::binary) << xml;
    } else if (cmd == "dro") {
        host_->dros[static_cast<int32_t>(Integer(Arg(t, 1)))] = Number(Arg(t, 2));
    } else if (cmd == "led") {
        const std::string& v = Arg(t, 2);
        host_->leds[static_cast<int32_t>(Integer(Arg(t, 1)))] =
            v == "on"    ? 1
            : v == "off" ? 0
                         : static_cast<uint8_t>(Integer(v));
    } else if (cmd == "field") {
        if (!host_->SetField(Arg(t, 1), Number(Arg(t, 2)))) throw BadLine{"no host field " + t[1]};
    } else if (cmd == "device") {
        const std::string& name = Arg(t, 1);
        if (Device(name) >= 0) throw BadLine{"device " + name + " exists already"};
        static const char* const kReserved[] = {
            "device", "at",          "tick",    "update", "run",    "wait", "expect",
            "start",  "stop",        "call",    "check",  "repeat", "soak", "counters",
            "inside", "allocations", "profile", "sweep",  "unload", "hold"};
        for (const char* r : kReserved)
            if (name == r) throw BadLine{"a device cannot be called " + name};
        const uint16_t vid = static_cast<uint16_t>(Integer(Option(t, 2, "vid", "0x04D8"), 16));
        const uint16_t pid = static_cast<uint16_t>(Integer(Option(t, 2, "pid", "0xFCE1"), 16));
        const std::string path = Option(
            t, 2, "path", DefaultPath(vid, pid, static_cast<int>(model_->devices.size()) + 1));
        const bool absent = std::find(t.begin(), t.end(), "absent") != t.end();
        const std::string stack = Option(t, 2, "stack", "windows");
        if (stack != "windows" && stack != "wine") throw BadLine{"stack=windows|wine"};
        Guard g(model_->lock);
        const std::size_t d = model_->AddDevice(name, vid, pid, path, !absent);
        model_->devices[d].wineStack = stack == "wine";
    } else if (cmd == "setupdi") {
        const bool fail = OnOff(Arg(t, 2), "fail", "ok");
        if (t[1] == "classdevs")
            model_->failClassDevs = fail;
        else if (t[1] == "enum")
            model_->failEnum = fail;
        else
            throw BadLine{"setupdi classdevs|enum fail|ok"};
    } else if (cmd == "start") {
        Start();
    } else if (cmd == "call") {
        Call(Arg(t, 1), t);
    } else if (cmd == "stop") {
        Stop();
    } else if (cmd == "tick") {
        const long n = t.size() > 1 ? Integer(t[1]) : 1;
        for (long i = 0; i < n; ++i) Tick();
    } else if (cmd == "update") {
        const long n = t.size() > 1 ? Integer(t[1]) : 1;
        for (long i = 0; i < n; ++i) Update();
    } else if (cmd == "wait") {
        if (realtime_)
            RunFor(Millis(Arg(t, 1)));
        else
            Settle(model_->Now() + Millis(Arg(t, 1)));
    } else if (cmd == "run") {
        RunFor(Millis(Arg(t, 1)));
    } else if (cmd == "check") {
        if (Arg(t, 1) == "profile") {
            TheTrace().Line(ProfileSummary(profile_));
            return;
        }
        if (Arg(t, 1) == "profile-unchanged") {
            if (!profileMarked_) throw BadLine{"profile mark first"};
            TheTrace().Line(FileBytes(profile_) == profileMark_ ? "~ profile unchanged"
                                                                : "~ profile changed");
            return;
        }
        if (Arg(t, 1) != "handles")
            throw BadLine{"check handles, check profile or check profile-unchanged"};
        Guard g(model_->lock);
        TheTrace().Line(model_->OpenSummary());
    } else if (cmd == "say") {
        std::string text;
        for (std::size_t i = 1; i < t.size(); ++i) text += (i > 1 ? " " : "") + t[i];
        TheTrace().Line("# " + text);
    } else if (cmd == "expect") {
        ExpectBlock(t);
    } else if (cmd == "repeat") {
        Repeat(t);
    } else if (cmd == "soak") {
        Soak(t);
    } else if (cmd == "counters") {
        Counters(t);
    } else if (cmd == "allocations") {
        Allocations(t);
    } else if (cmd == "sweep") {
        Sweep(t);
    } else if (cmd == "unload") {
        Unload();
    } else if (cmd == "hold") {
        Hold(t);
    } else if (cmd == "inside") {
        if (t.size() < 4) throw BadLine{"inside CALLBACK ARGUMENT ACTION..."};
        inside_.push_back(InsideAction{t[1], t[2], Tokens(t.begin() + 3, t.end())});
    } else if (cmd == "profile") {
        if (Arg(t, 1) != "mark") throw BadLine{"profile mark"};
        profileMark_ = FileBytes(profile_);
        profileMarked_ = true;
    } else if (cmd == "at") {
        const std::string& when = Arg(t, 1);
        Micros at;
        if (when.compare(0, 5, "tick+") == 0) {
            if (realtime_) throw BadLine{"at tick+MS is for stepped mode"};
            TimerRecord* timer = LiveTimer();
            if (!timer) throw BadLine{"at tick+MS: no timer is running"};
            at = std::max(model_->Now(), timer->nextDue) + Millis(when.substr(5));
        } else if (when[0] == '+') {
            at = model_->Now() + Millis(when.substr(1));
        } else {
            throw BadLine{"at +MS or at tick+MS"};
        }
        const long d = Device(Arg(t, 2));
        if (d < 0) throw BadLine{"no device " + t[2]};
        DeviceCommand(static_cast<std::size_t>(d), t, 3, at);
    } else {
        const long d = Device(cmd);
        if (d < 0) throw BadLine{"unknown command or device: " + cmd};
        DeviceCommand(static_cast<std::size_t>(d), t, 1, -1);
    }
}

int Runner::Run() {
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "hostsim: cannot read %s\n", file_.c_str());
        return kScenarioInvalid;
    }
    for (std::string line; std::getline(in, line);) lines_.push_back(line);

    // Read mode and requirements first.
    std::vector<std::string> required;
    for (cursor_ = 0; cursor_ < lines_.size(); ++cursor_) {
        try {
            const Tokens t = Tokenize(lines_[cursor_]);
            if (t.empty()) continue;
            if (t[0] == "mode") realtime_ = !OnOff(Arg(t, 1), "stepped", "realtime");
            // "system xp": a system without CancelIoEx.
            if (t[0] == "system") xp_ = OnOff(Arg(t, 1), "xp", "vista");
            if (t[0] == "requires") {
                if (Arg(t, 1) != "import") throw BadLine{"requires import FUNCTION"};
                required.push_back(Arg(t, 2));
            }
        } catch (const BadLine& bad) {
            std::fprintf(stderr, "%s:%zu: %s\n", file_.c_str(), cursor_ + 1, bad.message.c_str());
            return kScenarioInvalid;
        }
    }

    Trace& trace = TheTrace();
    if (options_.echo) trace.SetEcho(stdout);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> record(nullptr, &std::fclose);
    if (!options_.record.empty() && !realtime_) {
        record.reset(std::fopen(options_.record.c_str(), "wb"));
        if (!record) {
            std::fprintf(stderr, "hostsim: cannot write %s\n", options_.record.c_str());
            return kScenarioInvalid;
        }
        trace.SetRecord(record.get());
    }
    struct StopRecord {
        ~StopRecord() { TheTrace().SetRecord(nullptr); }
    } stopRecord;
    std::string error;
    if (!api_.Load(dll_, error)) {
        std::fprintf(stderr, "hostsim: %s\n", error.c_str());
        return kScenarioInvalid;
    }
    const std::vector<ImportedFunction> imports = ListImports(api_.module);
    for (const std::string& r : required) {
        const bool found = std::any_of(imports.begin(), imports.end(),
                                       [&r](const ImportedFunction& f) { return f.function == r; });
        if (!found) {
            std::printf("# skipped: the plug-in does not import %s yet\n", r.c_str());
            api_.Unload();
            return kScenarioSkipped;
        }
    }

    model_ = std::make_unique<DeviceModel>(!realtime_);
    model_->hasCancelIoEx = !xp_;
    SetModel(model_.get());
    profile_ = TempProfilePath();
    DeleteFileA(profile_.c_str());
    host_ = std::make_unique<SimHost>();
    host_->leds[83] = 1;  // the host's jog switch is on
    model_->hostWindow = host_->parentWindow();
    SetBeforeSystemCall([] {
        if (SimHost* h = SimHost::Current()) h->FlushWrites();
    });
    host_->inside = [this](const char* callback, const std::string& argument) {
        Inside(callback, argument);
    };
    host_->fault = [this](const std::string& what) {
        Guard g(model_->lock);
        model_->Error(what);
    };
    for (const ImportedFunction& f : imports)
        if (IsUnmodelledDeviceImport(f.module.c_str(), f.function.c_str()))
            model_->Error("the plug-in imports " + f.module + " " + f.function +
                          ", which the virtual pendant does not model");
    patch_.Apply(api_.module, DeviceRedirects());
    heapPatch_.Apply(api_.module, HeapRedirects());
    trace.Line(std::string("# ") + (realtime_ ? "real-time" : "stepped") + " run of " + file_);
    if (realtime_) pendant_ = std::make_unique<PendantThread>(*model_);

    int status = kScenarioPassed;
    for (cursor_ = 0; cursor_ < lines_.size(); ++cursor_) {
        try {
            const Tokens t = Tokenize(lines_[cursor_]);
            if (!t.empty()) Execute(t);
            FinishInsideStop();
        } catch (const BadLine& bad) {
            std::fprintf(stderr, "%s:%zu: %s\n", file_.c_str(), cursor_ + 1, bad.message.c_str());
            status = kScenarioInvalid;
            break;
        }
    }
    FailAllocations(false);
    if (status != kScenarioInvalid && started_ && !stopped_ && !unloaded_) Stop();
    pendant_.reset();
    patch_.Restore();
    heapPatch_.Restore();
    SetBeforeSystemCall(nullptr);
    host_.reset();
    api_.Unload();
    SetModel(nullptr);
    DeleteFileA(profile_.c_str());
    if (status == kScenarioInvalid) return status;

    if (model_->errors > 0) {
        for (const std::string& l : trace.Lines())
            if (l.compare(0, 6, "error:") == 0) failures_.push_back(file_ + ": " + l);
    }
    if (!failures_.empty()) {
        std::printf("\n%zu failure(s):\n", failures_.size());
        for (const std::string& f : failures_) std::printf("FAIL %s\n", f.c_str());
        return kScenarioFailed;
    }
    if (realtime_)
        std::printf("# passed: %d expectations\n", expectations_);
    else
        std::printf("# passed: %d expectations, %d ticks\n", expectations_, ticks_);
    return kScenarioPassed;
}

}  // namespace

int RunScenario(const std::string& file, const std::string& dll, const ScenarioOptions& options) {
    Runner runner(file, dll, options);
    return runner.Run();
}

}  // namespace hostsim
