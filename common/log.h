// The text log of a quiet run, for administrators of many PCs: UTF-8, one line per
// step with the local time, the step, its result and, for a failure, the Windows
// error code and the system's text for it.
#pragma once

#include <windows.h>

// Opens the log at `path`, appending to what is there; false when it cannot be
// opened. Without an open log every line is dropped. Called once, on the main
// thread, before any step.
bool OpenLog(const wchar_t* path);
// "2026-12-09 20:41:07 <step>: ok", or for an error other than 0
// "2026-12-09 20:41:07 <step>: failed, error 577: <the system's text>".
void LogStep(const wchar_t* step, DWORD error);
// "2026-12-09 20:41:07 <text>", for what is no step (the exit code, say).
void LogLine(const wchar_t* text);
