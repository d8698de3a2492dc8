#include "hostsim/soak.h"

#include <psapi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <fstream>
#include <sstream>
#include <thread>

#include "hostsim/trace.h"

namespace hostsim {

uint32_t RandomPendant::Next() {  // xorshift32: the same sequence everywhere
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

std::vector<std::string> RandomPendant::Step() {
    std::vector<std::string> lines, controls;
    const std::string d = device_ + " ";
    if (away_ > 0 && --away_ == 0) {
        lines.push_back(d + "plug");
        baselinePending_ = true;
    }
    if (away_ == 0 && Chance(10)) {  // 1 in 100 polls
        lines.push_back(d + "unplug");
        away_ = 1 + Below(4);
        ++removals_;
    }
    if (bursts_) return BurstStep(lines);
    // The selectors and the inhibit switch move while the wheel turns too,
    // unless only a resting wheel may see them move.
    if (!calmSelectors_ || rested_ >= 8) {
        if (Chance(50)) controls.push_back("function " + std::to_string(1 + Below(6)));
        if (Chance(40)) controls.push_back("axis " + std::to_string(axis_ = Below(6)));  // 0: OFF
        if (Chance(20))
            controls.push_back(std::string("inhibit ") + ((inhibit_ = !inhibit_) ? "on" : "off"));
    }
    if (Chance(30))
        controls.push_back(std::string("button ") + ((button_ = !button_) ? "down" : "up"));
    // The wheel turns in bursts of 1 to 40 polls, one rest of 1 to 15 polls
    // after each; now and then it turns back within a burst. The speed byte
    // follows the wheel: 0 once it rests.
    moved_ = false;
    if (burst_ > 0) {
        --burst_;
        if (Chance(50)) direction_ = -direction_;
        const int steps = 1 + Below(Chance(100) ? 60 : 8);
        controls.push_back(std::string("wheel ") + (direction_ > 0 ? "+" : "-") +
                           std::to_string(steps));
        controls.push_back("speed " + std::to_string(1 + Below(255)));
        moved_ = speed_ = true;
        rested_ = 0;
        if (burst_ == 0) burst_ = -(1 + Below(15));
    } else {
        if (speed_) controls.push_back("speed 0");
        speed_ = false;
        ++rested_;
        if (burst_ < 0 && ++burst_ == 0) {
            burst_ = 1 + Below(40);
            direction_ = Chance(500) ? 1 : -1;
        }
    }
    // All of a poll's changes go out in one report, as the pendant sends them.
    for (const std::string& c : controls) lines.push_back(d + c);
    const bool reports = !controls.empty() && away_ == 0;
    if (!controls.empty()) lines.push_back(d + "report");
    stepped_ = moved_ && reports && !baselinePending_ && !inhibit_ && axis_ != 0;
    if (reports) baselinePending_ = false;
    return lines;
}

std::vector<std::string> RandomPendant::BurstStep(std::vector<std::string>& lines) {
    const std::string d = device_ + " ";
    moved_ = stepped_ = false;
    if (burst_ > 0) {
        --burst_;
        if (burst_ == 0) burst_ = -(1 + Below(15));
        const int reports = Chance(100) ? 1 + Below(40) : 1 + Below(3);
        long net = 0;
        for (int r = 0; r < reports; ++r) {
            if (Chance(100)) direction_ = -direction_;
            const int counts = 1 + Below(127);
            net += direction_ * counts;
            lines.push_back(d + "wheel " + (direction_ > 0 ? "+" : "-") + std::to_string(counts));
            lines.push_back(d + "report");
        }
        moved_ = true;
        rested_ = 0;
        if (away_ == 0) {
            const bool overflow = reports >= 32;
            stepped_ = !baselinePending_ && !overflow;
            if (stepped_) netTurned_ += net;
            // After a possible overflow the next poll only sets the baseline.
            baselinePending_ = overflow;
        }
    } else {
        ++rested_;
        if (burst_ < 0 && ++burst_ == 0) burst_ = 1 + Below(40);
    }
    return lines;
}

void StepLineSum::Line(const std::string& line) {
    static const std::string kStepLine = "< Code \"G91G1 ";
    if (line.compare(0, kStepLine.size(), kStepLine) != 0) return;
    const std::size_t at = line.find(axis);
    if (at == std::string::npos) return;
    distance += std::strtod(line.c_str() + at + 3, nullptr);
    ++lines;
}

std::vector<std::string> RandomPendant::Rest() {
    std::vector<std::string> lines;
    if (away_ > 0) lines.push_back(device_ + " plug");
    if (speed_) lines.push_back(device_ + " speed 0");
    if (speed_) lines.push_back(device_ + " report");
    speed_ = moved_ = false;
    burst_ = away_ = 0;
    return lines;
}

void JogWatch::Failure(const std::string& what) {
    ++failureCount;
    if (failures.size() < 10) failures.push_back(what);
}

void JogWatch::Line(const std::string& line) {
    static const std::string kStepLine = "< Code \"G91G1 ";
    if (line.compare(0, kStepLine.size(), kStepLine) == 0) {
        if (g90OwedAt_ >= 0)
            Failure(Format("tick %d: a step line without the \"G90\" of the one at tick %d", tick_,
                           g90OwedAt_));
        g90OwedAt_ = tick_;
        ++stepLines;
        return;
    }
    if (line == "< Code \"G90\"") {
        g90OwedAt_ = -1;
        return;
    }
    if (g90OwedAt_ >= 0 && line.compare(0, 7, "< Code ") == 0) {
        Failure(Format("tick %d: %s came between the step line of tick %d and its \"G90\"", tick_,
                       line.c_str() + 7, g90OwedAt_));
        g90OwedAt_ = -1;
    }
    if (line.compare(0, 13, "< GetDRO 818 ") == 0) {
        if (snapshotAt_ >= 0)
            Failure(
                Format("tick %d: a snapshot taken while the one of tick %d was not written back",
                       tick_, snapshotAt_));
        snapshotAt_ = tick_;
        ++snapshots;
        return;
    }
    if (line.compare(0, 13, "< SetDRO 818 ") == 0) {
        if (snapshotAt_ < 0)
            Failure(Format("tick %d: DRO 818 written back with no snapshot taken since it last was",
                           tick_));
        snapshotAt_ = -1;
        return;
    }
    if (line.compare(0, 7, "~ tick ") == 0) {
        tick_ = std::atoi(line.c_str() + 7);
        ++ticks;
        if (removalOpen_ && removalEndjogs_ != 1)
            Failure(Format("the removal before tick %d was followed by %d \"ENDJOG\"", tick_,
                           removalEndjogs_));
        removalOpen_ = false;
    } else if (line == "< Code \"ENDJOG\"") {
        ++endjogs;
        ++removalEndjogs_;
        runningAxes_ = 0;
    } else if (line.compare(0, 9, "< SetDRO ") == 0) {
        if (line.find("nan") != std::string::npos || line.find("inf") != std::string::npos)
            Failure(
                Format("tick %d: a value that is not a finite number: %s", tick_, line.c_str()));
    } else if (line == "< Code \"DOJOG\"") {
        if (removalOpen_) Failure(Format("\"DOJOG\" after the removal before tick %d", tick_ + 1));
        if (!Running()) startedAt_ = tick_, reported_ = false;
        ++jogs;
        for (int a = 0; a < 6; ++a) {
            if (!takeStart_(a) || stopped_(a)) continue;
            runningAxes_ |= 1u << a;
            if (!velocityOk_(a))
                Failure(
                    Format("\"DOJOG\" at tick %d with a velocity of axis %d outside 1 to its "
                           "full rate",
                           tick_, a));
        }
    } else if (line.compare(0, 16, "< write JogStop[") == 0 && line.size() > 16) {
        const int a = line[16] - '0';
        if (a >= 0 && a < 6 && line.compare(line.size() - 4, 4, " = 1") == 0)
            runningAxes_ &= ~(1u << a);
        if (removalOpen_ && line.compare(line.size() - 4, 4, " = 0") == 0)
            Failure(Format("JogStop 0 after the removal before tick %d", tick_ + 1));
    }
}

void JogWatch::Removed() {
    ++removals;
    removalOpen_ = true;
    removalEndjogs_ = 0;
}

void JogWatch::Rested(int restTicks, int limit) {
    if (!Running() || reported_ || restTicks < limit) return;
    reported_ = true;
    std::string axes;
    for (int a = 0; a < 6; ++a)
        if (runningAxes_ & (1u << a)) axes += "XYZABC"[a];
    Failure(
        Format("tick %d: the jog of %s started at tick %d still runs after the wheel rested "
               "%d ticks",
               tick_, axes.c_str(), startedAt_, restTicks));
}

void JogWatch::Held(long sinceStepsMs) {
    if (!Running() || reported_) return;
    reported_ = true;
    Failure(
        Format("the jog started at tick %d still runs %ld ms after the last poll with wheel "
               "steps, in a hold after tick %d",
               startedAt_, sinceStepsMs, tick_));
}

void JogWatch::Finish(int restTicks) {
    if (removalOpen_) Failure("the last removal was never followed by a tick");
    if (g90OwedAt_ >= 0)
        Failure(Format("the step line of tick %d never got its \"G90\"", g90OwedAt_));
    if (snapshotAt_ >= 0)
        Failure(Format("the snapshot of tick %d was never written back", snapshotAt_));
    Rested(restTicks, 0);
}

std::string JogWatch::FinishSummary() const {
    return Format("~ soak: %d step lines, %d snapshots of DROs 818 and 821", stepLines, snapshots);
}

std::string JogWatch::Summary() const {
    return Format("~ soak: %d ticks, %d removals, %d \"DOJOG\", %d \"ENDJOG\", %d failures", ticks,
                  removals, jogs, endjogs, failureCount);
}

namespace {

// Wine's GetProcessHandleCount, PrivateUsage and GetGuiResources report 0;
// there the counters are taken by hand, in ways that work on Windows too.
DWORD ProbedHandles() {
    DWORD count = 0, flags = 0;
    for (ULONG_PTR v = 4, misses = 0; misses < 1024; v += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &flags))
            ++count, misses = 0;
        else
            ++misses;
    }
    return count;
}

SIZE_T CommittedPrivateBytes() {
    SIZE_T sum = 0;
    MEMORY_BASIC_INFORMATION mi{};
    for (const char* p = nullptr; VirtualQuery(p, &mi, sizeof mi) == sizeof mi;
         p = static_cast<const char*>(mi.BaseAddress) + mi.RegionSize) {
        if (mi.State == MEM_COMMIT && mi.Type == MEM_PRIVATE) sum += mi.RegionSize;
    }
    return sum;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    ++*reinterpret_cast<DWORD*>(count);
    EnumChildWindows(window, CountWindow, count);  // grandchildren come with it
    return TRUE;
}

std::mutex g_heapLock;
std::unordered_map<std::uintptr_t, std::size_t> g_heapBlocks;  // the plug-in's, by address
long long g_heapBytes = 0;

void Allocated(void* p, std::size_t size) {
    if (!p) return;
    std::lock_guard<std::mutex> g(g_heapLock);
    g_heapBlocks[reinterpret_cast<std::uintptr_t>(p)] = size;
    g_heapBytes += static_cast<long long>(size);
}

bool g_failing = false;
long long g_grant = 0;
AllocationFailures g_failures;

// False when this allocation is to fail: the one after `g_grant` more.
bool Grant() {
    std::lock_guard<std::mutex> g(g_heapLock);
    if (!g_failing || g_failures.refused > 0 || g_grant-- > 0) {
        if (g_failing) ++g_failures.granted;
        return true;
    }
    ++g_failures.refused;
    return false;
}

// Freed blocks, poisoned, waiting to go for real (oldest first).
constexpr std::size_t kQuarantine = 256;
void* g_quarantine[kQuarantine] = {};
std::size_t g_quarantineNext = 0;

// By address only: the block may be gone already (realloc). Returns the
// block's size, 0 when it was allocated before the count began.
std::size_t Freed(std::uintptr_t p) {
    std::lock_guard<std::mutex> g(g_heapLock);
    auto it = g_heapBlocks.find(p);
    if (it == g_heapBlocks.end()) return 0;
    const std::size_t size = it->second;
    g_heapBytes -= static_cast<long long>(size);
    g_heapBlocks.erase(it);
    return size;
}

void* __cdecl Hook_malloc(std::size_t size) {
    if (!Grant()) return nullptr;
    void* p = std::malloc(size);
    Allocated(p, size);
    return p;
}

void* __cdecl Hook_calloc(std::size_t n, std::size_t size) {
    if (!Grant()) return nullptr;
    void* p = std::calloc(n, size);
    Allocated(p, n * size);
    return p;
}

void* __cdecl Hook_realloc(void* old, std::size_t size) {
    if (size != 0 && !Grant()) return nullptr;  // the old block stays as it was
    const auto was = reinterpret_cast<std::uintptr_t>(old);
    void* p = std::realloc(old, size);
    if (p || size == 0) {
        if (was) Freed(was);
        Allocated(p, size);
    }
    return p;
}

void __cdecl Hook_free(void* p) {
    if (!p) return;
    const std::size_t size = Freed(reinterpret_cast<std::uintptr_t>(p));
    if (size == 0) {
        std::free(p);
        return;
    }
    std::memset(p, 0xDD, size);
    void* oldest = nullptr;
    {
        std::lock_guard<std::mutex> g(g_heapLock);
        oldest = g_quarantine[g_quarantineNext];
        g_quarantine[g_quarantineNext] = p;
        g_quarantineNext = (g_quarantineNext + 1) % kQuarantine;
    }
    std::free(oldest);
}

}  // namespace

void FailAllocations(bool fail, long long grant) {
    std::lock_guard<std::mutex> g(g_heapLock);
    g_failing = fail;
    g_grant = grant;
}

AllocationFailures TakeAllocationFailures() {
    std::lock_guard<std::mutex> g(g_heapLock);
    return std::exchange(g_failures, AllocationFailures{});
}

std::vector<Redirect> HeapRedirects() {
    return {{"malloc", reinterpret_cast<void*>(Hook_malloc)},
            {"calloc", reinterpret_cast<void*>(Hook_calloc)},
            {"realloc", reinterpret_cast<void*>(Hook_realloc)},
            {"free", reinterpret_cast<void*>(Hook_free)}};
}

ProcessCounters ReadProcessCounters() {
    ProcessCounters c;
    {
        std::lock_guard<std::mutex> g(g_heapLock);
        c.heapBlocks = static_cast<long long>(g_heapBlocks.size());
        c.heapBytes = g_heapBytes;
    }
    const HANDLE self = GetCurrentProcess();
    if (!GetProcessHandleCount(self, &c.handles) || c.handles == 0) {
        c.handles = ProbedHandles();
        c.how += " handles probed";
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory))
        c.privateBytes = memory.PrivateUsage;
    if (c.privateBytes == 0) {
        c.privateBytes = CommittedPrivateBytes();
        c.how += ", memory walked";
    }
    c.gdi = GetGuiResources(self, GR_GDIOBJECTS);
    if (c.gdi == 0) c.how += ", GDI not counted";
    c.user = GetGuiResources(self, GR_USEROBJECTS);
    if (c.user == 0) {
        EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&c.user));
        c.how += ", USER as windows";
    }
    return c;
}

std::string ProfileSummary(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "~ profile: no file";
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    std::string out = "~ profile:";
    for (const char* key : {"DelaySteps", "PercentTime", "StepJogRate", "Vel"}) {
        const std::string open = std::string("<") + key + ">";
        const std::string close = std::string("</") + key + ">";
        const std::size_t at = xml.find(open);
        const std::size_t end = at == std::string::npos ? at : xml.find(close, at);
        if (end == std::string::npos) {
            out += std::string(" ") + key + " missing";
            continue;
        }
        if (xml.find(open, at + 1) != std::string::npos) {
            out += std::string(" ") + key + " twice";
            continue;
        }
        const std::string value = xml.substr(at + open.size(), end - at - open.size());
        char* stop = nullptr;
        const long v = std::strtol(value.c_str(), &stop, 10);
        if (value.empty() || *stop != '\0')
            out += std::string(" ") + key + "=" + Quote(value.c_str()) + " (not a number)";
        else
            out += Format(" %s=%ld", key, v);
    }
    return out;
}

namespace {

struct DialogSearch {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<DialogSearch*>(p);
    // Not GetWindowText: that would send a message to the host thread, which
    // may be waiting for this thread.
    wchar_t text[64] = {};
    InternalGetWindowText(w, text, 64);
    if (IsWindowVisible(w) && lstrcmpW(text, s->caption) == 0) s->found = w;
    return s->found == nullptr;
}

}  // namespace

int RunClosingDialog(const std::function<void()>& entry, const wchar_t* caption, WORD command) {
    const DWORD owner = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    std::atomic<int> closed{0};
    std::thread closer([&] {
        HWND last = nullptr;
        while (!returned) {
            DialogSearch s{caption, nullptr};
            EnumThreadWindows(owner, FindDialog, reinterpret_cast<LPARAM>(&s));
            if (s.found && s.found != last) {
                PostMessageA(s.found, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
                last = s.found;
                ++closed;
            }
            Sleep(1);
        }
    });
    entry();
    returned = true;
    closer.join();
    return closed;
}

}  // namespace hostsim
