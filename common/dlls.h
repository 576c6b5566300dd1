// Where the programs load DLLs from. They run as administrator, setup usually from
// the Downloads folder and the uninstaller from the temporary folder: a DLL of a
// system name placed beside them must never be loaded.
#pragma once

#include <windows.h>

// First thing in WinMain: DLLs loaded from now on by name (by the program or by
// the system's own libraries on its behalf) come from the system folder only.
// Where SetDefaultDllDirectories is missing, at least the current folder leaves
// the search.
void RestrictDllSearch();

// Loads a system library (such as "Riched20.dll") from the system folder only.
HMODULE LoadSystemLibrary(const wchar_t* name);
