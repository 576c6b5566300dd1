// The disks as their stacks answer: SetupAPI's disk interfaces, then the storage
// queries, the write-ability query and quilldrv's own probe on each.
#include "quillctl.h"

#include "closer.h"
#include "format.h"
#include "policy.h"

#include <devguid.h>
#include <initguid.h>
#include <ntddstor.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cwchar>

DiskRecord Disks[MAX_DISKS];
size_t DiskCount;
DriverState Driver;
bool ModeKnown;
uint32_t Mode;

namespace {

using DeviceInfoCloser = Closer<HDEVINFO, SetupDiDestroyDeviceInfoList>;

HANDLE OpenDisk(const wchar_t* path, DWORD access) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

bool Control(HANDLE disk, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
             DWORD* returned) {
    *returned = 0;
    return DeviceIoControl(disk, code, const_cast<void*>(in), inSize, out, outSize, returned,
                           nullptr) != FALSE;
}

// A descriptor's string at `offset`, its padding trimmed; empty when there is none.
void DescriptorText(const BYTE* descriptor, DWORD size, DWORD offset, wchar_t* text) {
    text[0] = 0;
    if (offset == 0 || offset >= size) {
        return;
    }
    size_t length = 0;
    while (offset + length < size && descriptor[offset + length] != 0 &&
           length + 1 < NAME_TEXT_CAPACITY) {
        text[length] = static_cast<wchar_t>(descriptor[offset + length]);
        ++length;
    }
    while (length > 0 && text[length - 1] == L' ') {
        --length;
    }
    text[length] = 0;
}

void QueryStorage(HANDLE disk, DiskRecord* record) {
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    union {
        STORAGE_DEVICE_DESCRIPTOR header;
        BYTE bytes[1024];
    } descriptor = {};
    DWORD returned = 0;
    if (Control(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
                sizeof descriptor, &returned) &&
        returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(DWORD)) {
        record->busType = descriptor.header.BusType;
        DescriptorText(descriptor.bytes, returned, descriptor.header.VendorIdOffset,
                       record->vendor);
        DescriptorText(descriptor.bytes, returned, descriptor.header.ProductIdOffset,
                       record->product);
    }
}

// The exemption marker as the driver reads it at add-device: the same test.
bool IsExempt(HDEVINFO set, SP_DEVINFO_DATA* device) {
    HKEY opened =
        SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (opened == INVALID_HANDLE_VALUE) {
        return false;
    }
    KeyCloser key(opened);
    BYTE data[MARKER_MAX_BYTES];
    DWORD bytes = sizeof data;
    const bool read = RegQueryValueExW(key.Get(), MARKER_VALUE_NAME, nullptr, nullptr, data,
                                       &bytes) == ERROR_SUCCESS;
    return ClassifyMarker(read ? 0 : -1, data, read ? bytes : 0) == 0;
}

// Asks the disk at `path`; false when it cannot be opened or has no number. The
// length query needs read access, which a disk grants only to administrators; the
// other queries need none, so a standard user still sees every disk, without size.
bool AskDisk(const wchar_t* path, DiskRecord* record) {
    HandleCloser disk(OpenDisk(path, GENERIC_READ));
    if (!disk) {
        disk.Reset(OpenDisk(path, 0));
    }
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    if (!disk || !Control(disk.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                          sizeof number, &returned)) {
        return false;
    }
    record->number = number.DeviceNumber;
    if (!FormatTo(record->path, DEVICE_PATH_CAPACITY, L"%ls", path)) {
        return false;
    }
    QueryStorage(disk.Get(), record);
    GET_LENGTH_INFORMATION length = {};
    if (Control(disk.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                &returned)) {
        record->size = static_cast<ULONGLONG>(length.Length.QuadPart);
        record->sized = true;
    }
    uint32_t word = 0;
    record->filter =
        Control(disk.Get(), IOCTL_WP_PROBE, nullptr, 0, &word, sizeof word, &returned) &&
        word == WP_MODE_ON;
    record->refused =
        !Control(disk.Get(), IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0, &returned) &&
        GetLastError() == ERROR_WRITE_PROTECT;
    return true;
}

void ListDisks() {
    DeviceInfoCloser set(SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) {
        return;
    }
    SP_DEVICE_INTERFACE_DATA face = {};
    face.cbSize = sizeof face;
    for (DWORD i = 0;
         DiskCount < MAX_DISKS &&
         SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &GUID_DEVINTERFACE_DISK, i, &face);
         ++i) {
        union {
            SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
            BYTE bytes[sizeof(DWORD) + DEVICE_PATH_CAPACITY * sizeof(wchar_t)];
        } detail = {};
        detail.detail.cbSize = sizeof detail.detail;
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        DiskRecord& record = Disks[DiskCount];
        record = {};
        if (!SetupDiGetDeviceInterfaceDetailW(set.Get(), &face, &detail.detail, sizeof detail,
                                              nullptr, &device) ||
            !AskDisk(detail.detail.DevicePath, &record)) {
            continue;
        }
        record.exempt = IsExempt(set.Get(), &device);
        ++DiskCount;
    }
    // In the order of their numbers, as Disk Management shows them.
    std::sort(Disks, Disks + DiskCount,
              [](const DiskRecord& a, const DiskRecord& b) { return a.number < b.number; });
}

void QueryDriver() {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceCloser service(manager ? OpenServiceW(manager.Get(), L"quilldrv", SERVICE_QUERY_STATUS)
                                  : nullptr);
    SERVICE_STATUS status = {};
    Driver =
        !service ? DRIVER_NOT_INSTALLED
        : QueryServiceStatus(service.Get(), &status) && status.dwCurrentState == SERVICE_RUNNING
            ? DRIVER_RUNNING
            : DRIVER_NOT_RUNNING;
    for (size_t i = 0; i < DiskCount && !ModeKnown; ++i) {
        HandleCloser disk(Disks[i].filter ? OpenDisk(Disks[i].path, 0) : INVALID_HANDLE_VALUE);
        DWORD returned = 0;
        ModeKnown = disk && Control(disk.Get(), IOCTL_WP_GET_MODE, nullptr, 0, &Mode, sizeof Mode,
                                    &returned);
    }
    // A filter in a stack means the driver runs, whatever the service says of a
    // driver the Plug and Play manager loaded.
    if (ModeKnown) {
        Driver = DRIVER_RUNNING;
    }
}

} // namespace

Writes JudgeWrites(bool filter, bool usb, bool exempt, bool refused, bool modeOff) {
    if (filter && usb && !exempt && !modeOff) {
        return refused ? WRITES_BLOCKED : WRITES_ALLOWED;
    }
    if (refused) {
        return WRITES_DISK_PROTECTED;
    }
    if (!filter) {
        return WRITES_NO_FILTER;
    }
    if (!usb) {
        return WRITES_NOT_COVERED;
    }
    return exempt ? WRITES_EXEMPT : WRITES_ALLOWED;
}

void LearnState() {
    ListDisks();
    QueryDriver();
    for (size_t i = 0; i < DiskCount; ++i) {
        DiskRecord& d = Disks[i];
        d.writes = JudgeWrites(d.filter, d.busType == BusTypeUsb, d.exempt, d.refused,
                               ModeKnown && Mode == WP_MODE_OFF);
    }
}

const DiskRecord* FindDisk(DWORD number) {
    for (size_t i = 0; i < DiskCount; ++i) {
        if (Disks[i].number == number) {
            return &Disks[i];
        }
    }
    return nullptr;
}

DWORD SendControl(const DiskRecord& disk, uint32_t code, uint32_t word) {
    HandleCloser handle(OpenDisk(disk.path, GENERIC_READ | GENERIC_WRITE));
    if (!handle) {
        return GetLastError();
    }
    uint32_t reply = 0;
    DWORD returned = 0;
    const bool sent =
        code == IOCTL_WP_SET_MODE
            ? Control(handle.Get(), code, &word, sizeof word, nullptr, 0, &returned)
            : Control(handle.Get(), code, nullptr, 0, &reply, sizeof reply, &returned);
    return sent ? ERROR_SUCCESS : GetLastError();
}
