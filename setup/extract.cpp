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

// The folder stands in the user's temporary folder, where the user's own programs
// may rename any child whatever its security says. Held open without delete
// sharing from here on, it can no longer be renamed or swapped for another (and
// on Windows neither can a folder above it, which an open file below keeps in
// place). A reparse point is no folder of ours: it would send the files elsewhere.
bool HoldFolder(const wchar_t* path, HandleCloser* held) {
    held->Reset(CreateFileW(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    return *held && GetFileInformationByHandle(held->Get(), &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Each file is created new and held with read sharing only until the clean-up.
bool ExtractHeldFile(const wchar_t* fileName, const wchar_t* resource, HandleCloser* held) {
    held->Reset(ExtractModuleHeld(ExtractFolder, fileName, resource));
    return static_cast<bool>(*held);
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
    if (!CreatePrivateFolder(name) || !HoldFolder(name, &ExtractHeld.folder)) {
        return false;
    }
    lstrcpyW(ExtractFolder, name);

    if (!ExtractHeldFile(LAUNCHER_FILE, LAUNCHER_FILE, &ExtractHeld.launcher) ||
        !ExtractHeldFile(LICENCE_FILE, LICENCE_FILE, &ExtractHeld.licence)) {
        return false;
    }
    return IsNativeX64() &&
           ExtractHeldFile(DRIVER_FILE, DRIVER_X64_RESOURCE, &ExtractHeld.driver) &&
           ExtractHeldFile(CONTROL_TOOL_FILE, CONTROL_TOOL_FILE, &ExtractHeld.tool);
}

bool RemoveSetupFiles() {
    ExtractHeld.launcher.Reset();
    ExtractHeld.licence.Reset();
    ExtractHeld.driver.Reset();
    ExtractHeld.tool.Reset();
    ExtractHeld.folder.Reset();
    DeleteFileInFolder(ExtractFolder, LAUNCHER_FILE);
    DeleteFileInFolder(ExtractFolder, LICENCE_FILE);
    DeleteFileInFolder(ExtractFolder, DRIVER_FILE);
    DeleteFileInFolder(ExtractFolder, CONTROL_TOOL_FILE);
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
    // Looked up at run time: the functions do not exist on every system setup starts
    // on. On Arm64, an x64 program is emulated and GetNativeSystemInfo answers x64;
    // only IsWow64Process2 (Windows 10 1709 and later) names the real machine.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const FARPROC wow64 = GetProcAddress(kernel32, "IsWow64Process2");
    USHORT process = 0;
    USHORT native = 0;
    if (wow64 != nullptr && reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void (*)()>(
                                wow64))(GetCurrentProcess(), &process, &native)) {
        return native == IMAGE_FILE_MACHINE_AMD64;
    }
    using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    const FARPROC proc = GetProcAddress(kernel32, "GetNativeSystemInfo");
    if (proc == nullptr) {
        return false;
    }
    SYSTEM_INFO info = {};
    reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void (*)()>(proc))(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}
