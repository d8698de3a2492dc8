// What the pendant check window reads from its number fields and how it
// words a device path: plain text in, plain text out, no window involved.
#pragma once

#include <optional>
#include <string>

namespace pendantcheck {

// A number field of the window: its name, what it expects, and its range
// (both ends allowed), as the machinist reads them in a refusal.
struct NumberField {
    const wchar_t* name;      // "Full rate"
    const wchar_t* expected;  // "a whole number of units per minute"
    double low, high;
    const wchar_t* lowText;  // the range as written in the message
    const wchar_t* highText;
    bool whole;  // only whole numbers
};

struct FieldReading {
    std::optional<double> value;  // when taken
    std::wstring refusal;         // otherwise: one line naming the field
};

// Reads the whole text of a field as a decimal number (white space around
// it aside): digits with an optional sign and decimal point; nothing else
// (no hexadecimal, no exponent, no trailing characters). A value that is not
// whole where a whole one is needed is refused, not cut; a comma where the
// decimal point was meant is called out as such.
FieldReading ReadNumberField(const NumberField& field, const std::wstring& text);

// The part of a device path that tells two ports apart (its instance), or
// the whole path when it has no such part.
std::string ShortDevicePath(const std::string& path);

}  // namespace pendantcheck
