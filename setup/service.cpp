#include "engine.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"

namespace {

bool SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool OpenServiceKey(const wchar_t* driverName, KeyCloser* key) {
    wchar_t keyPath[PATH_CAPACITY];
    return FormatTo(keyPath, PATH_CAPACITY, L"%ls%ls", SERVICES_KEY, driverName) &&
           RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, const_cast<wchar_t*>(L""),
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key->Put(),
                           nullptr) == ERROR_SUCCESS;
}

} // namespace

unsigned InstallDriverService(const wchar_t* sourceFolder, const wchar_t* driverName) {
    // A system directory that does not fit the buffer counts as not found.
    wchar_t target[PATH_CAPACITY];
    const UINT systemLength = GetSystemDirectoryW(target, PATH_CAPACITY);
    if (systemLength == 0 || systemLength >= PATH_CAPACITY ||
        !FormatTo(target + systemLength, PATH_CAPACITY - systemLength, L"\\Drivers\\%ls.sys",
                  driverName)) {
        return INSTALL_RESULT_NO_SYSTEM_DIRECTORY;
    }
    wchar_t source[PATH_CAPACITY];
    if (!FormatTo(source, PATH_CAPACITY, L"%ls\\%ls.sys", sourceFolder, driverName) ||
        !CopyFileW(source, target, FALSE)) {
        return INSTALL_RESULT_COPY_FAILED;
    }
    if (!CreateDriverService(driverName, target, SERVICE_BOOT_START)) {
        return INSTALL_RESULT_NO_SERVICE;
    }

    KeyCloser key;
    if (!OpenServiceKey(driverName, &key)) {
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

bool TrialLoadDriver(const wchar_t* serviceName) {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceCloser service;
    if (manager) {
        service.Reset(OpenServiceW(manager.Get(), serviceName, SERVICE_START | SERVICE_STOP));
    }
    // A load that could not even be asked for is no evidence that Windows loads it.
    if (!service) {
        return false;
    }
    if (!StartServiceW(service.Get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        return false;
    }
    // Nothing stays started on the running system; a driver that will not stop is
    // still one that loads, and the restart settles it.
    SERVICE_STATUS status;
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    return true;
}

bool SetDriverStart(const wchar_t* driverName, DWORD startType) {
    KeyCloser key;
    return OpenServiceKey(driverName, &key) && SetDword(key.Get(), L"Start", startType);
}
