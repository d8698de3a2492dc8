#include "pendant_test_support.h"

namespace hk4test {

namespace {

RecordingHost* g_host = nullptr;

void OnDoButton(int32_t code) {
    if (!g_host) return;
    g_host->buttons.push_back(code);
    if (g_host->duringButton) g_host->duringButton(code);
}
uint8_t OnGetLED(int32_t number) {
    if (!g_host) return 0;
    ++g_host->ledReads;
    ++g_host->ledReadsOf[number];
    const auto it = g_host->leds.find(number);
    return it == g_host->leds.end() ? 0 : it->second;
}
void OnCode(const char* line) {
    if (!g_host) return;
    g_host->code.push_back(line ? line : "(null)");
    if (g_host->duringCode) g_host->duringCode(g_host->code.back());
}

}  // namespace

RecordingHost::RecordingHost()
    : motion_(hk4::kMotionBlockSize),
      options_(hk4::kOptionsBlockSize),
      planner_(hk4::kPlannerBlockSize),
      parent_(hk4::kParentWindowSize) {
    state.host.blocks =
        hk4::HostBlocks{motion_.data(), options_.data(), planner_.data(), parent_.data()};
    state.host.callbacks.DoButton = OnDoButton;
    state.host.callbacks.GetLED = OnGetLED;
    state.host.callbacks.Code = OnCode;
    state.settings.PercentTime = 3;
    for (int axis = 0; axis < 6; ++axis) Set(hk4::fields::AxisFullRate.at(axis), int32_t{1000});
    g_host = this;
}

int RecordingHost::Presses(int32_t code) const {
    int n = 0;
    for (int32_t b : buttons) n += b == code;
    return n;
}

RecordingHost::~RecordingHost() {
    if (g_host == this) g_host = nullptr;
}

void Rig::Link(std::vector<FakeDevice> devices) {
    port.devices = std::move(devices);
    window->FindPendant();
    port.ClearLog();
}

void Rig::Tick(uint32_t ms) {
    port.AdvanceTo(port.now() + ms);
    window->OnTimer(1);
}

bool Rig::Removal(const std::string& path, uint32_t type) {
    hk4::DeviceBroadcast broadcast{type, path, {}};
    return window->OnDeviceChange(0x8004, &broadcast);
}

bool Rig::Arrival() {
    hk4::DeviceBroadcast broadcast{5, kPendantPath, {}};
    return window->OnDeviceChange(0x8000, &broadcast);
}

std::vector<std::string> Rig::TakeLog() {
    std::vector<std::string> log = std::move(port.log);
    port.log.clear();
    return log;
}

}  // namespace hk4test
