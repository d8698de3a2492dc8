#include "input/jog_record.h"

#include <cmath>
#include <limits>

namespace hk4 {

bool HostMotionIdle(const Host& host) {
    return host.read(fields::MotionBusy) == 0 &&
           host.read(fields::MotionCountA) == host.read(fields::MotionCountB);
}

int32_t JogVelocityFromDouble(double velocity) {
    if (std::isnan(velocity)) return 0;
    if (velocity >= 2147483648.0) return std::numeric_limits<int32_t>::max();
    if (velocity <= -2147483649.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(velocity);  // truncates toward zero
}

void StartJog(const Host& host, int32_t axis, int32_t direction, double velocity) {
    host.write(fields::JogDirection.at(axis), direction);
    host.write(fields::JogVelocity.at(axis), JogVelocityFromDouble(velocity));
    host.write(fields::JogParam.at(axis), host.read(fields::AxisJogParam.at(axis)));
    host.write(fields::JogFullRate.at(axis), host.read(fields::AxisFullRate.at(axis)));
    host.write(fields::JogStop.at(axis), uint8_t{0});
    host.write(fields::JogStart.at(axis), uint8_t{1});
    host.Code("DOJOG");
}

void EndJog(const Host& host, int32_t axis) {
    StopJogFlag(host, axis);
    host.Code("ENDJOG");
}

void StopJogFlag(const Host& host, int32_t axis) {
    host.write(fields::JogStop.at(axis), uint8_t{1});
}

}  // namespace hk4
