#include "settings/ansi_text_win32.h"

#include <climits>

namespace hk4 {

Bstr AnsiToBstr(const std::string& text) {
    if (text.size() > INT_MAX / 2) return Bstr();
    const int bytes = static_cast<int>(text.size());
    if (bytes == 0) return Bstr(SysAllocStringLen(L"", 0));
    const int chars = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), bytes, nullptr, 0);
    if (chars <= 0) return Bstr();
    Bstr out(SysAllocStringLen(nullptr, static_cast<UINT>(chars)));
    if (!out.Get()) return Bstr();
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), bytes, out.Get(), chars) != chars)
        return Bstr();
    return out;
}

std::optional<std::string> WideToAnsi(const wchar_t* text, int count) {
    if (count < 0) return std::nullopt;
    if (count == 0) return std::string();
    const int bytes =
        WideCharToMultiByte(CP_THREAD_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, text, count, &out[0], bytes, nullptr, nullptr) !=
        bytes)
        return std::nullopt;
    return out;
}

}  // namespace hk4
