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

// The classes of the windows the product's programs (setup, the launcher, the
// uninstaller) create, shown or hidden. Polling the window list misses a program
// that lives half a second; Wine reports every process's new windows to an
// out-of-context event hook, delivered through the hooking thread's messages. A
// program's first window brings an "IME" window of Wine's own.
inline std::wstring WatchedWindows;

inline void CALLBACK OnProductWindowCreated(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG,
                                            DWORD thread, DWORD) {
    // By thread: the window may be gone by now.
    HandleCloser creator(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread));
    HandleCloser process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     creator ? GetProcessIdOfThread(creator.Get()) : 0));
    wchar_t image[MAX_PATH] = {}, name[64] = {};
    DWORD length = MAX_PATH;
    QueryFullProcessImageNameW(process.Get(), 0, image, &length);
    const wchar_t* file = wcsrchr(image, L'\\') != nullptr ? wcsrchr(image, L'\\') + 1 : image;
    for (const wchar_t* program : {L"QuillGuardSetup.exe", L"Uninst.exe", L"_uninst.bin"}) {
        if (object == OBJID_WINDOW && _wcsicmp(file, program) == 0) {
            GetClassNameW(window, name, 64);
            WatchedWindows += std::wstring(name) + L" ";
        }
    }
}

// Waits up to `timeoutMs` for the process to end; its exit code (STILL_ACTIVE when
// it did not), and in `windows` the classes of the windows the product's programs
// created meanwhile.
inline DWORD WaitWatchingWindows(HANDLE process, DWORD timeoutMs, std::wstring* windows) {
    WatchedWindows.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr,
                                         OnProductWindowCreated, 0, 0, WINEVENT_OUTOFCONTEXT);
    WaitUntil(
        [&] {
            const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
            for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
                DispatchMessageW(&message);
            }
            return ended;
        },
        timeoutMs);
    UnhookWinEvent(hook);
    *windows = WatchedWindows;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}
