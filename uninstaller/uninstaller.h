// The uninstaller proper: it runs from the temporary folder, takes the driver out
// of the disk class's filters, deletes its service and the installed folder, and
// offers to restart the PC; a quiet run asks nothing and ends with an exit code.
// Both write a log of the steps.
#pragma once

#include "capacity.h"

#include <windows.h>

#include <atomic>

// Ends the wait box (wParam 0, lParam 0).
constexpr UINT WM_REMOVAL_DONE = WM_USER + 1;

// Removal results of RemoveDriverService.
constexpr unsigned REMOVAL_RESULT_OK = 501;
constexpr unsigned REMOVAL_RESULT_NO_MANAGER = 800;
constexpr unsigned REMOVAL_RESULT_NO_SERVICE = 801;

// --- Process-wide state ------------------------------------------------------

// The four arguments and the quiet switch, written by the main thread before the
// worker starts.
extern wchar_t LauncherFolder[ARGUMENT_CAPACITY];
extern wchar_t UninstallEntryName[ARGUMENT_CAPACITY];
extern wchar_t ProductTitle[ARGUMENT_CAPACITY];
extern wchar_t ProductFolderName[ARGUMENT_CAPACITY];
extern bool Quiet;
// The wait box, set once it exists; the worker polls it from its own thread.
extern std::atomic<HWND> WaitWindow;
// Set when the wait box could not be created: the worker then stops waiting for it.
extern std::atomic<bool> NoWaitBox;

// --- Entry and wait box ------------------------------------------------------

// Runs the worker behind the wait box, then asks whether to restart. Returns 1.
int RunRemoval();
// Runs the worker on this thread, without a box: ERROR_SUCCESS_REBOOT_REQUIRED when
// every step succeeded (the loaded driver goes at the restart), else
// ERROR_INSTALL_FAILURE.
int RunQuietRemoval();
INT_PTR CALLBACK WaitDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Shows the system's text for the thread's last error, owned by `owner`.
void ShowSystemError(HWND owner);

// --- Removal steps -----------------------------------------------------------

// The thread procedure: 1 when every step succeeded, else 0. Logs one line per
// step; a failure at the filter entry or the service leaves the later ones undone.
DWORD WINAPI RemovalWorker(void* unused);
// Removes every equal entry (A-Z folded) and writes the list back, even when
// nothing matched. A missing value holds no entry: 1, and nothing is written. 0
// when the value cannot be read (not REG_MULTI_SZ, say) or written.
int RemoveFromMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name,
                           const wchar_t* entry);
// REMOVAL_RESULT_OK also when the service is not there or already marked for deletion.
unsigned RemoveDriverService(const wchar_t* serviceName);
BOOL DeleteNamedService(SC_HANDLE manager, const wchar_t* serviceName);
// Deletes the files directly in the folder; a file that cannot go now (in use,
// read-only) is deleted at the restart. Subfolders stay. Always 1.
int DeleteFolderFiles(const wchar_t* folder);
