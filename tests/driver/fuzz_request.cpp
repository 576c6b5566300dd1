// Any request against any disk state: the decision's invariants must hold.
#include "policy.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Input {
    uint8_t MajorFunction;
    uint8_t Flags; // bit 0: sender may change state; bit 1: pick a known control code;
                   // bits 2, 3: pick a mode; bit 4: no system buffer
    uint8_t SubjectToPolicy;
    uint8_t ProtectOn;
    uint32_t IoControlCode;
    uint32_t InputLength;
    uint32_t OutputLength;
    uint32_t InputWord;
    uint32_t BusType;
    uint32_t GlobalMode;
};

const uint32_t kKnownCodes[] = {IOCTL_WP_PROBE,         IOCTL_WP_DRIVE_UNPROTECT,
                                IOCTL_WP_DRIVE_PROTECT, IOCTL_WP_SET_MODE,
                                IOCTL_WP_GET_MODE,      IOCTL_DISK_IS_WRITABLE};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in = {};
    std::memcpy(&in, data, size < sizeof in ? size : sizeof in);
    if (in.Flags & 2) {
        in.IoControlCode =
            kKnownCodes[in.IoControlCode % (sizeof kKnownCodes / sizeof kKnownCodes[0])];
        in.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    }
    if (in.Flags & 4) {
        in.GlobalMode = (in.Flags & 8) ? WP_MODE_OFF : WP_MODE_ON;
    }

    DriveState drive = {};
    drive.StorageHeader.BusType = in.BusType;
    drive.SubjectToPolicy = in.SubjectToPolicy;
    drive.ProtectOn = in.ProtectOn;

    DiskRequest request = {};
    request.MajorFunction = in.MajorFunction;
    request.IoControlCode = in.IoControlCode;
    request.InputLength = in.InputLength;
    request.OutputLength = in.OutputLength;
    request.InputWord = in.InputWord;
    request.NoBuffer = (in.Flags & 16) != 0;
    request.SenderMayChangeState = (in.Flags & 1) != 0;

    const RequestDecision d = DecideRequest(request, drive, in.GlobalMode);
    const uint32_t code = request.IoControlCode;
    const bool control = request.MajorFunction == IRP_MJ_DEVICE_CONTROL;
    const bool stateChanged = d.ProtectOn != drive.ProtectOn || d.GlobalMode != in.GlobalMode;

    // Nothing is written where there is no buffer.
    Check(!d.WritesReply || !request.NoBuffer);
    // A request that fails its test changes, writes and reports nothing.
    if (d.CompleteHere && d.Status < 0) {
        Check(!stateChanged && !d.WritesReply && !d.SetsInformation);
    }
    // Nothing is refused as a write unless all four conditions hold.
    if (d.CompleteHere &&
        (request.MajorFunction == IRP_MJ_WRITE || (control && code == IOCTL_DISK_IS_WRITABLE))) {
        Check(drive.StorageHeader.BusType == STORAGE_BUS_TYPE_USB && drive.SubjectToPolicy == 1 &&
              drive.ProtectOn == 1 && in.GlobalMode != WP_MODE_OFF);
    }
    // Requests that are not ours are never completed here.
    const bool ours =
        request.MajorFunction == IRP_MJ_WRITE ||
        (control && (code == IOCTL_DISK_IS_WRITABLE || code == IOCTL_WP_PROBE ||
                     code == IOCTL_WP_DRIVE_UNPROTECT || code == IOCTL_WP_DRIVE_PROTECT ||
                     code == IOCTL_WP_SET_MODE || code == IOCTL_WP_GET_MODE));
    Check(ours || (!d.CompleteHere && !stateChanged));
    Check(d.CompleteHere || !stateChanged);
    // The probe and the per-drive codes always answer WP_MODE_ON.
    if (control && d.WritesReply &&
        (code == IOCTL_WP_PROBE || code == IOCTL_WP_DRIVE_UNPROTECT ||
         code == IOCTL_WP_DRIVE_PROTECT)) {
        Check(d.Reply == WP_MODE_ON && d.Information == WP_WORD_BYTES);
    }
    // Only a sender allowed to change state changes it; an exempt disk's switch never moves.
    if (stateChanged) {
        Check(request.SenderMayChangeState);
    }
    if (drive.SubjectToPolicy == 0) {
        Check(d.ProtectOn == drive.ProtectOn);
    }
    // The mode only ever becomes one of the two mode values.
    Check(d.GlobalMode == in.GlobalMode || d.GlobalMode == WP_MODE_ON ||
          d.GlobalMode == WP_MODE_OFF);
    return 0;
}
