// The pendant check window: started by a double-click beside HalvexK4.dll,
// it loads the plug-in the way the host does, plays the host around it
// (callbacks, memory blocks, message line, a machine that moves) and shows,
// in plain words, what the pendant does and what the plug-in makes of it.
// Everything runs on the window's thread, as in the host: the plug-in's
// timer, its device notifications and its callbacks.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "hk4_version.h"
#include "hostside/plugin_api.h"
#include "pendantcheck/check_controls.h"
#include "pendantcheck/check_host.h"
#include "pendantcheck/pendant_view.h"
#include "pendantcheck/window_text.h"

namespace pendantcheck {

namespace {

constexpr UINT_PTR kCycleTimer = 1;    // one host cycle: Update, the machine moves
constexpr UINT_PTR kDisplayTimer = 2;  // the pendant's reports, the texts
constexpr UINT_PTR kSearchTimer = 3;   // looks for a pendant while none is linked
constexpr UINT kCycleMs = 10;
constexpr UINT kDisplayMs = 50;
constexpr UINT kSearchMs = 1000;

constexpr int kClientWidth = 790;
constexpr int kClientHeight = 650;
constexpr int kRow = 22;

const wchar_t* const kFunctions[] = {
    L"S \u2014 step jog",  L"V \u2014 speed-following jog", L"C \u2014 fixed-rate jog",
    L"C% \u2014 jog rate", L"F% \u2014 feed override",      L"S%",
};

std::wstring Number(const wchar_t* format, double value) {
    wchar_t text[64];
    std::swprintf(text, 64, format, value);
    return text;
}

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

// A path the plug-in can take: it reads narrow text. A folder whose name
// does not fit the ANSI code page is given by its short name.
std::string AnsiPath(const std::wstring& path) {
    BOOL lost = FALSE;
    auto convert = [&lost](const std::wstring& p) {
        const int n = WideCharToMultiByte(CP_ACP, 0, p.c_str(), -1, nullptr, 0, nullptr, &lost);
        std::string out(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
        if (n > 0) WideCharToMultiByte(CP_ACP, 0, p.c_str(), -1, &out[0], n, nullptr, &lost);
        out.resize(out.size() - 1);
        return out;
    };
    std::string ansi = convert(path);
    if (!lost) return ansi;
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ansi;
    return convert(shortPath);
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

class CheckWindow {
  public:
    bool Create(HINSTANCE instance);
    void StartPlugin();
    HWND hwnd() const { return hwnd_; }
    // Carries out a close that was asked for. Called by the program's own
    // message loop between messages, where no call into the plug-in can be
    // running beneath it: a close asked for inside one (the plug-in's
    // configuration dialog runs a message loop of its own) waits until it
    // has returned, so that the plug-in is never stopped and unloaded under
    // its own call.
    void CloseIfAsked();

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    HWND Add(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
             int id = -1);
    // A caption and the value beside it; `tip` (the host's code, say) shows
    // when the pointer rests on either.
    void Label(const wchar_t* caption, int id, int x, int y, int captionWidth, int valueWidth,
               const wchar_t* tip = nullptr);
    void Tip(HWND control, const wchar_t* text);
    void Layout();
    void Cycle();
    void Refresh();
    bool Show(int id, const std::wstring& text);  // true when the text changed
    void ShowCheck(int id, bool on);
    void ShowSettings();
    void Apply();
    void StopPlugin();

    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    HWND tips_ = nullptr;
    std::unique_ptr<CheckHost> host_;
    std::unique_ptr<PendantView> pendant_;
    hostside::PluginApi api_;
    bool running_ = false;  // InitControl done, StopPlug not yet
    bool closeAsked_ = false;
    bool inConfig_ = false;
    std::wstring pluginLine_;
    std::map<int, std::wstring> shown_;
    LARGE_INTEGER frequency_{}, lastCycle_{};
};

HWND CheckWindow::Add(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                      int h, int id) {
    const HWND control = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                                         hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                         GetModuleHandleW(nullptr), nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
}

void CheckWindow::Label(const wchar_t* caption, int id, int x, int y, int captionWidth,
                        int valueWidth, const wchar_t* tip) {
    // A static control takes the pointer (for its tip) only with SS_NOTIFY.
    const DWORD notify = tip ? SS_NOTIFY : 0;
    Tip(Add(L"STATIC", caption, SS_LEFT | notify, x, y, captionWidth, kRow - 4), tip);
    Tip(Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | notify, x + captionWidth, y, valueWidth,
            kRow - 4, id),
        tip);
}

void CheckWindow::Tip(HWND control, const wchar_t* text) {
    if (!tips_ || !control || !text) return;
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    // The tip control keeps a copy of the text; a control that has a tip
    // already gets the new text.
    TOOLINFOW known = tool;
    known.lpszText = nullptr;
    const bool has = SendMessageW(tips_, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&known));
    SendMessageW(tips_, has ? TTM_UPDATETIPTEXTW : TTM_ADDTOOLW, 0,
                 reinterpret_cast<LPARAM>(&tool));
}

void CheckWindow::Layout() {
    // The pendant, on the left.
    int x = 12, y = 8;
    Add(L"BUTTON", L"The pendant", BS_GROUPBOX, x - 4, y, 396, 12 * kRow + 16);
    y += 20;
    Label(L"Link:", kLink, x + 6, y, 110, 270);
    // The part of the device path that tells two ports apart; the whole
    // path in its tip, and in an edit whose text can be copied into a
    // support request.
    Add(L"STATIC", L"Where:", SS_LEFT, x + 6, y += kRow, 110, kRow - 4);
    Add(L"EDIT", L"", ES_READONLY | ES_AUTOHSCROLL, x + 116, y, 270, kRow - 4, kWhere);
    Label(L"Axis selector:", kAxis, x + 6, y += kRow, 110, 270);
    Label(L"Function selector:", kFunction, x + 6, y += kRow, 110, 270);
    Label(L"Inhibit switch:", kInhibit, x + 6, y += kRow, 110, 270);
    Label(L"Button:", kButton, x + 6, y += kRow, 110, 270);
    Label(L"Wheel:", kWheel, x + 6, y += kRow, 110, 270);
    Label(L"Lamp:", kLamp, x + 6, y += kRow, 110, 270);
    Tip(Add(L"BUTTON", L"Host's button action on (the lamp follows)", BS_AUTOCHECKBOX | WS_TABSTOP,
            x + 6, y += kRow, 370, kRow - 4, kLed800),
        L"The host's LED 800");
    Tip(Add(L"BUTTON", L"Host jog switch on", BS_AUTOCHECKBOX | WS_TABSTOP, x + 6, y += kRow, 370,
            kRow - 4, kLed83),
        L"The host's LED 83");
    Label(L"Plug-in:", kPlugin, x + 6, y += kRow, 60, 320);
    Add(L"BUTTON", L"Plug-in configuration...", BS_PUSHBUTTON | WS_TABSTOP, x + 6, y += kRow + 4,
        180, 24, kConfig);

    // The machine, on the right.
    x = 420, y = 8;
    Add(L"BUTTON", L"The machine", BS_GROUPBOX, x - 4, y, 362, 12 * kRow + 16);
    y += 20;
    const int position[] = {kPositionX, kPositionY, kPositionZ, kPositionA, kPositionB};
    const wchar_t* const names[] = {L"X:", L"Y:", L"Z:", L"A:", L"B:"};
    for (int a = 0; a < kAxes; ++a) Label(names[a], position[a], x + 6, y + a * kRow, 130, 200);
    y += kAxes * kRow;
    Label(L"Jog:", kJog, x + 6, y, 130, 210);
    Label(L"Jog rate:", kJogRate, x + 6, y += kRow, 130, 200, L"The host's DRO 3");
    Label(L"Feed override F%:", kFeedOverride, x + 6, y += kRow, 130, 200, L"The host's DRO 821");
    Label(L"S%:", kDro74Label, x + 6, y += kRow, 130, 200, L"The host's DRO 74");
    Label(L"TAB screen:", kTabScreen, x + 6, y += kRow, 130, 200);
    Label(L"Message line:", kMessage, x + 6, y += kRow, 130, 210);

    // The host's settings the wheel uses, editable.
    y = 12 * kRow + 32;
    Add(L"BUTTON", L"Machine settings", BS_GROUPBOX, x - 4, y, 362, 4 * kRow + 24);
    y += 20;
    Add(L"STATIC", L"Step size:", SS_LEFT, x + 6, y + 3, 130, kRow - 4);
    Add(L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, x + 136, y, 90, kRow, kStepSizeEdit);
    y += kRow + 4;
    Add(L"STATIC", L"Full rate, all axes:", SS_LEFT, x + 6, y + 3, 130, kRow - 4);
    Add(L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, x + 136, y, 90, kRow, kFullRateEdit);
    Add(L"STATIC", L"per minute", SS_LEFT, x + 232, y + 3, 110, kRow - 4);
    y += kRow + 4;
    Add(L"STATIC", L"Jog rate:", SS_LEFT, x + 6, y + 3, 130, kRow - 4);
    Add(L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, x + 136, y, 90, kRow, kJogRateEdit);
    Add(L"STATIC", L"%", SS_LEFT, x + 232, y + 3, 40, kRow - 4);
    Add(L"BUTTON", L"Apply", BS_PUSHBUTTON | WS_TABSTOP, x + 268, y - 2, 80, 24, kApply);

    // What happened, newest first.
    y = 17 * kRow + 30;
    Add(L"STATIC", L"Last actions (newest first):", SS_LEFT, 12, y, 300, kRow - 4);
    Add(L"EDIT", L"",
        WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_TABSTOP, 8,
        y + kRow, kClientWidth - 16, kClientHeight - y - kRow - 8, kActions);
}

bool CheckWindow::Create(HINSTANCE instance) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &CheckWindow::Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassW(&wc)) return false;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&r, style, FALSE);
    const std::wstring title = L"Halvex K4 pendant check " + FromAnsi(HK4_VERSION_TEXT);
    hwnd_ = CreateWindowExW(0, kWindowClass, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                            r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, this);
    return hwnd_ != nullptr;
}

void CheckWindow::StartPlugin() {
    host_ = std::make_unique<CheckHost>(hwnd_);
    pendant_ = std::make_unique<PendantView>(hwnd_);
    pendant_->Search();
    const std::wstring folder = ProgramFolder();
    std::string error;
    if (!api_.Load(folder + L"HalvexK4.dll", error)) {
        pluginLine_ = L"HalvexK4.dll could not be used: " + FromAnsi(error);
        host_->Note(L"HalvexK4.dll was not found beside this program, or could not be loaded");
    } else {
        host_->InstallCallbacks(api_);
        // Its own profile beside it: the host's profile is never touched.
        const std::string profile = AnsiPath(folder) + "PendantCheck.xml";
        const char* name = api_.SetProName(profile.c_str());
        pluginLine_ = FromAnsi(name ? name : "");
        running_ = api_.InitControl(host_->motion(), host_->options(), host_->planner(),
                                    host_->parentObject());
        if (running_) {
            api_.PostInitControl();
            host_->Note(L"Plug-in started");
        } else {
            host_->Note(L"The plug-in did not start (InitControl failed)");
        }
    }
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&lastCycle_);
    SetTimer(hwnd_, kCycleTimer, kCycleMs, nullptr);
    SetTimer(hwnd_, kDisplayTimer, kDisplayMs, nullptr);
    SetTimer(hwnd_, kSearchTimer, kSearchMs, nullptr);
    ShowSettings();
    Refresh();
}

void CheckWindow::StopPlugin() {
    KillTimer(hwnd_, kCycleTimer);
    KillTimer(hwnd_, kDisplayTimer);
    KillTimer(hwnd_, kSearchTimer);
    if (running_) api_.StopPlug();
    running_ = false;
    if (api_.module) api_.Unload();
    pendant_.reset();
}

void CheckWindow::Cycle() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const double ms =
        static_cast<double>(now.QuadPart - lastCycle_.QuadPart) * 1000.0 / frequency_.QuadPart;
    lastCycle_ = now;
    if (running_) api_.Update();
    host_->Advance(ms);
}

bool CheckWindow::Show(int id, const std::wstring& text) {
    // Only a change is written, so that nothing flickers.
    const auto it = shown_.find(id);
    if (it != shown_.end() && it->second == text) return false;
    shown_[id] = text;
    SetDlgItemTextW(hwnd_, id, text.c_str());
    return true;
}

void CheckWindow::ShowCheck(int id, bool on) {
    const bool checked = IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
    if (checked != on) CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void CheckWindow::Refresh() {
    const PendantView& p = *pendant_;
    Show(kLink, p.linked() ? L"Pendant found" : L"No pendant found \u2014 plug it in");
    const std::wstring where = p.linked() ? FromAnsi(ShortDevicePath(p.path())) : L"\u2014";
    if (Show(kWhere, where))
        Tip(GetDlgItem(hwnd_, kWhere), FromAnsi(p.linked() ? p.path() : "").c_str());
    if (p.linked() && p.haveReport()) {
        const uint8_t* r = p.report();
        const int axis = r[3] & ~0x30;
        Show(kAxis, axis >= 1 && axis <= 5 ? AxisName(axis - 1) : L"OFF");
        const int function = r[4] & 0x7F;
        Show(kFunction, function >= 1 && function <= 6
                            ? kFunctions[function - 1]
                            : L"between positions (" + std::to_wstring(function) + L")");
        Show(kInhibit, r[3] & 0x10 ? L"on \u2014 the wheel does nothing" : L"off");
        Show(kButton, r[3] & 0x20 ? L"pressed" : L"released");
        Show(kWheel, std::to_wstring(p.clicks()) + L" clicks, last one " +
                         (p.lastDirection() ? L"down" : L"up") + L", speed " +
                         std::to_wstring(r[2]));
    } else {
        const wchar_t* none = p.linked() ? L"no report yet" : L"\u2014";
        for (int id : {kAxis, kFunction, kInhibit, kButton, kWheel}) Show(id, none);
    }
    const bool lamp = host_->Led(kLampLed);
    Show(kLamp, p.linked() ? (lamp ? L"on" : L"off") : L"\u2014 no pendant");
    ShowCheck(kLed800, lamp);
    ShowCheck(kLed83, host_->Led(kJogSwitchLed));
    Show(kPlugin, pluginLine_);

    // The plug-in writes the message line and the jog record straight into
    // the host's memory, without a callback: everything is looked at anew.
    const int position[] = {kPositionX, kPositionY, kPositionZ, kPositionA, kPositionB};
    for (int a = 0; a < kAxes; ++a) Show(position[a], Number(L"%.4f", host_->position[a]));
    const Jog& jog = host_->jog();
    Show(kJog, jog.running
                   ? std::wstring(AxisName(jog.axis)) + (jog.direction ? L" down" : L" up") +
                         L" at " + std::to_wstring(jog.velocity) + L" per minute"
                   : L"none");
    Show(kJogRate, Number(L"%.1f %%", host_->Dro(kJogRateDro)));
    Show(kFeedOverride, Number(L"%.1f %%", host_->Dro(kFeedOverrideDro)));
    Show(kDro74Label, Number(L"%.1f %%", host_->Dro(kDro74)));
    Show(kTabScreen, host_->tabShown ? L"shown" : L"hidden");
    const std::string status = host_->StatusText();
    Show(kMessage, status.empty() ? L"(empty)" : L"\u201c" + FromAnsi(status) + L"\u201d");
    std::wstring actions;
    for (const CheckHost::Action& a : host_->actions()) {
        if (!actions.empty()) actions += L"\r\n";
        actions += a.text;
        if (a.repeats > 1) actions += L" (" + std::to_wstring(a.repeats) + L" times)";
    }
    Show(kActions, actions);
}

void CheckWindow::ShowSettings() {
    SetDlgItemTextW(hwnd_, kStepSizeEdit, Number(L"%.4f", host_->StepSize()).c_str());
    SetDlgItemTextW(hwnd_, kFullRateEdit, std::to_wstring(host_->FullRate()).c_str());
    SetDlgItemTextW(hwnd_, kJogRateEdit, Number(L"%.1f", host_->Dro(kJogRateDro)).c_str());
}

// The three settings, each taken only when its whole text is a number in
// its range; the edits then show what the machine has.
void CheckWindow::Apply() {
    static const NumberField kStepSize{
        L"Step size", L"a distance in units", 0.0001, 100.0, L"0.0001", L"100", false};
    static const NumberField kFullRate{
        L"Full rate", L"a whole number of units per minute", 1, 1000000, L"1", L"1000000", true};
    static const NumberField kJogRate{L"Jog rate", L"a percentage", 0.1,  100.0,
                                      L"0.1",      L"100",          false};
    std::wstring refused;
    auto read = [this, &refused](int id, const NumberField& field) {
        wchar_t text[64] = {};
        GetDlgItemTextW(hwnd_, id, text, 64);
        FieldReading reading = ReadNumberField(field, text);
        if (!reading.value) refused += reading.refusal + L"\n";
        return reading.value;
    };
    if (const std::optional<double> step = read(kStepSizeEdit, kStepSize)) {
        if (*step != host_->StepSize()) host_->Note(L"Step size " + Number(L"%.4f", *step));
        host_->SetStepSize(*step);
    }
    if (const std::optional<double> rate = read(kFullRateEdit, kFullRate)) {
        const auto whole = static_cast<int32_t>(*rate);  // whole and in range
        if (whole != host_->FullRate())
            host_->Note(L"Full rate " + std::to_wstring(whole) + L" per minute");
        host_->SetFullRate(whole);
    }
    if (const std::optional<double> jogRate = read(kJogRateEdit, kJogRate)) {
        if (*jogRate != host_->Dro(kJogRateDro))
            host_->Note(L"Jog rate " + Number(L"%.1f %%", *jogRate), "dro3");
        host_->SetDro(kJogRateDro, *jogRate);
    }
    ShowSettings();
    if (!refused.empty())
        MessageBoxW(hwnd_, refused.c_str(), L"Machine settings", MB_OK | MB_ICONEXCLAMATION);
}

void CheckWindow::CloseIfAsked() {
    if (!closeAsked_ || !hwnd_) return;
    closeAsked_ = false;
    StopPlugin();
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

LRESULT CALLBACK CheckWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<CheckWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CheckWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->Handle(message, wParam, lParam)
                : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CheckWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
            tips_ =
                CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
            if (tips_) SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 600);
            Layout();
            return 0;
        case WM_TIMER:
            if (!host_) return 0;
            if (wParam == kCycleTimer) {
                Cycle();
            } else if (wParam == kDisplayTimer) {
                pendant_->Poll();
                Refresh();
            } else if (wParam == kSearchTimer && !pendant_->linked()) {
                pendant_->Search();
            }
            return 0;
        case WM_DEVICECHANGE:
            if (pendant_) pendant_->OnDeviceChange();
            return TRUE;
        case WM_COMMAND:
            if (!host_ || HIWORD(wParam) != BN_CLICKED) break;
            switch (LOWORD(wParam)) {
                case kLed800:
                case kLed83: {
                    const int led = LOWORD(wParam) == kLed800 ? kLampLed : kJogSwitchLed;
                    const bool on = IsDlgButtonChecked(hwnd_, LOWORD(wParam)) == BST_CHECKED;
                    host_->SetLed(led, on);
                    host_->Note(std::wstring(led == kLampLed ? L"Host's button action "
                                                             : L"Host jog switch ") +
                                (on ? L"on" : L"off"));
                    Refresh();
                    return 0;
                }
                case kApply:
                    Apply();
                    Refresh();
                    return 0;
                case kConfig:
                    // The plug-in's own dialog, modal; its settings take
                    // effect at once. The dialog disables the window only
                    // when it is the active one: a second click while the
                    // dialog is open does not call Config again.
                    if (running_ && !inConfig_) {
                        inConfig_ = true;
                        host_->Note(L"Plug-in configuration opened");
                        Refresh();
                        api_.Config();
                        inConfig_ = false;
                        host_->Note(L"Plug-in configuration closed");
                        Refresh();
                    }
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CLOSE:
            // Carried out by the program's message loop (CloseIfAsked); a
            // message wakes it should the request have come in a sent one.
            if (!closeAsked_) {
                closeAsked_ = true;
                PostMessageW(hwnd_, WM_NULL, 0, 0);
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace

}  // namespace pendantcheck

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // The host initialises COM on its user-interface thread; the plug-in
    // relies on that.
    CoInitialize(nullptr);
    // The tips on labels come from the common controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    int status = 1;
    {
        pendantcheck::CheckWindow window;
        if (window.Create(instance)) {
            window.StartPlugin();
            ShowWindow(window.hwnd(), show);
            UpdateWindow(window.hwnd());
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                if (!window.hwnd() || !IsDialogMessageW(window.hwnd(), &msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
                window.CloseIfAsked();
            }
            status = 0;
        }
    }
    CoUninitialize();
    return status;
}
