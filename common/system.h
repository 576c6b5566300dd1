// Restart of the PC, what is left for it to delete, the product's mutex, and the
// Windows version tests.
#pragma once

#include <windows.h>

// Enables the shutdown privilege where the platform has privileges, then asks for
// a reboot without forcing: running programs are asked to close and may refuse.
// True when the reboot was requested.
bool RestartWindows();

bool IsWindows2000(); // version 5.0
bool IsWindowsXP();   // version 5.1

// Creates and holds the product's mutex (PRODUCT_MUTEX) until the handle is closed;
// null when another setup or removal holds it: it exists already, or exists and
// cannot even be opened (one that a run as SYSTEM made).
HANDLE TakeProductMutex();

// Deletes the file or (empty) folder now, or else has the system delete it at its
// next start. False, with the thread's last error, when it can do neither.
bool DeleteNowOrAtRestart(const wchar_t* path, bool folder);
// Takes back a deletion at the next start that an earlier removal left for the
// file: an install before that restart must not lose the file it has just written.
void KeepAtRestart(const wchar_t* path);
