// The removal worker: filter entry, service, driver file, installed folder,
// uninstall entry, in this order. The filter entry goes before the service: a
// boot-start filter named in the class list without a service behind it can keep
// a PC from starting.
#include "uninstaller.h"

#include "closer.h"
#include "format.h"
#include "log.h"
#include "names.h"
#include "registry.h"
#include "system.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cwchar>

namespace {

constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The launcher's own file; the removal waits for the launcher before deleting it.
constexpr const wchar_t* kLauncherFile = L"Uninst.exe";
// Long enough for a launcher that is ending anyway; short enough that a stuck one
// only delays the removal, which then has the files deleted at the restart.
constexpr DWORD kLauncherWaitMs = 5000;

// The folder steps are for the installed folder only, the product's folder in the
// maker's folder under Program Files, reached as given with no link or junction on
// the way. A launcher copied elsewhere or started by hand, a drive's or a share's
// root, or a junction named like the product that leads elsewhere has nobody's
// folder emptied.
bool IsProductFolder(const wchar_t* folder) {
    wchar_t programFiles[PATH_CAPACITY];
    wchar_t expected[PATH_CAPACITY];
    if (ProductFolderName[0] == 0 ||
        FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                                programFiles)) ||
        !FormatTo(expected, PATH_CAPACITY, L"%ls\\%ls\\%ls", programFiles, VENDOR_FOLDER,
                  ProductFolderName)) {
        return false;
    }
    HandleCloser opened(CreateFileW(folder, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t resolved[FORMATTED_PATH_CAPACITY];
    const DWORD length =
        opened ? GetFinalPathNameByHandleW(opened.Get(), resolved, FORMATTED_PATH_CAPACITY,
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
               : 0;
    if (length == 0 || length >= FORMATTED_PATH_CAPACITY) {
        return false;
    }
    // The final path comes as \\?\C:\...; a reparse point on the way makes it
    // differ from the path given.
    const wchar_t* path = wcsncmp(resolved, L"\\\\?\\", 4) == 0 ? resolved + 4 : resolved;
    return CompareStringOrdinal(path, -1, folder, -1, TRUE) == CSTR_EQUAL &&
           CompareStringOrdinal(path, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// The launcher that started this program may still be running from the folder
// about to be emptied, and a running program's file cannot be deleted. Waits a
// bounded time for the parent process, when it is the installed folder's launcher.
void WaitForLauncher() {
    HandleCloser snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    HandleCloser process(
        parent != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent)
                    : nullptr);
    wchar_t launcher[PATH_CAPACITY];
    wchar_t image[PATH_CAPACITY];
    DWORD imageLength = PATH_CAPACITY;
    // The parent's id may have been taken by another program since: only the
    // launcher's own file is worth waiting for.
    if (process && JoinPath(launcher, PATH_CAPACITY, LauncherFolder, kLauncherFile) &&
        QueryFullProcessImageNameW(process.Get(), 0, image, &imageLength) &&
        CompareStringOrdinal(image, -1, launcher, -1, TRUE) == CSTR_EQUAL) {
        WaitForSingleObject(process.Get(), kLauncherWaitMs);
    }
}

// The thread's error after a failed call; never ERROR_SUCCESS, which the log
// would read as success.
DWORD FailureError() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// --- The steps: each gives ERROR_SUCCESS or the Windows error it failed with ---

DWORD RemoveFilterEntry() {
    return RemoveFromMultiSzValue(HKEY_LOCAL_MACHINE, DISK_CLASS_KEY, UPPER_FILTERS, DRIVER_NAME)
               ? ERROR_SUCCESS
               : FailureError();
}

DWORD RemoveService() {
    return RemoveDriverService(DRIVER_NAME) == REMOVAL_RESULT_OK ? ERROR_SUCCESS : FailureError();
}

// The driver file that setup copied into the system's driver folder. A loaded
// driver's file cannot be deleted: it goes at the restart.
DWORD RemoveDriverFile() {
    wchar_t system[PATH_CAPACITY];
    const UINT length = GetSystemDirectoryW(system, PATH_CAPACITY);
    if (length == 0) {
        return FailureError();
    }
    wchar_t path[PATH_CAPACITY];
    if (length >= PATH_CAPACITY ||
        !FormatTo(path, PATH_CAPACITY, L"%ls\\Drivers\\%ls.sys", system, DRIVER_NAME)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return DeleteNowOrAtRestart(path, false) ? ERROR_SUCCESS : FailureError();
}

// The maker's folder goes with its last product; one that still holds another
// product stays.
void RemoveParentFolder() {
    wchar_t parent[PATH_CAPACITY];
    if (!FormatTo(parent, PATH_CAPACITY, L"%ls", LauncherFolder)) {
        return;
    }
    wchar_t* last = wcsrchr(parent, L'\\');
    if (last == nullptr) {
        return;
    }
    *last = 0;
    if (RemoveDirectoryW(parent)) {
        return;
    }
    // Scheduled only when the installed folder (itself going at the restart) is
    // all that is left in it.
    wchar_t pattern[PATH_CAPACITY];
    WIN32_FIND_DATAW found;
    if (!FormatTo(pattern, PATH_CAPACITY, L"%ls\\*", parent)) {
        return;
    }
    FindCloser search(FindFirstFileW(pattern, &found));
    if (!search) {
        return;
    }
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0 &&
            CompareStringOrdinal(found.cFileName, -1, last + 1, -1, TRUE) != CSTR_EQUAL) {
            return;
        }
    } while (FindNextFileW(search.Get(), &found));
    MoveFileExW(parent, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// The installed folder and, when it held nothing else, the maker's folder. Any
// other folder keeps its files (see IsProductFolder), which the log says.
DWORD RemoveInstalledFolder() {
    if (!IsProductFolder(LauncherFolder)) {
        LogLine(L"the launcher's folder is not the installed folder: its files stay");
        return ERROR_SUCCESS;
    }
    // A quiet launcher waits for this program's exit code: waiting for it here
    // would only hold the removal up, and its file goes at the restart.
    if (!Quiet) {
        WaitForLauncher();
    }
    DeleteFolderFiles(LauncherFolder);
    const DWORD error = DeleteNowOrAtRestart(LauncherFolder, true) ? ERROR_SUCCESS : FailureError();
    RemoveParentFolder();
    return error;
}

// The entry is deleted or not there. A missing parent key is an error worth a
// message in an interactive run; a quiet one has its log line.
DWORD DeleteUninstallEntry() {
    KeyCloser parent;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ALL_ACCESS, parent.Put());
    if (opened != ERROR_SUCCESS) {
        if (!Quiet) {
            // RegOpenKeyExW returns its error rather than setting the thread's.
            SetLastError(static_cast<DWORD>(opened));
            ShowSystemError(WaitWindow.load());
        }
        return static_cast<DWORD>(opened);
    }
    // An empty name would delete the parent key itself.
    if (UninstallEntryName[0] == 0) {
        return ERROR_INVALID_NAME;
    }
    const LSTATUS deleted = RegDeleteKeyW(parent.Get(), UninstallEntryName);
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(deleted);
}

struct RemovalStep {
    const wchar_t* name; // in English: the log is read by administrators of many PCs
    DWORD (*run)();
    bool stopsRemoval; // its failure leaves the later steps undone
};

const RemovalStep kRemovalSteps[] = {
    {L"remove quilldrv from the disk drives' UpperFilters", RemoveFilterEntry, true},
    {L"delete the service quilldrv", RemoveService, true},
    {L"delete the driver file quilldrv.sys", RemoveDriverFile, false},
    {L"delete the installed folder", RemoveInstalledFolder, false},
    {L"delete the uninstall entry", DeleteUninstallEntry, false},
};

bool RunRemovalSteps() {
    bool removed = true;
    bool stopped = false;
    for (const RemovalStep& step : kRemovalSteps) {
        if (stopped) {
            // What was not removed is named too.
            wchar_t line[TEXT_CAPACITY];
            FormatTo(line, TEXT_CAPACITY, L"%ls: not done, an earlier step failed", step.name);
            LogLine(line);
            continue;
        }
        const DWORD error = step.run();
        LogStep(step.name, error);
        removed = removed && error == ERROR_SUCCESS;
        stopped = error != ERROR_SUCCESS && step.stopsRemoval;
    }
    return removed;
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
    if (!ReadMultiSzValue(root, subkey, name, list)) {
        return 0;
    }
    // No value holds no entry: nothing to take out, and nothing is written.
    if (!list) {
        return 1;
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
    // A service that is not there, or already marked for deletion, is as good as
    // removed: stopping here would leave a product that can be neither removed
    // nor installed again.
    if (!DeleteNamedService(manager.Get(), serviceName) &&
        GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST &&
        GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        return REMOVAL_RESULT_NO_SERVICE;
    }
    return REMOVAL_RESULT_OK;
}

int DeleteFolderFiles(const wchar_t* folder) {
    wchar_t pattern[PATH_CAPACITY];
    if (!FormatTo(pattern, PATH_CAPACITY, L"%ls\\*.*", folder)) {
        return 1;
    }
    WIN32_FIND_DATAW found;
    FindCloser search(FindFirstFileW(pattern, &found));
    if (!search) {
        return 1;
    }
    do {
        // Subfolders are left as they are, and so the folder stays too.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        // A path that does not fit would name another file: such an entry stays.
        wchar_t path[PATH_CAPACITY];
        if (JoinPath(path, PATH_CAPACITY, folder, found.cFileName)) {
            DeleteNowOrAtRestart(path, false);
        }
    } while (FindNextFileW(search.Get(), &found));
    return 1;
}
