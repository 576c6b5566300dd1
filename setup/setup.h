// The setup program around the install engine: its entry, the wizard dialog and
// the hand-over to installed uninstallers.
#pragma once

#include "capacity.h"
#include "engine.h"
#include "format.h"

#include <windows.h>

// --- Wizard pages -------------------------------------------------------------

constexpr int PAGE_WELCOME = 1;
constexpr int PAGE_LICENSE = 2;
constexpr int PAGE_CONFIRM = 3;
constexpr int PAGE_INSTALLING = 4;
constexpr int PAGE_COMPLETE = 5;
constexpr int PAGE_FAILED = 6;

// --- Process-wide objects, written on the main thread ---------------------------

extern HINSTANCE SetupInstance;
extern HICON SetupIcon;
extern HBRUSH WhiteBrush;
extern HFONT TitleFont; // made by the wizard; null until then
extern int CurrentPage;

// --- The two bounded formatters (fail instead of cutting) -----------------------

// Registry paths, search patterns, folder and file paths.
template <typename... Args>
bool FormatPath(wchar_t (&buffer)[PATH_CAPACITY], const wchar_t* format, Args... args) {
    return FormatTo(buffer, PATH_CAPACITY, format, args...);
}

// The uninstall launcher's argument line.
template <typename... Args>
bool FormatLine(wchar_t (&buffer)[TEXT_CAPACITY], const wchar_t* format, Args... args) {
    return FormatTo(buffer, TEXT_CAPACITY, format, args...);
}

// --- The command line -----------------------------------------------------------

struct SetupOptions {
    bool valid; // every switch known, /log followed by its path
    bool quiet;
    bool uninstall;
    bool noRestart;
    wchar_t logPath[PATH_CAPACITY]; // empty: no log
};
// Written once, from the command line, before anything else.
extern SetupOptions Options;

// --- Entry and hand-over --------------------------------------------------------

// Reloads string 103 into ProductName (empty, after a warning box, when missing).
const wchar_t* LoadProductName();

// Starts the launcher of every installed copy under Program Files\VARNO, without
// waiting for any of them.
void RunInstalledUninstallers();
// Runs the launcher of every installed copy quietly and waits for each: 3010 when
// every copy was removed, 1618 when another removal was running, else 1603 (also
// when no copy has a launcher).
DWORD RemoveQuietly();

// --- The wizard dialog ----------------------------------------------------------

INT_PTR CALLBACK WizardDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL OnInitWizard(HWND dialog);
void ShowWizardPage(HWND dialog, int page);
void OnWizardCommand(HWND dialog, int id, HWND control, UINT code);
HBRUSH OnCtlColorStatic(HWND dialog, HWND control);
