/* The HID minidriver interface as the class driver (hidclass.sys) defines
 * it, declared here: mingw-w64 has no hidport.h, and the minidriver request
 * codes in its hidclass.h are placeholders. Also the virtual pendant's
 * descriptors. */
#ifndef VPENDANT_HID_H
#define VPENDANT_HID_H

#define VP_HID_CTL(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define VP_IOCTL_HID_GET_DEVICE_DESCRIPTOR VP_HID_CTL(0)
#define VP_IOCTL_HID_GET_REPORT_DESCRIPTOR VP_HID_CTL(1)
#define VP_IOCTL_HID_READ_REPORT VP_HID_CTL(2)
#define VP_IOCTL_HID_WRITE_REPORT VP_HID_CTL(3)
#define VP_IOCTL_HID_GET_STRING VP_HID_CTL(4)
#define VP_IOCTL_HID_ACTIVATE_DEVICE VP_HID_CTL(7)
#define VP_IOCTL_HID_DEACTIVATE_DEVICE VP_HID_CTL(8)
#define VP_IOCTL_HID_GET_DEVICE_ATTRIBUTES VP_HID_CTL(9)
#define VP_IOCTL_HID_SET_OUTPUT_REPORT \
    CTL_CODE(FILE_DEVICE_KEYBOARD, 101, METHOD_IN_DIRECT, FILE_ANY_ACCESS)

/* The class driver asks for strings by these numbers (Windows by 14-16). */
#define VP_HID_STRING_MANUFACTURER 1
#define VP_HID_STRING_PRODUCT 2
#define VP_HID_STRING_SERIAL 3

typedef struct {
    UCHAR* reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} VP_HID_XFER_PACKET;

#define VP_PENDANT_VID 0x04D8
#define VP_PENDANT_PID 0xFCE1

typedef struct {
    ULONG Revision;
    DRIVER_OBJECT* DriverObject;
    UNICODE_STRING* RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} VP_HID_MINIDRIVER_REGISTRATION;

typedef struct {
    DEVICE_OBJECT* PhysicalDeviceObject;
    DEVICE_OBJECT* NextDeviceObject;
    void* MiniDeviceExtension;
} VP_HID_DEVICE_EXTENSION;

NTSTATUS NTAPI HidRegisterMinidriver(VP_HID_MINIDRIVER_REGISTRATION* registration);

#pragma pack(push, 1)
struct vp_hid_descriptor {
    UCHAR bLength, bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry, bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
};
#pragma pack(pop)

struct vp_hid_attributes {
    ULONG Size;
    USHORT VendorID, ProductID, VersionNumber;
    USHORT Reserved[11];
};

/* Unnumbered: a 7-byte input and a 4-byte output report in a vendor
 * collection. */
static const UCHAR vp_report_descriptor[] = {
    0x06, 0x00, 0xFF, /* usage page (vendor 0xFF00) */
    0x09, 0x01,       /* usage 1 */
    0xA1, 0x01,       /* collection (application) */
    0x15, 0x00,       /*   logical minimum 0 */
    0x26, 0xFF, 0x00, /*   logical maximum 255 */
    0x75, 0x08,       /*   report size 8 */
    0x09, 0x02,       /*   usage 2 */
    0x95, 0x07,       /*   report count 7 */
    0x81, 0x02,       /*   input (data, variable, absolute) */
    0x09, 0x03,       /*   usage 3 */
    0x95, 0x04,       /*   report count 4 */
    0x91, 0x02,       /*   output (data, variable, absolute) */
    0xC0,             /* end collection */
};

static inline struct vp_hid_descriptor vp_hid_descriptor_of_reports(void) {
    struct vp_hid_descriptor d = {9, 0x21, 0x0111, 0, 1, 0x22, sizeof(vp_report_descriptor)};
    return d;
}

#endif
