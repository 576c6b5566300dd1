// The filter device's extension and the routines the driver's sources share.
#pragma once

#include "kernel.h"

// Per-disk record of a filter device; zero-filled when the device is created.
struct FilterExtension {
    uint32_t Kind;              // 1 once the device is added
    PDEVICE_OBJECT Self;        // the filter device itself
    PDEVICE_OBJECT LowerDevice; // every request is passed to it
    int32_t PnpState;
    int32_t PriorPnpState; // restored by a cancel
    IO_REMOVE_LOCK RemoveLock;
    DriveState Drive; // StorageHeader, SubjectToPolicy, ProtectOn
};

// The decisions read the storage descriptor through the platform-free record.
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == sizeof(StorageDescriptorHeader),
              "fixed part of STORAGE_DEVICE_DESCRIPTOR");
static_assert(FIELD_OFFSET(STORAGE_DEVICE_DESCRIPTOR, BusType) ==
                  offsetof(StorageDescriptorHeader, BusType),
              "STORAGE_DEVICE_DESCRIPTOR.BusType");
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == sizeof(StoragePropertyQuery),
              "STORAGE_PROPERTY_QUERY");
static_assert(BusTypeUsb == STORAGE_BUS_TYPE_USB, "BusTypeUsb");
static_assert(SecurityImpersonation == SECURITY_LEVEL_IMPERSONATION, "SecurityImpersonation");
static_assert(sizeof(KEY_VALUE_PARTIAL_INFORMATION) - 4 == MARKER_PARTIAL_INFO_HEADER_BYTES,
              "KEY_VALUE_PARTIAL_INFORMATION header");

constexpr uint32_t FILTER_EXTENSION_KIND = 1;
// Allocation tag "TFil", as the bytes read in memory.
constexpr ULONG REMOVE_LOCK_TAG = 'T' | 'F' << 8 | 'i' << 16 | static_cast<ULONG>('l') << 24;
constexpr ULONG REMOVE_LOCK_MAX_MINUTES = 1;
constexpr ULONG REMOVE_LOCK_HIGH_WATERMARK = 100;

// Driver-wide mode word: WP_MODE_ON at every load, never persisted.
extern volatile uint32_t GlobalMode;

inline FilterExtension* ExtensionOf(PDEVICE_OBJECT device) {
    return static_cast<FilterExtension*>(device->DeviceExtension);
}

// Completes a request this driver answers itself.
inline NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Skips our stack location and hands the request to the lower device.
inline NTSTATUS PassDown(FilterExtension* ext, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IofCallDriver(ext->LowerDevice, irp);
}

void ClassifyDrive(PDEVICE_OBJECT physicalDevice, FilterExtension* ext);
// Called once by DriverEntry, at PASSIVE_LEVEL, before any request can arrive.
void FindIrqlReader();
NTSTATUS QueryStorageHeader(PDEVICE_OBJECT filterDevice);

extern "C" {
DRIVER_INITIALIZE DriverEntry;
}
DRIVER_ADD_DEVICE FilterAddDevice;
DRIVER_UNLOAD FilterUnload;
DRIVER_DISPATCH DispatchPassThrough;
DRIVER_DISPATCH DispatchWrite;
DRIVER_DISPATCH DispatchDeviceControl;
DRIVER_DISPATCH DispatchPower;
DRIVER_DISPATCH DispatchPnp;
