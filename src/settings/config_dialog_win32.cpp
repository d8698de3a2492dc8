// The configuration dialog (resource 4013) and Config's settings sequence.
// The decisions live in settings_edit.h; this file only moves text between
// them and the controls.
#include <windows.h>

#include <exception>
#include <string>

#include "plugin/boundary_win32.h"
#include "plugin/lifecycle_win32.h"
#include "plugin/plugin_state.h"
#include "settings/config_dialog_ids.h"
#include "settings/settings_edit.h"
#include "settings/xml_profile.h"

namespace hk4 {

namespace {

constexpr const char* kNotAnInteger = "Please enter an integer.";

// The link line follows the pendant being unplugged and plugged in while the
// dialog is open; a quarter second is soon enough for an eye.
constexpr UINT_PTR kLinkTimer = 1;
constexpr UINT kLinkRefreshMs = 250;

const char* LinkText(bool linked) {
    return linked ? "Pendant connected" : "Pendant not found";
}

struct DialogFailure : std::exception {
    const char* what() const noexcept override { return "the dialog failed"; }
};

std::string ControlText(HWND dialog, int id) {
    const HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) return std::string();
    // Read one more character than the check looks at, so that the check
    // itself decides where the text is cut.
    char buffer[kEditReadLimit + 2] = {};
    const int n = GetWindowTextA(control, buffer, static_cast<int>(sizeof buffer));
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// The owner a dialog gets when none is given: the top-level window of the
// thread's active window, when there is one. The modal loop disables it.
HWND DefaultOwner() {
    const HWND active = GetActiveWindow();
    return active ? GetAncestor(active, GA_ROOT) : nullptr;
}

// A window's device context, released when it goes.
class WindowDC {
  public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// The layout leaves each label just room for its text in the font it was
// drawn with. Where the system's dialog font is wider, a label would wrap its
// last words onto a line it has no room for; such a label grows to the right
// instead, as far as the dialog reaches. With the intended font nothing moves.
void FitLabels(HWND dialog) {
    const WindowDC dc(dialog);
    if (dc.get() == nullptr) return;
    const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = font ? SelectObject(dc.get(), font) : nullptr;
    RECT client{};
    GetClientRect(dialog, &client);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[16] = {};
        GetClassNameA(child, cls, sizeof cls);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (lstrcmpiA(cls, "Static") != 0 || (style & SS_TYPEMASK) != SS_LEFT) continue;
        char text[128] = {};
        const int length = GetWindowTextA(child, text, sizeof text);
        SIZE extent{};
        if (length <= 0 || !GetTextExtentPoint32A(dc.get(), text, length, &extent)) continue;
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        const LONG wanted = r.left + extent.cx + 1;
        if (wanted <= r.right) continue;
        const LONG right = wanted < client.right ? wanted : client.right;
        SetWindowPos(child, nullptr, 0, 0, right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (previous) SelectObject(dc.get(), previous);
}

// The configuration dialog: edits the process-wide settings; OK puts the
// confirmed values into effect at once.
class propertiesdlg {
  public:
    explicit propertiesdlg(Settings& settings) : settings_(settings) {}
    virtual ~propertiesdlg() = default;
    propertiesdlg(const propertiesdlg&) = delete;
    propertiesdlg& operator=(const propertiesdlg&) = delete;

    INT_PTR DoModal() {
        return DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(IDD_CONFIGURATION), DefaultOwner(),
                               &propertiesdlg::DialogProc, reinterpret_cast<LPARAM>(this));
    }
    // A handler failed (no memory): the dialog was closed and its outcome
    // counts for nothing.
    bool failed() const { return failed_; }

  private:
    // The system's dialog manager lies below: nothing may unwind into it.
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        try {
            return HandleMessage(dialog, message, wParam, lParam);
        } catch (...) {
            NoteFailure("configuration dialog");
            if (auto* self = reinterpret_cast<propertiesdlg*>(GetWindowLongPtrA(dialog, DWLP_USER)))
                self->failed_ = true;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
    }

    static INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            auto* self = reinterpret_cast<propertiesdlg*>(lParam);
            self->dialog_ = dialog;
            return self->OnInitDialog();
        }
        auto* self = reinterpret_cast<propertiesdlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (self == nullptr) return FALSE;
        if (message == WM_TIMER && wParam == kLinkTimer) {
            self->ShowLink();
            return TRUE;
        }
        if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (LOWORD(wParam)) {
            case IDOK:
                self->OnOK();
                return TRUE;
            case IDCANCEL:  // Esc: no setting changes
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            default:
                return FALSE;
        }
    }

    BOOL OnInitDialog() {
        FitLabels(dialog_);
        const HWND list = GetDlgItem(dialog_, IDC_SENSITIVITY);
        SendMessageA(list, CB_RESETCONTENT, 0, 0);
        for (int i = 0; i < kSensitivityEntries; ++i) {
            const std::string label = SensitivityLabel(i);
            SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
        }
        const DialogFields fields = InitialFields(settings_);
        SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(fields.selection), 0);
        SetDlgItemTextA(dialog_, IDC_FEED_RATE, fields.feedRate.c_str());
        SetDlgItemTextA(dialog_, IDC_DELAY_STEPS, fields.delaySteps.c_str());
        SetDlgItemTextA(dialog_, IDC_DISPLAY_TIME, fields.displayTime.c_str());
        ShowLink();
        SetTimer(dialog_, kLinkTimer, kLinkRefreshMs, nullptr);
        return TRUE;  // the focus goes to the first tab stop, the list
    }

    void OnOK() {
        DialogFields fields;
        fields.selection =
            static_cast<int>(SendDlgItemMessageA(dialog_, IDC_SENSITIVITY, CB_GETCURSEL, 0, 0));
        fields.feedRate = ControlText(dialog_, IDC_FEED_RATE);
        fields.delaySteps = ControlText(dialog_, IDC_DELAY_STEPS);
        fields.displayTime = ControlText(dialog_, IDC_DISPLAY_TIME);
        const OkOutcome outcome = ConfirmFields(fields, settings_);
        if (outcome.refusedEdit != 0) {
            Refuse(outcome.refusedEdit);
            return;
        }
        settings_ = outcome.settings;
        EndDialog(dialog_, IDOK);
    }

    // Only a change is written, so that the line does not flicker.
    void ShowLink() {
        const int linked = PendantLinked() ? 1 : 0;
        if (linked == shownLink_) return;
        shownLink_ = linked;
        SetDlgItemTextA(dialog_, IDC_LINK_STATE, LinkText(linked != 0));
    }

    // The message, then the focus and the whole text selected in the edit
    // to correct; the dialog stays open.
    void Refuse(int editId) {
        const std::string caption = ModuleBaseName(ThisModulePath());
        MessageBoxA(dialog_, kNotAnInteger, caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
        const HWND edit = GetDlgItem(dialog_, editId);
        SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
        SendMessageA(edit, EM_SETSEL, 0, -1);
    }

    Settings& settings_;
    HWND dialog_ = nullptr;
    bool failed_ = false;
    int shownLink_ = -1;  // what the link line shows: -1 nothing yet, 0 not found, 1 connected
};

}  // namespace

// Config's part: reread the settings from the store Config opened, run the
// dialog, write the four back whatever the dialog's outcome. Config always
// opens a store; without one there is nowhere to keep an edit, so nothing is
// shown.
void EditSettings() {
    PluginState& state = Plugin();
    if (state.CurrentProfile == nullptr) return;
    EditSettingsOn(*state.CurrentProfile, state.settings, [&state] {
        propertiesdlg dialog(state.settings);
        dialog.DoModal();
        // Passed on as what it was, so that Config writes nothing back.
        if (dialog.failed()) throw DialogFailure();
    });
}

}  // namespace hk4
