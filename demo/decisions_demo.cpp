// Shows the driver's decisions on a few sample disks: what becomes of a write and
// of the write-ability query, and what the control interface lets whom change.
#include "policy.h"

#include <cstdio>
#include <cstring>

namespace {

struct SampleDisk {
    const char* name;
    uint32_t bus;
    bool querySucceeded;
    const char* markerCode; // written at offset 44 with its zero byte, or none
};

const SampleDisk kDisks[] = {
    {"USB flash drive, no marker", STORAGE_BUS_TYPE_USB, true, nullptr},
    {"USB disk with fixed media, no marker", STORAGE_BUS_TYPE_USB, true, nullptr},
    {"USB drive, marker \"KevCelB\"", STORAGE_BUS_TYPE_USB, true, "KevCelB"},
    {"USB drive, marker \"kevcelb\"", STORAGE_BUS_TYPE_USB, true, "kevcelb"},
    {"SATA disk, no marker", 11, true, nullptr},
    {"USB disk whose storage query failed", STORAGE_BUS_TYPE_USB, false, nullptr},
};

const char* StatusText(const RequestDecision& d) {
    if (!d.CompleteHere) {
        return "passed down";
    }
    switch (d.Status) {
    case STATUS_SUCCESS:
        return "STATUS_SUCCESS";
    case STATUS_ACCESS_DENIED:
        return "STATUS_ACCESS_DENIED";
    case STATUS_MEDIA_WRITE_PROTECTED:
        return "STATUS_MEDIA_WRITE_PROTECTED";
    case STATUS_INVALID_PARAMETER:
        return "STATUS_INVALID_PARAMETER";
    default:
        return "other status";
    }
}

DriveState Classify(const SampleDisk& disk) {
    uint8_t marker[MARKER_MIN_BYTES] = {};
    uint32_t markerLength = 0;
    if (disk.markerCode != nullptr) {
        std::memcpy(marker + MARKER_CODE_OFFSET, disk.markerCode, std::strlen(disk.markerCode) + 1);
        markerLength = sizeof marker;
    }
    const int32_t kStatusObjectNameNotFound = static_cast<int32_t>(0xC0000034u);
    DriveState drive = {};
    drive.SubjectToPolicy = ClassifyMarker(
        markerLength != 0 ? STATUS_SUCCESS : kStatusObjectNameNotFound, marker, markerLength);
    drive.ProtectOn = 1;
    drive.StorageHeader.BusType = disk.querySucceeded ? disk.bus : 0;
    return drive;
}

DiskRequest Write() {
    DiskRequest r = {};
    r.MajorFunction = IRP_MJ_WRITE;
    return r;
}

DiskRequest Control(uint32_t code, uint32_t in, uint32_t out, uint32_t word, bool mayChange) {
    DiskRequest r = {};
    r.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    r.IoControlCode = code;
    r.InputLength = in;
    r.OutputLength = out;
    r.InputWord = word;
    r.SenderMayChangeState = mayChange;
    return r;
}

void PrintDisks(const DriveState* drives, uint32_t mode) {
    std::printf("  %-38s %-8s %-22s %s\n", "disk", "policy", "write", "IOCTL_DISK_IS_WRITABLE");
    for (size_t i = 0; i < sizeof kDisks / sizeof kDisks[0]; ++i) {
        const RequestDecision write = DecideRequest(Write(), drives[i], mode);
        const RequestDecision query =
            DecideRequest(Control(IOCTL_DISK_IS_WRITABLE, 0, 0, 0, false), drives[i], mode);
        std::printf("  %-38s %-8s %-22s %s\n", kDisks[i].name,
                    drives[i].SubjectToPolicy ? "subject" : "exempt", StatusText(write),
                    StatusText(query));
    }
}

void Send(const char* what, const DiskRequest& request, DriveState& drive, uint32_t& mode) {
    const RequestDecision d = DecideRequest(request, drive, mode);
    drive.ProtectOn = d.ProtectOn;
    mode = d.GlobalMode;
    std::printf("\n%s -> %s", what, StatusText(d));
    if (d.WritesReply) {
        std::printf(", reply 0x%08X", d.Reply);
    }
    std::printf("\n");
}

} // namespace

int main() {
    const size_t count = sizeof kDisks / sizeof kDisks[0];
    DriveState drives[count];
    for (size_t i = 0; i < count; ++i) {
        drives[i] = Classify(kDisks[i]);
    }
    uint32_t mode = WP_MODE_ON;

    std::printf("After a restart, with the driver-wide mode WP_MODE_ON:\n");
    PrintDisks(drives, mode);

    Send("A user's handle without write access sends IOCTL_WP_SET_MODE(WP_MODE_OFF)",
         Control(IOCTL_WP_SET_MODE, 4, 0, WP_MODE_OFF, false), drives[0], mode);
    Send("An administrator's write handle sends IOCTL_WP_DRIVE_UNPROTECT to the flash drive",
         Control(IOCTL_WP_DRIVE_UNPROTECT, 0, 4, 0, true), drives[0], mode);
    PrintDisks(drives, mode);

    Send("An administrator's write handle sends IOCTL_WP_SET_MODE(WP_MODE_OFF)",
         Control(IOCTL_WP_SET_MODE, 4, 0, WP_MODE_OFF, true), drives[4], mode);
    Send("Anyone sends IOCTL_WP_GET_MODE", Control(IOCTL_WP_GET_MODE, 0, 4, 0, false), drives[1],
         mode);
    PrintDisks(drives, mode);
    return 0;
}
