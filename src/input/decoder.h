// Pendant input: decodes each 8-byte input report and acts on it (selectors,
// button, inhibit switch, and the wheel through the jog engine).
#pragma once

#include <cstdint>

#include "input/jog_engine.h"
#include "input/tick_shared.h"
#include "input/wheel.h"
#include "plugin/plugin_state.h"

namespace hk4 {

inline constexpr int kInputReportSize = 8;
inline constexpr int kOutputReportSize = 5;

// What the tick learned about the reports that arrived since the last one.
struct ReportArrival {
    // The button went down in one of them after being up in the report
    // decoded before or in an earlier one of them: a press to act on, also
    // when the newest report shows the button released again.
    bool press = false;
    // The wheel's motion was counted over the reports taken (`motion`,
    // signed, up positive), each against the one before it. When false the
    // report is the only one since the last poll, and the decoder counts
    // from the counter it decoded before.
    bool counted = false;
    int32_t motion = 0;
    // False while the reports may have been lost in an overflowed queue: the
    // button is then neither a press nor a hold.
    bool buttonKnown = true;
};

// Whether a report shows the push button held.
bool ButtonHeld(const uint8_t (&report)[kInputReportSize]);
// What decides where the wheel's motion goes: the whole axis byte (selector,
// inhibit switch and button: while the button is held a turned selector is
// not yet the selected axis) and the function selector.
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
    // While no report comes (the pendant is away), the step jog's DRO
    // snapshot is still written back once its hold has run out.
    void RestoreSnapshot(PluginState& plugin) { engine_.SnapshotRestore(plugin); }
    void EndJogSent() { engine_.EndJogSent(); }
    void SetWatchdog(JogWatchdog& watchdog) { engine_.SetWatchdog(watchdog); }
    // A poll that could not run: see JogEngine::DroppedPoll.
    bool DroppedPoll(const Host& host) { return engine_.DroppedPoll(host); }
    // The plug-in stops: the step jog's snapshot goes back at once.
    void RestoreSnapshotNow(PluginState& plugin) { engine_.RestoreSnapshotNow(plugin); }
    // The plug-in stops: a "G90" still owed goes out now.
    void RestoreAbsoluteNow(const Host& host) { engine_.RestoreAbsoluteNow(host); }

    // The selected axis, 0..4 (X, Y, Z, A, B).
    int32_t AxisIndex() const { return axisIndex_; }

    int32_t WheelMode() const { return wheelMode_; }
    bool JogInhibit() const { return jogInhibit_ != 0; }
    // The axis selector does not stand on the selected axis (OFF, or turned
    // while the button is held): the wheel does not act.
    bool OffAxis() const { return offAxis_; }
    int32_t WheelSteps() const { return wheelSteps_; }          // of the last poll
    int32_t WheelDirection() const { return wheelDirection_; }  // 0 up, 1 down
    const JogState& Jog() const { return engine_.State(); }

  private:
    void Button(const Host& host, const ReportArrival& arrival);
    void FunctionSelector(const Host& host);
    void AxisSelector(const Host& host);
    // The wheel's motion in the report, taken before any host call.
    WheelMotion Motion(const ReportArrival& arrival) const;
    void Wheel(const WheelMotion& m);

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
