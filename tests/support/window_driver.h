// Driving the windows of other processes as a user would, shared by the setup
// and the uninstall tests: find a dialog or message box, read it, answer it.
#pragma once

#include "closer.h"
#include "wine_support.h"

#include <windows.h>

#include <string>

// A started program; its handle closes with the record.
struct Started {
    HandleCloser process;
    DWORD id = 0;
};

// A window's text, also a control's of another process (GetWindowTextW would
// give only a caption there).
inline std::wstring WindowText(HWND window) {
    wchar_t text[4096] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                        SMTO_NORMAL | SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

inline std::wstring ControlText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

// A message box's text (its text control has the id 0xFFFF).
inline std::wstring BoxText(HWND box) {
    return ControlText(box, 0xFFFF);
}

inline DWORD ProcessOf(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

// A visible dialog-class top-level window for which `accept(window)` holds.
template <typename Accept> HWND FindDialog(Accept accept) {
    struct Search {
        Accept* accept;
        HWND found;
    } search = {&accept, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            wchar_t className[16] = {};
            GetClassNameW(window, className, 16);
            if (std::wstring(className) == L"#32770" && IsWindowVisible(window) &&
                (*s->accept)(window)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The same, waiting up to `timeoutMs` for it.
template <typename Accept> HWND WaitForDialog(Accept accept, DWORD timeoutMs = 10000) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(accept)) != nullptr; }, timeoutMs);
    return found;
}

// Presses a box's button by a posted command, as its button would.
inline void Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

// The exit code once the process has ended within `timeoutMs`; STILL_ACTIVE if not.
inline DWORD ExitCodeAfter(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}
