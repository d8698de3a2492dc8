// The plug-in's entry points as the host sees them, resolved by name.
#pragma once

#include <windows.h>

#include <string>

#include "plugin/host.h"

namespace hostside {

struct PluginApi {
    HMODULE module = nullptr;
    void(HK4_CDECL* SetDoButton)(hk4::DoButtonFn) = nullptr;
    void(HK4_CDECL* SetSetDRO)(hk4::SetDroFn) = nullptr;
    void(HK4_CDECL* SetGetDRO)(hk4::GetDroFn) = nullptr;
    void(HK4_CDECL* SetGetLED)(hk4::GetLedFn) = nullptr;
    void(HK4_CDECL* SetSetLED)(hk4::SetLedFn) = nullptr;
    void(HK4_CDECL* SetCode)(hk4::CodeFn) = nullptr;
    const char*(HK4_CDECL* SetProName)(const char*) = nullptr;
    bool(HK4_CDECL* InitControl)(void*, void*, void*, void*) = nullptr;
    void(HK4_CDECL* PostInitControl)() = nullptr;
    void(HK4_CDECL* Config)() = nullptr;
    void(HK4_CDECL* Update)() = nullptr;
    void(HK4_CDECL* StopPlug)() = nullptr;
    void(HK4_CDECL* DoDwell)() = nullptr;
    void(HK4_CDECL* Reset)() = nullptr;
    void(HK4_CDECL* JogOn)() = nullptr;
    void(HK4_CDECL* JogOff)() = nullptr;
    void(HK4_CDECL* Purge)() = nullptr;
    void(HK4_CDECL* Probe)() = nullptr;
    void(HK4_CDECL* Home)() = nullptr;
    HRESULT(__stdcall* DllGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(__stdcall* DllCanUnloadNow)() = nullptr;
    HRESULT(__stdcall* DllRegisterServer)() = nullptr;
    HRESULT(__stdcall* DllUnregisterServer)() = nullptr;

    // Loads the library and resolves every entry point; on failure `error`
    // names what is missing and the library is unloaded again.
    bool Load(const std::string& path, std::string& error);
    // The same for a path in any characters (a folder's name need not fit
    // the ANSI code page).
    bool Load(const std::wstring& path, std::string& error);
    void Unload();

  private:
    bool ResolveAll(std::string& error);
};

}  // namespace hostside
