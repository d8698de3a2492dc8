// The host as the plug-in sees it: six callbacks and four memory blocks.
//
// Every host field is reached through Host::read / Host::write with a named
// field below; the bytes are copied with memcpy, so no misaligned typed
// pointer into host memory is ever formed. Only the fields listed here exist.
#pragma once

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32) && !defined(_WIN64)
#define HK4_CDECL __cdecl
#else
#define HK4_CDECL
#endif

namespace hk4 {

// Host callbacks. The host's LED answer is one byte, non-zero = on; it is
// taken as a byte so that any non-zero value reads as on.
using DoButtonFn = void(HK4_CDECL*)(int32_t code);
using SetDroFn = void(HK4_CDECL*)(int32_t number, double value);
using GetDroFn = double(HK4_CDECL*)(int32_t number);
using GetLedFn = uint8_t(HK4_CDECL*)(int32_t number);
using SetLedFn = void(HK4_CDECL*)(int32_t number, bool on);
using CodeFn = void(HK4_CDECL*)(const char* line);

struct HostCallbacks {
    DoButtonFn DoButton = nullptr;
    SetDroFn SetDRO = nullptr;
    GetDroFn GetDRO = nullptr;
    GetLedFn GetLED = nullptr;
    SetLedFn SetLED = nullptr;  // stored, never called
    CodeFn Code = nullptr;
};

enum class Block { Motion, Options, Planner, ParentWindow };

template <typename T>
struct Field {
    Block block;
    std::size_t offset;
};

// A per-axis field: entry a lies at base + stride * a, for axes 0..5.
template <typename T>
struct AxisField {
    Block block;
    std::size_t base;
    std::size_t stride;
    static constexpr int kAxes = 6;
    constexpr Field<T> at(int axis) const {
        const int a = axis < 0 ? 0 : (axis >= kAxes ? kAxes - 1 : axis);
        return Field<T>{block, base + stride * static_cast<std::size_t>(a)};
    }
};

namespace fields {
// Motion block.
inline constexpr Field<int32_t> MotionCountA{Block::Motion, 163840};
inline constexpr Field<int32_t> MotionCountB{Block::Motion, 163844};
inline constexpr Field<uint8_t> MotionBusy{Block::Motion, 166367};
inline constexpr AxisField<int32_t> JogVelocity{Block::Motion, 163940, 96};
inline constexpr AxisField<int32_t> JogFullRate{Block::Motion, 163944, 96};
inline constexpr AxisField<int32_t> JogParam{Block::Motion, 163948, 96};
inline constexpr AxisField<uint8_t> JogStop{Block::Motion, 163954, 96};
inline constexpr AxisField<uint8_t> JogStart{Block::Motion, 163956, 96};
inline constexpr AxisField<int32_t> JogDirection{Block::Motion, 163960, 96};
// Options block.
inline constexpr Field<int32_t> NoAbsoluteRestore{Block::Options, 1192};
inline constexpr Field<double> RotationAngle{Block::Options, 133672};
// Planner block.
inline constexpr Field<int32_t> PlannerCountA{Block::Planner, 800092};
inline constexpr Field<int32_t> PlannerCountB{Block::Planner, 800096};
inline constexpr Field<int32_t> PlannerBusy{Block::Planner, 801968};
inline constexpr AxisField<int32_t> AxisFullRate{Block::Planner, 801608, 4};
inline constexpr AxisField<int32_t> AxisJogParam{Block::Planner, 801632, 4};
inline constexpr Field<double> StepSize{Block::Planner, 801872};
inline constexpr std::size_t StatusTextOffset = 1161996;  // host string object
// Host window object: a 32-bit window handle.
inline constexpr Field<int32_t> ParentHandle{Block::ParentWindow, 28};
}  // namespace fields

// Smallest block sizes that hold every field above (used by test hosts).
inline constexpr std::size_t kMotionBlockSize = 166368;
inline constexpr std::size_t kOptionsBlockSize = 133680;
inline constexpr std::size_t kPlannerBlockSize = fields::StatusTextOffset + sizeof(void*);
inline constexpr std::size_t kParentWindowSize = 32;

struct HostBlocks {
    void* motion = nullptr;
    void* options = nullptr;
    void* planner = nullptr;
    void* parentWindow = nullptr;
};

// Tells whether `size` bytes at `p` may be read. The Windows shell supplies a
// real check; elsewhere any non-null pointer counts as readable.
using ReadableFn = bool (*)(const void* p, std::size_t size);

// The longest a tick's own host callbacks may hold it after it read its
// report: the deadman's time (four polls). Past it, the report starts nothing.
inline constexpr uint32_t kStaleReportMs = 100;

// Milliseconds of a clock that wraps at 2^32 (the system's tick count).
using ClockFn = uint32_t (*)();

class Host {
  public:
    HostCallbacks callbacks;
    HostBlocks blocks;
    ReadableFn readable = nullptr;
    // Without a clock a hold does not count as a change of the world.
    ClockFn clock = nullptr;
    // The host's callbacks and blocks are valid only until StopPlug returns
    // (until the next InitControl). While released, every call is skipped,
    // every read gives zero and every write is dropped, so that the rest of
    // a tick StopPlug was called from inside, or an unload without StopPlug,
    // leaves the host alone.
    bool released = false;
    // While a handler of the pendant link runs: that link's flag, set once
    // the link is dismissed (StopPlug or a second InitControl from inside
    // one of its host callbacks). What is left of its handler then leaves
    // the host alone too, whatever the host did meanwhile.
    const bool* dismissed = nullptr;
    bool Muted() const { return released || (dismissed && *dismissed); }

    // The world a tick acts on. A polling tick reads the pendant's report and
    // the host's state, then acts on them through host callbacks, any of
    // which may run for long (a message box) and let other events in. Every
    // event that makes what a running tick has read untrue calls
    // WorldChanged(): the pendant's removal or arrival, a tick dropped while
    // another ran, the deadman's stop, StopPlug, InitControl, a jog stopped
    // by another thread. A hold is a change in time: once more than
    // kStaleReportMs have passed since the tick read its report
    // (ReportRead), the report is too old to move anything either.
    //
    // From then on the rest of that tick is stale, and what a call may still
    // do depends on what it does, not on the staleness alone:
    //
    //   STARTS (dropped once stale; `Call::Starts`, the default):
    //     DoButton 1021 (the button), 334 + a (the selectors and the
    //     fixed-rate jog's rest), 323 opening the TAB screen; SetDRO of a
    //     DRO adjustment and the step jog's 100 in DRO 821; a step line;
    //     "DOJOG" and the jog record's writes (velocity, direction, JogStop
    //     0, JogStart 1); the status text; the pendant's lamp.
    //   FINISHES (made as long as the host is not released, stale or not;
    //   `Call::Finishes`):
    //     the "G90" that belongs to a step line already sent; "ENDJOG" and
    //     a JogStop of 1 (StopJog); SetDRO 818 and 821 writing the step
    //     jog's snapshot back; DoButton 323 closing the TAB screen the
    //     plug-in opened.
    //
    // Every call says whether it was made; callers record what they did in
    // the host only then. A finish that cannot be made now (the host is
    // released, or the link dismissed) stays owed and is made at the first
    // moment it can, at the latest inside StopPlug (PendantWindow::Dismiss).
    // Reads always work. Only the tick's own code is gated so: a host entry
    // point or a device change handled inside one of its callbacks acts as
    // usual (HostGate).
    //
    // WorldChanged may be called from any thread, at any time; the count is
    // lock-free on both builds.
    void WorldChanged() { worldChanges_.fetch_add(1, std::memory_order_acq_rel); }
    uint32_t WorldCount() const { return worldChanges_.load(std::memory_order_acquire); }
    // The running tick has read its report now: from here its own host
    // callbacks may hold it no longer than kStaleReportMs.
    void ReportRead() {
        if (!tickOpen_ || !clock) return;
        readAt_ = clock();
        readTimed_ = true;
    }
    // True inside a tick (TickWorld) once the world changed since it began,
    // or once its report is older than kStaleReportMs.
    bool Stale() const {
        if (!tickOpen_) return false;
        if (WorldCount() != tickWorld_) return true;
        return readTimed_ && static_cast<uint32_t>(clock() - readAt_) > kStaleReportMs;
    }

    enum class Call { Starts, Finishes };
    bool Allowed(Call kind) const { return !Muted() && (kind == Call::Finishes || !Stale()); }

    // Calls through a callback that was never installed are skipped. Each
    // returns false when the call was not made.
    bool DoButton(int32_t code, Call kind = Call::Starts) const {
        if (!callbacks.DoButton || !Allowed(kind)) return false;
        callbacks.DoButton(code);
        return true;
    }
    // A value that is not a finite number is never written to a DRO; there
    // is nothing to write, and that counts as done.
    bool SetDRO(int32_t number, double value, Call kind = Call::Starts) const {
        if (!std::isfinite(value)) return true;
        if (!callbacks.SetDRO || !Allowed(kind)) return false;
        callbacks.SetDRO(number, value);
        return true;
    }
    double GetDRO(int32_t number) const {
        return callbacks.GetDRO && !Muted() ? callbacks.GetDRO(number) : 0.0;
    }
    bool GetLED(int32_t number) const {
        return callbacks.GetLED && !Muted() ? callbacks.GetLED(number) != 0 : false;
    }
    // "ENDJOG" always finishes (a jog's stop).
    bool Code(const char* line, Call kind = Call::Starts) const {
        if (!callbacks.Code || line == nullptr) return false;
        if (std::strcmp(line, "ENDJOG") == 0) kind = Call::Finishes;
        if (!Allowed(kind)) return false;
        callbacks.Code(line);
        return true;
    }

    void* block(Block b) const {
        if (Muted()) return nullptr;
        switch (b) {
            case Block::Motion:
                return blocks.motion;
            case Block::Options:
                return blocks.options;
            case Block::Planner:
                return blocks.planner;
            case Block::ParentWindow:
                return blocks.parentWindow;
        }
        return nullptr;
    }

    // A field of a block the host has not given yet reads as zero; writes
    // to it are dropped.
    template <typename T>
    T read(Field<T> f) const {
        T value{};
        if (const void* base = block(f.block))
            std::memcpy(&value, static_cast<const unsigned char*>(base) + f.offset, sizeof(T));
        return value;
    }
    template <typename T>
    void write(Field<T> f, T value) const {
        if (!Stale()) store(f, value);
    }
    // Sets an axis's JogStop: a stop always goes through, stale tick or not.
    void StopJog(int32_t axis) const { store(fields::JogStop.at(axis), uint8_t{1}); }

    // The host's message line. Returns false when nothing was written.
    bool SetStatusText(const char* text) const;

  private:
    friend class HostGate;
    friend class TickWorld;

    template <typename T>
    void store(Field<T> f, T value) const {
        if (void* base = block(f.block))
            std::memcpy(static_cast<unsigned char*>(base) + f.offset, &value, sizeof(T));
    }

    static_assert(std::atomic<uint32_t>::is_always_lock_free, "WorldChanged must not lock");
    std::atomic<uint32_t> worldChanges_{0};
    bool tickOpen_ = false;   // a tick's own code runs (TickWorld)
    uint32_t tickWorld_ = 0;  // the count when that tick began
    bool readTimed_ = false;  // that tick has read its report, at readAt_
    uint32_t readAt_ = 0;
};

// Points Host::dismissed at `flag` for its scope (a link's handler, or null
// for an entry point the host calls), and restores what it was. Within it no
// tick's world is watched until a TickWorld opens one.
class HostGate {
  public:
    HostGate(Host& host, const bool* flag)
        : host_(host), saved_(host.dismissed), savedOpen_(host.tickOpen_) {
        host.dismissed = flag;
        host.tickOpen_ = false;
    }
    ~HostGate() {
        host_.dismissed = saved_;
        host_.tickOpen_ = savedOpen_;
    }
    HostGate(const HostGate&) = delete;
    HostGate& operator=(const HostGate&) = delete;

  private:
    Host& host_;
    const bool* saved_;
    bool savedOpen_;
};

// A tick's own code runs in its scope: the world it acts on is the one of
// its start (see Host::WorldChanged).
class TickWorld {
  public:
    explicit TickWorld(Host& host)
        : host_(host),
          savedOpen_(host.tickOpen_),
          savedWorld_(host.tickWorld_),
          savedTimed_(host.readTimed_),
          savedReadAt_(host.readAt_) {
        host.tickOpen_ = true;
        host.tickWorld_ = host.WorldCount();
        host.readTimed_ = false;
    }
    ~TickWorld() {
        host_.tickOpen_ = savedOpen_;
        host_.tickWorld_ = savedWorld_;
        host_.readTimed_ = savedTimed_;
        host_.readAt_ = savedReadAt_;
    }
    TickWorld(const TickWorld&) = delete;
    TickWorld& operator=(const TickWorld&) = delete;

  private:
    Host& host_;
    bool savedOpen_;
    uint32_t savedWorld_;
    bool savedTimed_;
    uint32_t savedReadAt_;
};

}  // namespace hk4
