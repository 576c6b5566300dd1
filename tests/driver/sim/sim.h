// A small simulated I/O manager and disk, driving quilldrv's own glue sources in
// a user-mode test. Plain C interface with fixed-width types only, so that test
// code never sees the DDK headers.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct SimDiskConfig {
    uint32_t BusType;       // reported by the storage query
    int32_t StartStatus;    // the disk's answer to IRP_MN_START_DEVICE
    int32_t QueryStatus;    // the disk's answer to the storage query
    uint8_t PendStart;      // answer the start from another thread, after STATUS_PENDING
    uint8_t PendQuery;      // the same for the storage query
    uint8_t PendUsage;      // the same for the device usage notification
    uint8_t RemovableMedia; // FILE_REMOVABLE_MEDIA in the disk's characteristics
    uint8_t PowerPagable;   // DO_POWER_PAGABLE on the disk
    uint8_t NoDeviceKey;    // the device hardware key cannot be opened
    uint8_t MarkerPresent;  // the exemption marker value exists
    uint32_t MarkerLength;  // its data length (may exceed the reader's buffer)
    const uint8_t* Marker;  // its data
};

struct SimDiskCounters {
    uint32_t Writes; // writes that reached the disk
    uint32_t Reads;
    uint32_t StorageQueries;
    uint32_t WritableQueries;
    uint32_t OtherControls;
    uint32_t Power;
    uint32_t Pnp; // PnP requests that reached the disk
};

struct SimFilterInfo {
    uint8_t Exists; // a filter device is attached above the disk
    uint8_t Deleted;
    int32_t PnpState;
    int32_t PriorPnpState;
    uint8_t SubjectToPolicy;
    uint8_t ProtectOn;
    uint32_t BusType; // StorageHeader.BusType
    uint32_t Flags;   // DEVICE_OBJECT.Flags
    uint32_t Characteristics;
    uint32_t DeviceType;
    uint8_t RemovalBegun; // the remove lock refuses new holds
};

struct SimRequestResult {
    int32_t Status;
    uint64_t Information;
    uint8_t ReturnedPending; // the dispatch routine returned STATUS_PENDING
};

// Loads the driver afresh: a new driver object, DriverEntry run, no devices.
int32_t SimLoadDriver(void);
// Unloads it (FilterUnload); every device must be gone.
void SimUnloadDriver(void);
// Waits for every request still being completed or sent on another thread.
void SimDrain(void);

// Creates a disk (a PDO with its own simulated driver) and runs the driver's
// add-device routine for it. Returns the disk's index; *addStatus receives the
// status of the add-device routine.
int SimPlugDisk(const struct SimDiskConfig* config, int32_t* addStatus);

// The same disk under a minimal pass-through filter instead: the yardstick for
// the cost of quilldrv's routines.
int SimPlugDiskWithBareFilter(const struct SimDiskConfig* config);

// The access token of the thread a request is sent in, as the kernel's
// SeTokenIsAdmin sees it: system threads and administrators hold the
// Administrators group, standard users do not.
enum SimToken {
    SIM_TOKEN_SYSTEM,
    SIM_TOKEN_ADMINISTRATOR,
    SIM_TOKEN_STANDARD_USER,
    SIM_TOKEN_ADMINISTRATOR_AT_IDENTIFICATION, // these two: a standard user impersonating one
    SIM_TOKEN_ADMINISTRATOR_AT_IMPERSONATION,
};
// Sets the token of the calling thread; every thread starts as a system thread.
void SimRunAs(enum SimToken token);

// Failure injection for the next add-device.
void SimFailNextCreateDevice(int32_t status);
void SimFailNextAttach(void);
void SimSetWdmVersionAvailable(uint8_t available);
// A device attached above the filter, with or without DO_POWER_PAGABLE. Like a
// volume stack, it passes device controls on as kernel-mode requests of its own,
// built in the sender's thread, and every other request unchanged.
void SimAttachAbove(int disk, uint8_t powerPagable);

// Requests sent to the top of the disk's stack, as the I/O manager would.
struct SimRequestResult SimPnp(int disk, uint8_t minor);
struct SimRequestResult SimWrite(int disk, uint32_t length);
struct SimRequestResult SimRead(int disk, uint32_t length);
struct SimRequestResult SimPower(int disk);
// A device control, built and sent in the calling thread with its token.
enum SimControlFlags {
    SIM_CONTROL_WRITE_ACCESS = 1, // the handle was granted write access
    SIM_CONTROL_NO_BUFFER = 2,    // built without a system buffer, whatever the lengths
    SIM_CONTROL_BY_WORKER = 4,    // carried on by a system thread (a worker of a driver above)
    SIM_CONTROL_APC_LEVEL = 8,    // sent at APC_LEVEL, as in the paging path
};
struct SimRequestResult SimControl(int disk, uint32_t code, const void* input, uint32_t inputLength,
                                   void* output, uint32_t outputLength, uint8_t kernelMode,
                                   uint8_t flags);

// Writes that reach the disk wait there until released: requests in flight.
void SimHoldWritesAtDisk(int disk, uint8_t hold);
uint32_t SimWritesWaitingAtDisk(int disk);
// Starts a write or a removal on another thread; SimJoin waits for it.
int SimStartWrite(int disk, uint32_t length);
int SimStartPnp(int disk, uint8_t minor);
struct SimRequestResult SimJoin(int job);

struct SimDiskCounters SimCounters(int disk);
struct SimFilterInfo SimFilter(int disk);

// Bookkeeping the tests check after each scenario. Violations are what Driver
// Verifier would stop the machine for: touches of deleted devices, unmatched lock
// tags, pending returns left unmarked, power requests passed on out of order.
uint32_t SimViolations(void);
const char* SimLastViolation(void); // what the last one was
uint32_t SimOutstandingHolds(int disk);
uint32_t SimOpenKeys(void);
uint32_t SimOpenReferences(void); // devices and tokens (captured subject contexts)
uint32_t SimAllocations(void);    // IRPs and devices the driver asked for
uint32_t SimLastKeyAccess(void);
uint32_t SimStartNextPowerCalls(void);
// The remove lock's parameters as the driver initialised it.
void SimRemoveLockParameters(int disk, uint32_t* tag, uint32_t* maxMinutes,
                             uint32_t* highWatermark);

#ifdef __cplusplus
}
#endif
