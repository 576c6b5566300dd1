// A switch takes effect for the file system too: a volume mounted while writes were
// refused stays read-only, and one mounted read-write would fail its delayed writes.
// Dismounted, each is mounted again with the disk's new state at its next use.
#include "quillctl.h"

#include "closer.h"
#include "resource.h"

#include <winioctl.h>

#include <cwchar>

namespace {

using VolumeSearchCloser = Closer<HANDLE, FindVolumeClose>;

bool OnDisks(HANDLE volume, const DWORD* numbers, size_t count) {
    union {
        VOLUME_DISK_EXTENTS extents;
        BYTE room[sizeof(VOLUME_DISK_EXTENTS) + 15 * sizeof(DISK_EXTENT)];
    } answer = {};
    DWORD returned = 0;
    if (!DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &answer,
                         sizeof answer, &returned, nullptr)) {
        return false;
    }
    for (DWORD e = 0; e < answer.extents.NumberOfDiskExtents && e < 16; ++e) {
        for (size_t n = 0; n < count; ++n) {
            if (answer.extents.Extents[e].DiskNumber == numbers[n]) {
                return true;
            }
        }
    }
    return false;
}

// The volume as a user knows it: its first mount point (a drive letter), else its name.
void VolumeLabel(const wchar_t* name, wchar_t* label, DWORD capacity) {
    DWORD length = 0;
    if (!GetVolumePathNamesForVolumeNameW(name, label, capacity, &length) || label[0] == 0) {
        lstrcpynW(label, name, static_cast<int>(capacity));
    }
}

} // namespace

bool RemountVolumes(const DWORD* numbers, size_t count) {
    wchar_t name[PATH_CAPACITY];
    VolumeSearchCloser search(FindFirstVolumeW(name, PATH_CAPACITY));
    bool all = true;
    for (bool more = static_cast<bool>(search); more;
         more = FindNextVolumeW(search.Get(), name, PATH_CAPACITY) != FALSE) {
        // The volume's device is its name without the final backslash.
        wchar_t device[PATH_CAPACITY];
        lstrcpynW(device, name, PATH_CAPACITY);
        const size_t length = wcslen(device);
        if (length > 0 && device[length - 1] == L'\\') {
            device[length - 1] = 0;
        }
        HandleCloser volume(CreateFileW(device, GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
        if (!volume || !OnDisks(volume.Get(), numbers, count)) {
            continue;
        }
        DWORD returned = 0;
        if (!DeviceIoControl(volume.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned,
                             nullptr) ||
            !DeviceIoControl(volume.Get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned,
                             nullptr)) {
            wchar_t label[PATH_CAPACITY];
            VolumeLabel(name, label, PATH_CAPACITY);
            PrintLine(IDS_VOLUME_BUSY, label);
            all = false;
        }
        // Closing the handle unlocks the volume.
    }
    return all;
}
