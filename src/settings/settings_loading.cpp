#include "settings/settings_loading.h"

namespace hk4 {

int16_t VelFromProfile(int32_t stored) {
    int32_t low = static_cast<int32_t>(static_cast<uint32_t>(stored) & 0xFFFFu);
    if (low >= 0x8000) low -= 0x10000;
    return static_cast<int16_t>(low);
}

void LoadSettings(XmlProfile& store, Settings& settings) {
    settings.Vel = VelFromProfile(store.GetInt(kSection, kKeyVel, kStartVel));
    settings.StepJogRate = store.GetInt(kSection, kKeyStepJogRate, kStartStepJogRate);
    settings.PercentTime = store.GetInt(kSection, kKeyPercentTime, kStartPercentTime);
    settings.DelaySteps = store.GetInt(kSection, kKeyDelaySteps, kStartDelaySteps);
}

}  // namespace hk4
