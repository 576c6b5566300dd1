// The removal worker: filter entry, service, installed folder, uninstall entry, in
// this order. The filter entry goes before the service: a boot-start filter named
// in the class list without a service behind it can keep a PC from starting.
#include "uninstaller.h"

#include "closer.h"
#include "format.h"
#include "names.h"
#include "registry.h"

#include <cwchar>

namespace {

constexpr size_t kPathCapacity = MAX_PATH;

constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The installed folder is always below a drive's root. A root ("C:", or an empty
// name, which means the current drive's) would have every file in it deleted.
bool IsBelowRoot(const wchar_t* folder) {
    const wchar_t* last = wcsrchr(folder, L'\\');
    return last != nullptr && last[1] != 0;
}

// The maker's folder goes with its last product; RemoveDirectoryW leaves it when
// it still holds something.
void RemoveParentFolder() {
    wchar_t parent[kPathCapacity];
    if (!FormatTo(parent, kPathCapacity, L"%ls", LauncherFolder)) {
        return;
    }
    wchar_t* last = wcsrchr(parent, L'\\');
    if (last != nullptr) {
        *last = 0;
        RemoveDirectoryW(parent);
    }
}

// 1 when the entry was deleted. A missing entry is no error worth a message; a
// missing parent key is.
bool DeleteUninstallEntry() {
    KeyCloser parent;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ALL_ACCESS, parent.Put());
    if (opened != ERROR_SUCCESS) {
        // RegOpenKeyExW returns its error rather than setting the thread's.
        SetLastError(static_cast<DWORD>(opened));
        ShowSystemError(WaitWindow.load());
        return false;
    }
    // An empty name would delete the parent key itself.
    if (UninstallEntryName[0] == 0) {
        return false;
    }
    return RegDeleteKeyW(parent.Get(), UninstallEntryName) == ERROR_SUCCESS;
}

bool RunRemovalSteps() {
    if (!RemoveFromMultiSzValue(HKEY_LOCAL_MACHINE, DISK_CLASS_KEY, UPPER_FILTERS, DRIVER_NAME)) {
        return false;
    }
    if (RemoveDriverService(DRIVER_NAME) != REMOVAL_RESULT_OK) {
        return false;
    }
    if (IsBelowRoot(LauncherFolder)) {
        DeleteFolderFiles(LauncherFolder);
        RemoveDirectoryW(LauncherFolder);
        RemoveParentFolder();
    }
    return DeleteUninstallEntry();
}

} // namespace

DWORD WINAPI RemovalWorker(void*) {
    while (WaitWindow.load() == nullptr && !NoWaitBox.load()) {
        Sleep(100);
    }
    const DWORD result = RunRemovalSteps() ? 1 : 0;
    HWND box = WaitWindow.load();
    if (box != nullptr) {
        PostMessageW(box, WM_REMOVAL_DONE, 0, 0);
    }
    return result;
}

int RemoveFromMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name,
                           const wchar_t* entry) {
    MultiSzBlock list;
    if (!ReadMultiSzValue(root, subkey, name, list) || !list) {
        return 0;
    }
    size_t remaining = 0;
    MultiSzRemove(reinterpret_cast<const char16_t*>(entry), list.get(), &remaining);
    return WriteMultiSzValue(root, subkey, name, list.get()) ? 1 : 0;
}

BOOL DeleteNamedService(SC_HANDLE manager, const wchar_t* serviceName) {
    ServiceCloser service(OpenServiceW(manager, serviceName, SERVICE_ALL_ACCESS));
    if (!service) {
        return FALSE;
    }
    // Only marked for deletion: a loaded driver stays until the PC restarts.
    return DeleteService(service.Get());
}

unsigned RemoveDriverService(const wchar_t* serviceName) {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return REMOVAL_RESULT_NO_MANAGER;
    }
    if (!DeleteNamedService(manager.Get(), serviceName)) {
        return REMOVAL_RESULT_NO_SERVICE;
    }
    return REMOVAL_RESULT_OK;
}

int DeleteFolderFiles(const wchar_t* folder) {
    wchar_t pattern[kPathCapacity];
    if (!FormatTo(pattern, kPathCapacity, L"%ls\\*.*", folder)) {
        return 1;
    }
    WIN32_FIND_DATAW found;
    FindCloser search(FindFirstFileW(pattern, &found));
    if (!search) {
        return 1;
    }
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) {
            continue;
        }
        // A path that does not fit would name another file: such an entry stays.
        wchar_t path[kPathCapacity];
        if (JoinPath(path, kPathCapacity, folder, found.cFileName)) {
            DeleteFileW(path);
        }
    } while (FindNextFileW(search.Get(), &found));
    return 1;
}
