#include "hostside/plugin_api.h"

namespace hostside {

namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& fn, std::string& error) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (fn == nullptr) error += std::string(error.empty() ? "" : ", ") + name;
    return fn != nullptr;
}

}  // namespace

bool PluginApi::Load(const std::string& path, std::string& error) {
    error.clear();
    module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return ResolveAll(error);
}

bool PluginApi::Load(const std::wstring& path, std::string& error) {
    error.clear();
    module = LoadLibraryW(path.c_str());
    if (module == nullptr) {
        error = "cannot load the plug-in (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return ResolveAll(error);
}

bool PluginApi::ResolveAll(std::string& error) {
    std::string missing;
#define HK4_RESOLVE(name) Resolve(module, #name, name, missing)
    HK4_RESOLVE(SetDoButton);
    HK4_RESOLVE(SetSetDRO);
    HK4_RESOLVE(SetGetDRO);
    HK4_RESOLVE(SetGetLED);
    HK4_RESOLVE(SetSetLED);
    HK4_RESOLVE(SetCode);
    HK4_RESOLVE(SetProName);
    HK4_RESOLVE(InitControl);
    HK4_RESOLVE(PostInitControl);
    HK4_RESOLVE(Config);
    HK4_RESOLVE(Update);
    HK4_RESOLVE(StopPlug);
    HK4_RESOLVE(DoDwell);
    HK4_RESOLVE(Reset);
    HK4_RESOLVE(JogOn);
    HK4_RESOLVE(JogOff);
    HK4_RESOLVE(Purge);
    HK4_RESOLVE(Probe);
    HK4_RESOLVE(Home);
    HK4_RESOLVE(DllGetClassObject);
    HK4_RESOLVE(DllCanUnloadNow);
    HK4_RESOLVE(DllRegisterServer);
    HK4_RESOLVE(DllUnregisterServer);
#undef HK4_RESOLVE
    if (!missing.empty()) {
        error = "missing entry points: " + missing;
        Unload();
        return false;
    }
    return true;
}

void PluginApi::Unload() {
    if (module) FreeLibrary(module);
    *this = PluginApi{};
}

}  // namespace hostside
