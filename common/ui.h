// String-table texts and window centring, shared by the three programs.
#pragma once

#include <windows.h>

// Loads a string of the program's own string table into one process-wide buffer of
// 1024 characters and returns it; the next call overwrites it. Main thread only.
// A missing string shows a warning box with the system's error text and gives "".
const wchar_t* LoadResString(UINT id);

// The same into the caller's buffer, which is not emptied first.
wchar_t* LoadResStringTo(UINT id, wchar_t* buffer, int capacity);

// The system's text for a Windows error code, in the user's language where Windows
// has one, without its final line break; empty when Windows has none.
void SystemErrorText(DWORD error, wchar_t* text, DWORD capacity);

// The string `id` of the program's English (United States) string table, whatever
// the user's language: for logs, which administrators compare across PCs. Empty
// when there is none.
void LoadEnglishString(UINT id, wchar_t* buffer, size_t capacity);

// Centres the window on its parent (or the desktop), keeps it on the desktop, and
// brings it to the top of the Z order without changing its size.
void CenterWindow(HWND window);
