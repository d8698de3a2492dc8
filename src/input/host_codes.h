// Host button codes, LEDs and DROs the pendant's input acts on, and the one
// text it writes into the host's message line.
#pragma once

#include <cstdint>

namespace hk4 {

// Button codes for the host's DoButton.
inline constexpr int32_t kButtonTabScreen = 323;  // shows, then hides, the TAB screen
inline constexpr int32_t kButtonAxisBase = 334;   // + axis: the host's per-axis action
inline constexpr int32_t kButtonPendant = 1021;   // the pendant's push button

// LEDs read with GetLED.
inline constexpr int32_t kLedJogEnabled = 83;      // the host's jog switch
inline constexpr int32_t kLedPendantButton = 800;  // state that 1021 switches
inline constexpr int32_t kLedStepBlockA = 804;     // either lit: no step jog
inline constexpr int32_t kLedStepBlockB = 805;

// DROs read and written with GetDRO / SetDRO.
inline constexpr int32_t kDroJogRate = 3;  // percent of the axis's full rate
inline constexpr int32_t kDro74 = 74;
inline constexpr int32_t kDro818 = 818;  // saved before step jogs, written back after
inline constexpr int32_t kDro821 = 821;  // as 818; held at 100 while step jogs send a feed

inline constexpr const char* kJogOffText = " Jog OFF. ";

}  // namespace hk4
