/* Control program of the virtual pendant. Each command line acts on the
 * bus driver's control device; several can follow one another on the
 * command line, separated by ";", or come one a line from standard input
 * ("vpctl -"), so that a test's timed actions run in one process:
 *
 *   status [SLOT]                 a line a slot: present, started, counts, last output,
 *                                 whether writes are held and how many are
 *   feed SLOT HEX14...            the reports at once (one request: a burst)
 *   rate SLOT MICROSECONDS HEX14...  one report every MICROSECONDS
 *   spin SLOT MICROSECONDS COUNT STEP HEX14  COUNT reports from HEX14 on, the wheel
 *                                 counter (its first byte) moving by STEP in each; one every
 *                                 MICROSECONDS, or all in one request (a burst) with 0;
 *                                 a timed spin ends, done, once the slot is unplugged
 *   hold-outputs SLOT 1|0         output reports written to the slot stay outstanding
 *                                 (a device that never completes an OUT transfer), or
 *                                 those held complete, in order, and the hold ends
 *   unplug SLOT
 *   plug SLOT INSTANCE [VID PID]  (hex VID/PID; the pendant's by default)
 *   wait SLOT started|gone|read|held MS  until the HID stack runs on it, its
 *                                 device object is gone, a read is pending, or a
 *                                 write is held
 *   wait-outputs SLOT N MS        until N output reports were written to it
 *   handles                       handles open on the virtual HID devices present (by
 *                                 any process: Wine's desktop opens each arrival too)
 *   files                         each open file: device, access
 *   hid-list                      the HID interfaces present, in the system's order
 *   wait-hid TEXT MS              until one of their paths contains TEXT
 *   wait-handles N MS             until that count is N
 *   reset                         slot 0 the pendant at instance 1, every other slot empty,
 *                                 no hold, the counts zero
 *   sleep MS
 *   echo TEXT                     prints TEXT with the time, for the trace
 * Exit 0 when every command succeeded. */
#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "vpendant_ioctl.h"

static HANDLE bus = INVALID_HANDLE_VALUE;
static LARGE_INTEGER frequency, started_at;

static double now_ms(void) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)(t.QuadPart - started_at.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

static HANDLE open_device(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, 0, NULL);
}

static int control(DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len) {
    DWORD got = 0;
    if (bus == INVALID_HANDLE_VALUE &&
        (bus = open_device(VP_BUS_USER_NAME)) == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "vpctl: no virtual pendant bus (error %lu)\n", GetLastError());
        return 0;
    }
    return DeviceIoControl(bus, code, (void*)in, in_len, out, out_len, &got, NULL) != 0;
}

static int slot_status(unsigned long slot, struct vp_slot_status* st) {
    return control(IOCTL_VP_SLOT_STATUS, &slot, sizeof(slot), st, sizeof(*st));
}

/* The handles open on the HID devices present; read-write ones apart (a
 * program like the plug-in opens none). */
static int open_handles(long* count, long* read_write) {
    HANDLE h = open_device(VP_HID_USER_NAME);
    struct vp_open_handles n;
    DWORD got = 0;
    int ok;
    if (h == INVALID_HANDLE_VALUE) return 0;
    ok = DeviceIoControl(h, IOCTL_VP_OPEN_HANDLES, NULL, 0, &n, sizeof(n), &got, NULL) != 0;
    CloseHandle(h);
    *count = n.no_access + n.read + n.write;
    *read_write = n.read_write;
    return ok;
}

/* Lists the HID interfaces present in the system's order (printing them),
 * or tells whether one's path contains `part`. */
static int hid_list(const char* part, int print) {
    static const GUID hid = {
        0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    HDEVINFO set = SetupDiGetClassDevsA(&hid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA item;
    DWORD i;
    int found = 0;
    if (set == INVALID_HANDLE_VALUE) return 0;
    item.cbSize = sizeof(item);
    for (i = 0; SetupDiEnumDeviceInterfaces(set, NULL, &hid, i, &item); i++) {
        char buffer[1024];
        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_A*)buffer;
        detail->cbSize = sizeof(*detail);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &item, detail, sizeof(buffer), NULL, NULL))
            continue;
        if (print) printf("hid %lu %s\n", i, detail->DevicePath);
        if (part && strstr(detail->DevicePath, part)) found = 1;
    }
    SetupDiDestroyDeviceInfoList(set);
    return part ? found : 1;
}

static int parse_report(const char* hex, unsigned char* report) {
    int i;
    if (strlen(hex) != 2 * VP_INPUT_LEN) return 0;
    for (i = 0; i < VP_INPUT_LEN; i++) {
        char byte[3] = {hex[2 * i], hex[2 * i + 1], 0};
        char* end;
        report[i] = (unsigned char)strtoul(byte, &end, 16);
        if (*end) return 0;
    }
    return 1;
}

static int feed(unsigned long slot, int count, char** hex) {
    size_t size = sizeof(struct vp_feed) + (size_t)count * VP_INPUT_LEN;
    struct vp_feed* f = calloc(1, size);
    unsigned char* reports = (unsigned char*)(f + 1);
    int i, ok;
    f->slot = slot;
    f->count = (unsigned long)count;
    for (i = 0; i < count; i++)
        if (!parse_report(hex[i], reports + i * VP_INPUT_LEN)) {
            fprintf(stderr, "vpctl: not a 7-byte report in hex: %s\n", hex[i]);
            free(f);
            return 0;
        }
    ok = control(IOCTL_VP_FEED, f, (DWORD)size, NULL, 0);
    free(f);
    return ok;
}

/* Sleeps while more than 5 ms are left, then yields: a rate of one report a
 * millisecond keeps its pace instead of falling behind and catching up. */
static void wait_until(double t) {
    while (now_ms() < t) Sleep(t - now_ms() > 5.0 ? 1 : 0);
}

static int print_status(unsigned long slot) {
    struct vp_slot_status st;
    if (!slot_status(slot, &st)) return 0;
    printf(
        "slot %lu present %lu exists %lu started %lu instance %lu vid %04X pid %04X fed %lu "
        "dropped %lu delivered %lu queued %lu read_pending %lu outputs %lu last %02X%02X%02X%02X "
        "hold %lu held %lu\n",
        slot, st.present, st.exists, st.started, st.instance, st.vid, st.pid, st.fed, st.dropped,
        st.delivered, st.queued, st.read_pending, st.outputs, st.last_output[0], st.last_output[1],
        st.last_output[2], st.last_output[3], st.hold, st.outputs_held);
    return 1;
}

/* One command: argv[0] is its name. */
static int run(int argc, char** argv) {
    const char* cmd = argv[0];
    if (!strcmp(cmd, "status")) {
        unsigned long s;
        if (argc > 1) return print_status(strtoul(argv[1], NULL, 0));
        for (s = 0; s < VP_SLOTS; s++)
            if (!print_status(s)) return 0;
        return 1;
    }
    if (!strcmp(cmd, "feed") && argc >= 3)
        return feed(strtoul(argv[1], NULL, 0), argc - 2, argv + 2);
    if (!strcmp(cmd, "rate") && argc >= 4) {
        unsigned long slot = strtoul(argv[1], NULL, 0);
        double interval = atof(argv[2]) / 1000.0, t = now_ms();
        int i;
        for (i = 3; i < argc; i++, t += interval) {
            wait_until(t);
            if (!feed(slot, 1, argv + i)) return 0;
        }
        return 1;
    }
    if (!strcmp(cmd, "spin") && argc == 6) {
        unsigned long slot = strtoul(argv[1], NULL, 0);
        double interval = atof(argv[2]) / 1000.0, t = now_ms();
        int count = atoi(argv[3]), step = atoi(argv[4]), i, ok = 1;
        char** hex = calloc((size_t)count + 1, sizeof(char*));
        unsigned char base[VP_INPUT_LEN];
        if (!parse_report(argv[5], base) || count <= 0) return 0;
        for (i = 0; i < count; i++) {
            int b;
            hex[i] = malloc(2 * VP_INPUT_LEN + 1);
            base[0] = (unsigned char)(base[0] + step);
            for (b = 0; b < VP_INPUT_LEN; b++) sprintf(hex[i] + 2 * b, "%02X", base[b]);
        }
        if (interval <= 0) {
            ok = feed(slot, count, hex);
        } else {
            struct vp_slot_status st;
            for (i = 0; i < count && ok; i++, t += interval) {
                wait_until(t);
                /* A wheel on a pendant that is gone stops turning: run in the
                 * background, the spin must not go on into a later plug. */
                if (!slot_status(slot, &st))
                    ok = 0;
                else if (!st.present)
                    break;
                else
                    ok = feed(slot, 1, hex + i);
            }
        }
        for (i = 0; i < count; i++) free(hex[i]);
        free(hex);
        return ok;
    }
    if (!strcmp(cmd, "wait-outputs") && argc == 4) {
        unsigned long slot = strtoul(argv[1], NULL, 0), want = strtoul(argv[2], NULL, 0);
        double give_up = now_ms() + atof(argv[3]);
        struct vp_slot_status st;
        while (slot_status(slot, &st) && st.outputs < want && now_ms() < give_up) Sleep(2);
        print_status(slot);
        return st.outputs >= want;
    }
    if (!strcmp(cmd, "hold-outputs") && argc == 3) {
        unsigned long hold[2] = {strtoul(argv[1], NULL, 0), strtoul(argv[2], NULL, 0)};
        return control(IOCTL_VP_HOLD_OUTPUTS, hold, sizeof(hold), NULL, 0);
    }
    if (!strcmp(cmd, "unplug") && argc == 2) {
        unsigned long slot = strtoul(argv[1], NULL, 0);
        return control(IOCTL_VP_UNPLUG, &slot, sizeof(slot), NULL, 0);
    }
    if (!strcmp(cmd, "plug") && (argc == 3 || argc == 5)) {
        struct vp_plug p = {strtoul(argv[1], NULL, 0), strtoul(argv[2], NULL, 0), 0x04D8, 0xFCE1};
        double give_up = now_ms() + 5000;
        if (argc == 5) {
            p.vid = (unsigned short)strtoul(argv[3], NULL, 16);
            p.pid = (unsigned short)strtoul(argv[4], NULL, 16);
        }
        /* Busy while the removal of the slot's last device is not finished. */
        while (!control(IOCTL_VP_PLUG, &p, sizeof(p), NULL, 0)) {
            if (GetLastError() != ERROR_BUSY || now_ms() > give_up) return 0;
            Sleep(5);
        }
        return 1;
    }
    if (!strcmp(cmd, "wait") && argc == 4) {
        unsigned long slot = strtoul(argv[1], NULL, 0);
        double give_up = now_ms() + atof(argv[3]);
        struct vp_slot_status st;
        for (;;) {
            if (!slot_status(slot, &st)) return 0;
            if (!strcmp(argv[2], "started") ? st.started
                : !strcmp(argv[2], "gone")  ? !st.exists
                : !strcmp(argv[2], "read")  ? st.read_pending
                : !strcmp(argv[2], "held")  ? st.outputs_held
                                            : 0)
                return 1;
            if (now_ms() > give_up) {
                fprintf(stderr, "vpctl: slot %lu not %s after %s ms\n", slot, argv[2], argv[3]);
                print_status(slot);
                return 0;
            }
            Sleep(2);
        }
    }
    if (!strcmp(cmd, "handles") && argc == 1) {
        long n, rw;
        if (!open_handles(&n, &rw)) return 0;
        printf("handles %ld read-write %ld\n", n, rw);
        return 1;
    }
    if (!strcmp(cmd, "hid-list") && argc == 1) return hid_list(NULL, 1);
    if (!strcmp(cmd, "wait-hid") && argc == 3) {
        double give_up = now_ms() + atof(argv[2]);
        while (!hid_list(argv[1], 0)) {
            if (now_ms() > give_up) {
                fprintf(stderr, "vpctl: no HID interface with %s after %s ms\n", argv[1], argv[2]);
                return 0;
            }
            Sleep(5);
        }
        return 1;
    }
    if (!strcmp(cmd, "files") && argc == 1) {
        struct vp_file_entry list[VP_LIST_FILES];
        HANDLE h = open_device(VP_HID_USER_NAME);
        DWORD got = 0, i;
        if (h == INVALID_HANDLE_VALUE) return 0;
        if (!DeviceIoControl(h, IOCTL_VP_LIST_FILES, NULL, 0, list, sizeof(list), &got, NULL))
            got = 0;
        CloseHandle(h);
        for (i = 0; i < got / sizeof(list[0]); i++)
            printf("file %llx on device %llx access %08lX\n", list[i].file, list[i].device,
                   list[i].access);
        return 1;
    }
    if (!strcmp(cmd, "wait-handles") && argc == 3) {
        long want = strtol(argv[1], NULL, 0), n = -1, rw = 0;
        double give_up = now_ms() + atof(argv[2]);
        while (open_handles(&n, &rw) && n != want && now_ms() < give_up) Sleep(5);
        printf("handles %ld read-write %ld\n", n, rw);
        return n == want;
    }
    if (!strcmp(cmd, "reset") && argc == 1) {
        struct vp_slot_status st;
        unsigned long s;
        double give_up = now_ms() + 10000;
        for (s = 0; s < VP_SLOTS; s++) {
            unsigned long release[2] = {s, 0};
            if (!control(IOCTL_VP_HOLD_OUTPUTS, release, sizeof(release), NULL, 0)) return 0;
        }
        for (s = 0; s < VP_SLOTS; s++) {
            if (!slot_status(s, &st)) return 0;
            if (st.present && (s > 0 || st.instance != 1) &&
                !control(IOCTL_VP_UNPLUG, &s, sizeof(s), NULL, 0))
                return 0;
        }
        for (s = 0; s < VP_SLOTS; s++) {
            while (slot_status(s, &st) && !st.present && st.exists && now_ms() < give_up) Sleep(5);
        }
        for (s = 0; s < VP_SLOTS; s++) {
            unsigned long clear[2] = {s, 1};
            if (!control(IOCTL_VP_SLOT_STATUS, clear, sizeof(clear), &st, sizeof(st))) return 0;
        }
        if (!slot_status(0, &st)) return 0;
        if (!st.present) {
            struct vp_plug p = {0, 1, 0x04D8, 0xFCE1};
            if (!control(IOCTL_VP_PLUG, &p, sizeof(p), NULL, 0)) return 0;
        }
        while (slot_status(0, &st) && !st.started && now_ms() < give_up) Sleep(5);
        return st.started;
    }
    if (!strcmp(cmd, "sleep") && argc == 2) {
        wait_until(now_ms() + atof(argv[1]));
        return 1;
    }
    if (!strcmp(cmd, "echo")) {
        int i;
        printf("%.1f", now_ms());
        for (i = 1; i < argc; i++) printf(" %s", argv[i]);
        printf("\n");
        return 1;
    }
    fprintf(stderr, "vpctl: unknown command or arguments: %s\n", cmd);
    return 0;
}

static int run_words(int argc, char** argv) {
    int ok = run(argc, argv);
    fflush(stdout);
    if (!ok) fprintf(stderr, "vpctl: %s failed (error %lu)\n", argv[0], GetLastError());
    return ok;
}

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started_at);
    if (argc == 2 && !strcmp(argv[1], "-")) {
        static char line[1 << 16];
        while (fgets(line, sizeof(line), stdin)) {
            char *words[2048], *w;
            int n = 0;
            for (w = strtok(line, " \t\r\n"); w && n < 2048; w = strtok(NULL, " \t\r\n"))
                words[n++] = w;
            if (n && words[0][0] != '#' && !run_words(n, words)) return 1;
        }
        return 0;
    }
    while (argc > 1) {
        int n = 1;
        while (n < argc && strcmp(argv[n], ";")) n++;
        if (n > 1 && !run_words(n - 1, argv + 1)) return 1;
        argv += n;
        argc -= n;
    }
    return 0;
}
