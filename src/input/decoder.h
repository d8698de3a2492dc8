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

// What the tick learned about the reports that arrived since the last one.
struct ReportArrival {
    // The first report since the link came up: the wheel counts from its
    // counter, so this poll has no wheel steps.
    bool baseline = false;
    // The button went down in one of them after being up in the report
    // decoded before or in an earlier one of them: a press to act on, also
    // when the newest report shows the button released again.
    bool press = false;
    // The wheel counter from which this poll's motion counts, or -1 for the
    // report decoded before. Set when the selectors or the inhibit switch
    // changed among the drained reports: motion made before that change
    // belongs to another axis, function or an inhibited wheel, and is not
    // carried over to the selection of the newest report.
    int32_t wheelFrom = -1;
};

// Whether a report shows the push button held.
bool ButtonHeld(const uint8_t (&report)[kInputReportSize]);
// What decides where the wheel's motion goes: the axis selector with the
// inhibit switch, and the function selector (the push button is left out).
uint32_t WheelContext(const uint8_t (&report)[kInputReportSize]);

class InputInterpreter {
  public:
    // One poll, with the new report or the previous one again.
    void DecodeReport(const uint8_t (&report)[kInputReportSize], TickShared& shared,
                      PluginState& plugin, const ReportArrival& arrival = {});

    // The pendant's removal ended the host's jog (see JogEngine::LinkLost).
    void LinkLost() { engine_.LinkLost(); }
    // The link went down without a removal: a jog the wheel started ends.
    void EndRunningJog(const Host& host) { engine_.EndRunningJog(host); }

    // The selected axis, 0..4 (X, Y, Z, A, B).
    int32_t AxisIndex() const { return axisIndex_; }

    int32_t WheelMode() const { return wheelMode_; }
    bool JogInhibit() const { return jogInhibit_ != 0; }
    // The axis selector stands on no axis (OFF): the wheel does not act.
    bool OffAxis() const { return offAxis_; }
    int32_t WheelSteps() const { return wheelSteps_; }          // of the last poll
    int32_t WheelDirection() const { return wheelDirection_; }  // 0 up, 1 down
    const JogState& Jog() const { return engine_.State(); }

  private:
    void Button(const Host& host, bool press);
    void FunctionSelector(const Host& host);
    void AxisSelector(const Host& host);
    void Wheel(bool baseline, int32_t wheelFrom);

    uint32_t DecodeCopy_[2] = {0, 0};  // the report as two little-endian words
    bool buttonLatch_ = false;         // set while the 1021 button is held
    int32_t jogInhibit_ = 0;
    int32_t rawFunction_ = 0;
    int32_t wheelMode_ = kStepJog;
    int32_t previousMode_ = 0;  // 0: the first poll counts as a change of function
    int32_t previousAxisByte_ = 1;
    int32_t axisIndex_ = 0;
    bool offAxis_ = false;
    int32_t previousWheelCounter_ = 0;
    int32_t wheelSteps_ = 0;
    int32_t wheelDirection_ = 0;
    JogEngine engine_;
};

}  // namespace hk4
