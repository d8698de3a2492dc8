#include "settings/settings_edit.h"

#include <limits>

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
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || !IsDigit(text[i])) return std::nullopt;
    // Magnitude up to one past INT32_MAX, so that INT32_MIN fits exactly.
    const int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
    int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int16_t VelFromProfile(int32_t stored) {
    const uint16_t low = static_cast<uint16_t>(static_cast<uint32_t>(stored) & 0xFFFFu);
    return static_cast<int16_t>(low >= 0x8000u ? int32_t{low} - 0x10000 : int32_t{low});
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
