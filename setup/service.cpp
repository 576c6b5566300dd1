#include "engine.h"

#include "closer.h"
#include "format.h"

namespace {

bool SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

} // namespace

unsigned InstallDriverService(const wchar_t* sourceFolder, const wchar_t* driverName) {
    // A system directory that does not fit the buffer counts as not found.
    wchar_t target[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(target, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH ||
        !FormatTo(target + systemLength, MAX_PATH - systemLength, L"\\Drivers\\%ls.sys",
                  driverName)) {
        return INSTALL_RESULT_NO_SYSTEM_DIRECTORY;
    }
    wchar_t source[MAX_PATH];
    if (!FormatTo(source, MAX_PATH, L"%ls\\%ls.sys", sourceFolder, driverName) ||
        !CopyFileW(source, target, FALSE)) {
        return INSTALL_RESULT_COPY_FAILED;
    }
    if (!CreateDriverService(driverName, target, SERVICE_BOOT_START)) {
        return INSTALL_RESULT_NO_SERVICE;
    }

    wchar_t keyPath[MAX_PATH];
    KeyCloser key;
    if (!FormatTo(keyPath, MAX_PATH, L"%ls%ls", SERVICES_KEY, driverName) ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, const_cast<wchar_t*>(L""),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS) {
        return INSTALL_RESULT_NO_SERVICE_KEY;
    }
    if (!SetDword(key.Get(), L"ErrorControl", SERVICE_ERROR_NORMAL)) {
        return INSTALL_RESULT_ERROR_CONTROL_NOT_WRITTEN;
    }
    if (!SetDword(key.Get(), L"Start", SERVICE_BOOT_START)) {
        return INSTALL_RESULT_START_NOT_WRITTEN;
    }
    if (!SetDword(key.Get(), L"Type", SERVICE_KERNEL_DRIVER)) {
        return INSTALL_RESULT_TYPE_NOT_WRITTEN;
    }
    return INSTALL_RESULT_OK;
}

bool CreateDriverService(const wchar_t* serviceName, const wchar_t* binaryPath, DWORD startType) {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return false;
    }
    ServiceCloser service(OpenServiceW(manager.Get(), serviceName, SERVICE_ALL_ACCESS));
    if (service) {
        return true; // already registered: kept as it is
    }
    DWORD tag = 0;
    service.Reset(CreateServiceW(manager.Get(), serviceName, DRIVER_DISPLAY_NAME,
                                 SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, startType,
                                 SERVICE_ERROR_NORMAL, binaryPath, DRIVER_GROUP, &tag, nullptr,
                                 nullptr, nullptr));
    return static_cast<bool>(service);
}
