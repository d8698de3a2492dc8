// Pendant input: decodes each 8-byte input report and acts on it (selectors,
// button, inhibit switch, and the wheel through the jog engine).
#pragma once

#include <cstdint>

#include "input/jog_engine.h"
#include "input/tick_shared.h"
#include "plugin/plugin_state.h"

namespace hk4 {

inline constexpr int kInputReportSize = 8;
inline constexpr int kOutputReportSize = 5;

class InputInterpreter {
  public:
    // One poll, with the new report or the previous one again.
    void DecodeReport(const uint8_t (&report)[kInputReportSize], TickShared& shared,
                      PluginState& plugin);

    // The selected axis, 0..4 (X, Y, Z, A, B).
    int32_t AxisIndex() const { return axisIndex_; }

    int32_t WheelMode() const { return wheelMode_; }
    bool JogInhibit() const { return jogInhibit_ != 0; }
    int32_t WheelSteps() const { return wheelSteps_; }          // of the last poll
    int32_t WheelDirection() const { return wheelDirection_; }  // 0 up, 1 down
    const JogState& Jog() const { return engine_.State(); }

  private:
    void Button(const Host& host);
    void FunctionSelector(const Host& host);
    void AxisSelector(const Host& host);
    void Wheel();

    uint32_t DecodeCopy_[2] = {0, 0};  // the report as two little-endian words
    bool buttonLatch_ = false;         // set while the 1021 button is held
    int32_t jogInhibit_ = 0;
    int32_t rawFunction_ = 0;
    int32_t wheelMode_ = kStepJog;
    int32_t previousMode_ = 0;  // 0: the first poll counts as a change of function
    int32_t previousAxisByte_ = 1;
    int32_t axisIndex_ = 0;
    int32_t previousWheelCounter_ = 0;
    int32_t wheelSteps_ = 0;
    int32_t wheelDirection_ = 0;
    JogEngine engine_;
};

}  // namespace hk4
