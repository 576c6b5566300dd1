// What happens to ordinary requests: writes, device controls, power and the rest.
// Each routine holds the filter device's remove lock while the request is in it.
#include "filter.h"

// Passes the request down untouched; completes it only when removal has begun.
NTSTATUS NTAPI DispatchPassThrough(PDEVICE_OBJECT device, PIRP irp) {
    FilterExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) {
        return CompleteRequest(irp, status);
    }
    status = PassDown(ext, irp);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}

// Completes writes to a protected disk with STATUS_ACCESS_DENIED, whatever their
// offset, length or flags; passes every other write down.
NTSTATUS NTAPI DispatchWrite(PDEVICE_OBJECT device, PIRP irp) {
    FilterExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) {
        return CompleteRequest(irp, status);
    }
    DiskRequest write = {};
    write.MajorFunction = IRP_MJ_WRITE;
    const RequestDecision decision = DecideRequest(write, ext->Drive, GlobalMode);
    status = decision.CompleteHere ? CompleteRequest(irp, decision.Status) : PassDown(ext, irp);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}

#if defined(_X86_)
// x86 HALs keep the IRQL where each chooses (the PCR, or the local APIC's task priority
// register on Windows XP's APIC HALs), and only the HAL's own KeGetCurrentIrql reads it
// on every one. The image imports from ntoskrnl alone, so the routine is looked up; had
// it not been found, no level would count as passive.
static KIRQL(NTAPI* HalGetCurrentIrql)(VOID);

void FindIrqlReader() {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"KeGetCurrentIrql");
    HalGetCurrentIrql = reinterpret_cast<KIRQL(NTAPI*)(VOID)>(MmGetSystemRoutineAddress(&name));
}

static bool AtPassiveLevel() {
    return HalGetCurrentIrql != nullptr && HalGetCurrentIrql() == PASSIVE_LEVEL;
}
#else
// x64 keeps the IRQL in CR8, which the DDK's KeGetCurrentIrql reads inline.
void FindIrqlReader() {}

static bool AtPassiveLevel() {
    return KeGetCurrentIrql() == PASSIVE_LEVEL;
}
#endif

// Whether the request comes from an administrator, as far as the thread it runs in can
// tell. A driver above that passes a user's request on as a kernel request of its own
// does so in that user's thread, so the token still tells who asked. Asked only for the
// codes that change state.
static bool SenderIsAdministrator(PIRP irp) {
    if (!SenderTokenMayBeAsked(AtPassiveLevel(),
                               irp->Tail.Overlay.Thread == PsGetCurrentThread())) {
        return false;
    }
    SECURITY_SUBJECT_CONTEXT subject;
    SeCaptureSubjectContext(&subject);
    const SpeakingToken speaker =
        TokenThatSpeaks(subject.ClientToken != nullptr, subject.ImpersonationLevel);
    const PACCESS_TOKEN token =
        speaker == SPEAKS_CLIENT ? subject.ClientToken : subject.PrimaryToken;
    const bool administrator = speaker != SPEAKS_NONE && SeTokenIsAdmin(token) != FALSE;
    SeReleaseSubjectContext(&subject);
    return administrator;
}

// Answers the write-ability query for a protected disk and the five control codes
// itself, holding the remove lock until the request is completed, and switches
// protection only for an administrator's own thread at PASSIVE_LEVEL; hands every
// other request to DispatchPassThrough after giving back its own hold.
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    const uint32_t mode = GlobalMode;
    FilterExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) {
        return CompleteRequest(irp, status);
    }
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    uint32_t* const word = static_cast<uint32_t*>(irp->AssociatedIrp.SystemBuffer);

    DiskRequest request = {};
    request.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    request.IoControlCode = stack->Parameters.DeviceIoControl.IoControlCode;
    request.InputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    request.OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    request.NoBuffer = word == nullptr;
    if (ReadsInputWord(request)) {
        request.InputWord = *word;
    }
    if (SenderMayAskToChangeState(request.IoControlCode, irp->RequestorMode == KernelMode,
                                  stack->Flags)) {
        request.SenderMayChangeState = SenderIsAdministrator(irp);
    }

    const DriveState drive = ext->Drive;
    const RequestDecision decision = DecideRequest(request, drive, mode);
    if (!decision.CompleteHere) {
        IoReleaseRemoveLock(&ext->RemoveLock, irp);
        return DispatchPassThrough(device, irp);
    }
    // Store only what this request changes, so that a concurrent change by another
    // request is never overwritten with the value read before it.
    if (decision.ProtectOn != drive.ProtectOn) {
        ext->Drive.ProtectOn = decision.ProtectOn;
    }
    if (decision.GlobalMode != mode) {
        GlobalMode = decision.GlobalMode;
    }
    if (decision.WritesReply) {
        *word = decision.Reply;
    }
    if (decision.SetsInformation) {
        irp->IoStatus.Information = decision.Information;
    }
    status = CompleteRequest(irp, decision.Status);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}

// Power requests are never changed or refused.
NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    FilterExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    PoStartNextPowerIrp(irp);
    if (!NT_SUCCESS(status)) {
        return CompleteRequest(irp, status);
    }
    IoSkipCurrentIrpStackLocation(irp);
    status = PoCallDriver(ext->LowerDevice, irp);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}
