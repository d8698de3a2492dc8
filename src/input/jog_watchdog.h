// The wheel's deadman in time: a continuous jog the wheel started ends within
// kJogDeadlineMs of the last tick that saw the wheel move, also while no tick
// runs (the host's thread is held without pumping messages).
//
// The tick tells the watchdog when the wheel moved and lets the jog run
// through it; the watchdog, on a thread of its own, sets the jog record's
// stop flag once the deadline has passed, and nothing else. Everything that
// needs the host's thread ("ENDJOG", the jog state's reset) follows on the
// next tick, which learns of the stop through TakeStop. The Windows
// watchdog lives in jog_watchdog_win32.cpp; see docs/jog-watchdog.md.
#pragma once

#include <cstdint>

#include "plugin/host.h"

namespace hk4 {

// The four polls of the deadman at the poll period; also the age past which a
// report starts nothing (Host::Stale).
inline constexpr uint32_t kJogDeadlineMs = kStaleReportMs;

class JogWatchdog {
  public:
    virtual ~JogWatchdog() = default;
    // The tick saw the wheel move: the jog may run until kJogDeadlineMs from
    // now. Called before the tick calls the host.
    virtual void WheelMoved() = 0;
    // Lets the wheel's jog on `axis` run: unless the watchdog has stopped it
    // since the last TakeStop, writes the record's stop flag 0 and start flag
    // 1 (in one step with the watchdog's own decision, so that the two never
    // interleave) and watches that axis. False, with nothing written, when
    // the watchdog has stopped the jog: the tick must not undo that.
    virtual bool LetRun(const Host& host, int32_t axis) = 0;
    // The tick stopped the jog itself (or the link or the plug-in went): no
    // stop is due any more. A stop already made is kept for TakeStop.
    virtual void Disarm() = 0;
    // True once after the watchdog stopped a jog: the tick owes the host
    // "ENDJOG". Also clears it when the tick sends "ENDJOG" for its own
    // reasons.
    virtual bool TakeStop() = 0;
};

// The record's flags of a running jog, written by the tick.
void WriteJogRunning(const Host& host, int32_t axis);

// The watchdog's state and decisions, free of threads and clocks: the owner
// calls every member with its lock held and gives the time in milliseconds
// of a clock that wraps at 2^32.
class JogDeadline {
  public:
    static constexpr uint32_t kNever = 0xFFFFFFFFu;

    void WheelMoved(uint32_t now);
    bool LetRun(const Host& host, int32_t axis);
    void Disarm() { armed_ = false; }
    bool TakeStop();
    bool Armed() const { return armed_; }
    // Milliseconds until the stop is due (0: due now), or kNever.
    uint32_t Remaining(uint32_t now) const;
    // Sets the watched axis's stop flag when the deadline has passed; true
    // when it did.
    bool StopIfDue(uint32_t now);
    // Sets it now, if a jog is watched (the library goes).
    bool StopNow();

  private:
    bool armed_ = false;
    bool stopped_ = false;
    bool moved_ = false;
    uint32_t lastMotion_ = 0;
    // Where the stop goes: the blocks the jog was started in (a later
    // InitControl's blocks are never written) and its axis.
    void* motion_ = nullptr;
    int32_t axis_ = 0;
};

// No watchdog: the jog is let run as before; only ticks end it.
class NoJogWatchdog final : public JogWatchdog {
  public:
    void WheelMoved() override {}
    bool LetRun(const Host& host, int32_t axis) override;
    void Disarm() override {}
    bool TakeStop() override { return false; }
};

JogWatchdog& NoWatchdog();

}  // namespace hk4
