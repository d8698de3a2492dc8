#include "pendantcheck/window_text.h"

#include <cmath>
#include <cwchar>

namespace pendantcheck {

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// A sign, digits and at most one decimal point with a digit somewhere.
bool IsDecimal(const std::wstring& text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) ++i;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (IsDigit(text[i])) {
            digits = true;
        } else if (text[i] == L'.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

std::wstring Trimmed(const std::wstring& text) {
    const std::size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

}  // namespace

FieldReading ReadNumberField(const NumberField& field, const std::wstring& text) {
    const std::wstring t = Trimmed(text);
    const std::wstring expected = std::wstring(field.name) + L": " + field.expected + L", " +
                                  field.lowText + L" to " + field.highText + L".";
    if (!IsDecimal(t)) {
        std::wstring pointed = t;
        const std::size_t comma = pointed.find(L',');
        if (comma != std::wstring::npos) pointed[comma] = L'.';
        if (comma != std::wstring::npos && t.find(L'.') == std::wstring::npos && IsDecimal(pointed))
            return {std::nullopt, std::wstring(field.name) + L": \"" + t +
                                      L"\" has a comma; write a decimal point (" + pointed + L")."};
        return {std::nullopt, expected};
    }
    // Only digits, a sign and a point are left: the C library reads them
    // alike in every locale the program runs in (it never sets one).
    const double value = std::wcstod(t.c_str(), nullptr);
    if (!(value >= field.low && value <= field.high) || (field.whole && std::floor(value) != value))
        return {std::nullopt, expected};
    return {value, std::wstring()};
}

std::string ShortDevicePath(const std::string& path) {
    // \\?\hid#vid_04d8&pid_fce1#7&1f2e0001&0&0000#{4d1e55b2-...}: the third
    // part is the instance, which differs from one port to the next.
    const std::size_t first = path.find('#');
    const std::size_t second = first == std::string::npos ? first : path.find('#', first + 1);
    if (second == std::string::npos) return path;
    const std::size_t third = path.find('#', second + 1);
    const std::string instance = path.substr(
        second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
    return instance.empty() ? path : instance;
}

}  // namespace pendantcheck
