#include "engine.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"
#include "log.h"
#include "registry.h"
#include "system.h"
#include "ui.h"

#include "resources/resource.h"

#include <shlobj.h>

namespace {

// What this install created, so that a failure takes back exactly that and nothing
// that was there before.
struct InstalledFile {
    wchar_t path[FORMATTED_PATH_CAPACITY];
    bool created;
};
constexpr size_t INSTALLED_FILES = 3; // the driver, the launcher, quillctl

struct InstallRecord {
    wchar_t vendorFolder[FORMATTED_PATH_CAPACITY];
    wchar_t productFolder[FORMATTED_PATH_CAPACITY];
    InstalledFile installed[INSTALLED_FILES]; // in the order they are copied
    wchar_t systemDriver[PATH_CAPACITY];
    bool createdVendorFolder;
    bool createdProductFolder;
    bool createdSystemDriver;
    bool createdService;
    bool createdEntry;
};

bool Exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Logs the step, under its English name, and records a failure with the thread's
// last error. Returns `done`.
bool Step(UINT step, bool done, InstallFailure* failure) {
    DWORD error = ERROR_SUCCESS;
    if (!done) {
        error = GetLastError();
        if (error == ERROR_SUCCESS) {
            error = ERROR_GEN_FAILURE; // never report a failure as success
        }
        failure->step = step;
        failure->error = error;
    }
    wchar_t name[TEXT_CAPACITY];
    LoadEnglishString(step, name, TEXT_CAPACITY);
    LogStep(name, error);
    return done;
}

// Creates the folder unless something (a folder, or even a file) exists there.
bool AppendAndCreateFolder(wchar_t* path, const wchar_t* const* parts, size_t count,
                           bool* created) {
    for (size_t i = 0; i < count; ++i) {
        if (!AppendTo(path, FORMATTED_PATH_CAPACITY, parts[i])) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
    }
    if (Exists(path)) {
        return true;
    }
    *created = CreateDirectoryW(path, nullptr) != FALSE;
    return *created;
}

// Copies what the held handle reads to the target; a read-only leftover of an
// earlier install is made writable first, and the copy ends with normal
// attributes. Read from the handle, not the path: what is copied is what is held.
bool CopyHeldFile(HANDLE source, const wchar_t* target) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    HandleCloser file(CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    BYTE chunk[16384];
    for (;;) {
        DWORD read = 0;
        DWORD written = 0;
        if (!ReadFile(source, chunk, sizeof chunk, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        if (!WriteFile(file.Get(), chunk, read, &written, nullptr) || written != read) {
            return false;
        }
    }
    file.Reset();
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    return true;
}

bool CopyIntoFolder(HANDLE source, const wchar_t* folder, const wchar_t* name,
                    wchar_t (&target)[FORMATTED_PATH_CAPACITY], bool* created) {
    if (!JoinPath(target, FORMATTED_PATH_CAPACITY, folder, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    *created = !Exists(target);
    return CopyHeldFile(source, target);
}

// Program Files\VARNO\QuillGuardVer.2.0.0, each folder created unless something is
// there already.
bool CreateInstalledFolder(InstallRecord* record) {
    wchar_t* folder = record->productFolder;
    // Without Program Files every later path would be undefined.
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    const wchar_t* const vendor[] = {L"\\", VENDOR_FOLDER};
    const wchar_t* const product[] = {L"\\", PRODUCT_KEY, VERSION_SUFFIX};
    if (!AppendAndCreateFolder(folder, vendor, 2, &record->createdVendorFolder)) {
        return false;
    }
    lstrcpyW(record->vendorFolder, folder);
    return AppendAndCreateFolder(folder, product, 3, &record->createdProductFolder);
}

bool RunInstallSteps(InstallRecord* record, InstallFailure* failure) {
    if (!Step(IDS_STEP_FOLDER, CreateInstalledFolder(record), failure)) {
        return false;
    }
    const wchar_t* folder = record->productFolder;
    const struct {
        HANDLE source;
        const wchar_t* name;
    } files[INSTALLED_FILES] = {{ExtractHeld.driver.Get(), DRIVER_FILE},
                                {ExtractHeld.launcher.Get(), LAUNCHER_FILE},
                                {ExtractHeld.tool.Get(), CONTROL_TOOL_FILE}};
    bool copied = true;
    for (size_t i = 0; i < INSTALLED_FILES && copied; ++i) {
        copied = CopyIntoFolder(files[i].source, folder, files[i].name, record->installed[i].path,
                                &record->installed[i].created);
    }
    if (!Step(IDS_STEP_COPY, copied, failure)) {
        return false;
    }
    if (!SystemDriverPath(record->systemDriver, DRIVER_NAME)) {
        return Step(IDS_STEP_DRIVER_FILE, false, failure);
    }
    record->createdSystemDriver = !Exists(record->systemDriver);
    record->createdService = !ServiceIsRegistered(DRIVER_NAME);
    const unsigned result = InstallDriverService(folder, DRIVER_NAME);
    const DWORD error = GetLastError();
    SetLastError(error);
    if (!Step(IDS_STEP_DRIVER_FILE,
              result != INSTALL_RESULT_NO_SYSTEM_DIRECTORY && result != INSTALL_RESULT_COPY_FAILED,
              failure)) {
        return false;
    }
    SetLastError(error);
    if (!Step(IDS_STEP_SERVICE, result == INSTALL_RESULT_OK, failure)) {
        return false;
    }
    // A removal since the last restart may have left these files to be deleted then.
    for (const InstalledFile& file : record->installed) {
        KeepAtRestart(file.path);
    }
    KeepAtRestart(record->systemDriver);
    // A class filter that cannot load keeps every disk from starting, the boot disk
    // included: it starts with Windows, and is registered, only once Windows has
    // loaded it here.
    DWORD trialError = ERROR_SUCCESS;
    const bool loaded = TrialLoadDriver(DRIVER_NAME, &trialError);
    SetLastError(trialError);
    // The filter entry is the last step: once it is written the install is whole.
    return Step(IDS_STEP_TRIAL, loaded, failure) &&
           Step(IDS_STEP_BOOT_START, SetDriverStart(DRIVER_NAME, SERVICE_BOOT_START), failure) &&
           Step(IDS_STEP_ENTRY, WriteUninstallEntry(folder, &record->createdEntry), failure) &&
           Step(IDS_STEP_FILTER,
                AddToMultiSzValue(HKEY_LOCAL_MACHINE, DISK_CLASS_KEY, UPPER_FILTERS, DRIVER_NAME),
                failure);
}

// Takes back, last first, what the install created; what cannot go now goes at
// the restart. The filter entry is never among it: it is the last step.
void TakeBack(const InstallRecord& record) {
    LogLine(L"taking back what this install created");
    if (record.createdEntry) {
        DeleteUninstallEntry();
    }
    if (record.createdService) {
        DeleteCreatedService(DRIVER_NAME);
    }
    if (record.createdSystemDriver) {
        DeleteNowOrAtRestart(record.systemDriver, false);
    }
    for (size_t i = INSTALLED_FILES; i-- > 0;) {
        if (record.installed[i].created) {
            DeleteNowOrAtRestart(record.installed[i].path, false);
        }
    }
    if (record.createdProductFolder) {
        DeleteNowOrAtRestart(record.productFolder, true);
    }
    if (record.createdVendorFolder) {
        DeleteNowOrAtRestart(record.vendorFolder, true);
    }
}

} // namespace

bool RunInstall(InstallFailure* failure) {
    InstallRecord record = {};
    if (!RunInstallSteps(&record, failure)) {
        TakeBack(record);
        return false;
    }
    return true;
}

DWORD WINAPI InstallWorker(void*) {
    InstallFailure failure = {};
    const bool installed = RunInstall(&failure);
    // The installing page stays at least a second, whatever the outcome.
    Sleep(1000);
    if (installed) {
        SendMessageW(WizardWindow, WM_INSTALL_SUCCEEDED, 0, 0);
    } else {
        SendMessageW(WizardWindow, WM_INSTALL_FAILED, 0, reinterpret_cast<LPARAM>(&failure));
    }
    return installed ? 1 : 0;
}

bool StartInstall() {
    HandleCloser thread(CreateThread(nullptr, 0, InstallWorker, nullptr, 0, nullptr));
    if (!thread) {
        // The wizard's installing page has every button disabled and leaves it only
        // on a result message: without one it would be stuck for good.
        PostMessageW(WizardWindow, WM_INSTALL_FAILED, 0, 0);
        return false;
    }
    return true;
}
