// The plug-in's face to the host, through the real DLL.
#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#include <gtest/gtest.h>

#include <string>

#include "hk4_version.h"
#include "hostside/plugin_api.h"
#include "win_test_support.h"

namespace {

TEST(Exports, EveryEntryPointResolvesAndTheEmptyOnesAcceptAnyArguments) {
    hostside::PluginApi api;
    std::string error;
    ASSERT_TRUE(api.Load(hk4test::CopyPlugin("HalvexK4.dll"), error)) << error;
    // The seven do-nothing entry points, called with stray arguments the way
    // a host may pass them (the callee ignores them).
    using AnyArgs = void (*)(int, int, int);
    for (auto fn :
         {api.DoDwell, api.Reset, api.JogOn, api.JogOff, api.Purge, api.Probe, api.Home}) {
        reinterpret_cast<AnyArgs>(fn)(1, 2, 3);
    }
    // StopPlug before InitControl, and twice, does nothing.
    api.StopPlug();
    api.StopPlug();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(api.DllGetClassObject(GUID{}, IID_IUnknown, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(api.DllCanUnloadNow(), S_OK);
    api.Unload();
}

TEST(Exports, DisplayNameComesFromTheModuleFileWithoutItsLastExtension) {
    hostside::PluginApi api;
    std::string error;
    ASSERT_TRUE(api.Load(hk4test::CopyPlugin("a.b.dll"), error)) << error;
    const std::string profile = hk4test::TempDir() + "\\profile.xml";
    const char* first = api.SetProName(profile.c_str());
    ASSERT_NE(first, nullptr);
    const std::string firstText = first;
    EXPECT_EQ(firstText, std::string("a.b Pendant --Zentorin Ver ") + HK4_VERSION_TEXT);
    const char* second = api.SetProName(profile.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::string(second), firstText);
    api.Unload();
}

std::string TypeLibKeyPath() {
    return "TypeLib\\{0C9FB259-B864-40A5-B59F-65E11E209FC4}\\1.0";
}

bool TypeLibRegistered() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, TypeLibKeyPath().c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(Exports, RegisterAndUnregisterTheTypeLibrary) {
    hostside::PluginApi api;
    std::string error;
    ASSERT_TRUE(api.Load(hk4test::CopyPlugin("HalvexK4.dll"), error)) << error;
    EXPECT_EQ(api.DllRegisterServer(), S_OK);
    EXPECT_TRUE(TypeLibRegistered());
    EXPECT_EQ(api.DllUnregisterServer(), S_OK);
    EXPECT_FALSE(TypeLibRegistered());
    // Nothing left to remove: the type library step reports its failure code.
    EXPECT_EQ(api.DllUnregisterServer(), static_cast<HRESULT>(0x80040200));
    api.Unload();
}

}  // namespace
