#include "input/decoder.h"

namespace hk4 {

// Not built yet: reports are not interpreted.
void InputInterpreter::DecodeReport(const uint8_t (&)[kInputReportSize], TickShared&,
                                    PluginState&) {}

}  // namespace hk4
