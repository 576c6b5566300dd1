// The driver's decisions, grouped as the outcome tables group them: the exemption
// marker, the write decision, the control interface and its failures, the PnP states.
#include "policy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kBusSata = 11;
constexpr uint32_t kBusUnknown = 0;
constexpr uint8_t kIrpMjRead = 0x03;
constexpr uint8_t kIrpMjFlushBuffers = 0x09;
constexpr uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;

// Marker data of `size` bytes (filled with 'x') with `code` copied to offset 44.
std::vector<uint8_t> Marker(size_t size, const void* code, size_t codeBytes) {
    std::vector<uint8_t> data(size, 'x');
    if (code != nullptr && size >= MARKER_CODE_OFFSET + codeBytes) {
        std::memcpy(data.data() + MARKER_CODE_OFFSET, code, codeBytes);
    }
    return data;
}

// A code written with its terminating zero byte.
std::vector<uint8_t> Marker(size_t size, const char* code) {
    return Marker(size, code, std::strlen(code) + 1);
}

bool Exempt(const std::vector<uint8_t>& data) {
    return ClassifyMarker(STATUS_SUCCESS, data.data(), static_cast<uint32_t>(data.size())) == 0;
}

DriveState Disk(uint32_t bus, bool exempt = false, uint8_t protectOn = 1) {
    DriveState drive = {};
    drive.StorageHeader.BusType = bus;
    drive.SubjectToPolicy = exempt ? 0 : 1;
    drive.ProtectOn = protectOn;
    return drive;
}

DiskRequest Write() {
    DiskRequest r = {};
    r.MajorFunction = IRP_MJ_WRITE;
    return r;
}

DiskRequest Control(uint32_t code, uint32_t inputLength, uint32_t outputLength,
                    uint32_t inputWord = 0, bool mayChangeState = true) {
    DiskRequest r = {};
    r.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    r.IoControlCode = code;
    r.InputLength = inputLength;
    r.OutputLength = outputLength;
    r.InputWord = inputWord;
    r.SenderMayChangeState = mayChangeState;
    return r;
}

DiskRequest Reply4(uint32_t code, bool mayChangeState = true) {
    return Control(code, 0, WP_WORD_BYTES, 0, mayChangeState);
}

DiskRequest SetMode(uint32_t word, bool mayChangeState = true) {
    return Control(IOCTL_WP_SET_MODE, WP_WORD_BYTES, 0, word, mayChangeState);
}

// What the dispatch routines do with a decision: keep the new switch and mode.
RequestDecision Send(const DiskRequest& request, DriveState& drive, uint32_t& mode) {
    RequestDecision d = DecideRequest(request, drive, mode);
    drive.ProtectOn = d.ProtectOn;
    mode = d.GlobalMode;
    return d;
}

void ExpectUnchanged(const RequestDecision& d, const DriveState& drive, uint32_t mode) {
    EXPECT_FALSE(d.WritesReply);
    EXPECT_FALSE(d.SetsInformation);
    EXPECT_EQ(d.ProtectOn, drive.ProtectOn);
    EXPECT_EQ(d.GlobalMode, mode);
}

// ---------------------------------------------------------------------------
// Exemption marker
// ---------------------------------------------------------------------------

TEST(ExemptMarker, EveryListedCodeWithItsZeroByteExempts) {
    for (const char* code : ExemptProductCodes) {
        EXPECT_TRUE(Exempt(Marker(MARKER_MIN_BYTES, code))) << code;
    }
}

TEST(ExemptMarker, SixtyFourBytesWithCodeZeroAndTrailingBytesExempt) {
    std::vector<uint8_t> data = Marker(64, "KevCelB");
    data[52] = 'Q'; // the two bytes after the zero are not looked at
    data[53] = 'R';
    EXPECT_TRUE(Exempt(data));
}

TEST(ExemptMarker, ShorterThanSixtyFourBytesNeverExempts) {
    EXPECT_FALSE(Exempt(Marker(63, "KevCelB")));
    EXPECT_FALSE(MatchExemptCode(nullptr, 0));
}

TEST(ExemptMarker, ComparisonIsCaseSensitive) {
    EXPECT_FALSE(Exempt(Marker(64, "kevcelb")));
    EXPECT_FALSE(Exempt(Marker(64, "KEVCELB")));
}

TEST(ExemptMarker, CodeMustEndInAZeroByte) {
    EXPECT_FALSE(Exempt(Marker(64, "KevAmbA", 7)));  // byte 51 is filler
    EXPECT_FALSE(Exempt(Marker(64, "KevAmbAX")));    // 8 characters, not a row
    EXPECT_FALSE(Exempt(Marker(64, "KevAmbAA", 8))); // no zero at byte 52
    EXPECT_TRUE(Exempt(Marker(64, "KevAmbAA")));     // row 2, not row 1
    EXPECT_FALSE(Exempt(Marker(64, "KevDunB")));     // only the 8-character form is listed
    EXPECT_FALSE(Exempt(Marker(64, "KevCelBBB")));   // 9 characters
}

TEST(ExemptMarker, CodeAtAnotherOffsetDoesNotExempt) {
    std::vector<uint8_t> data(64, 0);
    std::memcpy(data.data() + 43, "KevCelB", 8);
    EXPECT_FALSE(Exempt(data));
    data.assign(64, 0);
    std::memcpy(data.data() + 45, "KevCelB", 8);
    EXPECT_FALSE(Exempt(data));
}

TEST(ExemptMarker, WideCharacterCodeNeverMatches) {
    const char16_t wide[] = u"KevCelB";
    EXPECT_FALSE(Exempt(Marker(64, wide, sizeof wide)));
}

TEST(ExemptMarker, DataUpToTheBufferIsReadAndLongerDataIsRefused) {
    EXPECT_TRUE(Exempt(Marker(MARKER_MAX_BYTES, "KevCelBB")));
    EXPECT_FALSE(Exempt(Marker(MARKER_MAX_BYTES + 1, "KevCelBB")));
    EXPECT_FALSE(Exempt(Marker(300, "KevCelBB")));
}

TEST(ExemptMarker, FailedQueryKeepsTheDiskUnderThePolicy) {
    const std::vector<uint8_t> data = Marker(64, "KevCelB");
    const int32_t kStatusBufferOverflow = static_cast<int32_t>(0x80000005u);
    const int32_t kStatusObjectNameNotFound = static_cast<int32_t>(0xC0000034u);
    EXPECT_EQ(ClassifyMarker(kStatusBufferOverflow, data.data(), 64), 1);
    EXPECT_EQ(ClassifyMarker(kStatusObjectNameNotFound, data.data(), 64), 1);
}

// ---------------------------------------------------------------------------
// Writes and the write-ability query: every row of the outcome table
// ---------------------------------------------------------------------------

struct OutcomeRow {
    const char* name;
    uint32_t bus;
    bool exempt;
    uint8_t protectOn;
    uint32_t mode;
    bool refused;
};

const OutcomeRow kOutcomes[] = {
    {"UnmarkedUsbDiskIsRefused", STORAGE_BUS_TYPE_USB, false, 1, WP_MODE_ON, true},
    {"UnprotectedUsbDiskPasses", STORAGE_BUS_TYPE_USB, false, 0, WP_MODE_ON, false},
    {"UnprotectedUsbDiskPassesWithModeOff", STORAGE_BUS_TYPE_USB, false, 0, WP_MODE_OFF, false},
    {"UsbDiskPassesWhenModeIsOff", STORAGE_BUS_TYPE_USB, false, 1, WP_MODE_OFF, false},
    {"ExemptUsbDiskPasses", STORAGE_BUS_TYPE_USB, true, 1, WP_MODE_ON, false},
    {"ExemptUsbDiskPassesWithModeOff", STORAGE_BUS_TYPE_USB, true, 1, WP_MODE_OFF, false},
    {"SataDiskPasses", kBusSata, false, 1, WP_MODE_ON, false},
    {"FailedQueryReadsAsUnknownBusAndPasses", kBusUnknown, false, 1, WP_MODE_ON, false},
    // Only WP_MODE_OFF lifts protection; any other word in the mode counts as on.
    {"UnknownModeWordStillProtects", STORAGE_BUS_TYPE_USB, false, 1, 0, true},
};

TEST(WriteOutcome, WriteAndWritabilityQueryFollowTheOutcomeTable) {
    for (const OutcomeRow& row : kOutcomes) {
        SCOPED_TRACE(row.name);
        const DriveState drive = Disk(row.bus, row.exempt, row.protectOn);
        EXPECT_EQ(IsWriteBlocked(drive, row.mode), row.refused);

        const RequestDecision write = DecideRequest(Write(), drive, row.mode);
        EXPECT_EQ(write.CompleteHere, row.refused);
        if (row.refused) {
            EXPECT_EQ(write.Status, STATUS_ACCESS_DENIED);
        }
        ExpectUnchanged(write, drive, row.mode);

        const RequestDecision query =
            DecideRequest(Control(IOCTL_DISK_IS_WRITABLE, 0, 0), drive, row.mode);
        EXPECT_EQ(query.CompleteHere, row.refused);
        if (row.refused) {
            EXPECT_EQ(query.Status, STATUS_MEDIA_WRITE_PROTECTED);
        }
        ExpectUnchanged(query, drive, row.mode);
    }
}

TEST(WriteOutcome, EveryOtherBusIsNeverTouched) {
    for (uint32_t bus = 0; bus < 32; ++bus) {
        if (bus != STORAGE_BUS_TYPE_USB) {
            EXPECT_FALSE(IsWriteBlocked(Disk(bus), WP_MODE_ON)) << bus;
        }
    }
}

TEST(WriteOutcome, ReadsAndOtherRequestsPassDownUnchangedOnAProtectedDisk) {
    const DriveState usb = Disk(STORAGE_BUS_TYPE_USB);
    for (uint8_t major : {kIrpMjRead, kIrpMjFlushBuffers}) {
        DiskRequest r = {};
        r.MajorFunction = major;
        EXPECT_FALSE(DecideRequest(r, usb, WP_MODE_ON).CompleteHere);
    }
    EXPECT_FALSE(
        DecideRequest(Control(kIoctlDiskGetDriveGeometry, 0, 24), usb, WP_MODE_ON).CompleteHere);
}

// ---------------------------------------------------------------------------
// Control interface: the table of codes
// ---------------------------------------------------------------------------

TEST(ControlInterface, ProbeAnswersModeOnWhateverTheMode) {
    for (uint32_t mode : {WP_MODE_ON, WP_MODE_OFF}) {
        const DriveState usb = Disk(STORAGE_BUS_TYPE_USB);
        const RequestDecision d = DecideRequest(Reply4(IOCTL_WP_PROBE), usb, mode);
        EXPECT_TRUE(d.CompleteHere);
        EXPECT_EQ(d.Status, STATUS_SUCCESS);
        EXPECT_TRUE(d.WritesReply);
        EXPECT_EQ(d.Reply, WP_MODE_ON);
        EXPECT_TRUE(d.SetsInformation);
        EXPECT_EQ(d.Information, 4u);
        EXPECT_EQ(d.GlobalMode, mode);
    }
}

TEST(ControlInterface, UnprotectLetsThatDiskWriteAndLeavesOthersProtected) {
    uint32_t mode = WP_MODE_ON;
    DriveState first = Disk(STORAGE_BUS_TYPE_USB);
    DriveState second = Disk(STORAGE_BUS_TYPE_USB);

    const RequestDecision d = Send(Reply4(IOCTL_WP_DRIVE_UNPROTECT), first, mode);
    EXPECT_EQ(d.Status, STATUS_SUCCESS);
    EXPECT_EQ(d.Reply, WP_MODE_ON);
    EXPECT_EQ(d.Information, 4u);
    EXPECT_FALSE(DecideRequest(Write(), first, mode).CompleteHere);
    EXPECT_TRUE(DecideRequest(Write(), second, mode).CompleteHere);

    Send(Reply4(IOCTL_WP_DRIVE_PROTECT), first, mode);
    EXPECT_EQ(DecideRequest(Write(), first, mode).Status, STATUS_ACCESS_DENIED);
}

TEST(ControlInterface, PerDriveCodesNeverMoveAnExemptDisksSwitch) {
    uint32_t mode = WP_MODE_ON;
    DriveState exempt = Disk(STORAGE_BUS_TYPE_USB, true, 1);
    for (uint32_t code : {IOCTL_WP_DRIVE_UNPROTECT, IOCTL_WP_DRIVE_PROTECT}) {
        const RequestDecision d = Send(Reply4(code), exempt, mode);
        EXPECT_EQ(d.Status, STATUS_SUCCESS);
        EXPECT_EQ(d.Reply, WP_MODE_ON);
        EXPECT_EQ(exempt.ProtectOn, 1);
        EXPECT_FALSE(IsWriteBlocked(exempt, mode));
    }
}

TEST(ControlInterface, ModeOffFreesEveryDiskAndModeOnRestoresOnlySwitchedOnDisks) {
    uint32_t mode = WP_MODE_ON;
    DriveState a = Disk(STORAGE_BUS_TYPE_USB);
    DriveState b = Disk(STORAGE_BUS_TYPE_USB);
    Send(Reply4(IOCTL_WP_DRIVE_UNPROTECT), b, mode);

    const RequestDecision off = Send(SetMode(WP_MODE_OFF), a, mode);
    EXPECT_EQ(off.Status, STATUS_SUCCESS);
    EXPECT_FALSE(off.WritesReply);
    EXPECT_FALSE(off.SetsInformation);
    EXPECT_EQ(mode, WP_MODE_OFF);
    EXPECT_FALSE(IsWriteBlocked(a, mode));
    EXPECT_FALSE(IsWriteBlocked(b, mode));
    EXPECT_EQ(Send(Reply4(IOCTL_WP_GET_MODE), b, mode).Reply, WP_MODE_OFF);

    Send(SetMode(WP_MODE_ON), b, mode); // sent to another disk: the mode is driver-wide
    EXPECT_EQ(Send(Reply4(IOCTL_WP_GET_MODE), a, mode).Reply, WP_MODE_ON);
    EXPECT_TRUE(IsWriteBlocked(a, mode));
    EXPECT_FALSE(IsWriteBlocked(b, mode));
}

TEST(ControlInterface, SetModeIgnoresTheOutputBuffer) {
    uint32_t mode = WP_MODE_ON;
    DriveState usb = Disk(STORAGE_BUS_TYPE_USB);
    const RequestDecision d = Send(Control(IOCTL_WP_SET_MODE, 4, 64, WP_MODE_OFF), usb, mode);
    EXPECT_EQ(d.Status, STATUS_SUCCESS);
    EXPECT_EQ(mode, WP_MODE_OFF);
}

TEST(ControlInterface, WritabilityQueryIsAnsweredBeforeTheControlCodes) {
    // IOCTL_DISK_IS_WRITABLE is not a control code, but on a writable disk it must
    // reach the lower driver rather than be answered here.
    const RequestDecision d =
        DecideRequest(Control(IOCTL_DISK_IS_WRITABLE, 4, 4), Disk(kBusSata), WP_MODE_ON);
    EXPECT_FALSE(d.CompleteHere);
}

// ---------------------------------------------------------------------------
// Control interface: the failure table
// ---------------------------------------------------------------------------

TEST(ControlFailures, WrongOutputLengthFailsAndChangesNothing) {
    for (uint32_t code :
         {IOCTL_WP_PROBE, IOCTL_WP_DRIVE_UNPROTECT, IOCTL_WP_DRIVE_PROTECT, IOCTL_WP_GET_MODE}) {
        for (uint32_t length : {0u, 3u, 5u, 8u, 0xFFFFFFFFu}) {
            const DriveState usb = Disk(STORAGE_BUS_TYPE_USB, false, 1);
            // A correct input length does not rescue a wrong output length.
            const RequestDecision d =
                DecideRequest(Control(code, 4, length, WP_MODE_OFF), usb, WP_MODE_ON);
            EXPECT_TRUE(d.CompleteHere);
            EXPECT_EQ(d.Status, STATUS_INVALID_PARAMETER) << std::hex << code << " " << length;
            ExpectUnchanged(d, usb, WP_MODE_ON);
        }
    }
}

TEST(ControlFailures, SetModeWithWrongLengthOrWordFailsAndKeepsTheMode) {
    const DriveState usb = Disk(STORAGE_BUS_TYPE_USB);
    const DiskRequest bad[] = {
        SetMode(0),
        SetMode(WP_MODE_ON + 1),
        SetMode(0xFFFFFFFF),
        Control(IOCTL_WP_SET_MODE, 0, 4, WP_MODE_OFF),
        Control(IOCTL_WP_SET_MODE, 8, 0, WP_MODE_OFF),
        Control(IOCTL_WP_SET_MODE, 3, 0, WP_MODE_OFF),
    };
    for (const DiskRequest& r : bad) {
        const RequestDecision d = DecideRequest(r, usb, WP_MODE_ON);
        EXPECT_EQ(d.Status, STATUS_INVALID_PARAMETER);
        ExpectUnchanged(d, usb, WP_MODE_ON);
    }
}

TEST(ControlFailures, SendersWithoutWriteAccessCannotChangeAnything) {
    const DriveState usb = Disk(STORAGE_BUS_TYPE_USB, false, 1);
    const DiskRequest denied[] = {
        Reply4(IOCTL_WP_DRIVE_UNPROTECT, false),
        Reply4(IOCTL_WP_DRIVE_PROTECT, false),
        SetMode(WP_MODE_OFF, false),
        SetMode(0, false),
    };
    for (const DiskRequest& r : denied) {
        const RequestDecision d = DecideRequest(r, usb, WP_MODE_ON);
        EXPECT_TRUE(d.CompleteHere);
        EXPECT_EQ(d.Status, STATUS_ACCESS_DENIED);
        ExpectUnchanged(d, usb, WP_MODE_ON);
    }
    // Reading the state stays open to every handle.
    EXPECT_EQ(DecideRequest(Reply4(IOCTL_WP_PROBE, false), usb, WP_MODE_OFF).Reply, WP_MODE_ON);
    EXPECT_EQ(DecideRequest(Reply4(IOCTL_WP_GET_MODE, false), usb, WP_MODE_OFF).Reply, WP_MODE_OFF);
}

TEST(ControlFailures, OnlyKernelSendersOrWriteHandlesAreAskedForTheirToken) {
    const uint8_t kReadAccessGranted = 0x01;
    for (uint32_t code : {IOCTL_WP_DRIVE_UNPROTECT, IOCTL_WP_DRIVE_PROTECT, IOCTL_WP_SET_MODE}) {
        EXPECT_TRUE(SenderMayAskToChangeState(code, true, 0));
        EXPECT_TRUE(SenderMayAskToChangeState(code, false, SL_WRITE_ACCESS_GRANTED));
        EXPECT_TRUE(
            SenderMayAskToChangeState(code, false, SL_WRITE_ACCESS_GRANTED | kReadAccessGranted));
        EXPECT_FALSE(SenderMayAskToChangeState(code, false, 0));
        EXPECT_FALSE(SenderMayAskToChangeState(code, false, kReadAccessGranted));
    }
    // Reading the state asks nobody.
    EXPECT_FALSE(SenderMayAskToChangeState(IOCTL_WP_PROBE, true, SL_WRITE_ACCESS_GRANTED));
    EXPECT_FALSE(SenderMayAskToChangeState(IOCTL_WP_GET_MODE, true, SL_WRITE_ACCESS_GRANTED));
}

TEST(ControlFailures, RequestWithoutABufferFailsAndChangesNothing) {
    const DriveState usb = Disk(STORAGE_BUS_TYPE_USB, false, 1);
    for (DiskRequest r : {Reply4(IOCTL_WP_PROBE), Reply4(IOCTL_WP_DRIVE_UNPROTECT),
                          Reply4(IOCTL_WP_GET_MODE), SetMode(WP_MODE_OFF)}) {
        r.NoBuffer = true;
        const RequestDecision d = DecideRequest(r, usb, WP_MODE_ON);
        EXPECT_TRUE(d.CompleteHere);
        EXPECT_EQ(d.Status, STATUS_INVALID_PARAMETER) << std::hex << r.IoControlCode;
        ExpectUnchanged(d, usb, WP_MODE_ON);
        EXPECT_FALSE(ReadsInputWord(r));
    }
    EXPECT_TRUE(ReadsInputWord(SetMode(WP_MODE_OFF)));
    EXPECT_FALSE(ReadsInputWord(Control(IOCTL_WP_PROBE, 4, 4))) << "only SET_MODE's word is read";
}

// ---------------------------------------------------------------------------
// PnP state table
// ---------------------------------------------------------------------------

struct FilterStates {
    int32_t state = PnpNotStarted;
    int32_t prior = PnpNotStarted;

    // Applies the table's answer as the dispatch routine would for a successful request.
    PnpDecision Handle(uint8_t minor) {
        const PnpDecision d = DecidePnp(minor, state, prior);
        state = d.PnpState;
        prior = d.PriorPnpState;
        return d;
    }
};

TEST(PnpStates, QueriesStopsAndRemovalsMoveTheStateAndSucceed) {
    struct Row {
        uint8_t minor;
        int32_t to;
    } rows[] = {
        {IRP_MN_QUERY_REMOVE_DEVICE, PnpRemovePending},
        {IRP_MN_STOP_DEVICE, PnpStopped},
        {IRP_MN_QUERY_STOP_DEVICE, PnpStopPending},
        {IRP_MN_SURPRISE_REMOVAL, PnpSurpriseRemoved},
    };
    for (const Row& row : rows) {
        const PnpDecision d = DecidePnp(row.minor, PnpStarted, PnpNotStarted);
        EXPECT_EQ(d.Action, PNP_PASS_DOWN);
        EXPECT_EQ(d.PnpState, row.to);
        EXPECT_EQ(d.PriorPnpState, PnpStarted);
        EXPECT_TRUE(d.SetsStatus);
        EXPECT_EQ(d.Status, STATUS_SUCCESS);
    }
}

TEST(PnpStates, QueryStopThenCancelStopReturnsToStarted) {
    FilterStates f;
    f.Handle(IRP_MN_START_DEVICE);
    EXPECT_EQ(f.state, PnpStarted);
    f.Handle(IRP_MN_QUERY_STOP_DEVICE);
    EXPECT_EQ(f.state, PnpStopPending);
    const PnpDecision d = f.Handle(IRP_MN_CANCEL_STOP_DEVICE);
    EXPECT_EQ(f.state, PnpStarted);
    EXPECT_TRUE(d.SetsStatus);
    EXPECT_EQ(d.Status, STATUS_SUCCESS);
}

TEST(PnpStates, QueryRemoveThenCancelRemoveReturnsToStarted) {
    FilterStates f;
    f.Handle(IRP_MN_START_DEVICE);
    f.Handle(IRP_MN_QUERY_REMOVE_DEVICE);
    EXPECT_EQ(f.state, PnpRemovePending);
    f.Handle(IRP_MN_CANCEL_REMOVE_DEVICE);
    EXPECT_EQ(f.state, PnpStarted);
}

TEST(PnpStates, CancelWithoutPrecedingQueryChangesNothingButStillSucceeds) {
    for (uint8_t cancel : {IRP_MN_CANCEL_STOP_DEVICE, IRP_MN_CANCEL_REMOVE_DEVICE}) {
        const PnpDecision d = DecidePnp(cancel, PnpStarted, PnpStopped);
        EXPECT_EQ(d.PnpState, PnpStarted);
        EXPECT_EQ(d.PriorPnpState, PnpStopped);
        EXPECT_TRUE(d.SetsStatus);
        EXPECT_EQ(d.Status, STATUS_SUCCESS);
    }
    // A cancel-stop does not undo a pending remove, nor the other way round.
    EXPECT_EQ(DecidePnp(IRP_MN_CANCEL_STOP_DEVICE, PnpRemovePending, PnpStarted).PnpState,
              PnpRemovePending);
    EXPECT_EQ(DecidePnp(IRP_MN_CANCEL_REMOVE_DEVICE, PnpStopPending, PnpStarted).PnpState,
              PnpStopPending);
}

TEST(PnpStates, StopThenStartStartsAgain) {
    FilterStates f;
    f.Handle(IRP_MN_START_DEVICE);
    f.Handle(IRP_MN_QUERY_STOP_DEVICE);
    f.Handle(IRP_MN_STOP_DEVICE);
    EXPECT_EQ(f.state, PnpStopped);
    const PnpDecision d = f.Handle(IRP_MN_START_DEVICE);
    EXPECT_EQ(d.Action, PNP_START);
    EXPECT_EQ(f.state, PnpStarted);
    EXPECT_EQ(f.prior, PnpStopped);
}

TEST(PnpStates, StartAndRemoveLeaveTheStatusToTheirOwnPaths) {
    const PnpDecision start = DecidePnp(IRP_MN_START_DEVICE, PnpNotStarted, PnpNotStarted);
    EXPECT_EQ(start.Action, PNP_START);
    EXPECT_FALSE(start.SetsStatus);
    EXPECT_EQ(start.PnpState, PnpStarted);

    const PnpDecision remove = DecidePnp(IRP_MN_REMOVE_DEVICE, PnpSurpriseRemoved, PnpStarted);
    EXPECT_EQ(remove.Action, PNP_REMOVE);
    EXPECT_FALSE(remove.SetsStatus);
    EXPECT_EQ(remove.PnpState, PnpDeleted);
    EXPECT_EQ(remove.PriorPnpState, PnpSurpriseRemoved);
}

TEST(PnpStates, UsageNotificationAndOtherMinorsKeepStateAndStatus) {
    const PnpDecision usage =
        DecidePnp(IRP_MN_DEVICE_USAGE_NOTIFICATION, PnpStarted, PnpNotStarted);
    EXPECT_EQ(usage.Action, PNP_USAGE_NOTIFICATION);
    EXPECT_EQ(usage.PnpState, PnpStarted);
    EXPECT_FALSE(usage.SetsStatus);

    const uint8_t kQueryCapabilities = 0x09, kQueryId = 0x13, kUnknown = 0xFF;
    for (uint8_t minor : {kQueryCapabilities, kQueryId, kUnknown}) {
        const PnpDecision d = DecidePnp(minor, PnpStarted, PnpStopped);
        EXPECT_EQ(d.Action, PNP_PASS_DOWN);
        EXPECT_EQ(d.PnpState, PnpStarted);
        EXPECT_EQ(d.PriorPnpState, PnpStopped);
        EXPECT_FALSE(d.SetsStatus);
    }
}

} // namespace
