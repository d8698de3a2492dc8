/* Virtual pendant bus driver: a root-enumerated bus whose children are HID
 * devices (VID/PID of the caller's choice, the Halvex K4 pendant in slot 0
 * at start) answering the HID minidriver requests that vphid.sys passes
 * down, and a control device (\\.\HalvexVPendantBus) through which a test
 * feeds input reports, reads output reports back (or holds them, as a
 * pendant that never completes an OUT transfer), and unplugs and plugs
 * children while a program runs. Built with mingw-w64 only. */
#include <ddk/wdm.h>
#include "vpendant_ioctl.h"
#include "vpendant_hid.h"

enum ext_kind { EXT_FDO = 1, EXT_PDO, EXT_CONTROL };

struct slot {
    BOOLEAN present; /* reported in the bus relations */
    BOOLEAN started;
    DEVICE_OBJECT* pdo;
    ULONG instance;
    USHORT vid, pid;
    UCHAR queue[VP_QUEUE_LEN][VP_INPUT_LEN];
    ULONG head, count;
    IRP* pending_read;
    ULONG fed, dropped, delivered, outputs;
    UCHAR last_output[VP_OUTPUT_LEN];
    BOOLEAN hold_outputs;
    ULONG held_count; /* output reports outstanding, oldest first */
    struct held_output {
        IRP* irp;
        ULONG length; /* as the class driver asked */
        UCHAR report[VP_OUTPUT_LEN];
    } held[VP_HELD_OUTPUTS];
};

struct ext {
    enum ext_kind kind;
    DEVICE_OBJECT* lower; /* FDO: the root PDO below it */
    ULONG slot;           /* PDO */
};

static DEVICE_OBJECT *bus_fdo, *bus_pdo;
static struct slot slots[VP_SLOTS];
static volatile LONG lock_word;

static void lock(void) {
    while (__atomic_exchange_n(&lock_word, 1, __ATOMIC_ACQUIRE)) {
    }
}

static void unlock(void) {
    __atomic_store_n(&lock_word, 0, __ATOMIC_RELEASE);
}

static NTSTATUS complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static WCHAR* put_text(WCHAR* p, const WCHAR* s) {
    while (*s) *p++ = *s++;
    return p;
}

static WCHAR* put_hex4(WCHAR* p, USHORT v) {
    static const WCHAR digits[] = L"0123456789ABCDEF";
    int shift;
    for (shift = 12; shift >= 0; shift -= 4) *p++ = digits[(v >> shift) & 15];
    return p;
}

static WCHAR* put_decimal(WCHAR* p, ULONG v) {
    WCHAR tmp[12];
    int n = 0;
    do {
        tmp[n++] = (WCHAR)(L'0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *p++ = tmp[--n];
    return p;
}

/* "VPENDANT\VID_04D8&PID_FCE1": the class driver names its device after
 * the part behind the backslash (HID\VID_04D8&PID_FCE1). */
static WCHAR* put_device_id(WCHAR* p, const struct slot* s) {
    p = put_text(p, L"VPENDANT\\VID_");
    p = put_hex4(p, s->vid);
    p = put_text(p, L"&PID_");
    return put_hex4(p, s->pid);
}

static NTSTATUS query_id(struct slot* s, IRP* irp, BUS_QUERY_ID_TYPE type) {
    WCHAR *id = ExAllocatePool(PagedPool, 128 * sizeof(WCHAR)), *p = id;
    if (!id) return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    switch (type) {
        case BusQueryDeviceID:
            p = put_device_id(p, s);
            *p = 0;
            break;
        case BusQueryHardwareIDs:
            p = put_device_id(p, s);
            *p++ = 0;
            *p = 0;
            break;
        case BusQueryCompatibleIDs: /* the INF's model for every child */
            p = put_text(p, L"VPENDANT\\HIDCHILD");
            *p++ = 0;
            *p = 0;
            break;
        case BusQueryInstanceID:
            p = put_decimal(p, s->instance);
            *p = 0;
            break;
        default:
            ExFreePool(id);
            return complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
    return complete(irp, STATUS_SUCCESS, (ULONG_PTR)id);
}

/* Takes the pending read of a slot, to be completed outside the lock. */
static IRP* take_pending_read(struct slot* s) {
    IRP* irp = s->pending_read;
    s->pending_read = NULL;
    return irp;
}

static void copy_bytes(void* to, const void* from, SIZE_T n) {
    UCHAR* t = to;
    const UCHAR* f = from;
    while (n--) *t++ = *f++;
}

/* Takes the held output reports of a slot, to be completed outside the lock
 * by end_held_outputs. On success they count as written, in order. */
static ULONG take_held_outputs(struct slot* s, struct held_output* out, BOOLEAN written) {
    ULONG i, n = s->held_count;
    for (i = 0; i < n; i++) {
        out[i] = s->held[i];
        if (written) {
            copy_bytes(s->last_output, out[i].report, VP_OUTPUT_LEN);
            s->outputs++;
        }
    }
    s->held_count = 0;
    return n;
}

static void end_held_outputs(struct held_output* taken, ULONG n, NTSTATUS status) {
    ULONG i;
    for (i = 0; i < n; i++)
        complete(taken[i].irp, status, NT_SUCCESS(status) ? taken[i].length : 0);
}

static NTSTATUS pdo_pnp(struct slot* s, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    IRP* read;
    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_ID:
            return query_id(s, irp, stack->Parameters.QueryId.IdType);
        case IRP_MN_QUERY_CAPABILITIES: {
            DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
            caps->Removable = TRUE;
            caps->SurpriseRemovalOK = TRUE;
            caps->UniqueID = FALSE;
            return complete(irp, STATUS_SUCCESS, 0);
        }
        case IRP_MN_START_DEVICE:
            s->started = TRUE;
            return complete(irp, STATUS_SUCCESS, 0);
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
            return complete(irp, STATUS_SUCCESS, 0);
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_REMOVE_DEVICE: {
            DEVICE_OBJECT* gone = NULL;
            struct held_output held[VP_HELD_OUTPUTS];
            ULONG n;
            lock();
            read = take_pending_read(s);
            n = take_held_outputs(s, held, FALSE);
            s->started = FALSE;
            if (stack->MinorFunction == IRP_MN_REMOVE_DEVICE && !s->present && s->pdo) {
                gone = s->pdo;
                s->pdo = NULL;
            }
            unlock();
            if (read) complete(read, STATUS_DELETE_PENDING, 0);
            end_held_outputs(held, n, STATUS_DELETE_PENDING);
            complete(irp, STATUS_SUCCESS, 0);
            if (gone) IoDeleteDevice(gone);
            return STATUS_SUCCESS;
        }
        case IRP_MN_QUERY_DEVICE_RELATIONS:
            if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation) {
                DEVICE_RELATIONS* rel = ExAllocatePool(PagedPool, sizeof(*rel));
                if (!rel) return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
                rel->Count = 1;
                rel->Objects[0] = s->pdo;
                ObReferenceObject(s->pdo);
                return complete(irp, STATUS_SUCCESS, (ULONG_PTR)rel);
            }
            return complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
        default:
            return complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
}

static NTSTATUS copy_out(IRP* irp, ULONG capacity, const void* data, ULONG size) {
    if (capacity < size) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    copy_bytes(irp->UserBuffer, data, size);
    return complete(irp, STATUS_SUCCESS, size);
}

static const WCHAR* hid_string(ULONG id) {
    switch (id) { /* the class driver's own numbers (1-3), or Windows' (14-16) */
        case VP_HID_STRING_MANUFACTURER:
        case 14:
            return L"Halvex";
        case VP_HID_STRING_PRODUCT:
        case 15:
            return L"K4 pendant (virtual)";
        case VP_HID_STRING_SERIAL:
        case 16:
            return L"VP0001";
        default:
            return NULL;
    }
}

static NTSTATUS pdo_internal_ioctl(struct slot* s, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case VP_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
            struct vp_hid_descriptor d = vp_hid_descriptor_of_reports();
            return copy_out(irp, out_len, &d, sizeof(d));
        }
        case VP_IOCTL_HID_GET_REPORT_DESCRIPTOR:
            return copy_out(irp, out_len, vp_report_descriptor, sizeof(vp_report_descriptor));
        case VP_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
            struct vp_hid_attributes a = {sizeof(a), s->vid, s->pid, 0x0100, {0}};
            return copy_out(irp, out_len, &a, sizeof(a));
        }
        case VP_IOCTL_HID_GET_STRING: {
            ULONG id =
                (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xffff;
            const WCHAR* text = hid_string(id);
            ULONG n = 0;
            if (!text) return complete(irp, STATUS_INVALID_PARAMETER, 0);
            while (text[n]) n++;
            return copy_out(irp, out_len, text, (n + 1) * sizeof(WCHAR));
        }
        case VP_IOCTL_HID_ACTIVATE_DEVICE:
        case VP_IOCTL_HID_DEACTIVATE_DEVICE:
            return complete(irp, STATUS_SUCCESS, 0);
        case VP_IOCTL_HID_READ_REPORT: {
            NTSTATUS status = STATUS_PENDING;
            UCHAR report[VP_INPUT_LEN];
            if (out_len < VP_INPUT_LEN) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
            lock();
            if (!s->present || !s->started) {
                status = STATUS_DEVICE_NOT_CONNECTED;
            } else if (s->count) {
                copy_bytes(report, s->queue[s->head], VP_INPUT_LEN);
                s->head = (s->head + 1) % VP_QUEUE_LEN;
                s->count--;
                s->delivered++;
                status = STATUS_SUCCESS;
            } else if (s->pending_read) {
                status = STATUS_DEVICE_BUSY;
            } else {
                IoMarkIrpPending(irp);
                s->pending_read = irp;
            }
            unlock();
            if (status == STATUS_PENDING) return STATUS_PENDING;
            if (status != STATUS_SUCCESS) return complete(irp, status, 0);
            copy_bytes(irp->UserBuffer, report, VP_INPUT_LEN);
            return complete(irp, STATUS_SUCCESS, VP_INPUT_LEN);
        }
        case VP_IOCTL_HID_WRITE_REPORT:
        case VP_IOCTL_HID_SET_OUTPUT_REPORT: {
            VP_HID_XFER_PACKET* packet = irp->UserBuffer;
            ULONG n;
            if (!packet || !packet->reportBuffer) return complete(irp, STATUS_INVALID_PARAMETER, 0);
            n = packet->reportBufferLen < VP_OUTPUT_LEN ? packet->reportBufferLen : VP_OUTPUT_LEN;
            lock();
            if (s->hold_outputs) {
                /* The class driver's request stays outstanding. It sends
                 * no cancellation down: the hold's end or an unplug
                 * completes it. */
                struct held_output* h;
                if (s->held_count == VP_HELD_OUTPUTS) {
                    unlock();
                    return complete(irp, STATUS_DEVICE_BUSY, 0);
                }
                h = &s->held[s->held_count++];
                h->irp = irp;
                h->length = packet->reportBufferLen;
                copy_bytes(h->report, packet->reportBuffer, n);
                IoMarkIrpPending(irp);
                unlock();
                return STATUS_PENDING;
            }
            copy_bytes(s->last_output, packet->reportBuffer, n);
            s->outputs++;
            unlock();
            return complete(irp, STATUS_SUCCESS, packet->reportBufferLen);
        }
        default:
            return complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

static NTSTATUS create_child(ULONG index) {
    DEVICE_OBJECT* pdo;
    struct ext* ext;
    NTSTATUS status =
        IoCreateDevice(bus_fdo->DriverObject, sizeof(struct ext), NULL, FILE_DEVICE_BUS_EXTENDER,
                       FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &pdo);
    if (!NT_SUCCESS(status)) return status;
    ext = pdo->DeviceExtension;
    ext->kind = EXT_PDO;
    ext->slot = index;
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    slots[index].pdo = pdo;
    return STATUS_SUCCESS;
}

static NTSTATUS plug(const struct vp_plug* p) {
    struct slot* s;
    NTSTATUS status;
    if (p->slot >= VP_SLOTS) return STATUS_INVALID_PARAMETER;
    s = &slots[p->slot];
    lock();
    if (s->present || s->pdo) {
        unlock();
        return STATUS_DEVICE_BUSY; /* still plugged, or its removal not finished */
    }
    s->instance = p->instance;
    s->vid = p->vid;
    s->pid = p->pid;
    s->head = s->count = 0;
    unlock();
    status = create_child(p->slot);
    if (!NT_SUCCESS(status)) return status;
    lock();
    s->present = TRUE;
    unlock();
    IoInvalidateDeviceRelations(bus_pdo, BusRelations);
    return STATUS_SUCCESS;
}

static NTSTATUS unplug(ULONG index) {
    struct slot* s;
    IRP* read;
    struct held_output held[VP_HELD_OUTPUTS];
    ULONG n;
    if (index >= VP_SLOTS) return STATUS_INVALID_PARAMETER;
    s = &slots[index];
    lock();
    if (!s->present) {
        unlock();
        return STATUS_NO_SUCH_DEVICE;
    }
    s->present = FALSE;
    s->head = s->count = 0;
    read = take_pending_read(s);
    n = take_held_outputs(s, held, FALSE);
    unlock();
    /* The class driver's reading thread must not wait on a device that is
     * gone: its read fails now, and so does every read until the removal.
     * A held write fails as a transfer to a device that went away. */
    if (read) complete(read, STATUS_DEVICE_NOT_CONNECTED, 0);
    end_held_outputs(held, n, STATUS_DEVICE_NOT_CONNECTED);
    IoInvalidateDeviceRelations(bus_pdo, BusRelations);
    return STATUS_SUCCESS;
}

static NTSTATUS feed(const UCHAR* in, ULONG in_len) {
    const struct vp_feed* f = (const struct vp_feed*)in;
    const UCHAR* reports = in + sizeof(*f);
    struct slot* s;
    IRP* read = NULL;
    UCHAR first[VP_INPUT_LEN];
    ULONG i;
    if (in_len < sizeof(*f) || f->slot >= VP_SLOTS ||
        in_len < sizeof(*f) + (ULONGLONG)f->count * VP_INPUT_LEN)
        return STATUS_INVALID_PARAMETER;
    s = &slots[f->slot];
    lock();
    for (i = 0; i < f->count; i++) {
        const UCHAR* r = reports + i * VP_INPUT_LEN;
        if (!s->present || !s->started) {
            s->dropped++;
        } else if (!read && s->pending_read) {
            read = take_pending_read(s);
            copy_bytes(first, r, VP_INPUT_LEN);
            s->fed++;
            s->delivered++;
        } else if (s->count == VP_QUEUE_LEN) {
            s->dropped++;
        } else {
            copy_bytes(s->queue[(s->head + s->count) % VP_QUEUE_LEN], r, VP_INPUT_LEN);
            s->count++;
            s->fed++;
        }
    }
    unlock();
    if (read) {
        copy_bytes(read->UserBuffer, first, VP_INPUT_LEN);
        complete(read, STATUS_SUCCESS, VP_INPUT_LEN);
    }
    return STATUS_SUCCESS;
}

static NTSTATUS control_ioctl(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_VP_FEED:
            return complete(irp, feed(buffer, in_len), 0);
        case IOCTL_VP_PLUG:
            if (in_len < sizeof(struct vp_plug)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
            return complete(irp, plug(buffer), 0);
        case IOCTL_VP_UNPLUG:
            if (in_len < sizeof(ULONG)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
            return complete(irp, unplug(*(ULONG*)buffer), 0);
        case IOCTL_VP_HOLD_OUTPUTS: {
            struct held_output held[VP_HELD_OUTPUTS];
            ULONG index, n = 0;
            if (in_len < 2 * sizeof(ULONG)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
            index = ((ULONG*)buffer)[0];
            if (index >= VP_SLOTS) return complete(irp, STATUS_INVALID_PARAMETER, 0);
            lock();
            slots[index].hold_outputs = ((ULONG*)buffer)[1] != 0;
            if (!slots[index].hold_outputs) n = take_held_outputs(&slots[index], held, TRUE);
            unlock();
            end_held_outputs(held, n, STATUS_SUCCESS);
            return complete(irp, STATUS_SUCCESS, 0);
        }
        case IOCTL_VP_SLOT_STATUS: {
            struct vp_slot_status st;
            struct slot* s;
            ULONG index, clear;
            if (in_len < sizeof(ULONG) || out_len < sizeof(st))
                return complete(irp, STATUS_INVALID_PARAMETER, 0);
            index = *(ULONG*)buffer;
            clear = in_len >= 2 * sizeof(ULONG) && ((ULONG*)buffer)[1];
            if (index >= VP_SLOTS) return complete(irp, STATUS_INVALID_PARAMETER, 0);
            s = &slots[index];
            lock();
            st.present = s->present;
            st.exists = s->pdo != NULL;
            st.started = s->started;
            st.instance = s->instance;
            st.vid = s->vid;
            st.pid = s->pid;
            st.fed = s->fed;
            st.dropped = s->dropped;
            st.delivered = s->delivered;
            st.queued = s->count;
            st.read_pending = s->pending_read != NULL;
            st.outputs = s->outputs;
            copy_bytes(st.last_output, s->last_output, VP_OUTPUT_LEN);
            st.hold = s->hold_outputs;
            st.outputs_held = s->held_count;
            if (clear) s->fed = s->dropped = s->delivered = s->outputs = 0;
            unlock();
            copy_bytes(buffer, &st, sizeof(st));
            return complete(irp, STATUS_SUCCESS, sizeof(st));
        }
        default:
            return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS fdo_pnp(struct ext* ext, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_QUERY_DEVICE_RELATIONS &&
        stack->Parameters.QueryDeviceRelations.Type == BusRelations) {
        DEVICE_RELATIONS* rel =
            ExAllocatePool(PagedPool, sizeof(DEVICE_RELATIONS) + VP_SLOTS * sizeof(DEVICE_OBJECT*));
        ULONG i;
        if (!rel) return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        rel->Count = 0;
        lock();
        for (i = 0; i < VP_SLOTS; i++) {
            if (slots[i].present && slots[i].pdo) {
                rel->Objects[rel->Count++] = slots[i].pdo;
                ObReferenceObject(slots[i].pdo);
            }
        }
        unlock();
        irp->IoStatus.Information = (ULONG_PTR)rel;
        irp->IoStatus.Status = STATUS_SUCCESS;
    } else if (stack->MinorFunction == IRP_MN_START_DEVICE) {
        irp->IoStatus.Status = STATUS_SUCCESS;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lower, irp);
}

static NTSTATUS WINAPI dispatch(DEVICE_OBJECT* device, IRP* irp) {
    struct ext* ext = device->DeviceExtension;
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    switch (ext->kind) {
        case EXT_CONTROL:
            if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) return control_ioctl(irp);
            return complete(irp, STATUS_SUCCESS, 0); /* create, cleanup, close */
        case EXT_FDO:
            if (stack->MajorFunction == IRP_MJ_PNP) return fdo_pnp(ext, irp);
            IoSkipCurrentIrpStackLocation(irp);
            return IoCallDriver(ext->lower, irp);
        case EXT_PDO:
            if (stack->MajorFunction == IRP_MJ_PNP) return pdo_pnp(&slots[ext->slot], irp);
            if (stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL)
                return pdo_internal_ioctl(&slots[ext->slot], irp);
            return complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static NTSTATUS WINAPI add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    UNICODE_STRING name, link;
    DEVICE_OBJECT *fdo, *control;
    struct ext* ext;
    struct vp_plug pendant = {0, 1, VP_PENDANT_VID, VP_PENDANT_PID};
    NTSTATUS status;
    if (bus_fdo) return STATUS_DEVICE_BUSY; /* one bus */
    status =
        IoCreateDevice(driver, sizeof(struct ext), NULL, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;
    ext = fdo->DeviceExtension;
    ext->kind = EXT_FDO;
    ext->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    bus_fdo = fdo;
    bus_pdo = pdo;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;

    RtlInitUnicodeString(&name, VP_BUS_DEVICE_NAME);
    RtlInitUnicodeString(&link, VP_BUS_LINK_NAME);
    status =
        IoCreateDevice(driver, sizeof(struct ext), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control);
    if (NT_SUCCESS(status)) {
        ((struct ext*)control->DeviceExtension)->kind = EXT_CONTROL;
        IoCreateSymbolicLink(&link, &name);
        control->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    return plug(&pendant);
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* path) {
    int i;
    (void)path;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++) driver->MajorFunction[i] = dispatch;
    driver->DriverExtension->AddDevice = add_device;
    return STATUS_SUCCESS;
}
