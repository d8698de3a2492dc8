// Load-time behaviour: Windows Sockets start-up (the load is refused when it
// fails) and the module's own identity.
#include <windows.h>
#include <winsock2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "plugin/host.h"
#include "plugin/lifecycle_win32.h"
#include "plugin/plugin_state.h"

namespace {

HMODULE g_module = nullptr;

// A host string object that cannot be read is never touched.
bool MemoryReadable(const void* p, std::size_t size) {
    const unsigned char* begin = static_cast<const unsigned char*>(p);
    const unsigned char* end = begin + size;
    while (begin < end) {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(begin, &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT) return false;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if ((info.Protect & readable) == 0 || (info.Protect & PAGE_GUARD) != 0) return false;
        begin = static_cast<const unsigned char*>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

uint32_t TickNow() {
    return GetTickCount();
}

}  // namespace

namespace hk4 {

HMODULE ThisModule() {
    return g_module;
}

std::string ThisModulePath() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(g_module, path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

const char* FallbackDisplayName() noexcept {
    static char name[MAX_PATH + 64];
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(g_module, path, MAX_PATH);
    path[n < MAX_PATH ? n : MAX_PATH] = '\0';
    // As MakeDisplayName: no directory, no last extension.
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
    const char* dot = std::strrchr(base, '.');
    const int length = static_cast<int>(dot ? dot - base : std::strlen(base));
    std::snprintf(name, sizeof name, "%.*s%s", length, base, kDisplayNameSuffix);
    return name;
}

}  // namespace hk4

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            g_module = instance;
            hk4::Plugin().host.readable = MemoryReadable;
            hk4::Plugin().host.clock = TickNow;
            WSADATA data;
            if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
                const std::string caption = hk4::ModuleBaseName(hk4::ThisModulePath());
                MessageBoxA(nullptr, "Sockets Init Failed", caption.c_str(),
                            MB_OK | MB_ICONEXCLAMATION);
                return FALSE;
            }
            DisableThreadLibraryCalls(instance);
            break;
        }
        case DLL_PROCESS_DETACH:
            // An unload without StopPlug: the host's callbacks and blocks
            // may be gone already, and the loader lock is held. Nothing here
            // calls the host, waits or destroys a window; what cannot be
            // closed safely is left, and at process exit (reserved not
            // null) the system reclaims it all. Windows Sockets is not
            // cleaned up under the loader lock either: the reference is left
            // to the process.
            hk4::Plugin().host.released = true;
            if (reserved == nullptr) hk4::AbandonPendantWindow();
            break;
    }
    return TRUE;
}
