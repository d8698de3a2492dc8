// Loading the four settings from the profile when the plug-in starts.
#pragma once

#include "settings/settings.h"
#include "settings/xml_profile.h"

namespace hk4 {

// Start-up defaults, used when the profile holds no value.
inline constexpr int32_t kStartVel = 0;
inline constexpr int32_t kStartStepJogRate = 100;
inline constexpr int32_t kStartPercentTime = 3;
inline constexpr int32_t kStartDelaySteps = 25;

// Reads Vel, StepJogRate, PercentTime and DelaySteps, in that order, with the
// start-up defaults. Writes nothing into the profile (an empty key element is
// dropped, as every read does). All four change, or none when a read fails.
void LoadSettings(XmlProfile& store, Settings& settings);

// The four start-up defaults, as from a profile that holds none.
void LoadStartDefaults(Settings& settings);

// Vel keeps the low 16 bits of the stored integer.
int16_t VelFromProfile(int32_t stored);

}  // namespace hk4
