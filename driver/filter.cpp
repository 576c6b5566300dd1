// quilldrv's life cycle: entry, adding a filter device above each disk, learning
// what the policy needs at add and start, the PnP requests and unload.
#include "filter.h"

volatile uint32_t GlobalMode = WP_MODE_ON;

static_assert(IRP_MJ_MAXIMUM_FUNCTION == 0x1b, "28 dispatch entries");

constexpr ULONG MARKER_KEY_ACCESS = KEY_READ | KEY_WRITE;
static_assert(MARKER_KEY_ACCESS == 0x0002001F, "marker key access mask");

static NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);
static NTSTATUS NTAPI UsageNotificationCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNREFERENCED_PARAMETER(registryPath);
    FindIrqlReader();
    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        driver->MajorFunction[i] = DispatchPassThrough;
    }
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->DriverExtension->AddDevice = FilterAddDevice;
    driver->DriverUnload = FilterUnload;
    return STATUS_SUCCESS;
}

// Reads the exemption marker under the disk's device hardware key. Any failure
// leaves the disk under the policy.
void ClassifyDrive(PDEVICE_OBJECT physicalDevice, FilterExtension* ext) {
    ext->Drive.SubjectToPolicy = 1;
    ext->Drive.ProtectOn = 1;

    HANDLE key = nullptr;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(physicalDevice, PLUGPLAY_REGKEY_DEVICE,
                                            MARKER_KEY_ACCESS, &key))) {
        return;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, MARKER_VALUE_NAME);
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[MARKER_QUERY_BUFFER_BYTES];
    } value;
    ULONG returned = 0;
    const NTSTATUS status =
        ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof value, &returned);
    ext->Drive.SubjectToPolicy =
        ClassifyMarker(status, value.info.Data, NT_SUCCESS(status) ? value.info.DataLength : 0);
    ZwClose(key);
}

// Asks the lower device for its storage descriptor; only a success replaces the
// one kept from the previous start.
NTSTATUS QueryStorageHeader(PDEVICE_OBJECT filterDevice) {
    FilterExtension* ext = ExtensionOf(filterDevice);
    STORAGE_DEVICE_DESCRIPTOR header;
    RtlZeroMemory(&header, sizeof header);
    STORAGE_PROPERTY_QUERY query;
    RtlZeroMemory(&query, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io;
    PIRP irp =
        IoBuildDeviceIoControlRequest(IOCTL_STORAGE_QUERY_PROPERTY, ext->LowerDevice, &query,
                                      sizeof query, &header, sizeof header, FALSE, &done, &io);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = IofCallDriver(ext->LowerDevice, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = io.Status;
    }
    if (NT_SUCCESS(status)) {
        RtlCopyMemory(&ext->Drive.StorageHeader, &header, sizeof header);
    }
    return status;
}

NTSTATUS NTAPI FilterAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice) {
    DEVICE_TYPE type = FILE_DEVICE_UNKNOWN;
    if (IoIsWdmVersionAvailable(1, 0x20)) {
        PDEVICE_OBJECT top = IoGetAttachedDeviceReference(physicalDevice);
        type = top->DeviceType;
        ObfDereferenceObject(top);
    }

    PDEVICE_OBJECT filter = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(FilterExtension), nullptr, type,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &filter);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    FilterExtension* ext = ExtensionOf(filter);
    RtlZeroMemory(ext, sizeof *ext);
    ClassifyDrive(physicalDevice, ext);
    ext->Kind = FILTER_EXTENSION_KIND;

    ext->LowerDevice = IoAttachDeviceToDeviceStack(filter, physicalDevice);
    if (ext->LowerDevice == nullptr) {
        IoDeleteDevice(filter);
        return STATUS_UNSUCCESSFUL;
    }
    filter->Flags |= ext->LowerDevice->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO | DO_POWER_PAGABLE);
    filter->DeviceType = ext->LowerDevice->DeviceType;
    filter->Characteristics = ext->LowerDevice->Characteristics;

    ext->Self = filter;
    IoInitializeRemoveLock(&ext->RemoveLock, REMOVE_LOCK_TAG, REMOVE_LOCK_MAX_MINUTES,
                           REMOVE_LOCK_HIGH_WATERMARK);
    ext->PnpState = PnpNotStarted;
    ext->PriorPnpState = PnpNotStarted;
    filter->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void ApplyPnpStates(FilterExtension* ext, const PnpDecision& decision) {
    ext->PnpState = decision.PnpState;
    ext->PriorPnpState = decision.PriorPnpState;
}

// Lets the lower drivers start the disk first, then learns its bus. Completes the
// request and gives back the hold that DispatchPnp took.
static NTSTATUS FilterStartDevice(PDEVICE_OBJECT device, PIRP irp) {
    FilterExtension* ext = ExtensionOf(device);
    KEVENT lowerDone;
    KeInitializeEvent(&lowerDone, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, StartCompletion, &lowerDone, TRUE, TRUE, TRUE);

    NTSTATUS status = IofCallDriver(ext->LowerDevice, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&lowerDone, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    if (NT_SUCCESS(status)) {
        QueryStorageHeader(device);
        ApplyPnpStates(ext, DecidePnp(IRP_MN_START_DEVICE, ext->PnpState, ext->PriorPnpState));
        if (ext->LowerDevice->Characteristics & FILE_REMOVABLE_MEDIA) {
            device->Characteristics |= FILE_REMOVABLE_MEDIA;
        }
    }
    CompleteRequest(irp, status);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}

// Hands the request back to FilterStartDevice whether or not it pended.
static NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    UNREFERENCED_PARAMETER(device);
    if (irp->PendingReturned) {
        KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Waits for every request in our routines, passes the removal down, then detaches
// and deletes the filter device: nothing can touch the extension afterwards.
static NTSTATUS RemoveDevice(PDEVICE_OBJECT device, PIRP irp, const PnpDecision& removed) {
    FilterExtension* ext = ExtensionOf(device);
    IoReleaseRemoveLockAndWait(&ext->RemoveLock, irp);
    const NTSTATUS status = PassDown(ext, irp);
    ApplyPnpStates(ext, removed);
    IoDetachDevice(ext->LowerDevice);
    IoDeleteDevice(device);
    return status;
}

// The filter must be pageable exactly when the devices around it allow it. The
// hold is given back in the completion routine.
static NTSTATUS ForwardUsageNotification(PDEVICE_OBJECT device, PIRP irp) {
    FilterExtension* ext = ExtensionOf(device);
    if (device->AttachedDevice == nullptr || (device->AttachedDevice->Flags & DO_POWER_PAGABLE)) {
        device->Flags |= DO_POWER_PAGABLE;
    }
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, UsageNotificationCompletion, nullptr, TRUE, TRUE, TRUE);
    return IofCallDriver(ext->LowerDevice, irp);
}

static NTSTATUS NTAPI UsageNotificationCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    UNREFERENCED_PARAMETER(context);
    FilterExtension* ext = ExtensionOf(device);
    if (irp->PendingReturned) {
        IoMarkIrpPending(irp);
    }
    if (!(ext->LowerDevice->Flags & DO_POWER_PAGABLE)) {
        device->Flags &= ~DO_POWER_PAGABLE;
    }
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return STATUS_SUCCESS;
}

// Holds the remove lock from entry until the request has left this driver; start,
// removal and usage notification have their own paths, everything else is
// bookkeeping and passes down.
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    FilterExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) {
        return CompleteRequest(irp, status);
    }
    const PnpDecision decision = DecidePnp(IoGetCurrentIrpStackLocation(irp)->MinorFunction,
                                           ext->PnpState, ext->PriorPnpState);
    switch (decision.Action) {
    case PNP_START:
        return FilterStartDevice(device, irp);
    case PNP_REMOVE:
        return RemoveDevice(device, irp, decision);
    case PNP_USAGE_NOTIFICATION:
        return ForwardUsageNotification(device, irp);
    case PNP_PASS_DOWN:
        break;
    }
    ApplyPnpStates(ext, decision);
    if (decision.SetsStatus) {
        irp->IoStatus.Status = decision.Status;
    }
    status = PassDown(ext, irp);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}

// Every filter device is gone by now: its removal request deleted it.
VOID NTAPI FilterUnload(PDRIVER_OBJECT driver) {
    UNREFERENCED_PARAMETER(driver);
}
