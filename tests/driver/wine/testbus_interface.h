/* The test bus driver's control interface, shared by qgtestbus.sys and the
 * user-mode tests. Plain C with fixed-width types: the kernel side includes the
 * DDK, the user side <windows.h>, never both. */
#pragma once

#include <stdint.h>

/* Names of the bus's control device; disk N's PDO is QgTestDiskN. */
#define QG_TESTBUS_DEVICE_NAME L"\\Device\\QgTestBus"
#define QG_TESTBUS_LINK_NAME L"\\DosDevices\\QgTestBus"
#define QG_TESTBUS_USER_PATH L"\\\\.\\QgTestBus"
#define QG_TESTDISK_DEVICE_FORMAT L"\\Device\\QgTestDisk%u"
#define QG_TESTDISK_LINK_FORMAT L"\\DosDevices\\QgTestDisk%u"
#define QG_TESTDISK_USER_FORMAT L"\\\\.\\QgTestDisk%u"
/* The device id every disk reports; the instance id is the test's choice. */
#define QG_TESTDISK_DEVICE_ID L"QGTESTBUS\\DISK"
#define QG_TESTBUS_SERVICE L"qgtestbus"

#define QG_TESTBUS_SLOTS 8
#define QG_TESTBUS_INSTANCE_CHARS 32
#define QG_TESTDISK_BYTES 4096 /* each disk's medium */
/* IOCTL_STORAGE_GET_DEVICE_NUMBER: disk N is number 10 + N, partition 0. */
#define QG_TESTDISK_FIRST_NUMBER 10
/* Vendor and product strings of the storage descriptor, with their zero. */
#define QG_TESTDISK_ID_CHARS 24

/* FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS. */
#define QG_TESTBUS_CODE(function) ((0x22u << 16) | ((uint32_t)(function) << 2))
#define IOCTL_QGBUS_PLUG QG_TESTBUS_CODE(0x901)        /* in: QgPlugRequest */
#define IOCTL_QGBUS_UNPLUG QG_TESTBUS_CODE(0x902)      /* in: uint32_t slot */
#define IOCTL_QGBUS_DISK_STATE QG_TESTBUS_CODE(0x903)  /* in: slot; out: QgDiskState */
#define IOCTL_QGBUS_CHANGE_DISK QG_TESTBUS_CODE(0x904) /* in: QgDiskSettings */
#define IOCTL_QGBUS_POWER QG_TESTBUS_CODE(0x905)       /* in: slot; out: QgKernelResult */
#define IOCTL_QGBUS_STOP_START QG_TESTBUS_CODE(0x906)  /* in: slot; out: QgKernelResult */
#define IOCTL_QGBUS_CONTROL QG_TESTBUS_CODE(0x907) /* in: QgControlRequest; out: QgKernelResult */
/* out: uint32_t, the devices of \Driver\quilldrv alive; ask only while no disk
 * is being removed, as the list is walked without the PnP manager's lock */
#define IOCTL_QGBUS_QUILLDRV_DEVICES QG_TESTBUS_CODE(0x908)
/* out: uint32_t, BusScans before; asks the PnP manager to enumerate the bus
 * again. It enumerates one request at a time, so once BusScans has grown, every
 * earlier plug or unplug has been carried out completely. */
#define IOCTL_QGBUS_RESCAN QG_TESTBUS_CODE(0x909)
/* in: uint32_t, 0: ask in the thread that handles this request, 1: in a kernel
 * request the bus sends itself; out: QgSecurityContext. Wine 8 ends the device
 * host instead of answering (see testbus.cpp) */
#define IOCTL_QGBUS_SECURITY QG_TESTBUS_CODE(0x90A)
/* in: slot. Registers and enables the disk's GUID_DEVINTERFACE_DISK interface. The
 * rig asks once the stack has started: Wine's IoRegisterDeviceInterface, called
 * inside a start request, re-enters the stack. The removal disables it. */
#define IOCTL_QGBUS_ENABLE_INTERFACE QG_TESTBUS_CODE(0x90B)

/* What a disk reports and how it fails; changed by IOCTL_QGBUS_CHANGE_DISK for
 * the requests that come after. */
struct QgDiskSettings {
    uint32_t Slot;
    uint32_t BusType;                    /* STORAGE_BUS_TYPE the storage query reports */
    uint8_t FailStorageQuery;            /* the storage query fails */
    uint8_t FailStart;                   /* IRP_MN_START_DEVICE fails */
    uint8_t FixedMedia;                  /* the storage descriptor reports fixed media */
    uint8_t WriteProtected;              /* the medium: the writability query and writes fail */
    char VendorId[QG_TESTDISK_ID_CHARS]; /* empty: the descriptor names none */
    char ProductId[QG_TESTDISK_ID_CHARS];
};

struct QgPlugRequest {
    struct QgDiskSettings Settings;
    wchar_t InstanceId[QG_TESTBUS_INSTANCE_CHARS]; /* QGTESTBUS\DISK\<this> */
};

/* What reached one disk's PDO, and what sits above it. QuilldrvOnTop and
 * TopStarted are looked at only while the disk is plugged in: once it is
 * unplugged, its stack may be torn down at any moment. */
struct QgDiskState {
    uint8_t Present;       /* reported to the PnP manager */
    uint8_t Exists;        /* the PDO exists (until its removal request) */
    uint8_t QuilldrvOnTop; /* the top of the stack is a device of \Driver\quilldrv */
    uint8_t TopStarted;    /* the top device has taken on FILE_REMOVABLE_MEDIA, which
                              the disk sets only at start: the filter's start is done */
    uint32_t Starts;       /* start requests that reached the disk */
    uint32_t Stops;
    uint32_t SurpriseRemovals;
    uint32_t Removals;
    uint32_t Reads;
    uint32_t Writes;
    uint32_t StorageQueries;
    uint32_t WritableQueries;
    uint32_t OtherControls;
    uint32_t Power;
    uint32_t BusScans; /* bus relation queries of the PnP manager, all disks together */
};

struct QgControlRequest {
    uint32_t Slot;
    uint32_t Code;
    uint32_t InputLength;  /* at most 8 */
    uint32_t OutputLength; /* at most 8 */
    uint32_t Word;         /* the input word */
};

/* The outcome of a request the bus sent to the top of a disk's stack. */
struct QgKernelResult {
    int32_t Status;
    uint32_t Information;
    uint32_t Word; /* the first word of the reply */
    uint32_t Reserved;
};

/* SeCaptureSubjectContext, then SeTokenIsAdmin on its token (the client token when
 * there is one, else the primary token), as quilldrv asks them. */
struct QgSecurityContext {
    uint8_t ClientToken;  /* the captured context has a client token */
    uint8_t PrimaryToken; /* ... and a primary token */
    uint8_t IsAdmin;      /* SeTokenIsAdmin's answer */
    uint8_t Reserved;
    uint32_t ImpersonationLevel;
};
