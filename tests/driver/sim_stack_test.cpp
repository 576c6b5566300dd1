// quilldrv's own glue on a simulated disk stack with the I/O manager's semantics:
// what Wine's kernel does not model faithfully (remove-lock waits, pending
// returns, removal racing writes, cancel sequences, the paging-path flag, the
// sender's token) and the rules Driver Verifier enforces, which Wine does not.
#include "policy.h"
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kBusSata = 11;
constexpr int32_t kStatusNotSupported = static_cast<int32_t>(0xC00000BBu);
constexpr int32_t kStatusDeletePending = static_cast<int32_t>(0xC0000056u);
constexpr int32_t kStatusUnsuccessful = static_cast<int32_t>(0xC0000001u);
constexpr int32_t kStatusInsufficientResources = static_cast<int32_t>(0xC000009Au);
constexpr int32_t kStatusIoDeviceError = static_cast<int32_t>(0xC0000185u);
constexpr uint32_t kDoDirectIo = 0x10, kDoPowerPagable = 0x2000, kDoDeviceInitializing = 0x80;
constexpr uint32_t kFileRemovableMedia = 0x1, kFileDeviceSecureOpen = 0x100;
constexpr uint32_t kFileDeviceDisk = 0x7;
constexpr uint8_t kIrpMnQueryId = 0x13;
constexpr uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;

SimDiskConfig Usb() {
    SimDiskConfig c = {};
    c.BusType = STORAGE_BUS_TYPE_USB;
    return c;
}

SimDiskConfig Sata() {
    SimDiskConfig c = {};
    c.BusType = kBusSata;
    return c;
}

class SimStack : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SimLoadDriver(), STATUS_SUCCESS); }

    // Every scenario must leave no misuse behind.
    void TearDown() override {
        SimDrain();
        EXPECT_EQ(SimViolations(), 0u) << SimLastViolation();
        EXPECT_EQ(SimOpenKeys(), 0u) << "registry keys left open";
        EXPECT_EQ(SimOpenReferences(), 0u) << "device or token references left";
    }

    int Plug(const SimDiskConfig& config) {
        int32_t status = -1;
        const int disk = SimPlugDisk(&config, &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        return disk;
    }

    int PlugAndStart(const SimDiskConfig& config) {
        const int disk = Plug(config);
        EXPECT_EQ(SimPnp(disk, IRP_MN_START_DEVICE).Status, STATUS_SUCCESS);
        return disk;
    }

    static SimRequestResult Control(int disk, uint32_t code, uint32_t inputLength,
                                    uint32_t outputLength, uint32_t* word, bool kernelMode,
                                    uint8_t flags = 0) {
        return SimControl(disk, code, word, inputLength, word, outputLength, kernelMode, flags);
    }

    static uint32_t GetMode(int disk) {
        uint32_t word = 0;
        EXPECT_EQ(Control(disk, IOCTL_WP_GET_MODE, 0, 4, &word, false).Status, STATUS_SUCCESS);
        return word;
    }

    static SimRequestResult SetMode(int disk, uint32_t mode, bool kernelMode, uint8_t flags) {
        uint32_t word = mode;
        return Control(disk, IOCTL_WP_SET_MODE, 4, 0, &word, kernelMode, flags);
    }
};

// ---------------------------------------------------------------------------
// Adding the filter device
// ---------------------------------------------------------------------------

TEST_F(SimStack, AddAttachesAboveTheDiskAndTakesOnItsShape) {
    SimDiskConfig config = Usb();
    config.RemovableMedia = 1;
    const int disk = Plug(config);
    const SimFilterInfo f = SimFilter(disk);
    EXPECT_TRUE(f.Exists);
    EXPECT_EQ(f.PnpState, PnpNotStarted);
    EXPECT_EQ(f.PriorPnpState, PnpNotStarted);
    EXPECT_EQ(f.DeviceType, kFileDeviceDisk);
    EXPECT_EQ(f.Flags & kDoDirectIo, kDoDirectIo);
    EXPECT_EQ(f.Flags & kDoDeviceInitializing, 0u) << "the filter must accept requests";
    EXPECT_EQ(f.Characteristics, kFileRemovableMedia) << "the disk's word replaces SECURE_OPEN";
    EXPECT_EQ(f.Characteristics & kFileDeviceSecureOpen, 0u);
    EXPECT_EQ(f.BusType, 0u) << "nothing is known of the bus before the first start";
    EXPECT_EQ(SimLastKeyAccess(), 0x0002001Fu);

    uint32_t tag = 0, minutes = 0, watermark = 0;
    SimRemoveLockParameters(disk, &tag, &minutes, &watermark);
    EXPECT_EQ(std::memcmp(&tag, "TFil", 4), 0);
    EXPECT_EQ(minutes, 1u);
    EXPECT_EQ(watermark, 100u);
}

TEST_F(SimStack, AddFailsCleanlyWhenTheStackCannotBeAttachedTo) {
    SimFailNextAttach();
    const SimDiskConfig config = Usb();
    int32_t status = 0;
    const int disk = SimPlugDisk(&config, &status);
    EXPECT_EQ(status, kStatusUnsuccessful);
    const SimFilterInfo f = SimFilter(disk);
    EXPECT_FALSE(f.Exists);
    // The write goes straight to the disk: no filter is left behind.
    EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimCounters(disk).Writes, 1u);
}

TEST_F(SimStack, AddPassesBackAFailureToCreateTheDevice) {
    SimFailNextCreateDevice(kStatusInsufficientResources);
    const SimDiskConfig config = Usb();
    int32_t status = 0;
    const int disk = SimPlugDisk(&config, &status);
    EXPECT_EQ(status, kStatusInsufficientResources);
    EXPECT_FALSE(SimFilter(disk).Exists);
    EXPECT_EQ(SimOpenKeys(), 0u);
}

// What ClassifyDrive makes of the marker as the registry returns it.
TEST_F(SimStack, MarkerFromTheDeviceKeyDecidesExemption) {
    struct Row {
        const char* name;
        bool present;
        uint32_t length;
        const char* code;
        bool noKey;
        uint8_t subject;
    } rows[] = {
        {"NoMarker", false, 0, nullptr, false, 1},
        {"ListedCodeIn64Bytes", true, 64, "KevCelB", false, 0},
        {"ListedCodeIn204Bytes", true, 204, "KevDunBB", false, 0},
        {"TooShort", true, 63, "KevCelB", false, 1},
        {"LongerThanTheBuffer", true, 205, "KevCelB", false, 1},
        {"UnlistedCode", true, 64, "KevZzzA", false, 1},
        {"NoDeviceKey", true, 64, "KevCelB", true, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> marker(row.length, 'x');
        if (row.code != nullptr && row.length >= 54) {
            std::memcpy(marker.data() + 44, row.code, std::strlen(row.code) + 1);
        }
        SimDiskConfig config = Usb();
        config.MarkerPresent = row.present;
        config.MarkerLength = row.length;
        config.Marker = marker.data();
        config.NoDeviceKey = row.noKey;
        const int disk = PlugAndStart(config);
        const SimFilterInfo f = SimFilter(disk);
        EXPECT_EQ(f.SubjectToPolicy, row.subject);
        EXPECT_EQ(f.ProtectOn, 1);
        EXPECT_EQ(SimWrite(disk, 512).Status, row.subject ? STATUS_ACCESS_DENIED : STATUS_SUCCESS);
    }
}

// ---------------------------------------------------------------------------
// Start, stop and the storage query
// ---------------------------------------------------------------------------

TEST_F(SimStack, UnmarkedUsbDiskRefusesWritesOnceStarted) {
    const int disk = Plug(Usb());
    EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_SUCCESS) << "bus unknown before the start";

    ASSERT_EQ(SimPnp(disk, IRP_MN_START_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStarted);
    EXPECT_EQ(SimFilter(disk).BusType, STORAGE_BUS_TYPE_USB);

    EXPECT_EQ(SimWrite(disk, 4096).Status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(SimWrite(disk, 0).Status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(SimRead(disk, 4096).Status, STATUS_SUCCESS);
    EXPECT_EQ(Control(disk, IOCTL_DISK_IS_WRITABLE, 0, 0, nullptr, false).Status,
              STATUS_MEDIA_WRITE_PROTECTED);

    const SimDiskCounters c = SimCounters(disk);
    EXPECT_EQ(c.Writes, 1u) << "only the write before the start reached the disk";
    EXPECT_EQ(c.Reads, 1u);
    EXPECT_EQ(c.WritableQueries, 0u);
    EXPECT_EQ(SimOutstandingHolds(disk), 0u);
}

TEST_F(SimStack, SataDiskIsNeverTouched) {
    const int disk = PlugAndStart(Sata());
    EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_SUCCESS);
    EXPECT_EQ(Control(disk, IOCTL_DISK_IS_WRITABLE, 0, 0, nullptr, false).Status, STATUS_SUCCESS);
    EXPECT_EQ(Control(disk, kIoctlDiskGetDriveGeometry, 0, 24, nullptr, false).Status,
              STATUS_SUCCESS);
    const SimDiskCounters c = SimCounters(disk);
    EXPECT_EQ(c.Writes, 1u);
    EXPECT_EQ(c.WritableQueries, 1u);
    EXPECT_EQ(c.OtherControls, 1u);
}

TEST_F(SimStack, PendingStartAndPendingQueryAreWaitedFor) {
    SimDiskConfig config = Usb();
    config.PendStart = 1;
    config.PendQuery = 1;
    const int disk = Plug(config);
    const SimRequestResult start = SimPnp(disk, IRP_MN_START_DEVICE);
    EXPECT_EQ(start.Status, STATUS_SUCCESS);
    EXPECT_FALSE(start.ReturnedPending) << "the filter finishes the start itself";
    EXPECT_EQ(SimFilter(disk).BusType, STORAGE_BUS_TYPE_USB);
    EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_ACCESS_DENIED);
}

TEST_F(SimStack, FailedStartReachesThePnpManagerAndChangesNothing) {
    for (bool pend : {false, true}) {
        SCOPED_TRACE(pend ? "pending" : "synchronous");
        SimDiskConfig config = Usb();
        config.StartStatus = kStatusIoDeviceError;
        config.PendStart = pend;
        const int disk = Plug(config);
        EXPECT_EQ(SimPnp(disk, IRP_MN_START_DEVICE).Status, kStatusIoDeviceError);
        const SimFilterInfo f = SimFilter(disk);
        EXPECT_EQ(f.PnpState, PnpNotStarted);
        EXPECT_EQ(f.BusType, 0u);
        EXPECT_EQ(SimCounters(disk).StorageQueries, 0u);
        EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_SUCCESS);
        EXPECT_EQ(SimOutstandingHolds(disk), 0u);
    }
}

TEST_F(SimStack, FailedStorageQueryLeavesTheDiskUnblockedAndTheStartSucceeds) {
    SimDiskConfig config = Usb();
    config.QueryStatus = kStatusIoDeviceError;
    const int disk = Plug(config);
    EXPECT_EQ(SimPnp(disk, IRP_MN_START_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStarted);
    EXPECT_EQ(SimFilter(disk).BusType, 0u);
    EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_SUCCESS);
}

TEST_F(SimStack, StopThenStartQueriesTheBusAgain) {
    const int disk = PlugAndStart(Usb());
    EXPECT_EQ(SimPnp(disk, IRP_MN_QUERY_STOP_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimPnp(disk, IRP_MN_STOP_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStopped);
    EXPECT_EQ(SimPnp(disk, IRP_MN_START_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStarted);
    EXPECT_EQ(SimCounters(disk).StorageQueries, 2u);
}

// ---------------------------------------------------------------------------
// PnP bookkeeping
// ---------------------------------------------------------------------------

TEST_F(SimStack, CancelledQueriesReturnToStartedAndUnmatchedCancelsChangeNothing) {
    const int disk = PlugAndStart(Usb());
    EXPECT_EQ(SimPnp(disk, IRP_MN_QUERY_STOP_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStopPending);
    EXPECT_EQ(SimPnp(disk, IRP_MN_CANCEL_STOP_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStarted);

    EXPECT_EQ(SimPnp(disk, IRP_MN_QUERY_REMOVE_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpRemovePending);
    EXPECT_EQ(SimPnp(disk, IRP_MN_CANCEL_REMOVE_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStarted);

    EXPECT_EQ(SimPnp(disk, IRP_MN_CANCEL_STOP_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimPnp(disk, IRP_MN_CANCEL_REMOVE_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStarted);
    // Every PnP request went on to the disk: the filter refuses no query.
    EXPECT_EQ(SimCounters(disk).Pnp, 7u);
}

TEST_F(SimStack, UnknownPnpRequestsKeepTheStatusTheyCameWith) {
    const int disk = PlugAndStart(Usb());
    EXPECT_EQ(SimPnp(disk, kIrpMnQueryId).Status, kStatusNotSupported);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpStarted);
}

TEST_F(SimStack, SurpriseRemovalThenRemovalDetachesAndDeletesTheFilter) {
    const int disk = PlugAndStart(Usb());
    EXPECT_EQ(SimPnp(disk, IRP_MN_SURPRISE_REMOVAL).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimFilter(disk).PnpState, PnpSurpriseRemoved);
    EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_ACCESS_DENIED) << "still protected until removed";

    EXPECT_EQ(SimPnp(disk, IRP_MN_REMOVE_DEVICE).Status, STATUS_SUCCESS);
    const SimFilterInfo f = SimFilter(disk);
    EXPECT_FALSE(f.Exists);
    EXPECT_TRUE(f.Deleted);
    EXPECT_EQ(SimCounters(disk).Pnp, 3u) << "start, surprise removal and removal reached the disk";
    SimUnloadDriver();
}

TEST_F(SimStack, UnloadWithNoFilterDeviceDoesNothing) {
    SimUnloadDriver();
}

TEST_F(SimStack, UsageNotificationFollowsThePagingFlagOfTheDevicesAround) {
    struct Row {
        const char* name;
        bool diskPagable;
        int above; // -1: nothing above the filter; else the flag of the device above
        bool pend;
        bool pagableAfter;
    } rows[] = {
        {"NothingAboveDiskNotPagable", false, -1, false, false},
        {"NothingAboveDiskPagable", true, -1, false, true},
        {"PagableAboveDiskPagablePending", true, 1, true, true},
        {"NonPagableAboveDiskPagable", true, 0, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimDiskConfig config = Usb();
        config.PowerPagable = row.diskPagable;
        config.PendUsage = row.pend;
        const int disk = PlugAndStart(config);
        if (row.above >= 0) {
            SimAttachAbove(disk, static_cast<uint8_t>(row.above));
        }
        EXPECT_EQ(SimPnp(disk, IRP_MN_DEVICE_USAGE_NOTIFICATION).Status, STATUS_SUCCESS);
        EXPECT_EQ((SimFilter(disk).Flags & kDoPowerPagable) != 0, row.pagableAfter);
        EXPECT_EQ(SimOutstandingHolds(disk), 0u) << "the completion routine gives the hold back";
    }
}

TEST_F(SimStack, PowerRequestsPassDownUnchanged) {
    const int disk = PlugAndStart(Usb());
    EXPECT_EQ(SimPower(disk).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimCounters(disk).Power, 1u);
    EXPECT_EQ(SimStartNextPowerCalls(), 1u);
}

// ---------------------------------------------------------------------------
// The control interface through the dispatch routine
// ---------------------------------------------------------------------------

TEST_F(SimStack, ProbeAnswersOnlyAFourByteBuffer) {
    const int disk = PlugAndStart(Usb());
    uint32_t reply[2] = {0, 0};
    SimRequestResult r = Control(disk, IOCTL_WP_PROBE, 0, 4, reply, false);
    EXPECT_EQ(r.Status, STATUS_SUCCESS);
    EXPECT_EQ(r.Information, 4u);
    EXPECT_EQ(reply[0], WP_MODE_ON);

    reply[0] = 0;
    r = Control(disk, IOCTL_WP_PROBE, 0, 8, reply, false);
    EXPECT_EQ(r.Status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(r.Information, 0u);
    EXPECT_EQ(reply[0], 0u);
    EXPECT_EQ(SimCounters(disk).OtherControls, 0u) << "control codes never reach the disk";

    // A kernel-built request may say 4 and carry no buffer at all.
    r = Control(disk, IOCTL_WP_DRIVE_UNPROTECT, 0, 4, nullptr, true, SIM_CONTROL_NO_BUFFER);
    EXPECT_EQ(r.Status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(r.Information, 0u);
    EXPECT_EQ(SimWrite(disk, 512).Status, STATUS_ACCESS_DENIED) << "the disk stays protected";
}

// Switching protection takes an administrator's thread, and then a write handle or
// a kernel-mode sender. A device above may pass a user's request on as its own
// kernel request: the thread's token still says who asked, if it issued the request at
// PASSIVE_LEVEL (the fixture fails on a token query above it).
TEST_F(SimStack, OnlyAnAdministratorsThreadMaySwitchProtection) {
    const int usb = PlugAndStart(Usb());
    const int belowVolume = PlugAndStart(Usb());
    SimAttachAbove(belowVolume, 0);
    struct Row {
        const char* name;
        SimToken token;
        bool kernelMode;
        uint8_t flags;
        bool forwarded;
        bool honoured;
    } rows[] = {
        {"StandardUserWithoutWriteAccess", SIM_TOKEN_STANDARD_USER, false, 0, false, false},
        {"StandardUserWriteHandle", SIM_TOKEN_STANDARD_USER, false, SIM_CONTROL_WRITE_ACCESS, false,
         false},
        {"StandardUserForwardedAsKernelRequest", SIM_TOKEN_STANDARD_USER, false, 0, true, false},
        {"AdministratorWithoutWriteAccess", SIM_TOKEN_ADMINISTRATOR, false, 0, false, false},
        {"AdministratorWriteHandle", SIM_TOKEN_ADMINISTRATOR, false, SIM_CONTROL_WRITE_ACCESS,
         false, true},
        {"AdministratorForwardedAsKernelRequest", SIM_TOKEN_ADMINISTRATOR, false, 0, true, true},
        {"SystemThreadKernelRequest", SIM_TOKEN_SYSTEM, true, 0, false, true},
        {"AdministratorImpersonatedAtIdentificationLevel",
         SIM_TOKEN_ADMINISTRATOR_AT_IDENTIFICATION, false, SIM_CONTROL_WRITE_ACCESS, false, false},
        {"AdministratorImpersonatedAtImpersonationLevel", SIM_TOKEN_ADMINISTRATOR_AT_IMPERSONATION,
         false, SIM_CONTROL_WRITE_ACCESS, false, true},
        {"SystemThreadKernelRequestAtApcLevel", SIM_TOKEN_SYSTEM, true, SIM_CONTROL_APC_LEVEL,
         false, false},
        {"StandardUserCarriedOnByASystemWorker", SIM_TOKEN_STANDARD_USER, false,
         SIM_CONTROL_WRITE_ACCESS | SIM_CONTROL_BY_WORKER, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int disk = row.forwarded ? belowVolume : usb;
        const int32_t expected = row.honoured ? STATUS_SUCCESS : STATUS_ACCESS_DENIED;
        SimRunAs(row.token);
        uint32_t word = 0;
        EXPECT_EQ(
            Control(disk, IOCTL_WP_DRIVE_UNPROTECT, 0, 4, &word, row.kernelMode, row.flags).Status,
            expected);
        EXPECT_EQ(SimWrite(disk, 512).Status, expected);
        EXPECT_EQ(SetMode(disk, WP_MODE_OFF, row.kernelMode, row.flags).Status, expected);
        EXPECT_EQ(GetMode(disk), row.honoured ? WP_MODE_OFF : WP_MODE_ON) << "open to every handle";

        SimRunAs(SIM_TOKEN_SYSTEM);
        ASSERT_EQ(SetMode(disk, WP_MODE_ON, true, 0).Status, STATUS_SUCCESS);
        ASSERT_EQ(Control(disk, IOCTL_WP_DRIVE_PROTECT, 0, 4, &word, true).Status, STATUS_SUCCESS);
    }
}

TEST_F(SimStack, ModeOffFreesEveryDiskAndModeOnRestoresThem) {
    const int a = PlugAndStart(Usb());
    const int b = PlugAndStart(Usb());
    const int sata = PlugAndStart(Sata());
    EXPECT_EQ(SetMode(sata, WP_MODE_OFF, true, false).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimWrite(a, 512).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimWrite(b, 512).Status, STATUS_SUCCESS);
    EXPECT_EQ(GetMode(a), WP_MODE_OFF);

    EXPECT_EQ(SetMode(a, 0, true, false).Status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(GetMode(b), WP_MODE_OFF) << "an invalid word leaves the mode alone";

    EXPECT_EQ(SetMode(b, WP_MODE_ON, true, false).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimWrite(a, 512).Status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(SimWrite(b, 512).Status, STATUS_ACCESS_DENIED);
}

TEST_F(SimStack, UnprotectingOneDiskLeavesTheOthersProtected) {
    const int a = PlugAndStart(Usb());
    const int b = PlugAndStart(Usb());
    uint32_t word = 0;
    const SimRequestResult r = Control(a, IOCTL_WP_DRIVE_UNPROTECT, 0, 4, &word, true);
    EXPECT_EQ(r.Status, STATUS_SUCCESS);
    EXPECT_EQ(word, WP_MODE_ON);
    EXPECT_EQ(SimWrite(a, 512).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimWrite(b, 512).Status, STATUS_ACCESS_DENIED);

    EXPECT_EQ(Control(a, IOCTL_WP_DRIVE_PROTECT, 0, 4, &word, true).Status, STATUS_SUCCESS);
    EXPECT_EQ(SimWrite(a, 512).Status, STATUS_ACCESS_DENIED);
}

// ---------------------------------------------------------------------------
// Removal against requests in flight
// ---------------------------------------------------------------------------

void WaitFor(const char* what, bool (*condition)(int), int disk) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition(disk)) {
        ASSERT_LT(std::chrono::steady_clock::now(), limit) << "gave up waiting for " << what;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST_F(SimStack, RemovalWaitsForWritesInFlightAndRefusesNewRequests) {
    const int disk = PlugAndStart(Sata());
    SimHoldWritesAtDisk(disk, 1);
    std::vector<int> writes;
    for (int i = 0; i < 3; ++i) {
        writes.push_back(SimStartWrite(disk, 512));
    }
    WaitFor(
        "three writes at the disk", [](int d) { return SimWritesWaitingAtDisk(d) == 3; }, disk);
    EXPECT_EQ(SimOutstandingHolds(disk), 3u);

    SimPnp(disk, IRP_MN_SURPRISE_REMOVAL);
    const int removal = SimStartPnp(disk, IRP_MN_REMOVE_DEVICE);
    WaitFor(
        "the removal to begin", [](int d) { return SimFilter(d).RemovalBegun != 0; }, disk);

    // Requests arriving now are completed with the lock's status, not passed down.
    EXPECT_EQ(SimWrite(disk, 512).Status, kStatusDeletePending);
    EXPECT_EQ(SimPower(disk).Status, kStatusDeletePending);
    EXPECT_EQ(SimStartNextPowerCalls(), 1u);
    EXPECT_EQ(SimPnp(disk, IRP_MN_QUERY_STOP_DEVICE).Status, kStatusDeletePending);
    EXPECT_EQ(Control(disk, IOCTL_WP_PROBE, 0, 4, nullptr, false).Status, kStatusDeletePending);
    EXPECT_EQ(SimCounters(disk).Power, 0u);
    EXPECT_TRUE(SimFilter(disk).Exists) << "the filter must outlive the writes in flight";

    SimHoldWritesAtDisk(disk, 0);
    for (int job : writes) {
        EXPECT_EQ(SimJoin(job).Status, STATUS_SUCCESS);
    }
    EXPECT_EQ(SimJoin(removal).Status, STATUS_SUCCESS);
    EXPECT_TRUE(SimFilter(disk).Deleted);
    EXPECT_EQ(SimCounters(disk).Writes, 3u);
}

TEST_F(SimStack, RemovalRacingWritesNeverTouchesADeletedDevice) {
    for (int round = 0; round < 200; ++round) {
        const int disk = PlugAndStart(round % 2 ? Usb() : Sata());
        std::vector<int> writers;
        for (int i = 0; i < 4; ++i) {
            writers.push_back(SimStartWrite(disk, 512));
        }
        const int removal = SimStartPnp(disk, IRP_MN_REMOVE_DEVICE);
        for (int job : writers) {
            const int32_t status = SimJoin(job).Status;
            EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_ACCESS_DENIED ||
                        status == kStatusDeletePending)
                << std::hex << status;
        }
        EXPECT_EQ(SimJoin(removal).Status, STATUS_SUCCESS);
        ASSERT_TRUE(SimFilter(disk).Deleted) << "round " << round;
        ASSERT_EQ(SimViolations(), 0u) << "round " << round << ": " << SimLastViolation();
    }
}

TEST_F(SimStack, WritesAllocateNothing) {
    const int usb = PlugAndStart(Usb());
    const int sata = PlugAndStart(Sata());
    const uint32_t before = SimAllocations();
    for (int i = 0; i < 100; ++i) {
        SimWrite(usb, 512);
        SimWrite(sata, 512);
        SimRead(usb, 512);
    }
    EXPECT_EQ(SimAllocations(), before);
}

} // namespace
