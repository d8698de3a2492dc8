#include "hostsim/host_loop.h"

#include "hostsim/device_hooks.h"
#include "hostsim/trace.h"

namespace hostsim {

void RunHostLoop(const PluginApi& api, SimHost& host, const LoopOptions& options) {
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
