// Files carried inside the program as resources of type "MODULE".
#pragma once

// Writes the MODULE resource `resource` (name compared without regard to case) of
// the program's own module, byte for byte, to folder\fileName, replacing any file
// there. The folder may end in a backslash. False, with no file left behind, when
// the resource is missing or empty, the path passes 263 characters, or the file
// cannot be written completely.
bool ExtractModule(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resource);
