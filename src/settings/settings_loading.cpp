#include "settings/settings_loading.h"

namespace hk4 {

int16_t VelFromProfile(int32_t stored) {
    int32_t low = static_cast<int32_t>(static_cast<uint32_t>(stored) & 0xFFFFu);
    if (low >= 0x8000) low -= 0x10000;
    return static_cast<int16_t>(low);
}

void LoadSettings(XmlProfile& store, Settings& settings) {
    Settings loaded = settings;
    loaded.Vel = VelFromProfile(store.GetInt(kSection, kKeyVel, kStartVel));
    loaded.StepJogRate = store.GetInt(kSection, kKeyStepJogRate, kStartStepJogRate);
    loaded.PercentTime = store.GetInt(kSection, kKeyPercentTime, kStartPercentTime);
    loaded.DelaySteps = store.GetInt(kSection, kKeyDelaySteps, kStartDelaySteps);
    settings = loaded;
}

void LoadStartDefaults(Settings& settings) {
    settings.Vel = static_cast<int16_t>(kStartVel);
    settings.StepJogRate = kStartStepJogRate;
    settings.PercentTime = kStartPercentTime;
    settings.DelaySteps = kStartDelaySteps;
}

}  // namespace hk4
