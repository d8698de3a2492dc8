#include "input/decoder.h"

#include "input/host_codes.h"
#include "input/wheel.h"

namespace hk4 {

namespace {

constexpr uint32_t kButtonBit = 1u << 29;   // byte 3 bit 5
constexpr uint32_t kInhibitBit = 1u << 28;  // byte 3 bit 4
constexpr uint32_t kFunctionMask = 0x7F;    // byte 4, bit 7 unused

uint32_t LoadLittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

int32_t ByteOf(uint32_t word, int index) {
    return static_cast<int32_t>((word >> (8 * index)) & 0xFF);
}

}  // namespace

void InputInterpreter::DecodeReport(const uint8_t (&report)[kInputReportSize], TickShared& shared,
                                    PluginState& plugin) {
    DecodeCopy_[0] = LoadLittleEndian32(report);
    DecodeCopy_[1] = LoadLittleEndian32(report + 4);

    const Host& host = plugin.host;
    Button(host);
    jogInhibit_ = (DecodeCopy_[0] & kInhibitBit) != 0 ? 1 : 0;
    FunctionSelector(host);
    AxisSelector(host);
    Wheel();

    PollInput in;
    in.WheelMode = wheelMode_;
    in.AxisIndex = axisIndex_;
    in.JogInhibit = jogInhibit_ != 0;
    in.Speed = ByteOf(DecodeCopy_[0], 2);
    in.Direction = wheelDirection_;
    in.Steps = wheelSteps_;
    engine_.WheelOperation(in, shared, plugin);
    engine_.SnapshotRestore(plugin);
}

// 1021 goes once on the press, and again on every poll while the button is
// held and the host's LED 800 says the action has not taken.
void InputInterpreter::Button(const Host& host) {
    if ((DecodeCopy_[0] & kButtonBit) == 0) {
        buttonLatch_ = false;
        return;
    }
    if (!buttonLatch_ || !host.GetLED(kLedPendantButton)) {
        host.DoButton(kButtonPendant);
        buttonLatch_ = true;
    }
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
    if (axisByte == previousAxisByte_) return;
    if (axisByte >= 1 && axisByte <= 5) {
        host.DoButton(kButtonAxisBase + axisIndex_);
        axisIndex_ = axisByte - 1;
    }
    previousAxisByte_ = axisByte;
}

// Motion while the inhibit switch is set is consumed and lost.
void InputInterpreter::Wheel() {
    const int32_t counter = ByteOf(DecodeCopy_[0], 1);
    const WheelMotion m = ClassifyWheel(previousWheelCounter_, counter, wheelDirection_);
    previousWheelCounter_ = counter;
    wheelDirection_ = m.direction;
    wheelSteps_ = jogInhibit_ != 0 ? 0 : m.steps;
}

}  // namespace hk4
