// Drives QuillGuardSetup from the outside, as a user would: start it, find its
// wizard, read and click controls, answer the message boxes of any process. Used
// by the wizard tests, the autopilot and the screenshots.
#pragma once

#include "../support/window_driver.h"

#include <windows.h>

#include <string>

// Control ids of the wizard dialog (setup/resources/resource.h).
constexpr int kTitle = 1001, kMessage = 1002, kBack = 1003, kNext = 1004, kLicence = 1005,
              kDisagree = 1006, kAgree = 1007, kLicencePrompt = 1008, kCancel = IDCANCEL;

// Starts `program` with `arguments` (may be empty); `environment` lines
// ("NAME=value") are added to this process's environment for the child only.
bool StartProgram(const std::wstring& program, const std::wstring& arguments, Started* started,
                  const wchar_t* const* environment = nullptr, size_t environmentCount = 0);

// Waits for the process to end; its exit code, or STILL_ACTIVE after `timeoutMs`.
DWORD WaitForExit(const Started& started, DWORD timeoutMs);
bool HasEnded(const Started& started);
void Kill(const Started& started);

// The wizard of a setup process once it is visible and initialised (it has the
// Next button), or null after `timeoutMs`.
HWND FindWizard(DWORD processId, DWORD timeoutMs);

// A visible message box (a dialog with a text control) of `processId`, or of any
// process when it is 0; null after `timeoutMs`.
HWND FindMessageBox(DWORD processId, DWORD timeoutMs);

bool IsShown(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
// The control that has the keyboard focus in the window's thread (0 when none).
int FocusedControl(HWND dialog);

// Presses a button as the mouse would (BM_CLICK): nothing happens when it is
// disabled or hidden, and radio buttons check themselves.
void Click(HWND dialog, int id);

// Waits until the wizard's title text is `title`.
bool WaitForTitle(HWND wizard, const std::wstring& title, DWORD timeoutMs);

// What a message box said, and the button that answered it.
struct BoxAnswer {
    bool found = false;
    std::wstring caption;
    std::wstring text;
    HICON icon = nullptr;
    bool hasOk = false, hasCancel = false, hasYes = false, hasNo = false;
};

// Finds a box of the process (0: any process) within `timeoutMs`, records it,
// presses the button `answer` (IDOK, IDCANCEL, IDYES, IDNO) and waits (up to 5 s)
// until the box has gone.
BoxAnswer AnswerMessageBox(DWORD processId, int answer, DWORD timeoutMs);

// Drives a fresh wizard from page 1 to page 3 (Next, Agree, Next).
bool GoToConfirmPage(HWND wizard);

// --- Whole sessions, as the lifecycle test and the autopilot run them ------------

// Starts `setup` (with `arguments`), goes through every page, answers the restart
// question Cancel (with /norestart: checks that none comes) and presses Close. True
// when the complete page was reached and setup ended with 0; otherwise `failure`
// says what did not happen in time.
bool InstallThroughWizard(const std::wstring& setup, std::wstring* failure,
                          const std::wstring& arguments = L"");

// Starts `setup` (with `arguments`) on an installed machine, answers the launcher's
// question Yes and the uninstaller's restart question Cancel, and waits until the
// uninstaller has ended. True when all of that happened in time.
bool RemoveThroughLaunchers(const std::wstring& setup, std::wstring* failure,
                            const std::wstring& arguments = L"");
