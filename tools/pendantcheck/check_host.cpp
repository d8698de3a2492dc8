#include "pendantcheck/check_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace pendantcheck {

namespace {

CheckHost* g_host = nullptr;
constexpr std::size_t kActionsKept = 12;
const wchar_t* const kAxisNames[] = {L"X", L"Y", L"Z", L"A", L"B", L"C"};

int AxisOfLetter(char c) {
    static const char letters[] = "XYZABC";
    const char* at = c ? std::strchr(letters, c) : nullptr;
    return at ? static_cast<int>(at - letters) : -1;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // host command lines are ASCII
}

std::wstring Percent(double value) {
    wchar_t text[48];
    std::swprintf(text, 48, L"%.1f %%", value);
    return text;
}

void HK4_CDECL DoButton(int32_t code) {
    if (g_host) g_host->OnDoButton(code);
}
void HK4_CDECL SetDRO(int32_t number, double value) {
    if (g_host) g_host->OnSetDro(number, value);
}
double HK4_CDECL GetDRO(int32_t number) {
    return g_host ? g_host->Dro(number) : 0.0;
}
uint8_t HK4_CDECL GetLED(int32_t number) {
    return g_host && g_host->Led(number) ? 1 : 0;
}
void HK4_CDECL SetLED(int32_t, bool) {}
void HK4_CDECL Code(const char* line) {
    if (g_host) g_host->OnCode(line ? line : "");
}

}  // namespace

const wchar_t* AxisName(int axis) {
    return axis >= 0 && axis < 6 ? kAxisNames[axis] : L"?";
}

std::wstring Signed(double value) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%+.4f", value);
    return text;
}

CheckHost::CheckHost(void* parent)
    : motion_(static_cast<unsigned char*>(std::calloc(1, hk4::kMotionBlockSize))),
      options_(static_cast<unsigned char*>(std::calloc(1, hk4::kOptionsBlockSize))),
      planner_(static_cast<unsigned char*>(std::calloc(1, hk4::kPlannerBlockSize))) {
    if (!motion_ || !options_ || !planner_) std::abort();
    // The host window object holds the window as a 32-bit handle.
    const int32_t handle = static_cast<int32_t>(reinterpret_cast<intptr_t>(parent));
    std::memcpy(parentObject_ + 28, &handle, sizeof handle);
    view_.blocks = hk4::HostBlocks{motion(), options(), planner(), parentObject_};
    // The message line starts as an empty, unshared string.
    hk4::HostStringData* empty = strings_.Allocate(0, 1);
    if (!empty) std::abort();
    char* chars = empty->chars();
    std::memcpy(planner_.get() + hk4::fields::StatusTextOffset, &chars, sizeof chars);
    // A machine set up to jog, as the host simulator's.
    SetStepSize(0.01);
    SetFullRate(6000);
    dros_[kJogRateDro] = 50.0;
    dros_[kFeedOverrideDro] = 100.0;
    dros_[kDro74] = 100.0;
    dros_[818] = 100.0;
    leds_[kJogSwitchLed] = true;
    g_host = this;
}

CheckHost::~CheckHost() {
    if (g_host == this) g_host = nullptr;
    char* chars = nullptr;
    std::memcpy(&chars, planner_.get() + hk4::fields::StatusTextOffset, sizeof chars);
    if (chars) {
        hk4::HostStringData* data = reinterpret_cast<hk4::HostStringData*>(chars) - 1;
        data->manager->Free(data);
    }
}

void CheckHost::InstallCallbacks(const hostside::PluginApi& api) {
    api.SetDoButton(DoButton);
    api.SetSetDRO(SetDRO);
    api.SetGetDRO(GetDRO);
    api.SetGetLED(GetLED);
    api.SetSetLED(SetLED);
    api.SetCode(Code);
}

double CheckHost::StepSize() const {
    return view_.read(hk4::fields::StepSize);
}

void CheckHost::SetStepSize(double size) {
    view_.write(hk4::fields::StepSize, size);
}

int32_t CheckHost::FullRate() const {
    return view_.read(hk4::fields::AxisFullRate.at(0));
}

void CheckHost::SetFullRate(int32_t unitsPerMinute) {
    for (int a = 0; a < hk4::AxisField<int32_t>::kAxes; ++a)
        view_.write(hk4::fields::AxisFullRate.at(a), unitsPerMinute);
}

double CheckHost::Dro(int32_t number) const {
    const auto it = dros_.find(number);
    return it == dros_.end() ? 0.0 : it->second;
}

void CheckHost::SetDro(int32_t number, double value) {
    dros_[number] = value;
}

bool CheckHost::Led(int32_t number) const {
    const auto it = leds_.find(number);
    return it != leds_.end() && it->second;
}

void CheckHost::SetLed(int32_t number, bool on) {
    leds_[number] = on;
}

std::string CheckHost::StatusText() const {
    char* chars = nullptr;
    std::memcpy(&chars, planner_.get() + hk4::fields::StatusTextOffset, sizeof chars);
    if (!chars) return std::string();
    const auto* data = reinterpret_cast<const hk4::HostStringData*>(chars) - 1;
    return std::string(chars, static_cast<std::size_t>(data->length));
}

void CheckHost::Note(const std::wstring& text, const std::string& key) {
    if (!actions_.empty()) {
        Action& newest = actions_.front();
        if (!key.empty() && newest.key == key) {
            newest.text = text;
            return;
        }
        if (key.empty() && newest.key.empty() && newest.text == text) {
            ++newest.repeats;
            return;
        }
    }
    actions_.push_front(Action{text, key, 1});
    if (actions_.size() > kActionsKept) actions_.pop_back();
}

void CheckHost::OnDoButton(int32_t code) {
    if (code == hk4::kButtonPendant) {
        // The host's button action switches what LED 800 shows.
        leds_[kLampLed] = !Led(kLampLed);
        Note(std::wstring(L"Pendant button (its action now ") + (Led(kLampLed) ? L"on)" : L"off)"));
    } else if (code == hk4::kButtonTabScreen) {
        tabShown = !tabShown;
        Note(tabShown ? L"TAB screen shown" : L"TAB screen hidden");
    } else if (code >= hk4::kButtonAxisBase && code < hk4::kButtonAxisBase + 6) {
        Note(std::wstring(L"Axis action ") + AxisName(code - hk4::kButtonAxisBase));
    } else {
        Note(L"Host button " + std::to_wstring(code));
    }
}

void CheckHost::OnSetDro(int32_t number, double value) {
    const double before = Dro(number);
    dros_[number] = value;
    if (value == before) return;
    if (number == kJogRateDro)
        Note(L"Jog rate " + Percent(value), "dro3");
    else if (number == kFeedOverrideDro)
        Note(L"Feed override F% " + Percent(value), "dro821");
    else if (number == kDro74)
        Note(L"S% " + Percent(value), "dro74");
}

void CheckHost::OnCode(const char* line) {
    const std::string text(line);
    if (text.compare(0, 6, "G91G1 ") == 0) {
        Step(text.substr(6));
    } else if (text == "G90") {
        // Back to absolute distances after the step: nothing moves.
    } else if (text == "DOJOG") {
        StartJog();
    } else if (text == "ENDJOG") {
        // Sent on every poll while the wheel rests: only a running jog ends.
        if (jog_.running) EndJog(L"ends");
    } else {
        Note(L"Host command " + Widen(text));
    }
}

// An incremental move: "F100 X 0.0100", "X 0.0100" or "X0.0071 Y-0.0071 ".
void CheckHost::Step(const std::string& words) {
    std::vector<std::string> tokens;
    for (std::size_t at = 0; at < words.size();) {
        const std::size_t end = std::min(words.find(' ', at), words.size());
        if (end > at) tokens.push_back(words.substr(at, end - at));
        at = end + 1;
    }
    double moved[6] = {};
    bool any[6] = {};
    int count = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const int axis = AxisOfLetter(tokens[i][0]);
        if (axis < 0) continue;  // the feed word
        std::string number = tokens[i].substr(1);
        if (number.empty() && i + 1 < tokens.size()) number = tokens[++i];
        char* end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        if (end == number.c_str()) continue;
        moved[axis] += value;
        if (!any[axis]) ++count;
        any[axis] = true;
    }
    std::wstring action = count > 1 ? L"Rotated step" : L"Step";
    for (int a = 0; a < 6; ++a) {
        if (!any[a]) continue;
        if (a < kAxes) position[a] += moved[a];
        action += std::wstring(L" ") + AxisName(a) + L" " + Signed(moved[a]);
    }
    if (count == 0) action = L"Step without a distance";
    Note(action);
}

void CheckHost::StartJog() {
    // The host starts the jog its record describes: the axis whose start
    // flag the plug-in set, which the host takes.
    int axis = -1;
    for (int a = 0; a < kAxes && axis < 0; ++a)
        if (view_.read(hk4::fields::JogStart.at(a)) != 0) axis = a;
    if (axis < 0) {
        Note(L"Jog requested without an axis");
        return;
    }
    view_.write(hk4::fields::JogStart.at(axis), uint8_t{0});
    const int direction = view_.read(hk4::fields::JogDirection.at(axis)) ? 1 : 0;
    const int32_t velocity = view_.read(hk4::fields::JogVelocity.at(axis));
    const bool same = jog_.running && jog_.axis == axis && jog_.direction == direction;
    if (jog_.running && !same) EndJog(L"ends");
    jog_.running = true;
    jog_.axis = axis;
    jog_.direction = direction;
    jog_.velocity = velocity;
    // A jog whose velocity follows the wheel changes on every poll: one line.
    Note(std::wstring(L"Jog ") + AxisName(axis) + (direction ? L" down" : L" up") + L" at " +
             std::to_wstring(velocity) + L" per minute",
         std::string("jog") + static_cast<char>('0' + axis) + (direction ? "-" : "+"));
}

void CheckHost::EndJog(const wchar_t* how) {
    jog_.running = false;
    Note(std::wstring(L"Jog ") + AxisName(jog_.axis) + L" " + how);
}

void CheckHost::CheckJogStop() {
    if (jog_.running && view_.read(hk4::fields::JogStop.at(jog_.axis)) != 0) EndJog(L"stops");
}

void CheckHost::Advance(double ms) {
    CheckJogStop();
    if (!jog_.running) return;
    const double distance = static_cast<double>(jog_.velocity) * ms / 60000.0;
    position[jog_.axis] += jog_.direction ? -distance : distance;
}

}  // namespace pendantcheck
