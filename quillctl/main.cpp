// quillctl status [--json] | off | on | unprotect N | protect N | help
#include "quillctl.h"

#include "dlls.h"
#include "policy.h"
#include "resource.h"

#include <winioctl.h>

#include <cwchar>

namespace {

bool Is(const wchar_t* argument, const wchar_t* name) {
    return CompareStringOrdinal(argument, -1, name, -1, TRUE) == CSTR_EQUAL;
}

// A disk number: decimal digits only.
bool ParseNumber(const wchar_t* text, DWORD* number) {
    if (*text == 0 || wcslen(text) > 9) {
        return false;
    }
    DWORD value = 0;
    for (const wchar_t* c = text; *c != 0; ++c) {
        if (*c < L'0' || *c > L'9') {
            return false;
        }
        value = value * 10 + static_cast<DWORD>(*c - L'0');
    }
    *number = value;
    return true;
}

int Usage(int code) {
    PrintLine(IDS_USAGE);
    return code;
}

// The driver must be in the disks' stacks for a switch to mean anything.
bool RefuseWithoutDriver() {
    if (Driver == DRIVER_RUNNING) {
        return false;
    }
    PrintLine(Driver == DRIVER_NOT_INSTALLED ? IDS_NOT_INSTALLED : IDS_NOT_RUNNING);
    return true;
}

// The driver refuses a sender that is not an administrator, and Windows a write
// handle to a disk.
int Refused(DWORD error) {
    if (error == ERROR_ACCESS_DENIED) {
        PrintLine(IDS_RUN_ELEVATED);
        return EXIT_ACCESS_DENIED;
    }
    PrintLine(IDS_FAILED, error);
    return EXIT_NO_DRIVER;
}

int SwitchMode(bool on) {
    if (RefuseWithoutDriver()) {
        return EXIT_NO_DRIVER;
    }
    const DiskRecord* filtered = nullptr;
    DWORD numbers[MAX_DISKS];
    size_t count = 0;
    for (size_t i = 0; i < DiskCount; ++i) {
        if (filtered == nullptr && Disks[i].filter) {
            filtered = &Disks[i]; // the mode is the driver's: any filtered stack carries it
        }
        // The disks whose writes the switch changes.
        if (Disks[i].filter && Disks[i].busType == BusTypeUsb && !Disks[i].exempt) {
            numbers[count++] = Disks[i].number;
        }
    }
    if (filtered == nullptr) {
        PrintLine(IDS_NOT_RUNNING);
        return EXIT_NO_DRIVER;
    }
    const DWORD error = SendControl(*filtered, IOCTL_WP_SET_MODE, on ? WP_MODE_ON : WP_MODE_OFF);
    if (error != ERROR_SUCCESS) {
        return Refused(error);
    }
    PrintLine(on ? IDS_MODE_ON_DONE : IDS_MODE_OFF_DONE);
    return RemountVolumes(numbers, count) ? EXIT_DONE : EXIT_VOLUME_BUSY;
}

int SwitchDisk(const wchar_t* argument, bool on) {
    DWORD number = 0;
    if (!ParseNumber(argument, &number)) {
        return Usage(EXIT_COMMAND_LINE);
    }
    const DiskRecord* disk = FindDisk(number);
    if (disk == nullptr) {
        PrintLine(IDS_NO_SUCH_DISK, number);
        return EXIT_NO_SUCH_DISK;
    }
    if (RefuseWithoutDriver()) {
        return EXIT_NO_DRIVER;
    }
    if (!disk->filter) {
        PrintLine(IDS_NO_FILTER, number);
        return EXIT_NO_DRIVER;
    }
    // Nothing to switch: say why, change nothing.
    if (disk->busType != BusTypeUsb || disk->exempt) {
        PrintLine(disk->exempt ? IDS_EXEMPT : IDS_NOT_COVERED, number);
        return EXIT_DONE;
    }
    const DWORD error =
        SendControl(*disk, on ? IOCTL_WP_DRIVE_PROTECT : IOCTL_WP_DRIVE_UNPROTECT, 0);
    if (error != ERROR_SUCCESS) {
        return Refused(error);
    }
    PrintLine(on ? IDS_DISK_ON_DONE : IDS_DISK_OFF_DONE, number);
    return RemountVolumes(&number, 1) ? EXIT_DONE : EXIT_VOLUME_BUSY;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    RestrictDllSearch();
    if (argc < 2 || argc > 3) {
        return Usage(EXIT_COMMAND_LINE);
    }
    const wchar_t* command = argv[1];
    if (argc == 2 && (Is(command, L"help") || Is(command, L"/?") || Is(command, L"--help"))) {
        return Usage(EXIT_DONE);
    }
    const bool json = argc == 3 && Is(argv[2], L"--json");
    LearnState();
    if (Is(command, L"status") && (argc == 2 || json)) {
        json ? PrintStatusJson() : PrintStatus();
        return EXIT_DONE;
    }
    if (argc == 2 && (Is(command, L"off") || Is(command, L"on"))) {
        return SwitchMode(Is(command, L"on"));
    }
    if (argc == 3 && (Is(command, L"unprotect") || Is(command, L"protect"))) {
        return SwitchDisk(argv[2], Is(command, L"protect"));
    }
    return Usage(EXIT_COMMAND_LINE);
}
