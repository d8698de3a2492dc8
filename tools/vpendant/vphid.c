/* Virtual pendant HID minidriver: registers with the class driver and
 * passes its requests down to the bus driver's child (vpbus.sys), which
 * answers them. It also counts the handles programs hold open on the HID
 * devices it serves (the class driver's own device objects belong to this
 * driver object), readable through \\.\HalvexVPendantHid. */
#include <ddk/wdm.h>
#include "vpendant_ioctl.h"
#include "vpendant_hid.h"

static PDRIVER_DISPATCH class_dispatch[IRP_MJ_MAXIMUM_FUNCTION + 1];
static DEVICE_OBJECT* control;
static volatile LONG open_handles;

static NTSTATUS WINAPI pass_down(DEVICE_OBJECT* device, IRP* irp) {
    VP_HID_DEVICE_EXTENSION* ext = device->DeviceExtension;
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->NextDeviceObject, irp);
}

static NTSTATUS WINAPI add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* fdo) {
    (void)driver;
    (void)fdo;
    return STATUS_SUCCESS;
}

static NTSTATUS complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI counting_dispatch(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    UCHAR major = stack->MajorFunction;
    NTSTATUS status;
    if (device == control) {
        if (major == IRP_MJ_DEVICE_CONTROL) {
            if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_VP_OPEN_HANDLES ||
                stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(LONG))
                return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
            *(LONG*)irp->AssociatedIrp.SystemBuffer =
                __atomic_load_n(&open_handles, __ATOMIC_SEQ_CST);
            return complete(irp, STATUS_SUCCESS, sizeof(LONG));
        }
        return complete(irp, STATUS_SUCCESS, 0);
    }
    if (major == IRP_MJ_CLOSE) __atomic_sub_fetch(&open_handles, 1, __ATOMIC_SEQ_CST);
    status = class_dispatch[major](device, irp);
    if (major == IRP_MJ_CREATE && NT_SUCCESS(status))
        __atomic_add_fetch(&open_handles, 1, __ATOMIC_SEQ_CST);
    return status;
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* path) {
    VP_HID_MINIDRIVER_REGISTRATION reg;
    UNICODE_STRING name, link;
    NTSTATUS status;
    int i;

    /* The class driver keeps these two as the minidriver's own. */
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = pass_down;
    driver->MajorFunction[IRP_MJ_PNP] = pass_down;
    driver->MajorFunction[IRP_MJ_POWER] = pass_down;
    driver->DriverExtension->AddDevice = add_device;

    reg.Revision = 1;
    reg.DriverObject = driver;
    reg.RegistryPath = path;
    reg.DeviceExtensionSize = 0;
    reg.DevicesArePolled = FALSE;
    reg.Reserved[0] = reg.Reserved[1] = reg.Reserved[2] = 0;
    status = HidRegisterMinidriver(&reg);
    if (!NT_SUCCESS(status)) return status;

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++) {
        class_dispatch[i] = driver->MajorFunction[i];
        driver->MajorFunction[i] = counting_dispatch;
    }
    RtlInitUnicodeString(&name, VP_HID_DEVICE_NAME);
    RtlInitUnicodeString(&link, VP_HID_LINK_NAME);
    if (NT_SUCCESS(IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control))) {
        IoCreateSymbolicLink(&link, &name);
        control->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    return STATUS_SUCCESS;
}
