#include "engine.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"
#include "registry.h"

#include <shlobj.h>

namespace {

// Creates the folder unless something (a folder, or even a file) exists there.
bool AppendAndCreateFolder(wchar_t* path, const wchar_t* const* parts, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!AppendTo(path, FORMATTED_PATH_CAPACITY, parts[i])) {
            return false;
        }
    }
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ||
           CreateDirectoryW(path, nullptr) != FALSE;
}

// Copies ExtractFolder\name into the folder; a read-only leftover of an earlier
// install is made writable first, and the copy ends with normal attributes.
bool CopyIntoFolder(const wchar_t* folder, const wchar_t* name) {
    wchar_t source[FORMATTED_PATH_CAPACITY];
    wchar_t target[FORMATTED_PATH_CAPACITY];
    if (!JoinPath(source, FORMATTED_PATH_CAPACITY, ExtractFolder, name) ||
        !JoinPath(target, FORMATTED_PATH_CAPACITY, folder, name)) {
        return false;
    }
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    const bool copied = CopyFileW(source, target, FALSE) != FALSE;
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    return copied;
}

bool RunInstallSteps() {
    wchar_t folder[FORMATTED_PATH_CAPACITY];
    // Without Program Files every later path would be undefined.
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return false;
    }
    const wchar_t* const vendor[] = {L"\\", VENDOR_FOLDER};
    const wchar_t* const product[] = {L"\\", PRODUCT_KEY, VERSION_SUFFIX};
    if (!AppendAndCreateFolder(folder, vendor, 2) || !AppendAndCreateFolder(folder, product, 3) ||
        !CopyIntoFolder(folder, DRIVER_FILE) || !CopyIntoFolder(folder, LAUNCHER_FILE) ||
        InstallDriverService(folder, DRIVER_NAME) != INSTALL_RESULT_OK) {
        return false;
    }
    // A class filter that cannot load keeps every disk from starting, the boot disk
    // included: register it only once Windows has loaded it here. After a refusal
    // the boot-start entry is taken back to demand start, the one step of the
    // install that undoes something, so that the next start does not meet an image
    // it refuses.
    if (!TrialLoadDriver(DRIVER_NAME)) {
        SetDriverStart(DRIVER_NAME, SERVICE_DEMAND_START);
        return false;
    }
    return AddToMultiSzValue(HKEY_LOCAL_MACHINE, DISK_CLASS_KEY, UPPER_FILTERS, DRIVER_NAME);
}

} // namespace

DWORD WINAPI InstallWorker(void*) {
    const bool installed = RunInstallSteps();
    // The installing page stays at least a second, whatever the outcome.
    Sleep(1000);
    SendMessageW(WizardWindow, installed ? WM_INSTALL_SUCCEEDED : WM_INSTALL_FAILED, 0, 0);
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
