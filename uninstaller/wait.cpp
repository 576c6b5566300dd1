// The wait box and the restart question around the removal worker.
#include "uninstaller.h"

#include "closer.h"
#include "format.h"
#include "resource.h"
#include "system.h"
#include "ui.h"

namespace {

HCURSOR WaitCursor() {
    return LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)); // IDC_WAIT
}

INT_PTR OnInitWait(HWND dialog) {
    WaitWindow.store(dialog);
    CenterWindow(dialog);
    // Room for the longest title an argument can carry: the title is never cut.
    wchar_t title[TEXT_CAPACITY];
    FormatTo(title, TEXT_CAPACITY, LoadResString(IDS_BEING_DELETED), ProductTitle);
    SetWindowTextW(dialog, title);
    return TRUE;
}

} // namespace

INT_PTR CALLBACK WaitDlgProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitWait(dialog);
    case WM_SETCURSOR:
        SetCursor(WaitCursor());
        return TRUE;
    case WM_REMOVAL_DONE:
        EndDialog(dialog, 0);
        return TRUE;
    }
    // WM_COMMAND too: neither Escape nor Alt+F4 ends the box.
    return FALSE;
}

void ShowSystemError(HWND owner) {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    MessageBoxW(owner, text, ProductTitle, MB_OK | MB_ICONINFORMATION);
    LocalFree(text);
}

int RunRemoval() {
    HCURSOR previous = SetCursor(WaitCursor());
    HandleCloser worker(CreateThread(nullptr, 0, RemovalWorker, nullptr, 0, nullptr));
    if (worker) {
        if (DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WAIT), nullptr,
                            WaitDlgProc, 0) == -1) {
            // The worker waits for a box that will never come: let it run without.
            NoWaitBox.store(true);
        }
        WaitForSingleObject(worker.Get(), INFINITE);
    } else {
        // No second thread: remove on this one, without the box.
        NoWaitBox.store(true);
        RemovalWorker(nullptr);
    }
    SetCursor(previous);
    // Asked whatever the removal achieved: the driver stays loaded until a restart.
    if (MessageBoxW(nullptr, LoadResString(IDS_RESTART_PC), ProductTitle,
                    MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
        RestartWindows();
    }
    return 1;
}

int RunQuietRemoval() {
    NoWaitBox.store(true);
    return RemovalWorker(nullptr) == 1 ? ERROR_SUCCESS_REBOOT_REQUIRED : ERROR_INSTALL_FAILURE;
}
