// The driver's decisions: which disks are protected, what happens to each request,
// and how PnP requests move a filter device's state. Pure functions over plain
// values, with no kernel calls, allocation or global constructors, so that the same
// object goes into quilldrv.sys and into the host tests, fuzzers and benchmark.
#pragma once

#include <stddef.h>
#include <stdint.h>

// ---------------------------------------------------------------------------
// Platform values. The driver glue includes the DDK before this header, so there
// the DDK's own definitions stand; everywhere else they are written out here.
// ---------------------------------------------------------------------------
#ifndef STATUS_SUCCESS
#define STATUS_SUCCESS ((int32_t)0x00000000L)
#endif
#ifndef STATUS_INVALID_PARAMETER
#define STATUS_INVALID_PARAMETER ((int32_t)0xC000000DL)
#endif
#ifndef STATUS_ACCESS_DENIED
#define STATUS_ACCESS_DENIED ((int32_t)0xC0000022L)
#endif
#ifndef STATUS_MEDIA_WRITE_PROTECTED
#define STATUS_MEDIA_WRITE_PROTECTED ((int32_t)0xC00000A2L)
#endif

#ifndef IRP_MJ_WRITE
#define IRP_MJ_WRITE 0x04
#endif
#ifndef IRP_MJ_DEVICE_CONTROL
#define IRP_MJ_DEVICE_CONTROL 0x0e
#endif

#ifndef IRP_MN_START_DEVICE
#define IRP_MN_START_DEVICE 0x00
#define IRP_MN_QUERY_REMOVE_DEVICE 0x01
#define IRP_MN_REMOVE_DEVICE 0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#define IRP_MN_STOP_DEVICE 0x04
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#define IRP_MN_DEVICE_USAGE_NOTIFICATION 0x16
#define IRP_MN_SURPRISE_REMOVAL 0x17
#endif

#ifndef IOCTL_DISK_IS_WRITABLE
#define IOCTL_DISK_IS_WRITABLE 0x00070024
#endif
#ifndef IOCTL_STORAGE_QUERY_PROPERTY
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400
#endif

// Stack-location flag the I/O manager sets when the handle grants write access.
#ifndef SL_WRITE_ACCESS_GRANTED
#define SL_WRITE_ACCESS_GRANTED 0x04
#endif

// STORAGE_BUS_TYPE is an enum in the DDK, so its one value of interest gets a name.
constexpr uint32_t STORAGE_BUS_TYPE_USB = 7;
// The same for SECURITY_IMPERSONATION_LEVEL: the least level at which an impersonated
// token acts for its owner (SecurityImpersonation).
constexpr int32_t SECURITY_LEVEL_IMPERSONATION = 2;

// The fixed part of STORAGE_DEVICE_DESCRIPTOR, as the storage query returns it.
struct StorageDescriptorHeader {
    uint32_t Version;
    uint32_t Size;
    uint8_t DeviceType;
    uint8_t DeviceTypeModifier;
    uint8_t RemovableMedia;
    uint8_t CommandQueueing;
    uint32_t VendorIdOffset;
    uint32_t ProductIdOffset;
    uint32_t ProductRevisionOffset;
    uint32_t SerialNumberOffset;
    uint32_t BusType;
    uint32_t RawPropertiesLength;
    uint8_t RawDeviceProperties[4]; // one byte in the platform's type, padded to 4
};
static_assert(sizeof(StorageDescriptorHeader) == 40, "fixed part of STORAGE_DEVICE_DESCRIPTOR");
static_assert(offsetof(StorageDescriptorHeader, BusType) == 28, "BusType offset");

// STORAGE_PROPERTY_QUERY for StorageDeviceProperty / PropertyStandardQuery.
struct StoragePropertyQuery {
    uint32_t PropertyId; // StorageDeviceProperty = 0
    uint32_t QueryType;  // PropertyStandardQuery = 0
    uint8_t AdditionalParameters[4];
};
static_assert(sizeof(StoragePropertyQuery) == 12, "STORAGE_PROPERTY_QUERY");

// ---------------------------------------------------------------------------
// The control interface: five codes of FILE_DEVICE_UNKNOWN, METHOD_BUFFERED,
// FILE_ANY_ACCESS, each exchanging one 32-bit word.
// ---------------------------------------------------------------------------
constexpr uint32_t WpControlCode(uint32_t function) {
    return (0x22u << 16) | (function << 2);
}

constexpr uint32_t IOCTL_WP_PROBE = WpControlCode(0x803);
constexpr uint32_t IOCTL_WP_DRIVE_UNPROTECT = WpControlCode(0x806);
constexpr uint32_t IOCTL_WP_DRIVE_PROTECT = WpControlCode(0x807);
constexpr uint32_t IOCTL_WP_SET_MODE = WpControlCode(0x808);
constexpr uint32_t IOCTL_WP_GET_MODE = WpControlCode(0x809);
static_assert(IOCTL_WP_PROBE == 0x0022200C, "IOCTL_WP_PROBE");
static_assert(IOCTL_WP_DRIVE_UNPROTECT == 0x00222018, "IOCTL_WP_DRIVE_UNPROTECT");
static_assert(IOCTL_WP_DRIVE_PROTECT == 0x0022201C, "IOCTL_WP_DRIVE_PROTECT");
static_assert(IOCTL_WP_SET_MODE == 0x00222020, "IOCTL_WP_SET_MODE");
static_assert(IOCTL_WP_GET_MODE == 0x00222024, "IOCTL_WP_GET_MODE");

constexpr uint32_t WP_MODE_ON = 0x3D5A92E6;  // protection on (initial value at each load)
constexpr uint32_t WP_MODE_OFF = 0x71C4B80D; // protection off for every disk
constexpr uint32_t WP_WORD_BYTES = 4;        // every length the control codes test

// ---------------------------------------------------------------------------
// Exemption marker: a value under the disk's device hardware key.
// ---------------------------------------------------------------------------
#define MARKER_VALUE_NAME L"{B1E07817-AAD5-4634-9099-59563DC91C0D}"
constexpr uint32_t MARKER_MIN_BYTES = 64;
constexpr uint32_t MARKER_MAX_BYTES = 204; // more is never read: the query fails instead
constexpr uint32_t MARKER_CODE_OFFSET = 44;
constexpr uint32_t MARKER_CODE_FIELD_BYTES = 10;
constexpr uint32_t MARKER_PARTIAL_INFO_HEADER_BYTES = 12; // KEY_VALUE_PARTIAL_INFORMATION
constexpr uint32_t MARKER_QUERY_BUFFER_BYTES = MARKER_PARTIAL_INFO_HEADER_BYTES + MARKER_MAX_BYTES;
static_assert(MARKER_QUERY_BUFFER_BYTES == 216, "marker query buffer");

constexpr uint32_t EXEMPT_PRODUCT_CODE_COUNT = 9;
// Codes in the order they are tried; each is compared with its terminating zero byte.
extern const char ExemptProductCodes[EXEMPT_PRODUCT_CODE_COUNT][9];

// True when count >= 64 and bytes 44.. hold one of the codes followed by a zero byte.
bool MatchExemptCode(const uint8_t* data, uint32_t count);

// SubjectToPolicy for a disk, from the outcome of the marker query: 1 unless the
// query succeeded with 64 to 204 bytes that name a listed code.
uint8_t ClassifyMarker(int32_t queryStatus, const uint8_t* data, uint32_t dataLength);

// ---------------------------------------------------------------------------
// Per-disk state and the protection predicate.
// ---------------------------------------------------------------------------

// What the decisions know of one disk; the tail of the filter device's extension.
struct DriveState {
    StorageDescriptorHeader StorageHeader; // last successful storage query; zero before
    uint8_t SubjectToPolicy;               // 1: no recognised exemption marker
    uint8_t ProtectOn;                     // 1: protection switched on for this disk
};

inline bool IsWriteBlocked(const DriveState& drive, uint32_t mode) {
    return drive.StorageHeader.BusType == STORAGE_BUS_TYPE_USB && drive.SubjectToPolicy == 1 &&
           drive.ProtectOn == 1 && mode != WP_MODE_OFF;
}

// ---------------------------------------------------------------------------
// Request decisions for writes and device controls. The dispatch routines fill a
// DiskRequest from the IRP, apply the decision, and either complete the request
// or pass it down untouched.
// ---------------------------------------------------------------------------
struct DiskRequest {
    uint8_t MajorFunction;
    uint32_t IoControlCode; // device control only
    uint32_t InputLength;
    uint32_t OutputLength;
    uint32_t InputWord;        // first word of the system buffer; see ReadsInputWord()
    bool NoBuffer;             // a kernel-built request without a system buffer
    bool SenderMayChangeState; // SenderMayAskToChangeState() and an administrator's token
};

struct RequestDecision {
    bool CompleteHere; // false: pass the request down unchanged
    int32_t Status;
    bool WritesReply; // store Reply as the first word of the system buffer
    uint32_t Reply;
    bool SetsInformation; // otherwise IoStatus.Information is left as it is
    uint32_t Information;
    uint8_t ProtectOn;   // the disk's switch after the request
    uint32_t GlobalMode; // the driver-wide mode after the request
};

// UNPROTECT, PROTECT and SET_MODE: the codes that change state.
inline bool ControlCodeChangesState(uint32_t code) {
    return code == IOCTL_WP_DRIVE_UNPROTECT || code == IOCTL_WP_DRIVE_PROTECT ||
           code == IOCTL_WP_SET_MODE;
}

// The input word is read for SET_MODE alone, and only from a buffer that holds it.
inline bool ReadsInputWord(const DiskRequest& request) {
    return request.IoControlCode == IOCTL_WP_SET_MODE && request.InputLength == WP_WORD_BYTES &&
           !request.NoBuffer;
}

// Protection may be switched only by a kernel-mode sender or through a handle that
// grants write access, and only when the thread the request runs in is an
// administrator's: the token is asked only of senders that pass the first test.
// It counts for kernel-mode senders too, since a driver above may pass a standard
// user's request on as a kernel request of its own, in that user's thread. System
// threads hold the Administrators group.
inline bool SenderMayAskToChangeState(uint32_t code, bool fromKernelMode, uint8_t stackFlags) {
    return ControlCodeChangesState(code) &&
           (fromKernelMode || (stackFlags & SL_WRITE_ACCESS_GRANTED) != 0);
}

// The token tells who asked only in the thread that issued the request (a worker that
// carries it on has a token of its own), and may be asked only at PASSIVE_LEVEL, which
// the token queries need. Otherwise the request is refused without asking.
inline bool SenderTokenMayBeAsked(bool atPassiveLevel, bool issuingThread) {
    return atPassiveLevel && issuingThread;
}

// The token that speaks for the thread: its client's while it impersonates, its own
// otherwise. A client token held below SecurityImpersonation only names its owner (any
// user may hold an administrator's so, through coerced authentication or for want of
// the impersonation privilege) and speaks for nobody.
enum SpeakingToken : uint8_t {
    SPEAKS_NONE,
    SPEAKS_CLIENT,
    SPEAKS_PRIMARY,
};

inline SpeakingToken TokenThatSpeaks(bool hasClientToken, int32_t impersonationLevel) {
    if (!hasClientToken) {
        return SPEAKS_PRIMARY;
    }
    return impersonationLevel >= SECURITY_LEVEL_IMPERSONATION ? SPEAKS_CLIENT : SPEAKS_NONE;
}

RequestDecision DecideRequest(const DiskRequest& request, const DriveState& drive,
                              uint32_t globalMode);

// ---------------------------------------------------------------------------
// PnP states of a filter device, and what each PnP request does to them.
// ---------------------------------------------------------------------------
enum PnpDeviceState : int32_t {
    PnpNotStarted = 0,
    PnpStarted = 1,
    PnpStopPending = 2,
    PnpStopped = 3,
    PnpRemovePending = 4,
    PnpSurpriseRemoved = 5,
    PnpDeleted = 6,
};

enum PnpAction : uint8_t {
    PNP_PASS_DOWN,          // apply the states and status now, then pass down
    PNP_START,              // start path; apply the states only when the start succeeds
    PNP_REMOVE,             // removal; apply the states after passing the request down
    PNP_USAGE_NOTIFICATION, // paging-path handling; states unchanged
};

struct PnpDecision {
    PnpAction Action;
    int32_t PnpState;
    int32_t PriorPnpState;
    bool SetsStatus; // store Status in IoStatus.Status before passing down
    int32_t Status;
};

PnpDecision DecidePnp(uint8_t minorFunction, int32_t pnpState, int32_t priorPnpState);
