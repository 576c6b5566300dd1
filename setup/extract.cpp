#include "engine.h"

#include "format.h"
#include "module.h"
#include "system.h"

bool ExtractSetupFiles() {
    // A temporary path that did not fit, or no fresh name, would leave the folder
    // undefined: fail at once.
    wchar_t tempPath[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, tempPath);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    // The platform reserves a fresh name (an empty file); it becomes the folder.
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(tempPath, L"qgs", 0, name) == 0) {
        return false;
    }
    DeleteFileW(name);
    if (!CreateDirectoryW(name, nullptr)) {
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
    wchar_t path[MAX_PATH + 4];
    return JoinPath(path, MAX_PATH + 4, folder, name) && DeleteFileW(path) != FALSE;
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
