#include "hostsim/host_loop.h"

#include "hostsim/device_hooks.h"
#include "hostsim/trace.h"

namespace hostsim {

void RunHostLoop(const hostside::PluginApi& api, SimHost& host, const LoopOptions& options) {
    LARGE_INTEGER freq, start;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    auto elapsedMs = [&] {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / freq.QuadPart;
    };
    double nextCycle = options.cycleMs;
    int ticks = 0;
    while (elapsedMs() < options.ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER && msg.hwnd != host.parentWindow())
                TheTrace().Line(Format("~ tick %d", ++ticks));
            const bool timed = options.tickMicros && msg.message == WM_TIMER &&
                               msg.hwnd == options.timerWindow && options.timerWindow;
            LARGE_INTEGER t0, t1;
            const double sim0 = SimulatorMicros();
            if (timed) QueryPerformanceCounter(&t0);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (timed) {
                QueryPerformanceCounter(&t1);
                options.tickMicros->push_back(static_cast<double>(t1.QuadPart - t0.QuadPart) * 1e6 /
                                              freq.QuadPart);
                if (options.tickSimulatorMicros)
                    options.tickSimulatorMicros->push_back(SimulatorMicros() - sim0);
                if (options.afterTick) options.afterTick();
            }
            host.FlushWrites();
            if (options.afterPoll && msg.message == WM_TIMER && msg.hwnd != host.parentWindow())
                options.afterPoll();
        }
        DeliverBroadcasts();
        if (options.cycleMs && elapsedMs() >= nextCycle) {
            TheTrace().Line("> Update");
            api.Update();
            host.FlushWrites();
            nextCycle += options.cycleMs;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
}

void HoldHostThread(SimHost& host, Micros span, long expected, long tolerance,
                    const std::function<void(Micros)>& follow) {
    host.FlushWrites();
    const long before = host.writesSeen;
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    auto elapsed = [&] {
        QueryPerformanceCounter(&now);
        return static_cast<Micros>((now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    };
    Micros first = -1;
    for (Micros at = 0; at < span; at = elapsed()) {
        follow(at);
        host.FlushWrites();
        if (first < 0 && host.writesSeen != before) first = at;
        Sleep(1);
    }
    follow(span);
    host.FlushWrites();
    if (first < 0 && host.writesSeen != before) first = span;
    const long ms = static_cast<long>(span / 1000);
    if (first < 0) {
        TheTrace().Line(Format("~ hold %ldms: nothing written", ms));
    } else {
        const long at = static_cast<long>(first / 1000);
        TheTrace().Line(Format("# hold: first write seen at %ldms", at));
        if (expected >= 0 && at >= expected - tolerance && at <= expected + tolerance)
            TheTrace().Line(
                Format("~ hold %ldms: first write at %ld+-%ldms", ms, expected, tolerance));
        else
            TheTrace().Line(Format("~ hold %ldms: first write at %ldms", ms, at));
    }
}

PendantThread::PendantThread(DeviceModel& model) : model_(model) {
    thread_ = std::thread([this] { Run(); });
}

PendantThread::~PendantThread() {
    stop_ = true;
    thread_.join();
}

void PendantThread::Run() {
    // Reports are stamped when they are queued, so the time this thread
    // oversleeps counts against the age of a report, as a late USB frame
    // would.
    while (!stop_) {
        {
            std::lock_guard<std::recursive_mutex> guard(model_.lock);
            model_.AdvanceTo(model_.Now(), true);
        }
        Sleep(1);
    }
}

}  // namespace hostsim
