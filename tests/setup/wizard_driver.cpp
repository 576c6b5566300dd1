#include "wizard_driver.h"

#include "../support/wine_support.h"

#include <tlhelp32.h>

#include <vector>

bool StartProgram(const std::wstring& program, const std::wstring& arguments, Started* started,
                  const wchar_t* const* environment, size_t environmentCount) {
    std::wstring command = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        command += L" " + arguments;
    }
    // This process's environment with the extra lines in front (the first
    // occurrence of a name wins).
    std::vector<wchar_t> block;
    if (environmentCount > 0) {
        for (size_t i = 0; i < environmentCount; ++i) {
            block.insert(block.end(), environment[i], environment[i] + wcslen(environment[i]) + 1);
        }
        wchar_t* own = GetEnvironmentStringsW();
        for (const wchar_t* line = own; *line != 0; line += wcslen(line) + 1) {
            block.insert(block.end(), line, line + wcslen(line) + 1);
        }
        FreeEnvironmentStringsW(own);
        block.push_back(0);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, block.empty() ? nullptr : block.data(), nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    started->process.Reset(info.hProcess);
    started->id = info.dwProcessId;
    return true;
}

DWORD WaitForExit(const Started& started, DWORD timeoutMs) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(started.process.Get(), timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(started.process.Get(), &code);
    }
    return code;
}

bool HasEnded(const Started& started) {
    return WaitForSingleObject(started.process.Get(), 0) == WAIT_OBJECT_0;
}

void Kill(const Started& started) {
    if (started.process && !HasEnded(started)) {
        TerminateProcess(started.process.Get(), 99);
        WaitForSingleObject(started.process.Get(), 5000);
    }
}

namespace {

// The wizard has its Next button; a message box has its text control.
bool IsWizard(HWND window) {
    return GetDlgItem(window, kNext) != nullptr;
}
bool IsMessageBox(HWND window) {
    return !IsWizard(window) && GetDlgItem(window, 0xFFFF) != nullptr;
}

template <typename Kind> HWND WaitForDialogOf(DWORD processId, Kind kind, DWORD timeoutMs) {
    return WaitForDialog(
        [&](HWND w) { return (processId == 0 || ProcessOf(w) == processId) && kind(w); },
        timeoutMs);
}

} // namespace

HWND FindWizard(DWORD processId, DWORD timeoutMs) {
    HWND wizard = WaitForDialogOf(processId, IsWizard, timeoutMs);
    // Initialised: the placeholder title has been replaced.
    if (wizard != nullptr &&
        !WaitUntil([&] { return ControlText(wizard, kTitle) != L"Title"; }, timeoutMs)) {
        return nullptr;
    }
    return wizard;
}

HWND FindMessageBox(DWORD processId, DWORD timeoutMs) {
    return WaitForDialogOf(processId, IsMessageBox, timeoutMs);
}

bool IsShown(HWND dialog, int id) {
    return (GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool IsEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool IsChecked(HWND dialog, int id) {
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int FocusedControl(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) ||
        info.hwndFocus == nullptr) {
        return 0;
    }
    return GetDlgCtrlID(info.hwndFocus);
}

void Click(HWND dialog, int id) {
    // Sent, so the click has been handled when this returns.
    SendMessageTimeoutW(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, nullptr);
}

bool WaitForTitle(HWND wizard, const std::wstring& title, DWORD timeoutMs) {
    return WaitUntil([&] { return ControlText(wizard, kTitle) == title; }, timeoutMs);
}

BoxAnswer AnswerMessageBox(DWORD processId, int answer, DWORD timeoutMs) {
    BoxAnswer seen;
    const HWND box = FindMessageBox(processId, timeoutMs);
    if (box == nullptr) {
        return seen;
    }
    seen.found = true;
    seen.caption = WindowText(box);
    seen.text = BoxText(box);
    // Wine's icon control has the id 0x440, Windows' 0x14.
    for (int id : {0x440, 0x14}) {
        if (GetDlgItem(box, id) != nullptr) {
            seen.icon = reinterpret_cast<HICON>(SendDlgItemMessageW(box, id, STM_GETICON, 0, 0));
            break;
        }
    }
    auto has = [&](int id) {
        const HWND button = GetDlgItem(box, id);
        return button != nullptr && IsWindowVisible(button);
    };
    seen.hasOk = has(IDOK);
    seen.hasCancel = has(IDCANCEL);
    seen.hasYes = has(IDYES);
    seen.hasNo = has(IDNO);
    Answer(box, answer);
    // Gone before the next search, so that it cannot be found twice.
    WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
    return seen;
}

bool GoToConfirmPage(HWND wizard) {
    Click(wizard, kNext);
    if (!WaitUntil([&] { return IsShown(wizard, kAgree); }, 5000)) {
        return false;
    }
    Click(wizard, kAgree);
    Click(wizard, kNext);
    return WaitUntil([&] { return IsShown(wizard, kMessage) && !IsShown(wizard, kAgree); }, 5000);
}

namespace {

bool Fail(std::wstring* failure, const wchar_t* what) {
    *failure = what;
    return false;
}

bool IsProcessRunning(const wchar_t* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry)) {
        running = _wcsicmp(entry.szExeFile, name) == 0;
    }
    CloseHandle(snapshot);
    return running;
}

} // namespace

bool InstallThroughWizard(const std::wstring& program, std::wstring* failure,
                          const std::wstring& arguments) {
    Started setup;
    if (!StartProgram(program, arguments, &setup)) {
        return Fail(failure, L"setup could not be started");
    }
    const HWND wizard = FindWizard(setup.id, 30000);
    if (wizard == nullptr) {
        Kill(setup);
        return Fail(failure, L"no wizard within 30 s");
    }
    if (!GoToConfirmPage(wizard)) {
        Kill(setup);
        return Fail(failure, L"the confirmation page was not reached within 5 s");
    }
    Click(wizard, kNext);
    if (arguments.find(L"norestart") != std::wstring::npos) {
        if (!WaitUntil([&] { return !IsEnabled(wizard, kBack) && IsEnabled(wizard, kNext); },
                       60000) ||
            FindMessageBox(setup.id, 2000) != nullptr) {
            Kill(setup);
            return Fail(failure, L"no closing page within 60 s, or a box after it");
        }
        Click(wizard, kNext); // Close
        return WaitForExit(setup, 15000) == 0 || Fail(failure, L"setup did not end with 0");
    }
    const BoxAnswer question = AnswerMessageBox(setup.id, IDCANCEL, 60000);
    if (!question.found) {
        Kill(setup);
        return Fail(failure, L"no restart question within 60 s (the install failed?)");
    }
    if (!WaitUntil([&] { return FindMessageBox(setup.id, 0) == nullptr; }, 5000)) {
        Kill(setup);
        return Fail(failure, L"the restart question stayed for 5 s after Cancel");
    }
    Click(wizard, kNext); // Close
    if (WaitForExit(setup, 15000) != 0) {
        Kill(setup);
        return Fail(failure, L"setup did not end with 0 within 15 s of Close");
    }
    return true;
}

bool RemoveThroughLaunchers(const std::wstring& program, std::wstring* failure,
                            const std::wstring& arguments) {
    Started setup;
    if (!StartProgram(program, arguments, &setup)) {
        return Fail(failure, L"setup could not be started");
    }
    if (WaitForExit(setup, 15000) != 0) {
        Kill(setup);
        return Fail(failure, L"setup did not hand over and end with 0 within 15 s");
    }
    // The launcher asks Yes or No; the uninstaller's restart question OK or Cancel.
    const BoxAnswer confirm = AnswerMessageBox(0, IDYES, 30000);
    if (!confirm.found || !confirm.hasYes) {
        return Fail(failure, L"no removal question (Yes/No) within 30 s");
    }
    const BoxAnswer restart = AnswerMessageBox(0, IDCANCEL, 60000);
    if (!restart.found || !restart.hasCancel) {
        return Fail(failure, L"no restart question after the removal within 60 s");
    }
    if (!WaitUntil([] { return !IsProcessRunning(L"_uninst.bin"); }, 15000)) {
        return Fail(failure, L"the uninstaller did not end within 15 s");
    }
    return true;
}
