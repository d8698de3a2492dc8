// A steady stream of polls in one wheel function, the way a machinist turns
// the wheel: eight polls turning up, four resting, eight turning down, four
// resting, with one host cycle per poll. Used to check and to measure the
// polling path in steady state.
#pragma once

#include "unit/fake_host.h"

namespace hk4::testing {

class PollWorkload {
  public:
    static constexpr int kCycle = 24;

    explicit PollWorkload(int function) : function_(function) {
        FakeHost& h = rig_.host;
        const Host& host = h.host();
        host.write(fields::StepSize, 0.001);
        for (int a = 0; a < 6; ++a) {
            host.write(fields::AxisFullRate.at(a), 1000);
            host.write(fields::AxisJogParam.at(a), 7);
        }
        h.dro[3] = 50.0;
        h.dro[74] = 100.0;
        h.dro[818] = 1.0;
        h.dro[821] = 100.0;
        h.settings().StepJogRate = 100;
        h.settings().DelaySteps = 5;
        h.settings().PercentTime = 3;
        h.settings().Vel = 2;
        rig_.Start(function_, 1);
    }

    // Stops recording: the callbacks only count from here on.
    void Quiet() { rig_.host.recording = false; }

    void Poll() {
        const int phase = poll_ % kCycle;
        int steps = 0;
        if (phase < 8)
            steps = 2;
        else if (phase >= 12 && phase < 20)
            steps = -2;
        counter_ = (counter_ + steps + 256) % 256;
        rig_.Poll(Report(counter_, steps != 0 ? 40 : 0, 1, function_));
        rig_.host.Update();
        ++poll_;
    }

    InputRig& rig() { return rig_; }

  private:
    InputRig rig_;
    int function_;
    int counter_ = 0;
    long poll_ = 0;
};

}  // namespace hk4::testing
