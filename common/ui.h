// String-table texts and window centring, shared by the three programs.
#pragma once

#include <windows.h>

// Loads a string of the program's own string table into one process-wide buffer of
// 1024 characters and returns it; the next call overwrites it. Main thread only.
// A missing string shows a warning box with the system's error text and gives "".
const wchar_t* LoadResString(UINT id);

// The same into the caller's buffer, which is not emptied first.
wchar_t* LoadResStringTo(UINT id, wchar_t* buffer, int capacity);

// Centres the window on its parent (or the desktop), keeps it on the desktop, and
// brings it to the top of the Z order without changing its size.
void CenterWindow(HWND window);
