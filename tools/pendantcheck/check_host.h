// The host that the pendant check window plays around the plug-in: its
// memory blocks, message-line string, DROs and LEDs, and a machine whose
// five axes move the way the host moves them from what the plug-in sends
// (step lines, rotated steps, continuous jogs until they end). What happens
// is kept as a short list of actions in plain words.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "hostside/host_string_manager.h"
#include "hostside/plugin_api.h"
#include "input/host_codes.h"
#include "plugin/host.h"

namespace pendantcheck {

inline constexpr int kAxes = 5;  // X, Y, Z, A, B: the axes the pendant selects

// Host codes the window gives meaning to.
inline constexpr int32_t kJogRateDro = hk4::kDroJogRate;
inline constexpr int32_t kDro74 = hk4::kDro74;
inline constexpr int32_t kFeedOverrideDro = hk4::kDro821;
inline constexpr int32_t kLampLed = hk4::kLedPendantButton;
inline constexpr int32_t kJogSwitchLed = hk4::kLedJogEnabled;

struct Jog {
    bool running = false;
    int axis = 0;
    int direction = 0;     // 0 up, 1 down
    int32_t velocity = 0;  // units per minute
};

class CheckHost {
  public:
    // The host window object holds `parent`, the window the plug-in's own
    // hidden window becomes a child of.
    explicit CheckHost(void* parent);
    ~CheckHost();
    CheckHost(const CheckHost&) = delete;
    CheckHost& operator=(const CheckHost&) = delete;

    void InstallCallbacks(const hostside::PluginApi& api);
    void* motion() const { return motion_.get(); }
    void* options() const { return options_.get(); }
    void* planner() const { return planner_.get(); }
    void* parentObject() { return parentObject_; }

    // The host's own settings, as the window edits them.
    double StepSize() const;
    void SetStepSize(double size);
    int32_t FullRate() const;
    void SetFullRate(int32_t unitsPerMinute);  // every axis
    double Dro(int32_t number) const;
    void SetDro(int32_t number, double value);  // the host's own change
    bool Led(int32_t number) const;
    void SetLed(int32_t number, bool on);

    // One host cycle of `ms` milliseconds: a running jog moves its axis, and
    // ends when the plug-in has set the axis's JogStop.
    void Advance(double ms);

    double position[kAxes] = {};
    const Jog& jog() const { return jog_; }
    bool tabShown = false;
    std::string StatusText() const;

    // The last actions, newest first; a repeat of the newest counts up.
    struct Action {
        std::wstring text;
        std::string key;  // a change of the same thing replaces the line
        int repeats = 1;
    };
    const std::deque<Action>& actions() const { return actions_; }
    void Note(const std::wstring& text, const std::string& key = std::string());

    // Callbacks of the plug-in, reached through the one instance.
    void OnDoButton(int32_t code);
    void OnSetDro(int32_t number, double value);
    void OnCode(const char* line);

  private:
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    void StartJog();
    void EndJog(const wchar_t* how);
    void CheckJogStop();
    void Step(const std::string& words);

    std::unique_ptr<unsigned char, Free> motion_, options_, planner_;
    unsigned char parentObject_[hk4::kParentWindowSize] = {};
    hk4::Host view_;
    hostside::CountingStringManager strings_;
    std::map<int32_t, double> dros_;
    std::map<int32_t, bool> leds_;
    Jog jog_;
    std::deque<Action> actions_;
};

// "X" .. "B" for 0..4.
const wchar_t* AxisName(int axis);
// A distance with its sign and four decimals: "+0.0100", "-0.0030".
std::wstring Signed(double value);

}  // namespace pendantcheck
