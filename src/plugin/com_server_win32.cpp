// COM self-registration of the library's type library. The plug-in defines
// no COM class of its own, so there are no class factories to register.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "plugin/boundary_win32.h"
#include "plugin/lifecycle_win32.h"

namespace {

// {0C9FB259-B864-40A5-B59F-65E11E209FC4}
const GUID kLibraryId = {
    0x0c9fb259, 0xb864, 0x40a5, {0xb5, 0x9f, 0x65, 0xe1, 0x1e, 0x20, 0x9f, 0xc4}};

constexpr HRESULT kTypeLibFailure = 0x80040200;  // SELFREG_E_TYPELIB

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

std::wstring ModulePathW() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(hk4::ThisModule(), path, MAX_PATH);
    return std::wstring(path, n < MAX_PATH ? n : MAX_PATH);
}

HRESULT RegisterTypeLibrary() {
    std::wstring path = ModulePathW();
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib)) || lib == nullptr)
        return kTypeLibFailure;
    const HRESULT hr = RegisterTypeLib(lib, &path[0], nullptr);
    lib->Release();
    if (FAILED(hr)) return kTypeLibFailure;
    // No class factories: there are no class entries to write or remove, so
    // the class step (SELFREG_E_CLASS, 0x80040201) cannot fail.
    return S_OK;
}

}  // namespace

extern "C" HRESULT __stdcall DllRegisterServer() {
    // Without memory for the module's path nothing is registered.
    return hk4::Shielded("DllRegisterServer", kTypeLibFailure, RegisterTypeLibrary);
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    if (FAILED(UnRegisterTypeLib(kLibraryId, 1, 0, 0, kSysKind))) return kTypeLibFailure;
    return S_OK;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID, void** object) {
    if (object) *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() {
    return S_OK;
}
