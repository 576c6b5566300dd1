// User-mode side of the disk stacks in Wine's kernel: the two kernel services,
// the device instances of the simulated disks, plugging and unplugging them
// through the test bus, and requests to the top of each stack.
#pragma once

#include <windows.h>

#include "testbus_interface.h"

#include <string>

constexpr uint32_t kBusTypeSata = 11;
constexpr uint32_t kBusTypeUsb = 7;
constexpr uint32_t kBusTypeScsi = 1;

// The exemption marker as a registry value of the disk's "Device Parameters".
struct Marker {
    bool present = false;
    DWORD type = REG_BINARY;
    std::string bytes;
};

// One simulated disk: where it is plugged, what it reports, how it fails.
struct TestDisk {
    uint32_t slot = 0;
    uint32_t busType = kBusTypeSata;
    const wchar_t* instance = L"disk";
    bool withFilter = true; // Service = quilldrv; otherwise a raw stack
    bool failStorageQuery = false;
    bool failStart = false;
    bool fixedMedia = false;       // as the storage descriptor reports it
    bool writeProtected = false;   // the medium refuses writes, whatever the filter says
    const char* vendor = "QgTest"; // the storage descriptor's strings; "" for none
    const char* product = "Simulated Disk";
    Marker marker;
};

// The number IOCTL_STORAGE_GET_DEVICE_NUMBER reports for the disk in `slot`.
constexpr uint32_t DiskNumberOf(uint32_t slot) {
    return QG_TESTDISK_FIRST_NUMBER + slot;
}

// Which quilldrv the stacks load: the one an installed product registered, or
// the copy the rig installed itself.
struct RigDrivers {
    bool usedInstalledQuilldrv = false;
    std::wstring quilldrvImage;
};

// Installs and starts the test bus, and registers the given quilldrv unless
// `keepInstalled` finds a registration that is not one of the rig's own copies.
// Nothing is installed when the bus runs already.
bool PrepareDrivers(const std::wstring& quilldrvSource, const std::wstring& busSource,
                    bool keepInstalled, RigDrivers& drivers, std::string& why);

// Creates the disk's device instance (Disk Drive class, Service, "Device
// Parameters" with the marker), plugs the disk in, waits until its stack is
// started and then has its GUID_DEVINTERFACE_DISK interface enabled. Unplug waits
// until the removal has reached the disk, which disables the interface.
bool PlugDisk(const TestDisk& disk, std::string& why);
bool UnplugDisk(uint32_t slot, std::string& why);
void DeleteDiskInstance(const wchar_t* instance);
// Unplugs whatever a previous run left plugged.
void UnplugEverything();

QgDiskState DiskState(uint32_t slot);
// The filter devices quilldrv has, all disks together; -1 when the bus does not answer.
int QuilldrvDevices();
// What the disk reports and how it fails from now on (slot, instance and marker
// stay as they are).
bool ChangeDisk(const TestDisk& disk);

// A handle to the top of the disk's stack.
HANDLE OpenDisk(uint32_t slot, DWORD access);

struct IoResult {
    LONG status = -1;
    ULONG_PTR information = 0;
    uint32_t word = 0; // first word of a control code's reply
};

// Both address the start of the disk.
IoResult WriteDisk(HANDLE disk, DWORD length, unsigned char fill = 0x5A);
IoResult ReadDisk(HANDLE disk, DWORD length, unsigned char* data = nullptr);
// A user-mode device control with one shared 8-byte buffer for input and output.
IoResult ControlDisk(HANDLE disk, uint32_t code, DWORD inputLength, DWORD outputLength,
                     uint32_t word = 0);

// Requests the bus sends to the top of the disk's stack, in kernel mode.
QgKernelResult KernelControl(uint32_t slot, uint32_t code, uint32_t inputLength,
                             uint32_t outputLength, uint32_t word = 0);
QgKernelResult PowerUp(uint32_t slot);
QgKernelResult StopAndStart(uint32_t slot);
// Runs quillctl with `arguments` and waits for it; its standard output, which is not
// a console, arrives as UTF-8. The exit code, or -1 when it could not be started.
int RunQuillctl(const std::wstring& arguments, std::string& output);

// What SeCaptureSubjectContext and SeTokenIsAdmin return in the device host, for
// the program's request or for a driver's; false when the bus gave no answer.
bool ProbeSecurity(bool viaDriver, QgSecurityContext& context);
