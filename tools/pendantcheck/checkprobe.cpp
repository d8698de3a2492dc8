// Reads and works the pendant check window from another process, the way a
// test sees it: the texts its controls show, and the clicks and entries of
// a user. One command a line on standard input; each answer ends with a
// line "end". Texts are printed in UTF-8, line breaks inside one as " | ".
//
//   show                   "NAME: TEXT" for every named control
//   press NAME             clicks a button or check box
//   set NAME TEXT          types TEXT into an edit (replacing what it held)
//   dialog CAPTION         "ID: TEXT" for every control of the check
//                          program's top-level window with that caption
//   dialog-close CAPTION   Esc on that dialog
//   rect                   "rect X Y W H" of the check window on the screen
//   close                  closes the check window
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pendantcheck/check_controls.h"

namespace {

using pendantcheck::kNamedControls;

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') continue;
        if (text[i] == L'\n') {
            out += " | ";
            continue;
        }
        char bytes[8];
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, &text[i], 1, bytes, sizeof bytes, nullptr, nullptr);
        out.append(bytes, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return out;
}

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

// WM_GETTEXT with a time-out, so that a window busy in a modal loop of its
// own cannot hang the probe.
std::wstring Text(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return L"?";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, 2000, &got))
        return L"?";
    text.resize(got);
    return text;
}

HWND CheckWindow() {
    return FindWindowW(pendantcheck::kWindowClass, nullptr);
}

int IdOf(const std::string& name) {
    for (const auto& c : kNamedControls)
        if (name == c.name) return c.id;
    return -1;
}

struct DialogSearch {
    DWORD process;
    std::wstring caption;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsWindowVisible(window)) return TRUE;
    if (Text(window) != search->caption) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindDialog(const std::string& caption) {
    const HWND check = CheckWindow();
    if (!check) return nullptr;
    DialogSearch search{0, Wide(caption), nullptr};
    GetWindowThreadProcessId(check, &search.process);
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Run(const std::string& command, const std::string& rest) {
    const HWND check = CheckWindow();
    if (command == "show") {
        if (!check) {
            std::printf("no window\n");
            return;
        }
        for (const auto& c : kNamedControls) {
            const HWND control = GetDlgItem(check, c.id);
            std::wstring text = control ? Text(control) : L"?";
            if (c.id == pendantcheck::kLed800 || c.id == pendantcheck::kLed83) {
                DWORD_PTR state = 0;
                SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
                text = state == BST_CHECKED ? L"checked" : L"unchecked";
            }
            std::printf("%s: %s\n", c.name, Utf8(text).c_str());
        }
    } else if (command == "press" || command == "set") {
        const std::size_t space = rest.find(' ');
        const std::string name = command == "set" ? rest.substr(0, space) : rest;
        const HWND control = check ? GetDlgItem(check, IdOf(name)) : nullptr;
        if (!control) {
            std::printf("error: no control %s\n", name.c_str());
            return;
        }
        if (command == "press") {
            // Posted: a button that opens a modal dialog would hold a sent one.
            PostMessageW(control, BM_CLICK, 0, 0);
        } else {
            const std::wstring text =
                Wide(space == std::string::npos ? "" : rest.substr(space + 1));
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                SMTO_ABORTIFHUNG, 2000, &ignored);
        }
    } else if (command == "dialog" || command == "dialog-close") {
        const HWND dialog = FindDialog(rest);
        if (!dialog) {
            std::printf("no dialog\n");
        } else if (command == "dialog-close") {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        } else {
            for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                std::printf("%d: %s\n", GetDlgCtrlID(c), Utf8(Text(c)).c_str());
        }
    } else if (command == "rect") {
        RECT r{};
        if (check && GetWindowRect(check, &r))
            std::printf("rect %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left,
                        r.bottom - r.top);
        else
            std::printf("no window\n");
    } else if (command == "close") {
        if (check) PostMessageW(check, WM_CLOSE, 0, 0);
    } else {
        std::printf("error: unknown command %s\n", command.c_str());
    }
}

}  // namespace

int main() {
    char line[1024];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::size_t space = text.find(' ');
        Run(text.substr(0, space), space == std::string::npos ? "" : text.substr(space + 1));
        std::printf("end\n");
        std::fflush(stdout);
    }
    return 0;
}
