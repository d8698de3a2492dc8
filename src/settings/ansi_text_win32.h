// Narrow text of the plug-in (the host's profile path, names, values) and the
// wide text of COM, converted with the calling thread's ANSI code page.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "settings/com_ptr_win32.h"

namespace hk4 {

// A BSTR holding `text`; null when the text cannot be converted.
Bstr AnsiToBstr(const std::string& text);

// The narrow form of `count` wide characters; nothing when they cannot be
// converted.
std::optional<std::string> WideToAnsi(const wchar_t* text, int count);

}  // namespace hk4
