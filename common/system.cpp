#include "system.h"

#include "closer.h"
#include "names.h"

#include <cwchar>
#include <vector>

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

void KeepAtRestart(const wchar_t* path) {
    constexpr const wchar_t* kKey = L"System\\CurrentControlSet\\Control\\Session Manager";
    constexpr const wchar_t* kValue = L"PendingFileRenameOperations";
    KeyCloser key;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Put()) !=
            ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), kValue, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return;
    }
    std::vector<wchar_t> list(bytes / sizeof(wchar_t) + 2, 0);
    if (RegQueryValueExW(key.Get(), kValue, nullptr, &type, reinterpret_cast<BYTE*>(list.data()),
                         &bytes) != ERROR_SUCCESS) {
        return;
    }
    // Pairs of a source ("\??\" and the path) and a target, empty for a deletion.
    const size_t count = bytes / sizeof(wchar_t);
    std::vector<wchar_t> kept;
    bool dropped = false;
    for (size_t at = 0; at < count;) {
        const wchar_t* source = &list[at];
        const size_t sourceLength = wcslen(source) + 1;
        if (sourceLength == 1 && at + 1 >= count) {
            break; // the closing empty string
        }
        const wchar_t* target = &list[at + sourceLength];
        const size_t targetLength = at + sourceLength < count ? wcslen(target) + 1 : 1;
        const bool ours = target[0] == 0 && wcsncmp(source, L"\\??\\", 4) == 0 &&
                          CompareStringOrdinal(source + 4, -1, path, -1, TRUE) == CSTR_EQUAL;
        if (ours) {
            dropped = true;
        } else {
            kept.insert(kept.end(), source, source + sourceLength);
            kept.insert(kept.end(), target, target + targetLength);
        }
        at += sourceLength + targetLength;
    }
    if (!dropped) {
        return;
    }
    if (kept.empty()) {
        RegDeleteValueW(key.Get(), kValue);
        return;
    }
    kept.push_back(0);
    RegSetValueExW(key.Get(), kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}
