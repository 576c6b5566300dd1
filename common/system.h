// Restart of the PC, what is left for it to delete, and the Windows version tests.
#pragma once

// Enables the shutdown privilege where the platform has privileges, then asks for
// a reboot without forcing: running programs are asked to close and may refuse.
// True when the reboot was requested.
bool RestartWindows();

bool IsWindows2000(); // version 5.0
bool IsWindowsXP();   // version 5.1

// Deletes the file or (empty) folder now, or else has the system delete it at its
// next start.
void DeleteNowOrAtRestart(const wchar_t* path, bool folder);
