// The record sizes the pendant search relies on, checked where they are
// compiled: the 32-bit values are those of the shipping build.
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#ifndef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "SP_DEVICE_INTERFACE_DETAIL_DATA_A");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "HIDD_ATTRIBUTES");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "DEV_BROADCAST_DEVICEINTERFACE_A");
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8, "SP_DEVICE_INTERFACE_DETAIL_DATA_A");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "HIDD_ATTRIBUTES");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "DEV_BROADCAST_DEVICEINTERFACE_A");
#endif
