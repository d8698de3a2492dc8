// The four user settings and the sensitivity table.
#pragma once

#include <cstdint>
#include <string>

namespace hk4 {

struct Settings {
    int16_t Vel = 0;          // index into SensitivityTable
    int32_t StepJogRate = 0;  // feed word of step jogs, 0 for none
    int32_t DelaySteps = 0;   // wheel steps before the fixed-rate jog starts
    int32_t PercentTime = 0;  // TAB screen display time, 0 for none
};

// Profile section and keys.
inline constexpr const char* kSection = "Halvex_K4_Pendant";
inline constexpr const char* kKeyVel = "Vel";
inline constexpr const char* kKeyStepJogRate = "StepJogRate";
inline constexpr const char* kKeyPercentTime = "PercentTime";
inline constexpr const char* kKeyDelaySteps = "DelaySteps";

inline constexpr int kSensitivityEntries = 10;
extern const char* const SensitivityTable[kSensitivityEntries];

// A Vel outside the table never indexes it: it is clamped to 0..9.
int SensitivityIndex(int vel);

// The divisor of the speed-following jog: the leading integer of the entry.
int SensitivityDivisor(int vel);

// What the configuration list shows for table index i: the text after the
// first comma of the entry.
std::string SensitivityLabel(int index);

}  // namespace hk4
