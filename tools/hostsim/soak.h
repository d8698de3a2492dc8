// Soak runs: long stretches of seeded random pendant input, and the checks a
// soak makes afterwards (the process's own counters, the host profile, the
// host's view of continuous jogs). See docs/scenarios.md.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostsim/import_patch.h"

namespace hostsim {

// What a human does to the pendant, one 25 ms poll at a time: turns the
// wheel in bursts with rests in between (the speed byte follows the wheel,
// 0 at rest), flips the function and axis selectors, the inhibit switch and
// the button now and then, and unplugs and plugs the pendant back in. Each
// step is a list of scenario lines for one device; the runner executes them
// and then ticks once.
class RandomPendant {
  public:
    RandomPendant(std::string device, uint32_t seed, bool calmSelectors)
        : device_(std::move(device)), state_(seed | 1), calmSelectors_(calmSelectors) {}

    // The lines before the next tick: an unplug comes first, while the read
    // the last tick started is still outstanding.
    std::vector<std::string> Step();
    // The lines that bring the wheel to rest and the pendant back.
    std::vector<std::string> Rest();

    bool unplugged() const { return away_ > 0; }
    bool wheelMoved() const { return moved_; }
    // The last step's wheel motion reaches the jog engine as steps: the
    // pendant is linked, its report is not the first since it came back
    // (which only sets the wheel's baseline), the inhibit switch is off and
    // the axis selector stands on an axis.
    bool wheelStepped() const { return stepped_; }
    int removals() const { return removals_; }
    // Step jog on X only, the wheel's motion of a poll sent as 1 to 40
    // reports of up to 127 counts each (more than the driver's queue holds
    // now and then), as a host that stalls sees them queue up.
    void SendBursts() { bursts_ = true; }
    // The net motion in steps (up positive) the reports carried to the jog
    // engine: not while unplugged, nor in a link's first poll, nor in a poll
    // whose reports may have overflowed the driver's queue or the one after.
    long netTurned() const { return netTurned_; }
    // For the host's side of a soak: 0 to 5 host cycles before a tick, and
    // whether the host's jog switch flips.
    int HostCycles() { return Below(6); }
    bool FlipJogSwitch() { return Chance(30); }

  private:
    std::vector<std::string> BurstStep(std::vector<std::string>& lines);
    uint32_t Next();
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
    bool Chance(int percentTenths) { return Below(1000) < percentTenths; }

    std::string device_;
    uint32_t state_;
    int burst_ = -1;     // polls left in the current wheel burst; below 0, of the rest
    int direction_ = 1;  // +1 or -1
    int away_ = 0;       // polls until the pendant is plugged back in
    bool inhibit_ = false, button_ = false, moved_ = false, speed_ = false;
    int removals_ = 0;
    bool calmSelectors_;
    int rested_ = 0;                // polls since the wheel last turned
    int axis_ = 1;                  // axis selector position, 0 = OFF
    bool baselinePending_ = false;  // plugged back, no report since
    bool stepped_ = false;
    bool bursts_ = false;
    long netTurned_ = 0;
};

// The step-jog lines of one axis letter, summed: the net distance the host
// was asked to move that axis.
struct StepLineSum {
    explicit StepLineSum(char letter) : axis{' ', letter, ' ', '\0'} {}
    void Line(const std::string& line);
    char axis[4];
    double distance = 0.0;
    long lines = 0;
};

// The host's side of continuous jogs and of removals, read from the trace.
// "DOJOG" starts the jog of each axis whose record asks for a start
// (JogStart 1, which the host then clears) and is not stopped (JogStop 0);
// the jog runs until "ENDJOG" or until its axis's JogStop is set. Every
// removal of the pendant must be followed by exactly one "ENDJOG" before
// the next tick.
class JogWatch {
  public:
    // `stopped(axis)`: the axis's JogStop is 1. `takeStart(axis)`: its
    // JogStart is 1; the host clears it. `velocityOk(axis)`: its jog
    // record's velocity lies within 1 and the axis's full rate.
    JogWatch(std::function<bool(int)> stopped, std::function<bool(int)> takeStart,
             std::function<bool(int)> velocityOk)
        : stopped_(std::move(stopped)),
          takeStart_(std::move(takeStart)),
          velocityOk_(std::move(velocityOk)) {}

    void Line(const std::string& line);
    void Removed();  // the pendant was unplugged
    // Called once per tick with how many ticks the wheel has rested.
    void Rested(int ticks, int limit);
    void Finish(int restTicks);
    // During a hold of the host's thread, once the deadman's time and a
    // tolerance have passed since the last poll with wheel steps: a jog
    // still running is a failure.
    void Held(long sinceStepsMs);

    std::vector<std::string> failures;
    int failureCount = 0;
    int ticks = 0, jogs = 0, endjogs = 0, removals = 0;
    // What a step jog owes the host (its NoAbsoluteRestore is 0): the next
    // line after each step line is its "G90", and each snapshot of DROs 818
    // and 821 (its GetDRO 818) is written back (its SetDRO 818) exactly once,
    // before the next is taken and by the end.
    int stepLines = 0, snapshots = 0;
    std::string Summary() const;
    std::string FinishSummary() const;

  private:
    void Failure(const std::string& what);
    bool Running() const { return runningAxes_ != 0; }

    std::function<bool(int)> stopped_, takeStart_, velocityOk_;
    unsigned runningAxes_ = 0;  // bit per axis
    int tick_ = 0;              // the trace's number of the last tick
    int startedAt_ = 0;         // tick of the first DOJOG of the running jog
    bool reported_ = false;     // this jog's failure is already counted
    bool removalOpen_ = false;
    int removalEndjogs_ = 0;
    int g90OwedAt_ = -1;   // tick of the step line whose "G90" has not come
    int snapshotAt_ = -1;  // tick of the snapshot not yet written back
};

// The plug-in's own heap: its calls to the C runtime's allocator, counted
// through its import table (what it allocated and has not freed). A block
// the plug-in frees is filled with 0xDD and held back for a while before it
// really goes, so that a use after free reads garbage instead of what was
// there.
std::vector<Redirect> HeapRedirects();

// From now on one allocation of the plug-in fails (malloc, calloc or
// realloc returns null): the one after `grant` more have succeeded; those
// after it succeed again, as they would once memory is freed. One failure
// at a time, swept over every allocation of a call, reaches every failure
// point. (Failing all of them at once would end the process inside the
// static C++ runtime: its emergency exception memory is guarded by a mutex
// that the threading runtime makes on first use, with malloc, and a throw
// that cannot allocate recurses there without end.)
// FailAllocations(false) stops the injection. What the plug-in asked for
// meanwhile:
struct AllocationFailures {
    long long granted = 0, refused = 0;
};
void FailAllocations(bool fail, long long grant = 0);
AllocationFailures TakeAllocationFailures();

// The process's own counters, and the plug-in's heap.
struct ProcessCounters {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
    DWORD gdi = 0, user = 0;
    long long heapBlocks = 0, heapBytes = 0;
    std::string how;  // where the system's own counters were not usable
};
ProcessCounters ReadProcessCounters();

// The four settings in the profile file, as one trace line:
// "~ profile: DelaySteps=5 PercentTime=80 StepJogRate=4 Vel=10" (each key
// must stand exactly once, with an integer value).
std::string ProfileSummary(const std::string& path);

// Runs `entry` (Config) while a second thread closes the dialog captioned
// `caption` of this thread by the command `command` (IDOK or IDCANCEL).
// Returns how many times it had to close it; 0 when no dialog came.
int RunClosingDialog(const std::function<void()>& entry, const wchar_t* caption, WORD command);

}  // namespace hostsim
