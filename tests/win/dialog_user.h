// A user at the keyboard, on a second thread, while the host's thread sits in
// a modal dialog inside an entry point. Keys go through the system's input
// queue (SendInput), so the dialog sees them exactly as typed keys: the
// dialog manager's Tab, Enter and Esc handling included.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace hk4test {

class DialogUser {
  public:
    explicit DialogUser(DWORD hostThread) : hostThread_(hostThread) {}

    // Waits until `done` holds; false after `timeoutMs`.
    static bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

    // The host thread's visible top-level dialog with this caption, waiting
    // for it to appear; null when none appears in time.
    HWND WaitForDialog(const std::string& caption, DWORD timeoutMs = 10000) const;

    // The host thread's visible top-level dialogs other than `except`.
    std::vector<HWND> OtherDialogs(HWND except) const;

    // The control that has the keyboard focus on the host thread.
    HWND Focus() const;

    void Press(WORD virtualKey, bool shift = false) const;
    void Type(const std::string& text) const;

    // Presses Tab until the control `id` of `dialog` has the focus (the
    // dialog manager then selects an edit's whole text). False when the tab
    // order never reaches it.
    bool TabTo(HWND dialog, int id) const;

    // Closes whatever the host thread still shows, so that a failed test
    // cannot leave the host thread stuck in a modal loop.
    void CloseEverything() const;

  private:
    DWORD hostThread_;
};

std::string WindowText(HWND window);
std::string ClassName(HWND window);

// The text of a message box: its static text control.
std::string MessageBoxText(HWND box);

// Runs `entry` (an entry point that shows a modal dialog) on this thread
// while `user` acts on a second thread; whatever is left open afterwards is
// closed. Returns when both have finished.
void RunWithUser(const std::function<void()>& entry, const std::function<void(DialogUser&)>& user);

}  // namespace hk4test
