// How the profile store writes and reads its integer values.
#pragma once

#include <cstdint>
#include <string>

namespace hk4 {

// Leading white space, one optional sign, then decimal digits up to the first
// other character; the rest is ignored. No digits reads as 0. Values beyond
// the 32-bit range saturate at its bounds.
int32_t ParseProfileInt(const std::string& text);

// Base 10, "-" for negative values, no grouping or leading zeros.
std::string FormatProfileInt(int32_t value);

}  // namespace hk4
