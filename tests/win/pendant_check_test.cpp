// The pendant check window as a machinist runs it: the program beside the
// plug-in, worked from outside through its window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dialog_user.h"
#include "pendantcheck/check_controls.h"
#include "win_test_support.h"

namespace {

struct Search {
    DWORD process;
    const wchar_t* cls;    // or null
    const wchar_t* title;  // or null
    HWND found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    DWORD process = 0;
    GetWindowThreadProcessId(w, &process);
    wchar_t text[64] = {};
    if (process != s->process || !IsWindowVisible(w)) return TRUE;
    if (s->cls && (!GetClassNameW(w, text, 64) || std::wstring(text) != s->cls)) return TRUE;
    if (s->title && (!GetWindowTextW(w, text, 64) || std::wstring(text) != s->title)) return TRUE;
    s->found = w;
    return FALSE;
}

HWND WaitForWindow(DWORD process, const wchar_t* cls, const wchar_t* title) {
    Search s{process, cls, title};
    hk4test::DialogUser::WaitUntil(
        [&] {
            EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&s));
            return s.found != nullptr;
        },
        20000);
    return s.found;
}

// A close request (WM_CLOSE, as taskkill without /F sends it) that comes
// while the plug-in's configuration dialog is open, once or twice, is
// carried out once Config has returned: never by stopping and unloading the
// plug-in under its own call.
TEST(PendantCheckWindow, ACloseDuringConfigWaitsUntilConfigHasReturned) {
    for (int requests : {1, 2}) {
        SCOPED_TRACE(std::to_string(requests) + " close requests");
        const std::string dll = hk4test::CopyPlugin("HalvexK4.dll");
        const std::string program = dll.substr(0, dll.rfind('\\') + 1) + "PendantCheck.exe";
        ASSERT_TRUE(CopyFileA((hk4test::ExeDir() + "\\" HK4_PENDANTCHECK_NAME).c_str(),
                              program.c_str(), FALSE));
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION pi{};
        std::string command = "\"" + program + "\"";
        ASSERT_TRUE(CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &pi));
        const HWND window = WaitForWindow(pi.dwProcessId, pendantcheck::kWindowClass, nullptr);
        EXPECT_NE(window, nullptr) << "no check window";
        HWND dialog = nullptr;
        if (window) {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(pendantcheck::kConfig, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, pendantcheck::kConfig)));
            dialog = WaitForWindow(pi.dwProcessId, nullptr, L"Configuration");
            EXPECT_NE(dialog, nullptr) << "no configuration dialog";
        }
        if (dialog) {
            for (int i = 0; i < requests; ++i) PostMessageW(window, WM_CLOSE, 0, 0);
            Sleep(1000);
            EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT))
                << "the program ended while Config ran";
            EXPECT_TRUE(IsWindow(window) && IsWindow(dialog));
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        const bool ended = WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0;
        EXPECT_TRUE(ended) << "the program did not close after Config returned";
        if (!ended) TerminateProcess(pi.hProcess, 99);
        DWORD code = 99;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u) << "the program did not end cleanly";
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

}  // namespace
