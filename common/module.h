// Files carried inside the program as resources of type "MODULE".
#pragma once

#include <windows.h>

// Writes the MODULE resource `resource` (name compared without regard to case) of
// the program's own module, byte for byte, to folder\fileName, replacing any file
// there. The folder may end in a backslash. False, with no file left behind, when
// the resource is missing or empty, the path passes 263 characters, or the file
// cannot be written completely.
bool ExtractModule(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resource);

// The same for a file that is to be run or copied elsewhere: any file of that name
// is deleted first (an overwritten file would keep its owner's security), the file
// is created new (never written through a name planted in between), and opened
// again with read sharing only and checked to hold the resource's bytes. While the
// returned handle is held nobody can write, rename or delete the file.
// INVALID_HANDLE_VALUE when the file cannot be written or held so (a name that
// came back after the delete, or someone holding it open for writing or deleting).
HANDLE ExtractModuleHeld(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resource);
