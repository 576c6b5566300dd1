#include "policy.h"

const char ExemptProductCodes[EXEMPT_PRODUCT_CODE_COUNT][9] = {
    "KevAmbA",  "KevAmbAA", "KevAmbB",  "KevAmbBB", "KevCelA",
    "KevCelAA", "KevCelB",  "KevCelBB", "KevDunBB",
};

// Compares the code and its terminating zero byte, exactly and case-sensitively.
static bool CodeFieldEquals(const uint8_t* field, const char* code) {
    for (uint32_t i = 0;; ++i) {
        if (field[i] != static_cast<uint8_t>(code[i])) {
            return false;
        }
        if (code[i] == '\0') {
            return true;
        }
    }
}

bool MatchExemptCode(const uint8_t* data, uint32_t count) {
    if (count < MARKER_MIN_BYTES) {
        return false;
    }
    const uint8_t* field = data + MARKER_CODE_OFFSET;
    for (const char* code : ExemptProductCodes) {
        if (CodeFieldEquals(field, code)) {
            return true;
        }
    }
    return false;
}

uint8_t ClassifyMarker(int32_t queryStatus, const uint8_t* data, uint32_t dataLength) {
    // A length beyond the buffer is refused too, so nothing past it is ever read.
    if (queryStatus < 0 || dataLength > MARKER_MAX_BYTES) {
        return 1;
    }
    return MatchExemptCode(data, dataLength) ? 0 : 1;
}

static RequestDecision Unchanged(const DriveState& drive, uint32_t globalMode) {
    RequestDecision d = {};
    d.ProtectOn = drive.ProtectOn;
    d.GlobalMode = globalMode;
    return d;
}

static void Fail(RequestDecision& d, int32_t status) {
    d.CompleteHere = true;
    d.Status = status;
}

static void Reply(RequestDecision& d, uint32_t word) {
    d.CompleteHere = true;
    d.Status = STATUS_SUCCESS;
    d.WritesReply = true;
    d.Reply = word;
    d.SetsInformation = true;
    d.Information = WP_WORD_BYTES;
}

static void DecideControlCode(const DiskRequest& request, const DriveState& drive,
                              RequestDecision& d) {
    const uint32_t code = request.IoControlCode;
    if (ControlCodeChangesState(code) && !request.SenderMayChangeState) {
        Fail(d, STATUS_ACCESS_DENIED);
        return;
    }
    // A kernel-built request may come without a buffer whatever its lengths say.
    if (code == IOCTL_WP_SET_MODE) {
        const uint32_t word = request.InputWord;
        if (!ReadsInputWord(request) || (word != WP_MODE_ON && word != WP_MODE_OFF)) {
            Fail(d, STATUS_INVALID_PARAMETER);
            return;
        }
        d.CompleteHere = true;
        d.Status = STATUS_SUCCESS;
        d.GlobalMode = word;
        return;
    }
    if (request.OutputLength != WP_WORD_BYTES || request.NoBuffer) {
        Fail(d, STATUS_INVALID_PARAMETER);
        return;
    }
    if (code == IOCTL_WP_GET_MODE) {
        Reply(d, d.GlobalMode);
        return;
    }
    // The probe and both per-drive codes always answer WP_MODE_ON; an exempt disk's
    // switch never moves.
    if (drive.SubjectToPolicy != 0) {
        if (code == IOCTL_WP_DRIVE_UNPROTECT) {
            d.ProtectOn = 0;
        } else if (code == IOCTL_WP_DRIVE_PROTECT) {
            d.ProtectOn = 1;
        }
    }
    Reply(d, WP_MODE_ON);
}

static bool IsControlCode(uint32_t code) {
    return code == IOCTL_WP_PROBE || code == IOCTL_WP_GET_MODE || ControlCodeChangesState(code);
}

RequestDecision DecideRequest(const DiskRequest& request, const DriveState& drive,
                              uint32_t globalMode) {
    RequestDecision d = Unchanged(drive, globalMode);
    switch (request.MajorFunction) {
    case IRP_MJ_WRITE:
        // Offset, length and flags play no part: paging and empty writes are refused too.
        if (IsWriteBlocked(drive, globalMode)) {
            Fail(d, STATUS_ACCESS_DENIED);
        }
        break;
    case IRP_MJ_DEVICE_CONTROL:
        if (request.IoControlCode == IOCTL_DISK_IS_WRITABLE) {
            if (IsWriteBlocked(drive, globalMode)) {
                Fail(d, STATUS_MEDIA_WRITE_PROTECTED);
            }
        } else if (IsControlCode(request.IoControlCode)) {
            DecideControlCode(request, drive, d);
        }
        break;
    default:
        break;
    }
    return d;
}

static PnpDecision TransitionTo(PnpAction action, int32_t from, int32_t to) {
    return PnpDecision{action, to, from, false, 0};
}

static PnpDecision Succeed(PnpDecision d) {
    d.SetsStatus = true;
    d.Status = STATUS_SUCCESS;
    return d;
}

PnpDecision DecidePnp(uint8_t minorFunction, int32_t pnpState, int32_t priorPnpState) {
    const PnpDecision keep = {PNP_PASS_DOWN, pnpState, priorPnpState, false, 0};
    const PnpDecision restore = {PNP_PASS_DOWN, priorPnpState, priorPnpState, false, 0};
    switch (minorFunction) {
    case IRP_MN_START_DEVICE:
        return TransitionTo(PNP_START, pnpState, PnpStarted);
    case IRP_MN_QUERY_REMOVE_DEVICE:
        return Succeed(TransitionTo(PNP_PASS_DOWN, pnpState, PnpRemovePending));
    case IRP_MN_REMOVE_DEVICE:
        return TransitionTo(PNP_REMOVE, pnpState, PnpDeleted);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        return Succeed(pnpState == PnpRemovePending ? restore : keep);
    case IRP_MN_STOP_DEVICE:
        return Succeed(TransitionTo(PNP_PASS_DOWN, pnpState, PnpStopped));
    case IRP_MN_QUERY_STOP_DEVICE:
        return Succeed(TransitionTo(PNP_PASS_DOWN, pnpState, PnpStopPending));
    case IRP_MN_CANCEL_STOP_DEVICE:
        return Succeed(pnpState == PnpStopPending ? restore : keep);
    case IRP_MN_DEVICE_USAGE_NOTIFICATION: {
        PnpDecision d = keep;
        d.Action = PNP_USAGE_NOTIFICATION;
        return d;
    }
    case IRP_MN_SURPRISE_REMOVAL:
        return Succeed(TransitionTo(PNP_PASS_DOWN, pnpState, PnpSurpriseRemoved));
    default:
        return keep;
    }
}
