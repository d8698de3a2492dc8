/* The control interface of the virtual pendant bus driver (vpbus.sys) and
 * of its HID minidriver (vphid.sys), shared by the drivers and vpctl.exe. */
#ifndef VPENDANT_IOCTL_H
#define VPENDANT_IOCTL_H

#define VP_BUS_DEVICE_NAME L"\\Device\\HalvexVPendantBus"
#define VP_BUS_LINK_NAME L"\\DosDevices\\HalvexVPendantBus"
#define VP_BUS_USER_NAME "\\\\.\\HalvexVPendantBus"
#define VP_HID_DEVICE_NAME L"\\Device\\HalvexVPendantHid"
#define VP_HID_LINK_NAME L"\\DosDevices\\HalvexVPendantHid"
#define VP_HID_USER_NAME "\\\\.\\HalvexVPendantHid"

#define VP_IOCTL(n) CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800 + (n), METHOD_BUFFERED, FILE_ANY_ACCESS)
/* in: struct vp_feed followed by count reports of VP_INPUT_LEN bytes */
#define IOCTL_VP_FEED VP_IOCTL(0)
/* in: ULONG slot [, ULONG clear: zero the counts after]; out: struct vp_slot_status */
#define IOCTL_VP_SLOT_STATUS VP_IOCTL(1)
/* in: ULONG slot */
#define IOCTL_VP_UNPLUG VP_IOCTL(2)
/* in: struct vp_plug */
#define IOCTL_VP_PLUG VP_IOCTL(3)
/* vphid.sys control device; out: struct vp_open_handles */
#define IOCTL_VP_OPEN_HANDLES VP_IOCTL(4)

#define VP_SLOTS 8
#define VP_INPUT_LEN 7  /* the class driver adds the report number: 8 */
#define VP_OUTPUT_LEN 4 /* 5 with the report number */
#define VP_QUEUE_LEN 4096

struct vp_feed {
    unsigned long slot;
    unsigned long count;
};

/* Handles open on the HID devices present, by the access the create
 * request states (Wine states none: all count as no access). Wine's own
 * desktop process opens every HID device that arrives, with no access. */
struct vp_open_handles {
    long total, no_access, read, write, read_write;
};

/* vphid.sys control device; out: up to VP_LIST_FILES of these */
#define IOCTL_VP_LIST_FILES VP_IOCTL(5)
#define VP_LIST_FILES 64
struct vp_file_entry {
    unsigned long long device, file;
    unsigned long access; /* as the create request says (Wine: 0) */
};

/* in: ULONG slot, ULONG hold. While a slot holds its output reports, each
 * one written to it stays outstanding, as with a pendant or hub that never
 * completes an OUT transfer; turning the hold off completes them, in order,
 * as written, and an unplug fails them. */
#define IOCTL_VP_HOLD_OUTPUTS VP_IOCTL(6)
#define VP_HELD_OUTPUTS 16

struct vp_plug {
    unsigned long slot;
    unsigned long instance; /* the instance path's number: \\?\hid#vid_..&pid_..#<n>#{...} */
    unsigned short vid, pid;
};

struct vp_slot_status {
    unsigned long present; /* reported to the plug-and-play manager */
    unsigned long exists;  /* its device object not yet removed */
    unsigned long started; /* started by it (the HID stack is on it) */
    unsigned long instance;
    unsigned short vid, pid;
    unsigned long fed;       /* reports accepted into the queue */
    unsigned long dropped;   /* fed while unplugged, or the queue full */
    unsigned long delivered; /* handed to the class driver */
    unsigned long queued;
    unsigned long read_pending;
    unsigned long outputs; /* output reports written */
    unsigned char last_output[VP_OUTPUT_LEN];
    unsigned long hold;         /* output reports are held */
    unsigned long outputs_held; /* writes outstanding in the hold */
};

#endif
