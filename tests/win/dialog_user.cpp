#include "dialog_user.h"

#include <thread>

namespace hk4test {

namespace {

struct Search {
    std::string caption;
    HWND except = nullptr;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (window == search->except || !IsWindowVisible(window)) return TRUE;
    if (ClassName(window) != "#32770") return TRUE;
    if (!search->caption.empty() && WindowText(window) != search->caption) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

void SendKey(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

}  // namespace

std::string WindowText(HWND window) {
    char text[512] = {};
    const int n = GetWindowTextA(window, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

std::string ClassName(HWND window) {
    char name[64] = {};
    const int n = GetClassNameA(window, name, sizeof name);
    return std::string(name, n > 0 ? n : 0);
}

std::string MessageBoxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == "Static" && !WindowText(child).empty()) text += WindowText(child);
    }
    return text;
}

bool DialogUser::WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

HWND DialogUser::WaitForDialog(const std::string& caption, DWORD timeoutMs) const {
    HWND dialog = nullptr;
    WaitUntil(
        [&] {
            Search search{caption, nullptr, {}};
            EnumThreadWindows(hostThread_, CollectDialogs, reinterpret_cast<LPARAM>(&search));
            dialog = search.found.empty() ? nullptr : search.found.front();
            return dialog != nullptr;
        },
        timeoutMs);
    return dialog;
}

std::vector<HWND> DialogUser::OtherDialogs(HWND except) const {
    Search search{"", except, {}};
    EnumThreadWindows(hostThread_, CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND DialogUser::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(hostThread_, &info) ? info.hwndFocus : nullptr;
}

void DialogUser::Press(WORD virtualKey, bool shift) const {
    if (shift) SendKey(VK_SHIFT, false);
    SendKey(virtualKey, false);
    SendKey(virtualKey, true);
    if (shift) SendKey(VK_SHIFT, true);
}

void DialogUser::Type(const std::string& text) const {
    for (char c : text) {
        const SHORT key = VkKeyScanA(c);
        if (key == -1) continue;
        Press(LOBYTE(key), (HIBYTE(key) & 1) != 0);
    }
}

bool DialogUser::TabTo(HWND dialog, int id) const {
    const HWND target = GetDlgItem(dialog, id);
    auto reached = [&] {
        const HWND focus = Focus();
        return focus != nullptr && (focus == target || GetParent(focus) == target);
    };
    for (int i = 0; i < 8 && !reached(); ++i) {
        const HWND before = Focus();
        Press(VK_TAB);
        WaitUntil([&] { return Focus() != before; }, 2000);
    }
    return reached();
}

void DialogUser::CloseEverything() const {
    for (int round = 0; round < 10; ++round) {
        const std::vector<HWND> open = OtherDialogs(nullptr);
        if (open.empty()) return;
        // Message boxes first: they sit on top of the dialog that owns them.
        for (HWND window : open) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        for (HWND window : open) PostMessageA(window, WM_COMMAND, IDOK, 0);
        Sleep(200);
    }
}

void RunWithUser(const std::function<void()>& entry, const std::function<void(DialogUser&)>& user) {
    DialogUser person(GetCurrentThreadId());
    std::thread actor([&] {
        user(person);
        person.CloseEverything();
    });
    entry();
    actor.join();
}

}  // namespace hk4test
