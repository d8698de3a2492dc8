// Patching the plug-in's import table: the DLL's own calls are redirected,
// and put back on Restore.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "hostsim/import_patch.h"
#include "hostside/plugin_api.h"
#include "win_test_support.h"

namespace {

DWORD WINAPI FakeModuleFileName(HMODULE, LPSTR path, DWORD size) {
    const char name[] = "C:\\plugins\\Redirected.dll";
    if (size < sizeof name) return 0;
    std::memcpy(path, name, sizeof name);
    return sizeof name - 1;
}

TEST(ImportPatch, RedirectsOnlyThePluginsCallsAndRestoresThem) {
    hostside::PluginApi api;
    std::string error;
    ASSERT_TRUE(api.Load(hk4test::CopyPlugin("HalvexK4.dll"), error)) << error;
    const auto imports = hostsim::ListImports(api.module);
    auto imported = [&imports](const char* fn) {
        return std::any_of(imports.begin(), imports.end(),
                           [fn](const hostsim::ImportedFunction& f) { return f.function == fn; });
    };
    EXPECT_TRUE(imported("GetModuleFileNameA"));
    EXPECT_TRUE(imported("SetupDiGetClassDevsA"));
    EXPECT_FALSE(imported("NoSuchFunction"));

    const std::string profile = hk4test::TempDir() + "\\profile.xml";
    const std::string before = api.SetProName(profile.c_str());
    EXPECT_EQ(before.rfind("HalvexK4 Pendant", 0), 0u) << before;
    {
        hostsim::ImportPatch patch;
        const auto patched = patch.Apply(
            api.module, {{"GetModuleFileNameA", reinterpret_cast<void*>(FakeModuleFileName)},
                         {"NoSuchFunction", reinterpret_cast<void*>(FakeModuleFileName)}});
        EXPECT_EQ(patched, std::vector<std::string>{"GetModuleFileNameA"});
        EXPECT_EQ(std::string(api.SetProName(profile.c_str())).rfind("Redirected Pendant", 0), 0u);
        // The simulator's own calls are not redirected.
        char own[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, own, MAX_PATH);
        EXPECT_EQ(std::strstr(own, "Redirected"), nullptr);
    }  // restored here
    EXPECT_EQ(std::string(api.SetProName(profile.c_str())), before);
    api.Unload();
}

}  // namespace
