// Where Windows itself starts from. A PC whose Windows volume lies on a USB disk
// would have its own system disk write-protected at the next start, and would not
// start again.
#include "engine.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"

#include <winioctl.h>

namespace {

// Opened without any access: enough for the queries, and allowed to every user.
HANDLE OpenDevice(const wchar_t* path) {
    return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

bool DiskIsOnUsb(DWORD number) {
    wchar_t path[PATH_CAPACITY];
    if (!FormatTo(path, PATH_CAPACITY, L"\\\\.\\PhysicalDrive%lu", number)) {
        return false;
    }
    HandleCloser disk(OpenDevice(path));
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor = {};
    DWORD returned = 0;
    return disk &&
           DeviceIoControl(disk.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                           &descriptor, sizeof descriptor, &returned, nullptr) &&
           returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType &&
           descriptor.BusType == BusTypeUsb;
}

} // namespace

bool SystemDiskIsOnUsb() {
    wchar_t windows[PATH_CAPACITY];
    wchar_t volume[PATH_CAPACITY];
    const UINT length = GetSystemWindowsDirectoryW(windows, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY ||
        !GetVolumePathNameW(windows, volume, PATH_CAPACITY)) {
        return false;
    }
    // A volume with a drive letter ("C:\") opens as \\.\C:.
    wchar_t device[PATH_CAPACITY];
    if (volume[0] == 0 || volume[1] != L':' ||
        !FormatTo(device, PATH_CAPACITY, L"\\\\.\\%lc:", volume[0])) {
        return false;
    }
    HandleCloser handle(OpenDevice(device));
    // Room for a volume spread over several disks; any of them on USB counts.
    union {
        VOLUME_DISK_EXTENTS extents;
        BYTE room[sizeof(VOLUME_DISK_EXTENTS) + 15 * sizeof(DISK_EXTENT)];
    } answer = {};
    DWORD returned = 0;
    if (!handle || !DeviceIoControl(handle.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                    &answer, sizeof answer, &returned, nullptr)) {
        return false;
    }
    const DWORD count = answer.extents.NumberOfDiskExtents;
    for (DWORD i = 0; i < count && i < 16; ++i) {
        if (DiskIsOnUsb(answer.extents.Extents[i].DiskNumber)) {
            return true;
        }
    }
    return false;
}
