// What the configuration dialog decides, kept apart from any window system:
// the values it opens with, how it reads its edits, what OK takes, and the
// reread / write-back around the dialog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/config_dialog_ids.h"
#include "settings/settings.h"
#include "settings/settings_loading.h"  // VelFromProfile

namespace hk4 {

// Defaults when the dialog opens on a profile that lacks a value. They differ
// from the start-up defaults in Vel only.
inline constexpr int32_t kDialogDefaultVel = 2;
inline constexpr int32_t kDefaultStepJogRate = 100;
inline constexpr int32_t kDefaultPercentTime = 3;
inline constexpr int32_t kDefaultDelaySteps = 25;

// The integer check of the edits reads at most this many characters.
inline constexpr std::size_t kEditReadLimit = 63;

// Reads an edit's text as "%d" input: leading white space, an optional sign,
// decimal digits; the rest is ignored. No digits: no integer. Values beyond
// the 32-bit range stop at its bounds rather than wrapping.
std::optional<int32_t> ParseEditInt(std::string_view text);

// The list entry OK takes as Vel. With no entry selected (typed text in the
// editable list clears the selection) the current Vel stays when it names a
// row of the table, else the dialog's default.
int16_t VelFromSelection(int selection, int16_t current);

// The dialog's controls as the user sees and edits them.
struct DialogFields {
    int selection = -1;       // list 4032: entry index, -1 for none
    std::string feedRate;     // edit 4164: StepJogRate
    std::string delaySteps;   // edit 4165: DelaySteps
    std::string displayTime;  // edit 4166: PercentTime
};

// What the dialog shows when it opens: entry Vel (none outside 0..9) and the
// three values in decimal.
DialogFields InitialFields(const Settings& settings);

struct OkOutcome {
    int refusedEdit = 0;  // control id of the first edit without an integer; 0 when accepted
    Settings settings;    // the values OK takes, when accepted
};

// OK: the edits are checked in the order 4164, 4165, 4166 and the first one
// without an integer refuses the whole confirmation.
OkOutcome ConfirmFields(const DialogFields& fields, const Settings& current);

// Config's sequence over a profile store (anything with GetInt and SetInt by
// section and key): reread the four settings with the dialog's defaults, run
// the dialog, write the four back whatever its outcome, so that after any
// Config the section holds all four keys.
template <class Store>
void RereadForDialog(Store& store, Settings& settings) {
    // All four change, or none when a read fails.
    Settings reread = settings;
    reread.Vel = VelFromProfile(store.GetInt(kSection, kKeyVel, kDialogDefaultVel));
    reread.StepJogRate = store.GetInt(kSection, kKeyStepJogRate, kDefaultStepJogRate);
    reread.PercentTime = store.GetInt(kSection, kKeyPercentTime, kDefaultPercentTime);
    reread.DelaySteps = store.GetInt(kSection, kKeyDelaySteps, kDefaultDelaySteps);
    settings = reread;
}

template <class Store>
void WriteBackAfterDialog(Store& store, const Settings& settings) {
    store.SetInt(kSection, kKeyVel, static_cast<int32_t>(settings.Vel));
    store.SetInt(kSection, kKeyStepJogRate, settings.StepJogRate);
    store.SetInt(kSection, kKeyPercentTime, settings.PercentTime);
    store.SetInt(kSection, kKeyDelaySteps, settings.DelaySteps);
}

template <class Store, class RunDialog>
void EditSettingsOn(Store& store, Settings& settings, RunDialog&& runDialog) {
    RereadForDialog(store, settings);
    runDialog();
    WriteBackAfterDialog(store, settings);
}

}  // namespace hk4
