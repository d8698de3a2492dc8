#include "settings/settings_edit.h"

#include "settings/profile_number.h"

namespace hk4 {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Decimal(int32_t value) {
    return std::to_string(value);
}

}  // namespace

std::optional<int32_t> ParseEditInt(std::string_view text) {
    text = text.substr(0, kEditReadLimit);
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    // The profile reads text without digits as 0; the dialog refuses it.
    if (i >= text.size() || !IsDigit(text[i])) return std::nullopt;
    return ParseProfileInt(std::string(text));
}

int16_t VelFromSelection(int selection, int16_t current) {
    if (selection >= 0 && selection < kSensitivityEntries) return static_cast<int16_t>(selection);
    if (current >= 0 && current < kSensitivityEntries) return current;
    return static_cast<int16_t>(kDialogDefaultVel);
}

DialogFields InitialFields(const Settings& settings) {
    DialogFields fields;
    fields.selection = settings.Vel >= 0 && settings.Vel < kSensitivityEntries ? settings.Vel : -1;
    fields.feedRate = Decimal(settings.StepJogRate);
    fields.delaySteps = Decimal(settings.DelaySteps);
    fields.displayTime = Decimal(settings.PercentTime);
    return fields;
}

OkOutcome ConfirmFields(const DialogFields& fields, const Settings& current) {
    OkOutcome outcome{0, current};  // a refusal leaves everything as it was
    const std::optional<int32_t> feedRate = ParseEditInt(fields.feedRate);
    if (!feedRate) {
        outcome.refusedEdit = IDC_FEED_RATE;
        return outcome;
    }
    const std::optional<int32_t> delaySteps = ParseEditInt(fields.delaySteps);
    if (!delaySteps) {
        outcome.refusedEdit = IDC_DELAY_STEPS;
        return outcome;
    }
    const std::optional<int32_t> displayTime = ParseEditInt(fields.displayTime);
    if (!displayTime) {
        outcome.refusedEdit = IDC_DISPLAY_TIME;
        return outcome;
    }
    outcome.settings.Vel = VelFromSelection(fields.selection, current.Vel);
    outcome.settings.StepJogRate = *feedRate;
    outcome.settings.DelaySteps = *delaySteps;
    outcome.settings.PercentTime = *displayTime;
    return outcome;
}

}  // namespace hk4
