// Prints, for each sensitivity setting, the jog velocity of the
// speed-following jog as a share of the axis's full rate against a steady
// wheel speed byte. The numbers come from the plug-in's own input code: a
// virtual pendant turns the wheel at a steady speed and the velocity the
// plug-in writes into the host's jog record is read back.
//
// Output: CSV with a header "speed,vel0,...,vel9".
#include <cstdio>

#include "unit/fake_host.h"

namespace {

constexpr int32_t kFullRate = 1000000;

double SteadyShare(int vel, int speed) {
    hk4::testing::FakeHost host;
    hk4::PluginState& plugin = host.plugin;
    plugin.settings.Vel = static_cast<int16_t>(vel);
    plugin.host.write(hk4::fields::AxisFullRate.at(0), kFullRate);
    hk4::InputInterpreter input;
    hk4::TickShared shared;
    uint8_t report[hk4::kInputReportSize] = {0, 0, 0, 1, 2, 0, 0, 0};  // X, speed-following
    input.DecodeReport(report, shared, plugin);
    host.Update(5);  // past the settling time after start
    int32_t velocity = 0;
    for (int poll = 0; poll < 12; ++poll) {  // ten samples fill the speed history
        report[1] = static_cast<uint8_t>(report[1] + 1);
        report[2] = static_cast<uint8_t>(speed);
        input.DecodeReport(report, shared, plugin);
        velocity = plugin.host.read(hk4::fields::JogVelocity.at(0));
        host.Update();
    }
    return static_cast<double>(velocity) / kFullRate;
}

}  // namespace

int main() {
    std::printf("speed");
    for (int vel = 0; vel < hk4::kSensitivityEntries; ++vel) std::printf(",vel%d", vel);
    std::printf("\n");
    for (int speed = 0; speed <= 255; ++speed) {
        std::printf("%d", speed);
        for (int vel = 0; vel < hk4::kSensitivityEntries; ++vel)
            std::printf(",%.6f", SteadyShare(vel, speed));
        std::printf("\n");
    }
    return 0;
}
