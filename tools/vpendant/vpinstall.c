/* Installs the virtual pendant into the Wine prefix it runs in: copies the
 * drivers beside it into system32\drivers, the INF into the system's INF
 * folder, creates the root bus device and installs its driver. The bus
 * then reports the pendant, and the plug-and-play manager installs the
 * HID minidriver for it. Exit 0 when the bus's control device answers. */
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#include <stdio.h>
#include <string.h>
#include "vpendant_ioctl.h"

static const char bus_hardware_id[] = "root\\HalvexVPendantBus\0";

static int bus_answers(void) {
    HANDLE h = CreateFileA(VP_BUS_USER_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           0, NULL);
    if (h == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(h);
    return 1;
}

static int fail(const char* what) {
    fprintf(stderr, "vpinstall: %s failed (error %lu)\n", what, GetLastError());
    return 1;
}

int main(void) {
    char here[MAX_PATH], inf[MAX_PATH], from[MAX_PATH], to[MAX_PATH], *slash;
    static const char* const drivers[] = {"vpbus.sys", "vphid.sys"};
    GUID system_class = {
        0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    SP_DEVINFO_DATA device;
    HDEVINFO set;
    BOOL reboot = FALSE;
    DWORD start;
    size_t i;

    memset(&device, 0, sizeof(device));
    device.cbSize = sizeof(device);
    if (bus_answers()) {
        printf("vpinstall: already installed\n");
        return 0;
    }
    GetModuleFileNameA(NULL, here, sizeof(here));
    if ((slash = strrchr(here, '\\'))) slash[1] = 0;
    for (i = 0; i < sizeof(drivers) / sizeof(drivers[0]); i++) {
        snprintf(from, sizeof(from), "%s%s", here, drivers[i]);
        GetSystemDirectoryA(to, sizeof(to));
        strncat(to, "\\drivers\\", sizeof(to) - strlen(to) - 1);
        strncat(to, drivers[i], sizeof(to) - strlen(to) - 1);
        if (!CopyFileA(from, to, FALSE)) return fail(from);
    }
    snprintf(inf, sizeof(inf), "%svpendant.inf", here);
    if (!SetupCopyOEMInfA(inf, NULL, SPOST_PATH, 0, NULL, 0, NULL, NULL))
        return fail("SetupCopyOEMInf");

    set = SetupDiCreateDeviceInfoList(&system_class, NULL);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiCreateDeviceInfoList");
    if (!SetupDiCreateDeviceInfoA(set, "System", &system_class, NULL, NULL, DICD_GENERATE_ID,
                                  &device))
        return fail("SetupDiCreateDeviceInfo");
    if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                           (const BYTE*)bus_hardware_id, sizeof(bus_hardware_id)))
        return fail("SetupDiSetDeviceRegistryProperty");
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
        return fail("DIF_REGISTERDEVICE");
    SetupDiDestroyDeviceInfoList(set);
    if (!UpdateDriverForPlugAndPlayDevicesA(NULL, bus_hardware_id, inf, INSTALLFLAG_FORCE, &reboot))
        return fail("UpdateDriverForPlugAndPlayDevices");

    for (start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20))
        if (bus_answers()) {
            printf("vpinstall: installed in %lu ms\n", GetTickCount() - start);
            return 0;
        }
    fprintf(stderr, "vpinstall: the bus's control device did not appear\n");
    return 1;
}
