// RestartWindows in a prefix of its own (a reboot request ends a Wine session):
// the shutdown privilege gets enabled, and the reboot is requested without force,
// so that running programs are asked whether the session may end. The window here
// refuses, which keeps the session and this test alive.
#include "system.h"

#include "../support/wine_support.h"

#include <gtest/gtest.h>

namespace {

volatile LONG AskedToEnd = 0;

LRESULT CALLBACK RefusingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) {
        InterlockedExchange(&AskedToEnd, 1);
        return FALSE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A visible top-level window with its own message loop, so that it can answer
// while the test thread waits.
DWORD WINAPI RunRefusingWindow(void* ready) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RefusingWindowProc;
    windowClass.lpszClassName = L"QuillGuardRefusesToEnd";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"QuillGuard restart test",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    SetEvent(static_cast<HANDLE>(ready));
    MSG message;
    while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

// Whether this process's token has the shutdown privilege enabled; -1 when absent.
int ShutdownPrivilegeEnabled() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    LUID luid = {};
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &luid);
    BYTE buffer[4096];
    DWORD size = 0;
    int state = -1;
    if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size)) {
        const auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer);
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID& l = privileges->Privileges[i].Luid;
            if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart) {
                state = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) ? 1 : 0;
            }
        }
    }
    CloseHandle(token);
    return state;
}

void DisableShutdownPrivilege() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

TEST(RestartWindows, EnablesTheShutdownPrivilegeAndAsksProgramsInsteadOfForcing) {
    DisableShutdownPrivilege();
    ASSERT_EQ(ShutdownPrivilegeEnabled(), 0) << "the privilege could not be disabled first";

    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE windowThread = CreateThread(nullptr, 0, RunRefusingWindow, ready, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0)
        << "the refusing window was not created within 10 s";

    EXPECT_TRUE(RestartWindows());
    EXPECT_EQ(ShutdownPrivilegeEnabled(), 1);
    // A forced reboot ends programs without asking them; ours must be asked.
    EXPECT_TRUE(WaitUntil([] { return AskedToEnd != 0; }, 20000))
        << "no WM_QUERYENDSESSION reached the test's window within 20 s";

    CloseHandle(windowThread);
    CloseHandle(ready);
}

} // namespace
