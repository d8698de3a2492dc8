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

/* The files open on the class driver's HID devices, with the access they were
 * opened for. Wine sends no close to a device that has been removed, so a
 * removed device's files are dropped with it: these are the files open on
 * the devices present. */
#define MAX_FILES 256
static struct open_file {
    FILE_OBJECT* file;
    DEVICE_OBJECT* device;
    ULONG access;
} files[MAX_FILES];
static volatile LONG lock_word;

static void lock(void) {
    while (__atomic_exchange_n(&lock_word, 1, __ATOMIC_ACQUIRE)) {
    }
}

static void unlock(void) {
    __atomic_store_n(&lock_word, 0, __ATOMIC_RELEASE);
}

static void file_opened(DEVICE_OBJECT* device, FILE_OBJECT* file, ULONG access) {
    int i;
    lock();
    for (i = 0; i < MAX_FILES; i++)
        if (!files[i].file) {
            files[i].file = file;
            files[i].device = device;
            files[i].access = access;
            break;
        }
    unlock();
}

static void file_closed(FILE_OBJECT* file) {
    int i;
    lock();
    for (i = 0; i < MAX_FILES; i++)
        if (files[i].file == file) files[i].file = NULL;
    unlock();
}

static void device_removed(DEVICE_OBJECT* device) {
    int i;
    lock();
    for (i = 0; i < MAX_FILES; i++)
        if (files[i].file && files[i].device == device) files[i].file = NULL;
    unlock();
}

static void count_files(struct vp_open_handles* out) {
    int i;
    out->total = out->no_access = out->read = out->write = out->read_write = 0;
    lock();
    for (i = 0; i < MAX_FILES; i++) {
        ULONG a = files[i].access;
        if (!files[i].file) continue;
        out->total++;
        if (a & (GENERIC_READ | FILE_READ_DATA)) {
            if (a & (GENERIC_WRITE | FILE_WRITE_DATA))
                out->read_write++;
            else
                out->read++;
        } else if (a & (GENERIC_WRITE | FILE_WRITE_DATA)) {
            out->write++;
        } else {
            out->no_access++;
        }
    }
    unlock();
}

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
        if (major == IRP_MJ_DEVICE_CONTROL &&
            stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_VP_LIST_FILES) {
            struct vp_file_entry* out = irp->AssociatedIrp.SystemBuffer;
            ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength / sizeof(*out), n = 0;
            int i;
            lock();
            for (i = 0; i < MAX_FILES && n < room; i++)
                if (files[i].file) {
                    out[n].device = (ULONG_PTR)files[i].device;
                    out[n].file = (ULONG_PTR)files[i].file;
                    out[n].access = files[i].access;
                    n++;
                }
            unlock();
            return complete(irp, STATUS_SUCCESS, n * sizeof(*out));
        }
        if (major == IRP_MJ_DEVICE_CONTROL) {
            if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_VP_OPEN_HANDLES ||
                stack->Parameters.DeviceIoControl.OutputBufferLength <
                    sizeof(struct vp_open_handles))
                return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
            count_files(irp->AssociatedIrp.SystemBuffer);
            return complete(irp, STATUS_SUCCESS, sizeof(struct vp_open_handles));
        }
        return complete(irp, STATUS_SUCCESS, 0);
    }
    FILE_OBJECT* file = stack->FileObject;
    ULONG access = 0;
    if (major == IRP_MJ_CREATE && stack->Parameters.Create.SecurityContext)
        access = stack->Parameters.Create.SecurityContext->DesiredAccess;
    /* Noted before the class driver sees the open: its close may be handled
     * on another thread before this one returns. */
    if (major == IRP_MJ_CREATE && file) file_opened(device, file, access);
    if (major == IRP_MJ_CLOSE) file_closed(file);
    if (major == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_REMOVE_DEVICE) device_removed(device);
    status = class_dispatch[major](device, irp);
    if (major == IRP_MJ_CREATE && !NT_SUCCESS(status) && status != STATUS_PENDING && file)
        file_closed(file);
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
