// qgtestbus.sys: a small bus driver for the tests in Wine's kernel. Its control
// device doubles as the bus: it reports up to eight simulated disks to the PnP
// manager, each a PDO that answers the requests a disk stack's filter sees, and
// it sends the requests Wine never sends on its own (stop, start, power,
// kernel-mode control codes) to the top of a disk's stack. It also does for
// quilldrv what Wine's I/O manager leaves undone: marking write access on device
// controls, and answering the token queries.

// mingw-w64's intrinsic headers and the DDK both define these in C++.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

#include <ntifs.h> // ntddk.h, ObReferenceObjectByName and the token queries
#include <ntdddisk.h>
#include <ntddstor.h>
#include <ntimage.h>

#include "testbus_interface.h"

extern "C" {
DRIVER_INITIALIZE DriverEntry;
// Exported by ntoskrnl, declared by no DDK header.
NTSYSAPI NTSTATUS NTAPI ZwQuerySystemInformation(ULONG informationClass, PVOID information,
                                                 ULONG length, PULONG returned);
}

namespace {

constexpr ULONG POOL_TAG = 'Q' | 'g' << 8 | 'B' << 16 | static_cast<ULONG>('s') << 24;

struct Disk {
    PDEVICE_OBJECT Pdo; // null once its removal request deleted it
    volatile LONG Present;
    QgDiskSettings Settings;
    wchar_t InstanceId[QG_TESTBUS_INSTANCE_CHARS];
    UNICODE_STRING Interface; // the enabled disk interface's link; no buffer when none
    volatile LONG Starts, Stops, SurpriseRemovals, Removals, Reads, Writes, StorageQueries,
        WritableQueries, OtherControls, Power;
    UCHAR Medium[QG_TESTDISK_BYTES];
};

// Written by the control thread (plug, unplug) and the PnP manager's thread
// (removal); a PDO is published only once it is complete.
Disk Disks[QG_TESTBUS_SLOTS];
PDEVICE_OBJECT BusDevice;
volatile LONG BusScans;

enum DeviceKind : ULONG { KIND_BUS = 0x42757321, KIND_DISK = 0x4469736b };

struct DiskExtension {
    ULONG Kind;
    ULONG Slot;
};

struct BusExtension {
    ULONG Kind;
};

ULONG KindOf(PDEVICE_OBJECT device) {
    return *static_cast<ULONG*>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Completes a PnP request the device has nothing to say to, with the status it came with.
NTSTATUS CompleteUnchanged(PIRP irp) {
    const NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void FormatName(wchar_t* buffer, size_t capacity, const wchar_t* format, ULONG slot) {
    // One decimal digit: there are eight slots.
    size_t out = 0;
    for (const wchar_t* p = format; *p != 0 && out + 1 < capacity; ++p) {
        if (p[0] == L'%' && p[1] == L'u') {
            buffer[out++] = static_cast<wchar_t>(L'0' + slot);
            ++p;
        } else {
            buffer[out++] = *p;
        }
    }
    buffer[out] = 0;
}

// A string in pool memory, as the PnP manager frees IDs with ExFreePool; `count`
// characters including every terminator.
wchar_t* PoolString(const wchar_t* text, size_t count) {
    auto* copy =
        static_cast<wchar_t*>(ExAllocatePoolWithTag(PagedPool, count * sizeof(wchar_t), POOL_TAG));
    if (copy != nullptr) {
        RtlCopyMemory(copy, text, count * sizeof(wchar_t));
    }
    return copy;
}

size_t Length(const wchar_t* text) {
    size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

// ---------------------------------------------------------------------------
// What Wine's kernel leaves to the drivers: token queries and write access
// ---------------------------------------------------------------------------

bool IsQuilldrvDevice(PDEVICE_OBJECT device) {
    UNICODE_STRING quilldrv;
    RtlInitUnicodeString(&quilldrv, L"\\Driver\\quilldrv");
    return RtlEqualUnicodeString(&device->DriverObject->DriverName, &quilldrv, TRUE);
}

// Stand-ins for the three, which quilldrv's imports are pointed at. Requests reach
// quilldrv in a thread of the device host, which on Windows would act for the test
// program (run by an administrator) or be a system thread: either token holds the
// Administrators group. Who else may switch protection is the simulated I/O
// manager's to test.
UCHAR StandInToken;

VOID NTAPI StandInCaptureSubjectContext(PSECURITY_SUBJECT_CONTEXT subject) {
    RtlZeroMemory(subject, sizeof *subject);
    subject->PrimaryToken = &StandInToken;
}

VOID NTAPI StandInReleaseSubjectContext(PSECURITY_SUBJECT_CONTEXT subject) {
    subject->PrimaryToken = nullptr;
}

BOOLEAN NTAPI StandInTokenIsAdmin(PACCESS_TOKEN token) {
    return token == &StandInToken;
}

struct StandIn {
    const char* Name;
    ULONG_PTR Routine;
};

bool SameName(const char* a, const char* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// The start of the image a routine lies in: its pages are mapped from there on.
UCHAR* ImageOf(PVOID routine) {
    auto address = reinterpret_cast<ULONG_PTR>(routine) & ~static_cast<ULONG_PTR>(PAGE_SIZE - 1);
    for (;; address -= PAGE_SIZE) {
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(address);
        if (dos->e_magic == IMAGE_DOS_SIGNATURE && dos->e_lfanew > 0 && dos->e_lfanew < 0x1000 &&
            reinterpret_cast<const IMAGE_NT_HEADERS*>(address + dos->e_lfanew)->Signature ==
                IMAGE_NT_SIGNATURE) {
            return reinterpret_cast<UCHAR*>(address);
        }
    }
}

// Points the imports of the token queries in the image that holds `routine` at the
// stand-ins.
void StandInForTokenQueries(PVOID routine) {
    static const StandIn standIns[] = {
        {"SeCaptureSubjectContext", reinterpret_cast<ULONG_PTR>(StandInCaptureSubjectContext)},
        {"SeReleaseSubjectContext", reinterpret_cast<ULONG_PTR>(StandInReleaseSubjectContext)},
        {"SeTokenIsAdmin", reinterpret_cast<ULONG_PTR>(StandInTokenIsAdmin)},
    };
    UCHAR* image = ImageOf(routine);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* dll = reinterpret_cast<PIMAGE_IMPORT_DESCRIPTOR>(image + imports.VirtualAddress);
         dll->Name != 0; ++dll) {
        auto* names = reinterpret_cast<PIMAGE_THUNK_DATA>(image + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<PIMAGE_THUNK_DATA>(image + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(image + names->u1.AddressOfData);
            for (const StandIn& standIn : standIns) {
                if (SameName(reinterpret_cast<const char*>(byName->Name), standIn.Name)) {
                    slots->u1.Function = standIn.Routine;
                }
            }
        }
    }
}

// Windows sets SL_WRITE_ACCESS_GRANTED on a program's device control when its handle
// grants write access; Wine never does, and its create requests carry no access
// either. While a create is handled, though, the device host holds a handle to the
// new file with the access the program asked for. So the bus wraps quilldrv's create
// and device-control routines: the first finds that handle among the device host's
// own and marks a file opened for writing (FsContext2 belongs to the driver that
// completes the create, the bus's disk), the second sets the flag on that file's
// device controls before quilldrv sees them.

// SYSTEM_HANDLE_INFORMATION, every handle of every process, as Wine's ntdll fills it.
struct HandleEntry {
    ULONG OwnerPid;
    UCHAR ObjectType;
    UCHAR Attributes;
    USHORT Handle;
    PVOID Object; // Wine leaves it null
    ACCESS_MASK GrantedAccess;
};
struct HandleTable {
    ULONG Count;
    HandleEntry Entries[1];
};
constexpr ULONG SYSTEM_HANDLE_INFORMATION_CLASS = 16;
// Room for a Wine session's handles many times over; a table that does not fit
// counts as no write access.
constexpr ULONG HANDLE_TABLE_ENTRIES = 16384;
ULONG_PTR HandleTableBuffer[(sizeof(HandleTable) + HANDLE_TABLE_ENTRIES * sizeof(HandleEntry)) /
                            sizeof(ULONG_PTR)];
KEVENT HandleTableLock; // a synchronization event, signalled while the buffer is free

// mingw declares the type as a dllimport'ed POBJECT_TYPE*, one indirection more than
// the export: the expression itself is the exported variable's value.
POBJECT_TYPE FileObjectType() {
    return reinterpret_cast<POBJECT_TYPE>(IoFileObjectType);
}

// Whether the device host holds a handle to `file` that grants write access.
bool HostHandleWrites(PFILE_OBJECT file) {
    PROCESS_BASIC_INFORMATION host;
    if (!NT_SUCCESS(ZwQueryInformationProcess(ZwCurrentProcess(), ProcessBasicInformation, &host,
                                              sizeof host, nullptr))) {
        return false;
    }
    bool writes = false;
    KeWaitForSingleObject(&HandleTableLock, Executive, KernelMode, FALSE, nullptr);
    auto* table = reinterpret_cast<HandleTable*>(HandleTableBuffer);
    if (NT_SUCCESS(ZwQuerySystemInformation(SYSTEM_HANDLE_INFORMATION_CLASS, table,
                                            sizeof HandleTableBuffer, nullptr))) {
        for (ULONG i = 0; i < table->Count && i < HANDLE_TABLE_ENTRIES && !writes; ++i) {
            const HandleEntry& entry = table->Entries[i];
            if (entry.OwnerPid != host.UniqueProcessId ||
                !(entry.GrantedAccess & FILE_WRITE_DATA)) {
                continue;
            }
            PVOID object = nullptr;
            if (NT_SUCCESS(ObReferenceObjectByHandle(ULongToHandle(entry.Handle), 0,
                                                     FileObjectType(), KernelMode, &object,
                                                     nullptr))) {
                writes = object == file;
                ObDereferenceObject(object);
            }
        }
    }
    KeSetEvent(&HandleTableLock, IO_NO_INCREMENT, FALSE);
    return writes;
}

UCHAR OpenedForWriting; // its address marks a file in FsContext2
PDRIVER_DISPATCH QuilldrvCreate;
PDRIVER_DISPATCH QuilldrvDeviceControl;

NTSTATUS NTAPI CreateAsWindows(PDEVICE_OBJECT device, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    if (irp->RequestorMode == UserMode && file != nullptr && HostHandleWrites(file)) {
        file->FsContext2 = &OpenedForWriting;
    }
    return QuilldrvCreate(device, irp);
}

NTSTATUS NTAPI DeviceControlAsWindows(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (irp->RequestorMode == UserMode && stack->FileObject != nullptr &&
        stack->FileObject->FsContext2 == &OpenedForWriting) {
        stack->Flags |= SL_WRITE_ACCESS_GRANTED;
    }
    return QuilldrvDeviceControl(device, irp);
}

// Called at every start of a stack that quilldrv tops, before any program can open
// it; a quilldrv loaded anew has its own routines again.
void TakeOverQuilldrv(PDRIVER_OBJECT quilldrv) {
    if (quilldrv->MajorFunction[IRP_MJ_DEVICE_CONTROL] == DeviceControlAsWindows) {
        return;
    }
    QuilldrvCreate = quilldrv->MajorFunction[IRP_MJ_CREATE];
    QuilldrvDeviceControl = quilldrv->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    StandInForTokenQueries(reinterpret_cast<PVOID>(QuilldrvDeviceControl));
    quilldrv->MajorFunction[IRP_MJ_CREATE] = CreateAsWindows;
    quilldrv->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControlAsWindows;
}

// ---------------------------------------------------------------------------
// The disks
// ---------------------------------------------------------------------------

NTSTATUS DiskQueryId(Disk& disk, PIRP irp, BUS_QUERY_ID_TYPE type) {
    const wchar_t* text = nullptr;
    size_t count = 0;
    static const wchar_t hardwareIds[] = QG_TESTDISK_DEVICE_ID L"\0";
    static const wchar_t noIds[] = L"\0";
    switch (type) {
    case BusQueryDeviceID:
        text = QG_TESTDISK_DEVICE_ID;
        count = Length(text) + 1;
        break;
    case BusQueryInstanceID:
        text = disk.InstanceId;
        count = Length(text) + 1;
        break;
    case BusQueryHardwareIDs:
        text = hardwareIds;
        count = sizeof hardwareIds / sizeof(wchar_t);
        break;
    case BusQueryCompatibleIDs:
        // None: no installer of Wine's must pick a driver for these disks.
        text = noIds;
        count = sizeof noIds / sizeof(wchar_t);
        break;
    default:
        return CompleteUnchanged(irp);
    }
    wchar_t* id = PoolString(text, count);
    if (id == nullptr) {
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    return Complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(id));
}

// {53f56307-b6bf-11d0-94f2-00a0c91efb8b}, GUID_DEVINTERFACE_DISK.
constexpr GUID DiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

NTSTATUS EnableInterface(ULONG slot) {
    if (slot >= QG_TESTBUS_SLOTS || !Disks[slot].Present || Disks[slot].Pdo == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    Disk& disk = Disks[slot];
    if (disk.Interface.Buffer != nullptr) {
        return STATUS_SUCCESS;
    }
    NTSTATUS status =
        IoRegisterDeviceInterface(disk.Pdo, &DiskInterfaceClass, nullptr, &disk.Interface);
    if (NT_SUCCESS(status)) {
        status = IoSetDeviceInterfaceState(&disk.Interface, TRUE);
        if (!NT_SUCCESS(status)) {
            RtlFreeUnicodeString(&disk.Interface);
            RtlZeroMemory(&disk.Interface, sizeof disk.Interface);
        }
    }
    return status;
}

// A disk that is going away is no longer listed among the present ones.
void DisableInterface(Disk& disk) {
    if (disk.Interface.Buffer != nullptr) {
        IoSetDeviceInterfaceState(&disk.Interface, FALSE);
        RtlFreeUnicodeString(&disk.Interface);
        RtlZeroMemory(&disk.Interface, sizeof disk.Interface);
    }
}

NTSTATUS DiskPnp(PDEVICE_OBJECT device, Disk& disk, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        InterlockedIncrement(&disk.Starts);
        if (disk.Settings.FailStart) {
            return Complete(irp, STATUS_DEVICE_NOT_READY);
        }
        // Set only now, so the tests can see the filter's own start finish above.
        device->Characteristics |= FILE_REMOVABLE_MEDIA;
        {
            PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device);
            if (top != device && IsQuilldrvDevice(top)) {
                TakeOverQuilldrv(top->DriverObject);
            }
            ObDereferenceObject(top);
        }
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_STOP_DEVICE:
        InterlockedIncrement(&disk.Stops);
        device->Characteristics &= ~FILE_REMOVABLE_MEDIA;
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_SURPRISE_REMOVAL:
        InterlockedIncrement(&disk.SurpriseRemovals);
        DisableInterface(disk);
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE: {
        InterlockedIncrement(&disk.Removals);
        DisableInterface(disk);
        wchar_t link[64];
        FormatName(link, 64, QG_TESTDISK_LINK_FORMAT, static_cast<ULONG>(&disk - Disks));
        UNICODE_STRING linkName;
        RtlInitUnicodeString(&linkName, link);
        IoDeleteSymbolicLink(&linkName);
        Complete(irp, STATUS_SUCCESS);
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&disk.Pdo), nullptr);
        IoDeleteDevice(device);
        return STATUS_SUCCESS;
    }
    case IRP_MN_QUERY_ID:
        return DiskQueryId(disk, irp, stack->Parameters.QueryId.IdType);
    case IRP_MN_QUERY_CAPABILITIES: {
        // Raw: the stack works without a function driver, as the disk itself.
        PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
        caps->RawDeviceOK = 1;
        caps->Removable = !disk.Settings.FixedMedia;
        caps->SurpriseRemovalOK = 1;
        caps->UniqueID = 0;
        caps->Address = static_cast<ULONG>(&disk - Disks);
        return Complete(irp, STATUS_SUCCESS);
    }
    default:
        return CompleteUnchanged(irp);
    }
}

// Windows hands a buffered reply to the caller by copying SystemBuffer back at
// completion. Wine's IoBuildDeviceIoControlRequest shares no buffer: SystemBuffer
// is the caller's input, and the reply must land in UserBuffer itself.
void DeliverReply(PIRP irp, const void* reply, ULONG bytes) {
    void* out = irp->UserBuffer != nullptr && irp->UserBuffer != irp->AssociatedIrp.SystemBuffer
                    ? irp->UserBuffer
                    : irp->AssociatedIrp.SystemBuffer;
    RtlCopyMemory(out, reply, bytes);
}

NTSTATUS DiskStorageQuery(Disk& disk, PIRP irp, PIO_STACK_LOCATION stack) {
    InterlockedIncrement(&disk.StorageQueries);
    if (disk.Settings.FailStorageQuery) {
        return Complete(irp, STATUS_NOT_SUPPORTED);
    }
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const auto* query = static_cast<const STORAGE_PROPERTY_QUERY*>(irp->AssociatedIrp.SystemBuffer);
    if (inLength < 8 || query == nullptr || query->PropertyId != StorageDeviceProperty ||
        query->QueryType != PropertyStandardQuery) {
        return Complete(irp, STATUS_INVALID_PARAMETER);
    }
    if (outLength < sizeof(STORAGE_DESCRIPTOR_HEADER)) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    }
    // The descriptor, then its strings; a caller's shorter buffer gets the start.
    struct {
        STORAGE_DEVICE_DESCRIPTOR Descriptor;
        char Strings[2 * QG_TESTDISK_ID_CHARS];
    } reply;
    RtlZeroMemory(&reply, sizeof reply);
    STORAGE_DEVICE_DESCRIPTOR& descriptor = reply.Descriptor;
    descriptor.Version = sizeof descriptor;
    descriptor.DeviceType = 0; // direct-access device
    descriptor.RemovableMedia = !disk.Settings.FixedMedia;
    descriptor.BusType = static_cast<STORAGE_BUS_TYPE>(disk.Settings.BusType);
    ULONG end = sizeof descriptor;
    auto append = [&](const char* text, ULONG& offset) {
        ULONG length = 0;
        while (length + 1 < QG_TESTDISK_ID_CHARS && text[length] != 0) {
            ++length;
        }
        if (length > 0) {
            offset = end;
            RtlCopyMemory(reinterpret_cast<char*>(&reply) + end, text, length);
            end += length + 1;
        }
    };
    append(disk.Settings.VendorId, descriptor.VendorIdOffset);
    append(disk.Settings.ProductId, descriptor.ProductIdOffset);
    descriptor.Size = end;
    const ULONG bytes = outLength < end ? outLength : end;
    DeliverReply(irp, &reply, bytes);
    return Complete(irp, STATUS_SUCCESS, bytes);
}

// A fixed-size reply to a buffered query.
NTSTATUS Reply(PIRP irp, PIO_STACK_LOCATION stack, const void* reply, ULONG bytes) {
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < bytes) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    }
    DeliverReply(irp, reply, bytes);
    return Complete(irp, STATUS_SUCCESS, bytes);
}

NTSTATUS DiskDeviceControl(Disk& disk, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return DiskStorageQuery(disk, irp, stack);
    case IOCTL_DISK_IS_WRITABLE:
        InterlockedIncrement(&disk.WritableQueries);
        return Complete(irp, disk.Settings.WriteProtected ? STATUS_MEDIA_WRITE_PROTECTED
                                                          : STATUS_SUCCESS);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        STORAGE_DEVICE_NUMBER number;
        number.DeviceType = FILE_DEVICE_DISK;
        number.DeviceNumber = QG_TESTDISK_FIRST_NUMBER + static_cast<ULONG>(&disk - Disks);
        number.PartitionNumber = 0;
        return Reply(irp, stack, &number, sizeof number);
    }
    case IOCTL_DISK_GET_LENGTH_INFO: {
        GET_LENGTH_INFORMATION length;
        length.Length.QuadPart = QG_TESTDISK_BYTES;
        return Reply(irp, stack, &length, sizeof length);
    }
    default:
        InterlockedIncrement(&disk.OtherControls);
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

void* TransferBuffer(PIRP irp) {
    if (irp->MdlAddress != nullptr) {
        return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    }
    return irp->AssociatedIrp.SystemBuffer != nullptr ? irp->AssociatedIrp.SystemBuffer
                                                      : irp->UserBuffer;
}

// Reads and writes address the disk's small medium; one beyond its end starts
// at the beginning, as the tests never care where the bytes go.
NTSTATUS DiskTransfer(Disk& disk, PIRP irp, bool write) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG length = write ? stack->Parameters.Write.Length : stack->Parameters.Read.Length;
    LONGLONG offset = write ? stack->Parameters.Write.ByteOffset.QuadPart
                            : stack->Parameters.Read.ByteOffset.QuadPart;
    InterlockedIncrement(write ? &disk.Writes : &disk.Reads);
    if (length > QG_TESTDISK_BYTES) {
        return Complete(irp, STATUS_INVALID_PARAMETER);
    }
    if (offset < 0 || offset + length > QG_TESTDISK_BYTES) {
        offset = 0;
    }
    if (write && disk.Settings.WriteProtected) {
        return Complete(irp, STATUS_MEDIA_WRITE_PROTECTED);
    }
    UCHAR* buffer = static_cast<UCHAR*>(TransferBuffer(irp));
    if (length > 0 && buffer == nullptr) {
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    if (write) {
        RtlCopyMemory(disk.Medium + offset, buffer, length);
    } else {
        RtlCopyMemory(buffer, disk.Medium + offset, length);
    }
    return Complete(irp, STATUS_SUCCESS, length);
}

NTSTATUS DiskDispatch(PDEVICE_OBJECT device, PIRP irp) {
    Disk& disk = Disks[static_cast<DiskExtension*>(device->DeviceExtension)->Slot];
    switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_FLUSH_BUFFERS:
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MJ_READ:
        return DiskTransfer(disk, irp, false);
    case IRP_MJ_WRITE:
        return DiskTransfer(disk, irp, true);
    case IRP_MJ_DEVICE_CONTROL:
        return DiskDeviceControl(disk, irp);
    case IRP_MJ_POWER:
        InterlockedIncrement(&disk.Power);
        PoStartNextPowerIrp(irp);
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MJ_PNP:
        return DiskPnp(device, disk, irp);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

// ---------------------------------------------------------------------------
// The bus: plugging, unplugging and the requests it sends down a disk's stack
// ---------------------------------------------------------------------------

NTSTATUS Plug(PDRIVER_OBJECT driver, const QgPlugRequest& request) {
    const ULONG slot = request.Settings.Slot;
    if (slot >= QG_TESTBUS_SLOTS) {
        return STATUS_INVALID_PARAMETER;
    }
    Disk& disk = Disks[slot];
    if (disk.Pdo != nullptr) {
        return STATUS_DEVICE_BUSY; // still plugged in, or its removal is not done
    }
    RtlZeroMemory(&disk, sizeof disk);
    disk.Settings = request.Settings;
    RtlCopyMemory(disk.InstanceId, request.InstanceId, sizeof disk.InstanceId);
    disk.InstanceId[QG_TESTBUS_INSTANCE_CHARS - 1] = 0;

    wchar_t name[64], link[64];
    FormatName(name, 64, QG_TESTDISK_DEVICE_FORMAT, slot);
    FormatName(link, 64, QG_TESTDISK_LINK_FORMAT, slot);
    UNICODE_STRING deviceName, linkName;
    RtlInitUnicodeString(&deviceName, name);
    RtlInitUnicodeString(&linkName, link);
    PDEVICE_OBJECT pdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(DiskExtension), &deviceName, FILE_DEVICE_DISK,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &pdo);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* ext = static_cast<DiskExtension*>(pdo->DeviceExtension);
    ext->Kind = KIND_DISK;
    ext->Slot = slot;
    pdo->Flags |= DO_DIRECT_IO | DO_POWER_PAGABLE;
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(pdo);
        return status;
    }
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&disk.Pdo), pdo);
    InterlockedExchange(&disk.Present, 1);
    // The PnP manager enumerates on a thread of its own; the tests poll.
    IoInvalidateDeviceRelations(BusDevice, BusRelations);
    return STATUS_SUCCESS;
}

NTSTATUS Unplug(ULONG slot) {
    if (slot >= QG_TESTBUS_SLOTS || !Disks[slot].Present) {
        return STATUS_INVALID_PARAMETER;
    }
    InterlockedExchange(&Disks[slot].Present, 0);
    IoInvalidateDeviceRelations(BusDevice, BusRelations);
    return STATUS_SUCCESS;
}

// The present disks, each referenced for the PnP manager, which drops them.
NTSTATUS ReportBusRelations(PIRP irp) {
    InterlockedIncrement(&BusScans);
    ULONG count = 0;
    for (const Disk& disk : Disks) {
        count += disk.Present && disk.Pdo != nullptr;
    }
    const SIZE_T bytes = sizeof(DEVICE_RELATIONS) + count * sizeof(PDEVICE_OBJECT);
    auto* relations =
        static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, bytes, POOL_TAG));
    if (relations == nullptr) {
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    relations->Count = 0;
    for (const Disk& disk : Disks) {
        if (disk.Present && disk.Pdo != nullptr && relations->Count < count) {
            ObReferenceObject(disk.Pdo);
            relations->Objects[relations->Count++] = disk.Pdo;
        }
    }
    return Complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(relations));
}

ULONG CountQuilldrvDevices() {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\Driver\\quilldrv");
    PVOID object = nullptr;
    if (!NT_SUCCESS(ObReferenceObjectByName(&name, OBJ_CASE_INSENSITIVE, nullptr, 0, nullptr,
                                            KernelMode, nullptr, &object))) {
        return 0;
    }
    ULONG count = 0;
    for (PDEVICE_OBJECT d = static_cast<PDRIVER_OBJECT>(object)->DeviceObject; d != nullptr;
         d = d->NextDevice) {
        ++count;
    }
    ObDereferenceObject(object);
    return count;
}

void ReadDiskState(ULONG slot, QgDiskState& state) {
    const Disk& disk = Disks[slot];
    RtlZeroMemory(&state, sizeof state);
    state.Present = disk.Present != 0;
    PDEVICE_OBJECT pdo = disk.Pdo;
    state.Exists = pdo != nullptr;
    if (pdo != nullptr && state.Present) {
        PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
        state.QuilldrvOnTop = top != pdo && IsQuilldrvDevice(top);
        state.TopStarted = (top->Characteristics & FILE_REMOVABLE_MEDIA) != 0;
        ObDereferenceObject(top);
    }
    state.Starts = disk.Starts;
    state.Stops = disk.Stops;
    state.SurpriseRemovals = disk.SurpriseRemovals;
    state.Removals = disk.Removals;
    state.Reads = disk.Reads;
    state.Writes = disk.Writes;
    state.StorageQueries = disk.StorageQueries;
    state.WritableQueries = disk.WritableQueries;
    state.OtherControls = disk.OtherControls;
    state.Power = disk.Power;
    state.BusScans = BusScans;
}

NTSTATUS WaitForRequest(PKEVENT done, NTSTATUS status, PIO_STATUS_BLOCK io) {
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(done, Executive, KernelMode, FALSE, nullptr);
        status = io->Status;
    }
    return status;
}

// A PnP request to the top of the stack, as the PnP manager sends them.
NTSTATUS SendPnp(PDEVICE_OBJECT top, UCHAR minor) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io = {};
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, top, nullptr, 0, nullptr, &done, &io);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MinorFunction = minor;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    return WaitForRequest(&done, IoCallDriver(top, irp), &io);
}

// Stop, then start again, as a rebalance would: query-stop, stop, start.
NTSTATUS StopStart(PDEVICE_OBJECT top) {
    NTSTATUS status = SendPnp(top, IRP_MN_QUERY_STOP_DEVICE);
    if (NT_SUCCESS(status)) {
        status = SendPnp(top, IRP_MN_STOP_DEVICE);
    }
    if (NT_SUCCESS(status)) {
        status = SendPnp(top, IRP_MN_START_DEVICE);
    }
    return status;
}

NTSTATUS NTAPI PowerDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    UNREFERENCED_PARAMETER(device);
    UNREFERENCED_PARAMETER(irp);
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// A device power request for D0, which Wine's PnP manager never sends.
NTSTATUS SendPower(PDEVICE_OBJECT top) {
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = IRP_MN_SET_POWER;
    next->Parameters.Power.Type = DevicePowerState;
    next->Parameters.Power.State.DeviceState = PowerDeviceD0;
    IoSetCompletionRoutine(irp, PowerDone, &done, TRUE, TRUE, TRUE);
    if (PoCallDriver(top, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    const NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

// A kernel-mode device control through the whole stack. One buffer serves as
// input and output, so the reply is found whether or not the I/O manager copies
// it back.
void SendControl(PDEVICE_OBJECT top, const QgControlRequest& request, QgKernelResult& result) {
    uint32_t words[2] = {request.Word, 0};
    const ULONG inLength = request.InputLength <= sizeof words ? request.InputLength : sizeof words;
    const ULONG outLength =
        request.OutputLength <= sizeof words ? request.OutputLength : sizeof words;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io = {};
    PIRP irp = IoBuildDeviceIoControlRequest(request.Code, top, words, inLength, words, outLength,
                                             FALSE, &done, &io);
    if (irp == nullptr) {
        result.Status = STATUS_INSUFFICIENT_RESOURCES;
        return;
    }
    result.Status = WaitForRequest(&done, IoCallDriver(top, irp), &io);
    result.Information = static_cast<uint32_t>(io.Information);
    result.Word = words[0];
}

// Wine 8's SeCaptureSubjectContext, SeReleaseSubjectContext and SeTokenIsAdmin
// are unimplemented stubs: a call raises an exception that ends the device host.
// This asks them as quilldrv does, in the thread that handles the program's
// request, or (viaDriver) in a kernel request the bus sends itself, as a driver would.
NTSTATUS AnswerSecurityProbe(PIRP irp, bool viaDriver) {
    QgSecurityContext context;
    RtlZeroMemory(&context, sizeof context);
    if (viaDriver) {
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IO_STATUS_BLOCK io = {};
        uint32_t direct = 0;
        PIRP own =
            IoBuildDeviceIoControlRequest(IOCTL_QGBUS_SECURITY, BusDevice, &direct, sizeof direct,
                                          &context, sizeof context, FALSE, &done, &io);
        if (own == nullptr) {
            return Complete(irp, STATUS_INSUFFICIENT_RESOURCES);
        }
        const NTSTATUS status = WaitForRequest(&done, IoCallDriver(BusDevice, own), &io);
        if (!NT_SUCCESS(status)) {
            return Complete(irp, status);
        }
    } else {
        SECURITY_SUBJECT_CONTEXT subject;
        RtlZeroMemory(&subject, sizeof subject);
        SeCaptureSubjectContext(&subject);
        context.ClientToken = subject.ClientToken != nullptr;
        context.PrimaryToken = subject.PrimaryToken != nullptr;
        context.ImpersonationLevel = subject.ImpersonationLevel;
        context.IsAdmin = SeTokenIsAdmin(subject.ClientToken != nullptr ? subject.ClientToken
                                                                        : subject.PrimaryToken);
        SeReleaseSubjectContext(&subject);
    }
    if (irp->RequestorMode == UserMode) {
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &context, sizeof context);
    } else {
        DeliverReply(irp, &context, sizeof context);
    }
    return Complete(irp, STATUS_SUCCESS, sizeof context);
}

// Runs `send` on the top of the slot's stack, while the disk is plugged in.
template <typename Send> NTSTATUS WithTopOfStack(ULONG slot, Send send) {
    if (slot >= QG_TESTBUS_SLOTS || !Disks[slot].Present || Disks[slot].Pdo == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(Disks[slot].Pdo);
    send(top);
    ObDereferenceObject(top);
    return STATUS_SUCCESS;
}

NTSTATUS BusDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG slot = inLength >= sizeof(uint32_t) ? *static_cast<uint32_t*>(buffer) : ~0u;
    auto replies = [&](ULONG bytes) { return inLength >= sizeof(uint32_t) && outLength == bytes; };

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_QGBUS_PLUG:
        if (inLength != sizeof(QgPlugRequest)) {
            break;
        }
        return Complete(irp, Plug(device->DriverObject, *static_cast<QgPlugRequest*>(buffer)));
    case IOCTL_QGBUS_UNPLUG:
        return Complete(irp, Unplug(slot));
    case IOCTL_QGBUS_CHANGE_DISK:
        if (inLength != sizeof(QgDiskSettings) || slot >= QG_TESTBUS_SLOTS) {
            break;
        }
        Disks[slot].Settings = *static_cast<QgDiskSettings*>(buffer);
        return Complete(irp, STATUS_SUCCESS);
    case IOCTL_QGBUS_DISK_STATE: {
        if (!replies(sizeof(QgDiskState)) || slot >= QG_TESTBUS_SLOTS) {
            break;
        }
        QgDiskState state;
        ReadDiskState(slot, state);
        RtlCopyMemory(buffer, &state, sizeof state);
        return Complete(irp, STATUS_SUCCESS, sizeof state);
    }
    case IOCTL_QGBUS_QUILLDRV_DEVICES: {
        if (outLength != sizeof(uint32_t)) {
            break;
        }
        *static_cast<uint32_t*>(buffer) = CountQuilldrvDevices();
        return Complete(irp, STATUS_SUCCESS, sizeof(uint32_t));
    }
    case IOCTL_QGBUS_RESCAN:
        if (outLength != sizeof(uint32_t)) {
            break;
        }
        *static_cast<uint32_t*>(buffer) = BusScans;
        IoInvalidateDeviceRelations(BusDevice, BusRelations);
        return Complete(irp, STATUS_SUCCESS, sizeof(uint32_t));
    case IOCTL_QGBUS_ENABLE_INTERFACE:
        return Complete(irp, EnableInterface(slot));
    case IOCTL_QGBUS_SECURITY:
        if (inLength != sizeof(uint32_t) || outLength != sizeof(QgSecurityContext)) {
            break;
        }
        return AnswerSecurityProbe(irp, *static_cast<uint32_t*>(buffer) != 0);
    case IOCTL_QGBUS_POWER:
    case IOCTL_QGBUS_STOP_START:
    case IOCTL_QGBUS_CONTROL: {
        if (!replies(sizeof(QgKernelResult))) {
            break;
        }
        const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
        QgControlRequest control = {};
        if (code == IOCTL_QGBUS_CONTROL) {
            if (inLength != sizeof control) {
                break;
            }
            control = *static_cast<QgControlRequest*>(buffer);
        }
        QgKernelResult result = {};
        const NTSTATUS status = WithTopOfStack(slot, [&](PDEVICE_OBJECT top) {
            if (code == IOCTL_QGBUS_POWER) {
                result.Status = SendPower(top);
            } else if (code == IOCTL_QGBUS_STOP_START) {
                result.Status = StopStart(top);
            } else {
                SendControl(top, control, result);
            }
        });
        if (!NT_SUCCESS(status)) {
            return Complete(irp, status);
        }
        RtlCopyMemory(buffer, &result, sizeof result);
        return Complete(irp, STATUS_SUCCESS, sizeof result);
    }
    default:
        break;
    }
    return Complete(irp, STATUS_INVALID_PARAMETER);
}

NTSTATUS BusDispatch(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MJ_DEVICE_CONTROL:
        return BusDeviceControl(device, irp);
    case IRP_MJ_PNP:
        if (stack->MinorFunction == IRP_MN_QUERY_DEVICE_RELATIONS &&
            stack->Parameters.QueryDeviceRelations.Type == BusRelations) {
            return ReportBusRelations(irp);
        }
        return CompleteUnchanged(irp);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    return KindOf(device) == KIND_DISK ? DiskDispatch(device, irp) : BusDispatch(device, irp);
}

// The tests unplug every disk before they stop the bus.
VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    UNREFERENCED_PARAMETER(driver);
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, QG_TESTBUS_LINK_NAME);
    IoDeleteSymbolicLink(&linkName);
    IoDeleteDevice(BusDevice);
    BusDevice = nullptr;
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNREFERENCED_PARAMETER(registryPath);
    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        driver->MajorFunction[i] = Dispatch;
    }
    driver->DriverUnload = Unload;
    KeInitializeEvent(&HandleTableLock, SynchronizationEvent, TRUE);

    UNICODE_STRING deviceName, linkName;
    RtlInitUnicodeString(&deviceName, QG_TESTBUS_DEVICE_NAME);
    RtlInitUnicodeString(&linkName, QG_TESTBUS_LINK_NAME);
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(BusExtension), &deviceName, FILE_DEVICE_BUS_EXTENDER,
                       FILE_DEVICE_SECURE_OPEN, FALSE, &BusDevice);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    static_cast<BusExtension*>(BusDevice->DeviceExtension)->Kind = KIND_BUS;
    BusDevice->Flags &= ~DO_DEVICE_INITIALIZING;
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(BusDevice);
        BusDevice = nullptr;
    }
    return status;
}
