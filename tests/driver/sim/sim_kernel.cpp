// The kernel services quilldrv's glue calls, implemented in user mode with the
// semantics of the Windows I/O manager: stack locations, completion routines run
// upward with pending propagation, remove locks with removal waits, and a
// simulated disk below the filter. Misuse is recorded, not ignored: touching a
// deleted device, releasing a hold that was never taken, a wait that never ends,
// and what Driver Verifier checks of the I/O manager's rules (pending returns
// marked, power requests started and passed on in order).
#include "filter.h"
#include "sim.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto kWaitLimit = std::chrono::seconds(10);
constexpr auto kPendDelay = std::chrono::milliseconds(2);

struct SimDevice {
    DEVICE_OBJECT Object;
    DEVOBJ_EXTENSION ObjectExtension;
    std::vector<uint8_t> Extension;
    bool Deleted = false;
    bool Poisoned = false; // deleted and no longer referenced: its memory is gone
    int References = 0;    // held by senders, as file objects hold a real device
    int Disk = -1;         // the disk whose PDO this is
};

struct Disk {
    SimDiskConfig Config;
    std::vector<uint8_t> Marker;
    PDEVICE_OBJECT Pdo = nullptr;
    PDEVICE_OBJECT Filter = nullptr;
    SimDiskCounters Counters = {};
    bool HoldWrites = false;
    uint32_t WritesWaiting = 0;
};

struct RemoveLockRecord {
    ULONG Tag;
    ULONG MaxMinutes;
    ULONG HighWatermark;
    std::multimap<void*, int> Holds;
};

struct Job {
    std::thread Thread;
    SimRequestResult Result;
};

std::mutex g_lock;
std::condition_variable g_changed;

std::vector<std::unique_ptr<SimDevice>> g_devices;
std::vector<Disk> g_disks;
std::map<PIO_REMOVE_LOCK, RemoveLockRecord> g_locks;
std::vector<std::thread> g_completers;
std::vector<std::unique_ptr<Job>> g_jobs;

DRIVER_OBJECT g_filterDriver;
DRIVER_EXTENSION g_filterDriverExtension;
DRIVER_OBJECT g_diskDriver;
DRIVER_OBJECT g_upperDriver;
DRIVER_OBJECT g_bareDriver;

uint32_t g_violations;
std::string g_lastViolation;
uint32_t g_openKeys;
uint32_t g_references;
uint32_t g_allocations;
uint32_t g_lastKeyAccess;
uint32_t g_startNextPower;
// Locations whose dispatch routine returned STATUS_PENDING before completion left them.
std::set<PIO_STACK_LOCATION> g_returnedPending;
// Power requests and the device whose driver called PoStartNextPowerIrp for them.
std::set<std::pair<PIRP, PDEVICE_OBJECT>> g_powerStarted;

// The requests this thread is in the dispatch routines of, innermost last.
thread_local std::vector<std::pair<PIRP, PDEVICE_OBJECT>> t_dispatching;
thread_local bool t_viaPoCallDriver;

// The token of the thread a request is sent in.
thread_local SimToken t_token = SIM_TOKEN_SYSTEM;
thread_local KIRQL t_irql = PASSIVE_LEVEL;
thread_local char t_thread;

// What a captured subject context points to: one object per kind of token.
struct Token {
    SimToken Kind;
};
Token g_tokens[] = {{SIM_TOKEN_SYSTEM}, {SIM_TOKEN_ADMINISTRATOR}, {SIM_TOKEN_STANDARD_USER}};
NTSTATUS g_failNextCreate;
bool g_failNextAttach;
bool g_wdmAvailable = true;

// Records a broken rule; the Locked form for callers that hold g_lock.
void ViolationLocked(const std::string& what) {
    ++g_violations;
    g_lastViolation = what;
}

void Violation(const std::string& what) {
    std::lock_guard<std::mutex> guard(g_lock);
    ViolationLocked(what);
}

constexpr const char* kPendingNotMarked =
    "STATUS_PENDING returned for a request not marked pending";

std::map<const uint8_t*, SimDevice*> g_extensions; // by first byte

// Device objects handed out here are always the first member of a SimDevice.
SimDevice* DeviceOf(PDEVICE_OBJECT object) {
    return reinterpret_cast<SimDevice*>(object);
}

// The simulated device whose extension holds an address; null for anything else.
SimDevice* Owner(const void* address) {
    const uint8_t* p = static_cast<const uint8_t*>(address);
    auto next = g_extensions.upper_bound(p);
    if (next == g_extensions.begin()) {
        return nullptr;
    }
    SimDevice* device = std::prev(next)->second;
    return p < device->Extension.data() + device->Extension.size() ? device : nullptr;
}

void CheckAlive(const void* address, const char* what) {
    SimDevice* owner = Owner(address);
    if (owner != nullptr && owner->Poisoned) {
        Violation(std::string(what) + " on a deleted device");
    }
}

// IRPs built here, with the buffers the I/O manager owns for them.
struct IrpRecord {
    std::vector<uint8_t> SystemBuffer;
    bool BuiltForDriver = false; // freed by the I/O manager when completed
    int Calls = 0;               // IofCallDriver calls not yet returned
    bool FreeWhenReturned = false;
};
std::map<PIRP, IrpRecord> g_irps;

PIRP AllocateIrp(CCHAR stackSize) {
    const size_t bytes = IoSizeOfIrp(stackSize);
    PIRP irp = static_cast<PIRP>(::operator new(bytes));
    std::memset(irp, 0, bytes);
    irp->Type = IO_TYPE_IRP;
    irp->Size = static_cast<USHORT>(bytes);
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
    std::lock_guard<std::mutex> guard(g_lock);
    g_irps[irp];
    return irp;
}

void FreeIrp(PIRP irp) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_irps.erase(irp);
        g_powerStarted.erase(g_powerStarted.lower_bound({irp, nullptr}),
                             g_powerStarted.lower_bound({irp + 1, nullptr}));
        const auto locations = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
        g_returnedPending.erase(g_returnedPending.lower_bound(locations),
                                g_returnedPending.lower_bound(locations + irp->StackCount));
    }
    ::operator delete(irp);
}

// The originator's side once completion has passed the top stack location.
void FinishIrp(PIRP irp) {
    bool built = false;
    std::vector<uint8_t> buffer;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        IrpRecord& record = g_irps[irp];
        built = record.BuiltForDriver;
        buffer.swap(record.SystemBuffer);
    }
    if (built && NT_SUCCESS(irp->IoStatus.Status) && irp->UserBuffer != nullptr) {
        const size_t n = irp->IoStatus.Information < buffer.size()
                             ? static_cast<size_t>(irp->IoStatus.Information)
                             : buffer.size();
        std::memcpy(irp->UserBuffer, buffer.data(), n);
    }
    if (irp->UserIosb != nullptr) {
        *irp->UserIosb = irp->IoStatus;
    }
    PKEVENT event = irp->UserEvent;
    bool free = false;
    if (built) {
        // A dispatch routine still returning from this request may look at it.
        std::lock_guard<std::mutex> guard(g_lock);
        IrpRecord& record = g_irps[irp];
        record.FreeWhenReturned = record.Calls > 0;
        free = !record.FreeWhenReturned;
    } else {
        std::lock_guard<std::mutex> guard(g_lock);
        g_irps[irp].SystemBuffer.swap(buffer);
    }
    if (free) {
        FreeIrp(irp);
    }
    if (event != nullptr) {
        KeSetEvent(event, IO_NO_INCREMENT, FALSE);
    }
}

// Completes a request from another thread after a short delay, as a disk that
// returned STATUS_PENDING would.
NTSTATUS CompleteLater(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    IoMarkIrpPending(irp);
    std::lock_guard<std::mutex> guard(g_lock);
    g_completers.emplace_back([irp, status, information] {
        std::this_thread::sleep_for(kPendDelay);
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = information;
        IofCompleteRequest(irp, IO_NO_INCREMENT);
    });
    return STATUS_PENDING;
}

NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

Disk& DiskOf(PDEVICE_OBJECT pdo) {
    return g_disks[static_cast<size_t>(DeviceOf(pdo)->Disk)];
}

NTSTATUS DiskPnp(Disk& disk, PIRP irp, PIO_STACK_LOCATION stack) {
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        if (disk.Config.PendStart) {
            return CompleteLater(irp, disk.Config.StartStatus, 0);
        }
        return Finish(irp, disk.Config.StartStatus);
    case IRP_MN_DEVICE_USAGE_NOTIFICATION:
        if (disk.Config.PendUsage) {
            return CompleteLater(irp, STATUS_SUCCESS, 0);
        }
        return Finish(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE:
        return Finish(irp, STATUS_SUCCESS);
    default: { // a bus driver leaves requests it has nothing to do for as they
               // are: the status the filter stored is what the PnP manager sees
        const NTSTATUS status = irp->IoStatus.Status;
        IofCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    }
}

NTSTATUS DiskDeviceControl(Disk& disk, PIRP irp, PIO_STACK_LOCATION stack) {
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (code == IOCTL_DISK_IS_WRITABLE) {
        std::lock_guard<std::mutex> guard(g_lock);
        ++disk.Counters.WritableQueries;
    } else if (code != IOCTL_STORAGE_QUERY_PROPERTY) {
        std::lock_guard<std::mutex> guard(g_lock);
        ++disk.Counters.OtherControls;
    }
    if (code != IOCTL_STORAGE_QUERY_PROPERTY) {
        return Finish(irp, STATUS_SUCCESS);
    }
    {
        std::lock_guard<std::mutex> guard(g_lock);
        ++disk.Counters.StorageQueries;
    }
    if (!NT_SUCCESS(disk.Config.QueryStatus)) {
        return Finish(irp, disk.Config.QueryStatus);
    }
    STORAGE_DEVICE_DESCRIPTOR descriptor = {};
    descriptor.Version = sizeof descriptor;
    descriptor.Size = sizeof descriptor;
    descriptor.RemovableMedia = disk.Config.RemovableMedia;
    descriptor.BusType = static_cast<STORAGE_BUS_TYPE>(disk.Config.BusType);
    const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG n = room < sizeof descriptor ? room : sizeof descriptor;
    std::memcpy(irp->AssociatedIrp.SystemBuffer, &descriptor, n);
    if (disk.Config.PendQuery) {
        return CompleteLater(irp, STATUS_SUCCESS, n);
    }
    return Finish(irp, STATUS_SUCCESS, n);
}

NTSTATUS NTAPI DiskDispatch(PDEVICE_OBJECT device, PIRP irp) {
    Disk& disk = DiskOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_PNP: {
        {
            std::lock_guard<std::mutex> guard(g_lock);
            ++disk.Counters.Pnp;
        }
        return DiskPnp(disk, irp, stack);
    }
    case IRP_MJ_WRITE: {
        std::unique_lock<std::mutex> guard(g_lock);
        ++disk.WritesWaiting;
        g_changed.notify_all();
        g_changed.wait(guard, [&] { return !disk.HoldWrites; });
        --disk.WritesWaiting;
        ++disk.Counters.Writes;
        guard.unlock();
        return Finish(irp, STATUS_SUCCESS, stack->Parameters.Write.Length);
    }
    case IRP_MJ_READ: {
        {
            std::lock_guard<std::mutex> guard(g_lock);
            ++disk.Counters.Reads;
        }
        return Finish(irp, STATUS_SUCCESS, stack->Parameters.Read.Length);
    }
    case IRP_MJ_DEVICE_CONTROL:
        return DiskDeviceControl(disk, irp, stack);
    case IRP_MJ_POWER: {
        {
            std::lock_guard<std::mutex> guard(g_lock);
            ++disk.Counters.Power;
        }
        return Finish(irp, STATUS_SUCCESS);
    }
    default:
        return Finish(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

// The least a filter can do: hold its remove lock and pass every request on. The
// yardstick for quilldrv's own cost per request.
struct BareExtension {
    PDEVICE_OBJECT Lower;
    IO_REMOVE_LOCK Lock;
};

NTSTATUS NTAPI BareFilterDispatch(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<BareExtension*>(device->DeviceExtension);
    NTSTATUS status = IoAcquireRemoveLock(&ext->Lock, irp);
    if (!NT_SUCCESS(status)) {
        return Finish(irp, status);
    }
    IoSkipCurrentIrpStackLocation(irp);
    status = IofCallDriver(ext->Lower, irp);
    IoReleaseRemoveLock(&ext->Lock, irp);
    return status;
}

// A driver above the filter that passes everything on.
// A device above the filter. Device controls it does not know go on as kernel
// requests of its own, built and sent in the sender's thread, as a volume stack may
// pass them on; the rest passes unchanged.
NTSTATUS NTAPI UpperDispatch(PDEVICE_OBJECT device, PIRP irp) {
    PDEVICE_OBJECT lower = DeviceOf(device)->ObjectExtension.DeviceObject;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
        IoSkipCurrentIrpStackLocation(irp);
        return IofCallDriver(lower, irp);
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io = {};
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    PIRP own = IoBuildDeviceIoControlRequest(
        stack->Parameters.DeviceIoControl.IoControlCode, lower, buffer,
        stack->Parameters.DeviceIoControl.InputBufferLength, buffer,
        stack->Parameters.DeviceIoControl.OutputBufferLength, FALSE, &done, &io);
    if (IofCallDriver(lower, own) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    return Finish(irp, io.Status, io.Information);
}

// The memory of a deleted device is gone once nobody references it. Poisoned,
// not freed, so that a later touch reads garbage and is reported.
void Poison(SimDevice* device) {
    device->Poisoned = true;
    std::memset(device->Extension.data(), 0xDD, device->Extension.size());
}

SimDevice* NewDevice(PDRIVER_OBJECT driver, size_t extensionSize) {
    auto device = std::make_unique<SimDevice>();
    std::memset(&device->Object, 0, sizeof device->Object);
    device->Extension.assign(extensionSize, 0);
    device->Object.Type = IO_TYPE_DEVICE;
    device->Object.Size = sizeof(DEVICE_OBJECT);
    device->Object.DriverObject = driver;
    device->Object.DeviceExtension = extensionSize ? device->Extension.data() : nullptr;
    device->Object.Flags = DO_DEVICE_INITIALIZING;
    device->Object.StackSize = 1;
    device->Object.DeviceObjectExtension = &device->ObjectExtension;
    std::memset(&device->ObjectExtension, 0, sizeof device->ObjectExtension);
    SimDevice* raw = device.get();
    std::lock_guard<std::mutex> guard(g_lock);
    if (extensionSize != 0) {
        g_extensions[raw->Extension.data()] = raw;
    }
    g_devices.push_back(std::move(device));
    return raw;
}

void JoinCompleters() {
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            threads.swap(g_completers);
        }
        if (threads.empty()) {
            return;
        }
        for (auto& t : threads) {
            t.join();
        }
    }
}

PDEVICE_OBJECT TopOf(int disk) {
    return IoGetAttachedDevice(g_disks[static_cast<size_t>(disk)].Pdo);
}

// Sends a request to the top of the disk's stack and waits for its completion.
// The sender references the device it sends to, as an open handle would, so a
// removal may delete the device object but not free it under the request.
SimRequestResult Send(int disk, PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->UserEvent = &done;
    SimRequestResult result = {};
    SimDevice* target = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        target = DeviceOf(TopOf(disk));
        ++target->References;
    }
    const NTSTATUS returned = IoGetNextIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER
                                  ? PoCallDriver(&target->Object, irp)
                                  : IofCallDriver(&target->Object, irp);
    result.ReturnedPending = returned == STATUS_PENDING;
    const bool completed =
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr) == STATUS_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (--target->References == 0 && target->Deleted) {
            Poison(target);
        }
    }
    if (!completed) {
        result.Status = STATUS_TIMEOUT;
        return result; // the IRP is lost to whoever still holds it
    }
    if (!result.ReturnedPending && returned != irp->IoStatus.Status) {
        Violation("a dispatch routine returned a status other than the one it completed with");
    }
    result.Status = irp->IoStatus.Status;
    result.Information = irp->IoStatus.Information;
    return result;
}

PIRP NewRequest(int disk, UCHAR major, UCHAR minor) {
    PIRP irp = AllocateIrp(TopOf(disk)->StackSize);
    irp->RequestorMode = KernelMode;
    irp->Tail.Overlay.Thread = PsGetCurrentThread();
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    return irp;
}

SimRequestResult SendAndFree(int disk, PIRP irp) {
    const SimRequestResult result = Send(disk, irp);
    if (result.Status != STATUS_TIMEOUT) {
        FreeIrp(irp);
    }
    return result;
}

} // namespace

// ---------------------------------------------------------------------------
// Kernel exports used by the glue
// ---------------------------------------------------------------------------
extern "C" {

VOID NTAPI KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
    std::memset(event, 0, sizeof *event);
    event->Header.Type = static_cast<UCHAR>(type);
    event->Header.SignalState = state;
}

LONG NTAPI KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait) {
    (void)increment;
    (void)wait;
    std::lock_guard<std::mutex> guard(g_lock);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 1;
    g_changed.notify_all();
    return previous;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                                     BOOLEAN alertable, PLARGE_INTEGER timeout) {
    (void)reason;
    (void)mode;
    (void)alertable;
    if (timeout != nullptr) {
        Violation("a wait with a time-out");
    }
    PRKEVENT event = static_cast<PRKEVENT>(object);
    std::unique_lock<std::mutex> guard(g_lock);
    if (!g_changed.wait_for(guard, kWaitLimit, [&] { return event->Header.SignalState != 0; })) {
        guard.unlock();
        Violation("a wait that never ended");
        return STATUS_TIMEOUT;
    }
    if (event->Header.Type == SynchronizationEvent) {
        event->Header.SignalState = 0;
    }
    return STATUS_SUCCESS;
}

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    USHORT n = 0;
    while (source != nullptr && source[n] != 0) {
        ++n;
    }
    destination->Buffer = const_cast<PWSTR>(source);
    destination->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    destination->MaximumLength = static_cast<USHORT>(destination->Length + sizeof(WCHAR));
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                              PDEVICE_OBJECT* device) {
    (void)exclusive;
    if (name != nullptr) {
        Violation("a filter device with a name");
    }
    if (g_failNextCreate != STATUS_SUCCESS) {
        const NTSTATUS status = g_failNextCreate;
        g_failNextCreate = STATUS_SUCCESS;
        return status;
    }
    SimDevice* created = NewDevice(driver, extensionSize);
    created->Object.DeviceType = type;
    created->Object.Characteristics = characteristics;
    // A real extension comes zeroed; garbage here catches a field left unset.
    std::memset(created->Extension.data(), 0xA5, created->Extension.size());
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_allocations;
    *device = &created->Object;
    return STATUS_SUCCESS;
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT device) {
    SimDevice* owner = DeviceOf(device);
    if (owner->Deleted) {
        Violation("a device deleted twice");
    }
    if (owner->ObjectExtension.DeviceObject != nullptr &&
        owner->ObjectExtension.DeviceObject->AttachedDevice == device) {
        Violation("a device deleted while still attached");
    }
    std::lock_guard<std::mutex> guard(g_lock);
    owner->Deleted = true;
    if (owner->References == 0) {
        Poison(owner);
    }
}

PDEVICE_OBJECT NTAPI IoGetAttachedDevice(PDEVICE_OBJECT device) {
    while (device->AttachedDevice != nullptr) {
        device = device->AttachedDevice;
    }
    return device;
}

PDEVICE_OBJECT NTAPI IoGetAttachedDeviceReference(PDEVICE_OBJECT device) {
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_references;
    return IoGetAttachedDevice(device);
}

LONG_PTR FASTCALL ObfDereferenceObject(PVOID object) {
    (void)object;
    std::lock_guard<std::mutex> guard(g_lock);
    --g_references;
    return 0;
}

BOOLEAN NTAPI IoIsWdmVersionAvailable(UCHAR major, UCHAR minor) {
    return g_wdmAvailable && major == 1 && minor == 0x20;
}

PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
    if (g_failNextAttach) {
        g_failNextAttach = false;
        return nullptr;
    }
    PDEVICE_OBJECT top = IoGetAttachedDevice(target);
    top->AttachedDevice = source;
    source->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    // Remember what it sits on: ObjectExtension.DeviceObject serves as "attached to".
    DeviceOf(source)->ObjectExtension.DeviceObject = top;
    SimDevice* pdo = DeviceOf(target);
    if (pdo->Disk >= 0 && top == target) {
        g_disks[static_cast<size_t>(pdo->Disk)].Filter = source;
    }
    return top;
}

VOID NTAPI IoDetachDevice(PDEVICE_OBJECT target) {
    if (DeviceOf(target)->Poisoned) {
        Violation("IoDetachDevice on a deleted device");
    }
    if (target->AttachedDevice == nullptr) {
        Violation("detached from a device with nothing attached");
        return;
    }
    DeviceOf(target->AttachedDevice)->ObjectExtension.DeviceObject = nullptr;
    target->AttachedDevice = nullptr;
}

NTSTATUS NTAPI IoOpenDeviceRegistryKey(PDEVICE_OBJECT device, ULONG keyType, ACCESS_MASK access,
                                       PHANDLE key) {
    g_lastKeyAccess = access;
    SimDevice* owner = DeviceOf(device);
    if (owner->Disk < 0 || keyType != PLUGPLAY_REGKEY_DEVICE) {
        Violation("IoOpenDeviceRegistryKey on something other than a disk's device key");
        return STATUS_INVALID_PARAMETER;
    }
    if (g_disks[static_cast<size_t>(owner->Disk)].Config.NoDeviceKey) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_openKeys;
    *key = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1000 + owner->Disk));
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwQueryValueKey(HANDLE key, PUNICODE_STRING name,
                               KEY_VALUE_INFORMATION_CLASS infoClass, PVOID buffer, ULONG length,
                               PULONG resultLength) {
    const size_t index = reinterpret_cast<uintptr_t>(key) - 0x1000;
    if (index >= g_disks.size() || infoClass != KeyValuePartialInformation) {
        Violation("ZwQueryValueKey with an unknown key or class");
        return STATUS_INVALID_PARAMETER;
    }
    const Disk& disk = g_disks[index];
    UNICODE_STRING marker;
    RtlInitUnicodeString(&marker, MARKER_VALUE_NAME);
    if (name->Length != marker.Length ||
        std::memcmp(name->Buffer, marker.Buffer, marker.Length) != 0 ||
        !disk.Config.MarkerPresent) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const ULONG header = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
    const ULONG needed = header + disk.Config.MarkerLength;
    *resultLength = needed;
    if (length < header) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    info->TitleIndex = 0;
    info->Type = REG_BINARY;
    info->DataLength = disk.Config.MarkerLength;
    if (length < needed) {
        return STATUS_BUFFER_OVERFLOW;
    }
    std::memcpy(info->Data, disk.Marker.data(), disk.Config.MarkerLength);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE handle) {
    (void)handle;
    std::lock_guard<std::mutex> guard(g_lock);
    --g_openKeys;
    return STATUS_SUCCESS;
}

PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID input,
                                         ULONG inputLength, PVOID output, ULONG outputLength,
                                         BOOLEAN internal, PKEVENT event, PIO_STATUS_BLOCK status) {
    PIRP irp = AllocateIrp(device->StackSize);
    irp->RequestorMode = KernelMode;
    irp->Tail.Overlay.Thread = PsGetCurrentThread();
    irp->UserBuffer = output;
    irp->UserEvent = event;
    irp->UserIosb = status;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    stack->Parameters.DeviceIoControl.IoControlCode = code;
    stack->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    stack->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_allocations;
    IrpRecord& record = g_irps[irp];
    record.BuiltForDriver = true;
    record.SystemBuffer.assign(inputLength > outputLength ? inputLength : outputLength, 0);
    if (inputLength != 0) {
        std::memcpy(record.SystemBuffer.data(), input, inputLength);
    }
    irp->AssociatedIrp.SystemBuffer =
        record.SystemBuffer.empty() ? nullptr : record.SystemBuffer.data();
    return irp;
}

NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT device, PIRP irp) {
    const bool viaPoCallDriver = t_viaPoCallDriver;
    t_viaPoCallDriver = false;
    if (DeviceOf(device)->Poisoned) {
        Violation("IofCallDriver on a deleted device");
    }
    if (irp->CurrentLocation <= 1) {
        Violation("a request passed below the bottom of its stack");
        return STATUS_INVALID_PARAMETER;
    }
    --irp->CurrentLocation;
    --irp->Tail.Overlay.CurrentStackLocation;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    stack->DeviceObject = device;
    if (stack->MajorFunction == IRP_MJ_POWER && !viaPoCallDriver) {
        Violation("a power request passed on with IofCallDriver instead of PoCallDriver");
    }
    const CHAR location = irp->CurrentLocation;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        ++g_irps[irp].Calls;
    }
    t_dispatching.emplace_back(irp, device);
    const NTSTATUS status = device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
    t_dispatching.pop_back();

    std::unique_lock<std::mutex> guard(g_lock);
    IrpRecord& record = g_irps[irp];
    --record.Calls;
    // A dispatch routine that returns STATUS_PENDING must have marked its location
    // by the time completion leaves it; IofCompleteRequest checks what is left then.
    if (status == STATUS_PENDING) {
        if (irp->CurrentLocation > location) {
            if (!(stack->Control & SL_PENDING_RETURNED)) {
                ViolationLocked(kPendingNotMarked);
            }
        } else {
            g_returnedPending.insert(stack);
        }
    }
    const bool free = record.Calls == 0 && record.FreeWhenReturned;
    guard.unlock();
    if (free) {
        FreeIrp(irp);
    }
    return status;
}

// The driver whose dispatch routine this thread is in for the request; null
// outside any (a completion routine, or the sender).
static PDEVICE_OBJECT DispatchingDevice(PIRP irp) {
    for (auto entry = t_dispatching.rbegin(); entry != t_dispatching.rend(); ++entry) {
        if (entry->first == irp) {
            return entry->second;
        }
    }
    return nullptr;
}

// Before Windows Vista a power request may be passed on only with PoCallDriver,
// and only after its driver called PoStartNextPowerIrp.
NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
    PDEVICE_OBJECT caller = DispatchingDevice(irp);
    if (caller != nullptr) {
        std::unique_lock<std::mutex> guard(g_lock);
        if (g_powerStarted.count({irp, caller}) == 0) {
            guard.unlock();
            Violation("a power request passed on before PoStartNextPowerIrp");
        }
    }
    t_viaPoCallDriver = true;
    return IofCallDriver(device, irp);
}

// Must be called while the current location is the caller's own: before the
// request is skipped, passed on or completed.
VOID NTAPI PoStartNextPowerIrp(PIRP irp) {
    PDEVICE_OBJECT caller = DispatchingDevice(irp);
    const bool own =
        irp->CurrentLocation <= irp->StackCount &&
        (caller == nullptr || IoGetCurrentIrpStackLocation(irp)->DeviceObject == caller);
    if (!own) {
        Violation("PoStartNextPowerIrp once the request had left its driver's location");
    }
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_startNextPower;
    g_powerStarted.insert({irp, caller});
}

// Runs completion routines from the completing location upward, as the I/O
// manager does: each with its own device, STATUS_MORE_PROCESSING_REQUIRED stops
// the walk, and a pending return propagates to locations without a routine.
VOID FASTCALL IofCompleteRequest(PIRP irp, CCHAR boost) {
    (void)boost;
    if (irp->IoStatus.Status == STATUS_PENDING) {
        Violation("a request completed with STATUS_PENDING");
    }
    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION leaving = IoGetCurrentIrpStackLocation(irp);
        {
            std::lock_guard<std::mutex> guard(g_lock);
            ++irp->CurrentLocation;
            ++irp->Tail.Overlay.CurrentStackLocation;
            if (g_returnedPending.erase(leaving) != 0 &&
                !(leaving->Control & SL_PENDING_RETURNED)) {
                ViolationLocked(kPendingNotMarked);
            }
        }
        irp->PendingReturned = (leaving->Control & SL_PENDING_RETURNED) != 0;
        const bool atTop = irp->CurrentLocation > irp->StackCount;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke = leaving->CompletionRoutine != nullptr &&
                            ((NT_SUCCESS(status) && (leaving->Control & SL_INVOKE_ON_SUCCESS)) ||
                             (!NT_SUCCESS(status) && (leaving->Control & SL_INVOKE_ON_ERROR)) ||
                             (irp->Cancel && (leaving->Control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            PDEVICE_OBJECT device =
                atTop ? nullptr : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
            if (leaving->CompletionRoutine(device, irp, leaving->Context) ==
                STATUS_MORE_PROCESSING_REQUIRED) {
                return;
            }
            // A routine that lets completion go on must pass a pending return up.
            if (irp->PendingReturned && !atTop &&
                !(IoGetCurrentIrpStackLocation(irp)->Control & SL_PENDING_RETURNED)) {
                Violation("a completion routine did not mark a pending request pending");
            }
        } else if (irp->PendingReturned && !atTop) {
            IoMarkIrpPending(irp);
        }
    }
    FinishIrp(irp);
}

VOID NTAPI IoInitializeRemoveLockEx(PIO_REMOVE_LOCK lock, ULONG tag, ULONG maxMinutes,
                                    ULONG highWatermark, ULONG size) {
    if (size != sizeof(IO_REMOVE_LOCK)) {
        Violation("a remove lock of the wrong size");
    }
    lock->Common.Removed = FALSE;
    lock->Common.IoCount = 1;
    KeInitializeEvent(&lock->Common.RemoveEvent, SynchronizationEvent, FALSE);
    std::lock_guard<std::mutex> guard(g_lock);
    g_locks[lock] = RemoveLockRecord{tag, maxMinutes, highWatermark, {}};
}

NTSTATUS NTAPI IoAcquireRemoveLockEx(PIO_REMOVE_LOCK lock, PVOID tag, PCSTR file, ULONG line,
                                     ULONG size) {
    (void)file;
    (void)line;
    (void)size;
    CheckAlive(lock, "IoAcquireRemoveLockEx");
    std::lock_guard<std::mutex> guard(g_lock);
    ++lock->Common.IoCount;
    if (lock->Common.Removed) {
        if (--lock->Common.IoCount == 0) {
            lock->Common.RemoveEvent.Header.SignalState = 1;
            g_changed.notify_all();
        }
        return STATUS_DELETE_PENDING;
    }
    g_locks[lock].Holds.emplace(tag, 1);
    return STATUS_SUCCESS;
}

VOID NTAPI IoReleaseRemoveLockEx(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size) {
    (void)size;
    CheckAlive(lock, "IoReleaseRemoveLockEx");
    std::unique_lock<std::mutex> guard(g_lock);
    auto& holds = g_locks[lock].Holds;
    auto hold = holds.find(tag);
    if (hold == holds.end()) {
        guard.unlock();
        Violation("a remove-lock release with a tag that holds nothing");
        return;
    }
    holds.erase(hold);
    if (--lock->Common.IoCount == 0) {
        lock->Common.RemoveEvent.Header.SignalState = 1;
        g_changed.notify_all();
    }
}

VOID NTAPI IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        lock->Common.Removed = TRUE;
        --lock->Common.IoCount; // the bias taken at initialisation
    }
    IoReleaseRemoveLockEx(lock, tag, size);
    KeWaitForSingleObject(&lock->Common.RemoveEvent, Executive, KernelMode, FALSE, nullptr);
}

PETHREAD NTAPI PsGetCurrentThread(VOID) {
    return reinterpret_cast<PETHREAD>(&t_thread);
}

unsigned long long __readcr8(void) {
    return t_irql;
}

// The token of the calling thread. A captured context references it until released,
// as Windows references the tokens of a subject context.
VOID NTAPI SeCaptureSubjectContext(PSECURITY_SUBJECT_CONTEXT subject) {
    if (t_irql != PASSIVE_LEVEL) { // the token queries' documented level
        Violation("SeCaptureSubjectContext above PASSIVE_LEVEL");
    }
    const bool impersonates = t_token >= SIM_TOKEN_ADMINISTRATOR_AT_IDENTIFICATION;
    subject->ClientToken = impersonates ? &g_tokens[SIM_TOKEN_ADMINISTRATOR] : nullptr;
    subject->ImpersonationLevel = t_token == SIM_TOKEN_ADMINISTRATOR_AT_IMPERSONATION
                                      ? SecurityImpersonation
                                      : SecurityIdentification; // read with a client token only
    subject->PrimaryToken = &g_tokens[impersonates ? SIM_TOKEN_STANDARD_USER : t_token];
    subject->ProcessAuditId = nullptr;
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_references;
}

VOID NTAPI SeReleaseSubjectContext(PSECURITY_SUBJECT_CONTEXT subject) {
    if (subject->PrimaryToken == nullptr) {
        Violation("a subject context released twice or never captured");
        return;
    }
    subject->PrimaryToken = nullptr;
    std::lock_guard<std::mutex> guard(g_lock);
    --g_references;
}

BOOLEAN NTAPI SeTokenIsAdmin(PACCESS_TOKEN token) {
    const Token* t = static_cast<const Token*>(token);
    if (t < std::begin(g_tokens) || t >= std::end(g_tokens)) {
        Violation("SeTokenIsAdmin on something that is no token");
        return FALSE;
    }
    return t->Kind != SIM_TOKEN_STANDARD_USER;
}

} // extern "C"

// ---------------------------------------------------------------------------
// The test's side
// ---------------------------------------------------------------------------
extern "C" {

void SimRunAs(SimToken token) {
    t_token = token;
}

void SimDrain(void) {
    JoinCompleters();
    for (auto& job : g_jobs) {
        if (job->Thread.joinable()) {
            job->Thread.join();
        }
    }
    g_jobs.clear();
}

int32_t SimLoadDriver(void) {
    SimDrain();
    g_devices.clear();
    g_extensions.clear();
    g_disks.clear();
    g_locks.clear();
    g_violations = 0;
    g_lastViolation.clear();
    g_openKeys = g_references = g_allocations = g_lastKeyAccess = g_startNextPower = 0;
    g_returnedPending.clear();
    g_powerStarted.clear();
    t_token = SIM_TOKEN_SYSTEM;
    g_failNextCreate = STATUS_SUCCESS;
    g_failNextAttach = false;
    g_wdmAvailable = true;
    GlobalMode = WP_MODE_ON; // a fresh load of the image

    std::memset(&g_filterDriver, 0, sizeof g_filterDriver);
    std::memset(&g_filterDriverExtension, 0, sizeof g_filterDriverExtension);
    g_filterDriver.DriverExtension = &g_filterDriverExtension;
    g_filterDriverExtension.DriverObject = &g_filterDriver;
    std::memset(&g_diskDriver, 0, sizeof g_diskDriver);
    std::memset(&g_upperDriver, 0, sizeof g_upperDriver);
    std::memset(&g_bareDriver, 0, sizeof g_bareDriver);
    for (int i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        g_diskDriver.MajorFunction[i] = DiskDispatch;
        g_upperDriver.MajorFunction[i] = UpperDispatch;
        g_bareDriver.MajorFunction[i] = BareFilterDispatch;
    }
    UNICODE_STRING path;
    RtlInitUnicodeString(&path,
                         L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\quilldrv");
    return DriverEntry(&g_filterDriver, &path);
}

void SimUnloadDriver(void) {
    g_filterDriver.DriverUnload(&g_filterDriver);
}

static int NewDisk(const SimDiskConfig* config) {
    Disk disk;
    disk.Config = *config;
    if (config->Marker != nullptr) {
        disk.Marker.assign(config->Marker, config->Marker + config->MarkerLength);
    }
    disk.Config.Marker = nullptr;
    const int index = static_cast<int>(g_disks.size());
    SimDevice* pdo = NewDevice(&g_diskDriver, 0);
    pdo->Disk = index;
    pdo->Object.DeviceType = FILE_DEVICE_DISK;
    pdo->Object.Flags = DO_DIRECT_IO | (config->PowerPagable ? DO_POWER_PAGABLE : 0);
    pdo->Object.Characteristics = config->RemovableMedia ? FILE_REMOVABLE_MEDIA : 0;
    disk.Pdo = &pdo->Object;
    g_disks.push_back(std::move(disk));
    return index;
}

int SimPlugDisk(const SimDiskConfig* config, int32_t* addStatus) {
    const int index = NewDisk(config);
    *addStatus =
        g_filterDriverExtension.AddDevice(&g_filterDriver, g_disks[static_cast<size_t>(index)].Pdo);
    return index;
}

int SimPlugDiskWithBareFilter(const SimDiskConfig* config) {
    const int index = NewDisk(config);
    SimDevice* filter = NewDevice(&g_bareDriver, sizeof(BareExtension));
    auto* ext = reinterpret_cast<BareExtension*>(filter->Extension.data());
    ext->Lower =
        IoAttachDeviceToDeviceStack(&filter->Object, g_disks[static_cast<size_t>(index)].Pdo);
    IoInitializeRemoveLock(&ext->Lock, 0, 1, 100);
    return index;
}

void SimFailNextCreateDevice(int32_t status) {
    g_failNextCreate = status;
}
void SimFailNextAttach(void) {
    g_failNextAttach = true;
}
void SimSetWdmVersionAvailable(uint8_t available) {
    g_wdmAvailable = available != 0;
}

void SimAttachAbove(int disk, uint8_t powerPagable) {
    SimDevice* upper = NewDevice(&g_upperDriver, 0);
    upper->Object.Flags = powerPagable ? DO_POWER_PAGABLE : 0;
    IoAttachDeviceToDeviceStack(&upper->Object, g_disks[static_cast<size_t>(disk)].Pdo);
}

SimRequestResult SimPnp(int disk, uint8_t minor) {
    PIRP irp = NewRequest(disk, IRP_MJ_PNP, minor);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED; // as the PnP manager sends them
    return SendAndFree(disk, irp);
}

SimRequestResult SimWrite(int disk, uint32_t length) {
    PIRP irp = NewRequest(disk, IRP_MJ_WRITE, 0);
    IoGetNextIrpStackLocation(irp)->Parameters.Write.Length = length;
    return SendAndFree(disk, irp);
}

SimRequestResult SimRead(int disk, uint32_t length) {
    PIRP irp = NewRequest(disk, IRP_MJ_READ, 0);
    IoGetNextIrpStackLocation(irp)->Parameters.Read.Length = length;
    return SendAndFree(disk, irp);
}

SimRequestResult SimPower(int disk) {
    return SendAndFree(disk, NewRequest(disk, IRP_MJ_POWER, IRP_MN_SET_POWER));
}

SimRequestResult SimControl(int disk, uint32_t code, const void* input, uint32_t inputLength,
                            void* output, uint32_t outputLength, uint8_t kernelMode,
                            uint8_t flags) {
    PIRP irp = NewRequest(disk, IRP_MJ_DEVICE_CONTROL, 0);
    irp->RequestorMode = kernelMode ? KernelMode : UserMode;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->Flags = (flags & SIM_CONTROL_WRITE_ACCESS) ? SL_WRITE_ACCESS_GRANTED : 0;
    stack->Parameters.DeviceIoControl.IoControlCode = code;
    stack->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    stack->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    std::vector<uint8_t>& buffer = g_irps[irp].SystemBuffer;
    // Filled with a pattern so that a reply written where none is due shows.
    buffer.assign(inputLength > outputLength ? inputLength : outputLength, 0xEE);
    if (inputLength != 0) {
        std::memcpy(buffer.data(), input, inputLength);
    }
    const bool noBuffer = buffer.empty() || (flags & SIM_CONTROL_NO_BUFFER);
    irp->AssociatedIrp.SystemBuffer = noBuffer ? nullptr : buffer.data();
    irp->IoStatus.Information = 0;
    const std::vector<uint8_t> sent = buffer;
    SimRequestResult result = {};
    auto send = [&] {
        t_irql = (flags & SIM_CONTROL_APC_LEVEL) ? APC_LEVEL : PASSIVE_LEVEL;
        result = Send(disk, irp);
        t_irql = PASSIVE_LEVEL;
    };
    (flags & SIM_CONTROL_BY_WORKER) ? std::thread(send).join() : send();
    if (result.Status != STATUS_TIMEOUT) {
        const std::vector<uint8_t>& reply = g_irps[irp].SystemBuffer;
        if (!NT_SUCCESS(result.Status) && reply != sent) {
            Violation("a failed control request wrote its buffer");
        }
        // METHOD_BUFFERED: the I/O manager copies back what Information counts.
        const size_t n = result.Information < outputLength ? static_cast<size_t>(result.Information)
                                                           : outputLength;
        if (NT_SUCCESS(result.Status) && output != nullptr) {
            std::memcpy(output, reply.data(), n);
        }
        FreeIrp(irp);
    }
    return result;
}

void SimHoldWritesAtDisk(int disk, uint8_t hold) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_disks[static_cast<size_t>(disk)].HoldWrites = hold != 0;
    g_changed.notify_all();
}

uint32_t SimWritesWaitingAtDisk(int disk) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_disks[static_cast<size_t>(disk)].WritesWaiting;
}

static int StartJob(std::function<SimRequestResult()> work) {
    auto job = std::make_unique<Job>();
    Job* raw = job.get();
    raw->Thread = std::thread([raw, work] { raw->Result = work(); });
    g_jobs.push_back(std::move(job));
    return static_cast<int>(g_jobs.size() - 1);
}

int SimStartWrite(int disk, uint32_t length) {
    return StartJob([disk, length] { return SimWrite(disk, length); });
}

int SimStartPnp(int disk, uint8_t minor) {
    return StartJob([disk, minor] { return SimPnp(disk, minor); });
}

SimRequestResult SimJoin(int job) {
    Job& j = *g_jobs[static_cast<size_t>(job)];
    j.Thread.join();
    return j.Result;
}

SimDiskCounters SimCounters(int disk) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_disks[static_cast<size_t>(disk)].Counters;
}

SimFilterInfo SimFilter(int disk) {
    SimFilterInfo info = {};
    const Disk& d = g_disks[static_cast<size_t>(disk)];
    if (d.Filter == nullptr) {
        return info;
    }
    SimDevice* owner = DeviceOf(d.Filter);
    info.Deleted = owner->Deleted;
    info.Exists = d.Pdo->AttachedDevice == d.Filter && !owner->Deleted;
    if (owner->Deleted) {
        return info;
    }
    const FilterExtension* ext = ExtensionOf(d.Filter);
    info.PnpState = ext->PnpState;
    info.PriorPnpState = ext->PriorPnpState;
    info.SubjectToPolicy = ext->Drive.SubjectToPolicy;
    info.ProtectOn = ext->Drive.ProtectOn;
    info.BusType = ext->Drive.StorageHeader.BusType;
    info.Flags = d.Filter->Flags;
    info.Characteristics = d.Filter->Characteristics;
    info.DeviceType = d.Filter->DeviceType;
    std::lock_guard<std::mutex> guard(g_lock);
    info.RemovalBegun = ext->RemoveLock.Common.Removed;
    return info;
}

uint32_t SimViolations(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_violations;
}

const char* SimLastViolation(void) {
    return g_lastViolation.c_str();
}

uint32_t SimOutstandingHolds(int disk) {
    const Disk& d = g_disks[static_cast<size_t>(disk)];
    if (d.Filter == nullptr || DeviceOf(d.Filter)->Deleted) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    return static_cast<uint32_t>(g_locks[&ExtensionOf(d.Filter)->RemoveLock].Holds.size());
}

uint32_t SimOpenKeys(void) {
    return g_openKeys;
}
uint32_t SimOpenReferences(void) {
    return g_references;
}
uint32_t SimAllocations(void) {
    return g_allocations;
}
uint32_t SimLastKeyAccess(void) {
    return g_lastKeyAccess;
}
uint32_t SimStartNextPowerCalls(void) {
    return g_startNextPower;
}

void SimRemoveLockParameters(int disk, uint32_t* tag, uint32_t* maxMinutes,
                             uint32_t* highWatermark) {
    const RemoveLockRecord& record =
        g_locks[&ExtensionOf(g_disks[static_cast<size_t>(disk)].Filter)->RemoveLock];
    *tag = record.Tag;
    *maxMinutes = record.MaxMinutes;
    *highWatermark = record.HighWatermark;
}

} // extern "C"
