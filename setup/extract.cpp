#include "engine.h"

#include "capacity.h"
#include "format.h"
#include "module.h"
#include "system.h"

#include <sddl.h>

namespace {

// What the elevated install copies into Program Files and the driver folder must
// not be swapped by the user's own unelevated programs in between: only
// administrators and the system have access, nothing is inherited from the
// temporary folder, and the files written into the folder inherit this.
constexpr const wchar_t* kExtractFolderSecurity = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Creates the folder new, with that security; false when the name exists.
bool CreatePrivateFolder(const wchar_t* path) {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof attributes;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kExtractFolderSecurity, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
        return false;
    }
    const bool created = CreateDirectoryW(path, &attributes) != FALSE;
    LocalFree(attributes.lpSecurityDescriptor);
    return created;
}

} // namespace

bool ExtractSetupFiles() {
    // A temporary path that did not fit, or no fresh name, would leave the folder
    // undefined: fail at once.
    wchar_t tempPath[PATH_CAPACITY];
    const DWORD length = GetTempPathW(PATH_CAPACITY, tempPath);
    if (length == 0 || length >= PATH_CAPACITY) {
        return false;
    }
    // The platform reserves a fresh name (an empty file); it becomes the folder.
    // Anything that took the name in between makes the creation fail.
    wchar_t name[PATH_CAPACITY];
    if (GetTempFileNameW(tempPath, L"qgs", 0, name) == 0) {
        return false;
    }
    DeleteFileW(name);
    if (!CreatePrivateFolder(name)) {
        return false;
    }
    lstrcpyW(ExtractFolder, name);

    if (!ExtractModule(ExtractFolder, LAUNCHER_FILE, LAUNCHER_FILE) ||
        !ExtractModule(ExtractFolder, LICENCE_FILE, LICENCE_FILE)) {
        return false;
    }
    return IsNativeX64() && ExtractModule(ExtractFolder, DRIVER_FILE, DRIVER_X64_RESOURCE);
}

bool RemoveSetupFiles() {
    DeleteFileInFolder(ExtractFolder, LAUNCHER_FILE);
    DeleteFileInFolder(ExtractFolder, LICENCE_FILE);
    DeleteFileInFolder(ExtractFolder, DRIVER_FILE);
    return RemoveDirectoryW(ExtractFolder) != FALSE;
}

bool DeleteFileInFolder(const wchar_t* folder, const wchar_t* name) {
    wchar_t path[FORMATTED_PATH_CAPACITY];
    return JoinPath(path, FORMATTED_PATH_CAPACITY, folder, name) && DeleteFileW(path) != FALSE;
}

bool IsNativeX64() {
    if (IsWindows2000()) {
        return false;
    }
    // Looked up at run time: the function does not exist on every system setup starts on.
    using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    const FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32"), "GetNativeSystemInfo");
    if (proc == nullptr) {
        return false;
    }
    SYSTEM_INFO info = {};
    reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void (*)()>(proc))(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}
