#include "system.h"

#include "closer.h"
#include "names.h"

namespace {

// GetVersionExW is deprecated for its manifest-dependent answers; those are the
// answers the version tests want.
bool QueryVersion(OSVERSIONINFOW& version) {
    version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(&version) != FALSE;
#pragma GCC diagnostic pop
}

bool IsVersion(DWORD major, DWORD minor) {
    OSVERSIONINFOW version;
    return QueryVersion(version) && version.dwMajorVersion == major &&
           version.dwMinorVersion == minor;
}

bool EnableShutdownPrivilege() {
    HandleCloser token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token.Put())) {
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    // The call succeeds with ERROR_NOT_ALL_ASSIGNED when the account lacks the privilege.
    return GetLastError() == ERROR_SUCCESS;
}

} // namespace

bool RestartWindows() {
    OSVERSIONINFOW version;
    if (!QueryVersion(version)) {
        return false;
    }
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && !EnableShutdownPrivilege()) {
        return false;
    }
    return ExitWindowsEx(EWX_REBOOT, 0) != FALSE;
}

bool IsWindows2000() {
    return IsVersion(5, 0);
}

bool IsWindowsXP() {
    return IsVersion(5, 1);
}

HANDLE TakeProductMutex() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, PRODUCT_MUTEX);
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

bool DeleteNowOrAtRestart(const wchar_t* path, bool folder) {
    const bool gone = folder ? RemoveDirectoryW(path) : DeleteFileW(path);
    if (gone || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    return MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}
