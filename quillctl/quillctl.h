// quillctl: lists the disks of the Disk Drive class with what happens to writes on
// each, and switches QuillGuard's protection off and on for maintenance through
// the driver's control codes, which travel down each disk's stack.
#pragma once

#include "capacity.h"

#include <windows.h>

#include <cstdint>

// Exit codes.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_COMMAND_LINE = 1;
constexpr int EXIT_NO_SUCH_DISK = 2;
constexpr int EXIT_NO_DRIVER = 3;
constexpr int EXIT_VOLUME_BUSY = 4; // the switch itself took effect
constexpr int EXIT_ACCESS_DENIED = 5;

// What happens to writes on a disk.
enum Writes {
    WRITES_BLOCKED,        // QuillGuard refuses them
    WRITES_ALLOWED,        // under the policy, but protection is off for it or the PC
    WRITES_EXEMPT,         // a recognised exemption marker
    WRITES_NOT_COVERED,    // not on USB
    WRITES_NO_FILTER,      // no QuillGuard filter in the disk's stack
    WRITES_DISK_PROTECTED, // the disk itself refuses them
};

enum DriverState {
    DRIVER_NOT_INSTALLED,
    DRIVER_NOT_RUNNING,
    DRIVER_RUNNING,
};

constexpr size_t NAME_TEXT_CAPACITY = 64;
constexpr size_t DEVICE_PATH_CAPACITY = 512;
constexpr size_t MAX_DISKS = 64;

// One disk as its stack answers.
struct DiskRecord {
    DWORD number;  // the N of \\.\PhysicalDriveN
    DWORD busType; // STORAGE_BUS_TYPE
    wchar_t vendor[NAME_TEXT_CAPACITY];
    wchar_t product[NAME_TEXT_CAPACITY];
    ULONGLONG size; // bytes
    bool sized;     // the length query answered (it needs read access)
    bool filter;    // quilldrv answered its probe
    bool exempt;    // the exemption marker names a listed product code
    bool refused;   // the write-ability query said write-protected
    Writes writes;
    wchar_t path[DEVICE_PATH_CAPACITY]; // the disk interface's path
};

// What happens to writes, from what the stack answered. The write-ability query
// is answered by quilldrv for a disk it blocks and passed down otherwise, so a
// refusal on a disk quilldrv lets through (mode off, exempt, not on USB) is the
// disk's own.
Writes JudgeWrites(bool filter, bool usb, bool exempt, bool refused, bool modeOff);

// --- Process-wide state, written once by ListDisks and QueryDriver ------------------

extern DiskRecord Disks[MAX_DISKS];
extern size_t DiskCount;
extern DriverState Driver;
extern bool ModeKnown;
extern uint32_t Mode; // WP_MODE_ON or WP_MODE_OFF, when known

// Enumerates the disk interfaces and asks each disk, learns the driver's state and
// the mode (as the first disk with the filter tells it), and judges each disk's
// writes.
void LearnState();
const DiskRecord* FindDisk(DWORD number);

// --- Switching ----------------------------------------------------------------------

// Sends a control code with a 4-byte word through a handle with write access to the
// disk; ERROR_SUCCESS or the Windows error.
DWORD SendControl(const DiskRecord& disk, uint32_t code, uint32_t word);
// Locks and dismounts each volume on the disks numbered in `numbers`, so that
// Windows mounts it again with the new state; names each volume that could not be
// (files open on it). False when one could not.
bool RemountVolumes(const DWORD* numbers, size_t count);

// --- Output: the console, or UTF-8 when redirected ----------------------------------

void Print(const wchar_t* text);
// A string-table text formatted with the arguments, and a line break.
void PrintLine(UINT id, ...);
void PrintStatus();
void PrintStatusJson();
