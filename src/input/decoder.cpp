#include "input/decoder.h"

#include "input/host_codes.h"

namespace hk4 {

namespace {

constexpr uint32_t kButtonBit = 1u << 29;   // byte 3 bit 5
constexpr uint32_t kInhibitBit = 1u << 28;  // byte 3 bit 4
constexpr uint32_t kFunctionMask = 0x7F;    // byte 4, bit 7 unused
constexpr int32_t kAxisFlagBits = 0x30;     // inhibit and button in the axis byte

uint32_t LoadLittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

int32_t ByteOf(uint32_t word, int index) {
    return static_cast<int32_t>((word >> (8 * index)) & 0xFF);
}

}  // namespace

bool ButtonHeld(const uint8_t (&report)[kInputReportSize]) {
    return (LoadLittleEndian32(report) & kButtonBit) != 0;
}

uint32_t WheelContext(const uint8_t (&report)[kInputReportSize]) {
    return uint32_t{report[3]} | (report[4] & kFunctionMask) << 8;
}

void InputInterpreter::DecodeReport(const uint8_t (&report)[kInputReportSize], TickShared& shared,
                                    PluginState& plugin, const ReportArrival& arrival) {
    DecodeCopy_[0] = LoadLittleEndian32(report);
    DecodeCopy_[1] = LoadLittleEndian32(report + 4);

    // The wheel's motion is known before any host call of the poll: the
    // watchdog's time runs from the report, not from the end of a callback.
    const WheelMotion motion = Motion(arrival);
    if (motion.steps != 0) engine_.WheelMoved();

    // Each step below makes at most one host call. Once the world changed
    // under this tick (Host::Stale: the pendant went, a stop came or a
    // callback held the tick past the deadman's time) the report is out of
    // date: the selectors wait for the next report, the wheel's motion is
    // dropped and the wheel does nothing.
    const Host& host = plugin.host;
    Button(host, arrival);
    if (!host.Stale()) {
        jogInhibit_ = (DecodeCopy_[0] & kInhibitBit) != 0 ? 1 : 0;
        FunctionSelector(host);
    }
    if (!host.Stale()) AxisSelector(host);
    Wheel(motion);
    if (host.Stale()) {
        wheelSteps_ = 0;
        return;
    }

    PollInput in;
    in.WheelMode = wheelMode_;
    in.AxisIndex = axisIndex_;
    in.JogInhibit = jogInhibit_ != 0;
    in.OffAxis = offAxis_;
    in.Speed = ByteOf(DecodeCopy_[0], 2);
    in.Direction = wheelDirection_;
    in.Steps = wheelSteps_;
    engine_.WheelOperation(in, shared, plugin);
    engine_.SnapshotRestore(plugin);
}

// 1021 goes once on the press, and again on every poll while the button is
// held and the host's LED 800 says the action has not taken. A press seen
// among the reports queued since the last tick counts once, even when the
// button is up again in the newest. A button that is not known (an
// overflowed queue) does nothing.
void InputInterpreter::Button(const Host& host, const ReportArrival& arrival) {
    const bool held = (DecodeCopy_[0] & kButtonBit) != 0;
    const bool due =
        arrival.buttonKnown &&
        (arrival.press || (held && (!buttonLatch_ || !host.GetLED(kLedPendantButton))));
    // A press that was not made (a stale tick) leaves the latch as it was:
    // a button still held presses on the next fresh poll.
    if (due && !host.DoButton(kButtonPendant)) return;
    buttonLatch_ = held;
}

void InputInterpreter::FunctionSelector(const Host& host) {
    rawFunction_ = static_cast<int32_t>(DecodeCopy_[1] & kFunctionMask);
    if (rawFunction_ >= kStepJog && rawFunction_ <= kDro74Adjust) wheelMode_ = rawFunction_;
    if (wheelMode_ != previousMode_) host.DoButton(kButtonAxisBase + axisIndex_);
    previousMode_ = wheelMode_;
}

// The whole byte is compared, flag bits included: releasing the button or the
// inhibit switch counts as a change and re-selects the axis.
void InputInterpreter::AxisSelector(const Host& host) {
    const int32_t axisByte = ByteOf(DecodeCopy_[0], 3);
    if (axisByte != previousAxisByte_) {
        if (axisByte >= 1 && axisByte <= 5) {
            host.DoButton(kButtonAxisBase + axisIndex_);
            axisIndex_ = axisByte - 1;
        }
        previousAxisByte_ = axisByte;
    }
    // The wheel acts only on the axis the selector stands on. While a flag
    // bit is set the selection keeps the axis it had; a selector turned
    // meanwhile (the button held) stands on another one, or on none (OFF),
    // and the wheel must not move the old axis.
    const int32_t position = axisByte & ~kAxisFlagBits;
    offAxis_ = position != axisIndex_ + 1;
}

// Motion while the inhibit switch is set or the axis selector is not on the
// selected axis is consumed and lost. The tick counts the motion of the
// reports it drained one by one; a lone report counts from the counter
// decoded before.
WheelMotion InputInterpreter::Motion(const ReportArrival& arrival) const {
    WheelMotion m{0, wheelDirection_};
    if (arrival.counted) {
        if (arrival.motion != 0) {
            m.direction = arrival.motion > 0 ? kWheelUp : kWheelDown;
            m.steps = arrival.motion > 0 ? arrival.motion : -arrival.motion;
        }
    } else {
        m = ClassifyWheel(previousWheelCounter_, ByteOf(DecodeCopy_[0], 1), wheelDirection_);
    }
    return m;
}

void InputInterpreter::Wheel(const WheelMotion& m) {
    previousWheelCounter_ = ByteOf(DecodeCopy_[0], 1);
    wheelDirection_ = m.direction;
    wheelSteps_ = (jogInhibit_ != 0 || offAxis_) ? 0 : m.steps;
}

}  // namespace hk4
