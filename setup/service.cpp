#include "engine.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"

namespace {

// The registry returns its errors instead of setting the thread's; the install
// reports the thread's.
bool Succeeded(LSTATUS status) {
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
    }
    return status == ERROR_SUCCESS;
}

bool SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return Succeeded(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                    sizeof value));
}

bool OpenServiceKey(const wchar_t* driverName, KeyCloser* key) {
    wchar_t keyPath[PATH_CAPACITY];
    if (!FormatTo(keyPath, PATH_CAPACITY, L"%ls%ls", SERVICES_KEY, driverName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return Succeeded(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, const_cast<wchar_t*>(L""),
                                     REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key->Put(),
                                     nullptr));
}

// How long a driver may take to stop: its unload routine runs in the call, so
// this only covers a service control manager that reports the state late.
constexpr DWORD kStopWaitMs = 5000;

// Stops the driver and waits until it is stopped; true when it is not running.
bool StopDriver(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return false;
    }
    for (DWORD waited = 0;; waited += 100) {
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) {
            return status.dwCurrentState == SERVICE_STOPPED;
        }
        if (waited >= kStopWaitMs) {
            return false;
        }
        Sleep(100);
    }
}

} // namespace

bool SystemDriverPath(wchar_t (&path)[PATH_CAPACITY], const wchar_t* driverName) {
    // A system directory that does not fit the buffer counts as not found.
    const UINT length = GetSystemDirectoryW(path, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY) {
        return false;
    }
    if (!FormatTo(path + length, PATH_CAPACITY - length, L"\\Drivers\\%ls.sys", driverName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

unsigned InstallDriverService(const wchar_t* sourceFolder, const wchar_t* driverName) {
    wchar_t target[PATH_CAPACITY];
    if (!SystemDriverPath(target, driverName)) {
        return INSTALL_RESULT_NO_SYSTEM_DIRECTORY;
    }
    wchar_t source[PATH_CAPACITY];
    if (!FormatTo(source, PATH_CAPACITY, L"%ls\\%ls.sys", sourceFolder, driverName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INSTALL_RESULT_COPY_FAILED;
    }
    if (!CopyFileW(source, target, FALSE)) {
        return INSTALL_RESULT_COPY_FAILED;
    }
    // Demand start until Windows has loaded the image on trial: a boot-start entry
    // for an image it refuses keeps the PC from starting.
    if (!CreateDriverService(driverName, target, SERVICE_DEMAND_START)) {
        return INSTALL_RESULT_NO_SERVICE;
    }

    KeyCloser key;
    if (!OpenServiceKey(driverName, &key)) {
        return INSTALL_RESULT_NO_SERVICE_KEY;
    }
    if (!SetDword(key.Get(), L"ErrorControl", SERVICE_ERROR_NORMAL)) {
        return INSTALL_RESULT_ERROR_CONTROL_NOT_WRITTEN;
    }
    if (!SetDword(key.Get(), L"Start", SERVICE_DEMAND_START)) {
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

bool ServiceIsRegistered(const wchar_t* serviceName) {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return manager && ServiceCloser(OpenServiceW(manager.Get(), serviceName, SERVICE_QUERY_STATUS));
}

bool TrialLoadDriver(const wchar_t* serviceName, DWORD* error) {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceCloser service;
    if (manager) {
        service.Reset(OpenServiceW(manager.Get(), serviceName,
                                   SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    }
    // A load that could not even be asked for is no evidence that Windows loads it.
    if (!service) {
        *error = GetLastError();
        return false;
    }
    if (!StartServiceW(service.Get(), 0, nullptr)) {
        *error = GetLastError();
        if (*error != ERROR_SERVICE_ALREADY_RUNNING) {
            return false;
        }
        // An earlier image is running, which says nothing about the new file. One
        // that will not stop leaves the trial to the restart.
        if (!StopDriver(service.Get())) {
            return false;
        }
        if (!StartServiceW(service.Get(), 0, nullptr)) {
            *error = GetLastError();
            return false;
        }
    }
    // Nothing stays started on the running system; a driver that will not stop is
    // still one that loads, and the restart settles it.
    StopDriver(service.Get());
    *error = ERROR_SUCCESS;
    return true;
}

bool SetDriverStart(const wchar_t* driverName, DWORD startType) {
    KeyCloser key;
    return OpenServiceKey(driverName, &key) && SetDword(key.Get(), L"Start", startType);
}

void DeleteCreatedService(const wchar_t* serviceName) {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceCloser service(manager ? OpenServiceW(manager.Get(), serviceName,
                                                 SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)
                                  : nullptr);
    if (service) {
        StopDriver(service.Get());
        // A driver that is still loaded keeps its service until the restart.
        DeleteService(service.Get());
    }
}

bool NeedsRestartFirst(DWORD error) {
    return error == ERROR_SERVICE_ALREADY_RUNNING || error == ERROR_SERVICE_MARKED_FOR_DELETE;
}
