#include "input/jog_watchdog.h"

#include <utility>

namespace hk4 {

void WriteJogRunning(const Host& host, int32_t axis) {
    host.write(fields::JogStop.at(axis), uint8_t{0});
    host.write(fields::JogStart.at(axis), uint8_t{1});
}

void JogDeadline::WheelMoved(uint32_t now) {
    lastMotion_ = now;
    moved_ = true;
}

bool JogDeadline::LetRun(const Host& host, int32_t axis) {
    if (stopped_) return false;
    WriteJogRunning(host, axis);
    // Nothing is watched for a host that no longer takes writes; and a jog
    // let run with no motion seen yet is due at once.
    void* motion = host.block(Block::Motion);
    if (!motion) return true;
    if (!moved_) {
        moved_ = true;
        lastMotion_ = 0;
    }
    armed_ = true;
    motion_ = motion;
    axis_ = axis;
    return true;
}

bool JogDeadline::TakeStop() {
    return std::exchange(stopped_, false);
}

uint32_t JogDeadline::Remaining(uint32_t now) const {
    if (!armed_) return kNever;
    // Due once the deadline has passed, not on it: a poll that comes on
    // time there ends the jog itself, as the deadman of the polls does.
    const uint32_t elapsed = now - lastMotion_;  // wraps with the clock
    return elapsed > kJogDeadlineMs ? 0 : kJogDeadlineMs + 1 - elapsed;
}

bool JogDeadline::StopIfDue(uint32_t now) {
    if (!armed_ || Remaining(now) != 0) return false;
    return StopNow();
}

bool JogDeadline::StopNow() {
    if (!armed_) return false;
    Host stopper;  // only the blocks: it can call nothing of the host
    stopper.blocks.motion = motion_;
    stopper.StopJog(axis_);
    armed_ = false;
    stopped_ = true;
    return true;
}

bool NoJogWatchdog::LetRun(const Host& host, int32_t axis) {
    WriteJogRunning(host, axis);
    return true;
}

JogWatchdog& NoWatchdog() {
    static NoJogWatchdog none;
    return none;
}

}  // namespace hk4
