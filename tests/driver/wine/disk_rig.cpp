#include "disk_rig.h"

#include "closer.h"
#include "policy.h"

#include <winternl.h>

#include <vector>

// ntdll's own calls give the exact status a driver completed a request with.
extern "C" NTSTATUS NTAPI NtWriteFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK,
                                      PVOID, ULONG, PLARGE_INTEGER, PULONG);
extern "C" NTSTATUS NTAPI NtReadFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK,
                                     PVOID, ULONG, PLARGE_INTEGER, PULONG);

namespace {

constexpr DWORD kWaitMs = 20000;
constexpr const wchar_t* kDiskClassGuid = L"{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const wchar_t* kDiskInterfaceGuid = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
// Both drivers share one device host: Wine runs the drivers of one load-order
// group in one winedevice.exe, and the PnP manager looks for the function
// driver's object in its own process.
constexpr const wchar_t* kDriverGroup = L"PnP Filter";
// Services this rig registered itself carry this display name and their own
// name (display names must be unique), so that a later run refreshes them
// instead of taking them for an installed product's.
constexpr const wchar_t* kRigDisplayPrefix = L"QuillGuard test rig: ";

template <typename Condition> bool WaitFor(Condition condition) {
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    while (!condition()) {
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

HANDLE OpenBus() {
    return CreateFileW(QG_TESTBUS_USER_PATH, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool BusControl(uint32_t code, const void* input, DWORD inputLength, void* output,
                DWORD outputLength) {
    HandleCloser bus(OpenBus());
    DWORD returned = 0;
    return bus && DeviceIoControl(bus.Get(), code, const_cast<void*>(input), inputLength, output,
                                  outputLength, &returned, nullptr);
}

std::wstring DriversFolder() {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\drivers\\";
}

std::wstring InstanceKey(const wchar_t* instance) {
    return std::wstring(L"SYSTEM\\CurrentControlSet\\Enum\\") + QG_TESTDISK_DEVICE_ID + L"\\" +
           instance;
}

struct ServiceInfo {
    std::wstring image;
    bool rigCopy = false;
};

ServiceInfo QueryService(SC_HANDLE service) {
    ServiceInfo info;
    BYTE buffer[8192];
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    if (service != nullptr && QueryServiceConfigW(service, config, sizeof buffer, &needed)) {
        info.image = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
        info.rigCopy = config->lpDisplayName != nullptr &&
                       std::wstring(config->lpDisplayName).rfind(kRigDisplayPrefix, 0) == 0;
    }
    return info;
}

// Copies the image into the system's driver folder and registers it as a
// demand-start kernel service in the shared group.
bool InstallKernelService(SC_HANDLE manager, const wchar_t* name, const std::wstring& source,
                          std::string& why) {
    const std::wstring image = DriversFolder() + name + L".sys";
    const std::wstring displayName = kRigDisplayPrefix + std::wstring(name);
    if (!CopyFileW(source.c_str(), image.c_str(), FALSE)) {
        why = "cannot copy the driver image (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    ServiceCloser service(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    if (service) {
        if (!ChangeServiceConfigW(service.Get(), SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, image.c_str(), kDriverGroup, nullptr,
                                  nullptr, nullptr, nullptr, displayName.c_str())) {
            why = "cannot reconfigure a service (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        return true;
    }
    service.Reset(CreateServiceW(manager, name, displayName.c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                 image.c_str(), kDriverGroup, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        why = "cannot create a service (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

// Registry string types count one more character when the data is followed by a
// null in memory: store from a copy followed by non-null bytes.
LSTATUS SetRawValue(HKEY key, const wchar_t* name, DWORD type, const std::string& bytes) {
    std::vector<BYTE> data(bytes.begin(), bytes.end());
    data.push_back(0xFF);
    data.push_back(0xFF);
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(bytes.size()));
}

LSTATUS SetString(HKEY key, const wchar_t* name, const wchar_t* text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

bool CreateDiskInstance(const TestDisk& disk) {
    DeleteDiskInstance(disk.instance);
    KeyCloser key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, InstanceKey(disk.instance).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = SetString(key.Get(), L"ClassGUID", kDiskClassGuid) == ERROR_SUCCESS &&
              SetString(key.Get(), L"Class", L"DiskDrive") == ERROR_SUCCESS;
    if (disk.withFilter) {
        ok = ok && SetString(key.Get(), L"Service", L"quilldrv") == ERROR_SUCCESS;
    }
    // Wine's IoOpenDeviceRegistryKey misbehaves without this key: always create it.
    KeyCloser parameters;
    ok = ok && RegCreateKeyExW(key.Get(), L"Device Parameters", 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, parameters.Put(), nullptr) == ERROR_SUCCESS;
    if (ok && disk.marker.present) {
        ok = SetRawValue(parameters.Get(), MARKER_VALUE_NAME, disk.marker.type,
                         disk.marker.bytes) == ERROR_SUCCESS;
    }
    return ok;
}

QgDiskSettings SettingsOf(const TestDisk& disk) {
    QgDiskSettings settings = {};
    settings.Slot = disk.slot;
    settings.BusType = disk.busType;
    settings.FailStorageQuery = disk.failStorageQuery;
    settings.FailStart = disk.failStart;
    settings.FixedMedia = disk.fixedMedia;
    settings.WriteProtected = disk.writeProtected;
    strncpy(settings.VendorId, disk.vendor, QG_TESTDISK_ID_CHARS - 1);
    strncpy(settings.ProductId, disk.product, QG_TESTDISK_ID_CHARS - 1);
    return settings;
}

std::string Describe(const QgDiskState& s) {
    return "present " + std::to_string(s.Present) + ", exists " + std::to_string(s.Exists) +
           ", quilldrv on top " + std::to_string(s.QuilldrvOnTop) + ", top started " +
           std::to_string(s.TopStarted) + ", starts " + std::to_string(s.Starts) +
           ", storage queries " + std::to_string(s.StorageQueries) + ", removals " +
           std::to_string(s.Removals);
}

} // namespace

bool PrepareDrivers(const std::wstring& quilldrvSource, const std::wstring& busSource,
                    bool keepInstalled, RigDrivers& drivers, std::string& why) {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        why = "cannot open the service control manager";
        return false;
    }
    ServiceCloser installed(OpenServiceW(manager.Get(), L"quilldrv", SERVICE_QUERY_CONFIG));
    const ServiceInfo found = QueryService(installed.Get());
    const bool product = installed && !found.rigCopy;
    HandleCloser running(OpenBus());
    if (running) {
        drivers.usedInstalledQuilldrv = product;
        drivers.quilldrvImage = found.image;
        return true;
    }
    if (!InstallKernelService(manager.Get(), QG_TESTBUS_SERVICE, busSource, why)) {
        return false;
    }
    if (keepInstalled && product) {
        drivers.usedInstalledQuilldrv = true;
    } else {
        installed.Reset();
        if (!InstallKernelService(manager.Get(), L"quilldrv", quilldrvSource, why)) {
            return false;
        }
        installed.Reset(OpenServiceW(manager.Get(), L"quilldrv", SERVICE_QUERY_CONFIG));
    }
    drivers.quilldrvImage = QueryService(installed.Get()).image;

    ServiceCloser bus(OpenServiceW(manager.Get(), QG_TESTBUS_SERVICE, SERVICE_ALL_ACCESS));
    if (!bus || (!StartServiceW(bus.Get(), 0, nullptr) &&
                 GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)) {
        why = "cannot start the test bus (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (!WaitFor([] { return static_cast<bool>(HandleCloser(OpenBus())); })) {
        why = "gave up waiting for the test bus's control device";
        return false;
    }
    return true;
}

void DeleteDiskInstance(const wchar_t* instance) {
    // The interface's key is named after the instance, with '#' for '\\'.
    const std::wstring interfaceKey =
        std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") + kDiskInterfaceGuid +
        L"\\##?#QGTESTBUS#DISK#" + instance + L"#" + kDiskInterfaceGuid;
    for (const std::wstring& key : {InstanceKey(instance), interfaceKey}) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    }
}

QgDiskState DiskState(uint32_t slot) {
    QgDiskState state = {};
    BusControl(IOCTL_QGBUS_DISK_STATE, &slot, sizeof slot, &state, sizeof state);
    return state;
}

int QuilldrvDevices() {
    uint32_t count = 0;
    return BusControl(IOCTL_QGBUS_QUILLDRV_DEVICES, nullptr, 0, &count, sizeof count)
               ? static_cast<int>(count)
               : -1;
}

bool PlugDisk(const TestDisk& disk, std::string& why) {
    if (!CreateDiskInstance(disk)) {
        why = "cannot create the device instance";
        return false;
    }
    QgPlugRequest plug = {};
    plug.Settings = SettingsOf(disk);
    wcsncpy(plug.InstanceId, disk.instance, QG_TESTBUS_INSTANCE_CHARS - 1);
    if (!BusControl(IOCTL_QGBUS_PLUG, &plug, sizeof plug, nullptr, 0)) {
        why = "the bus refused the plug (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    QgDiskState state = {};
    const bool started = WaitFor([&] {
        state = DiskState(disk.slot);
        const bool stacked = !disk.withFilter || state.QuilldrvOnTop;
        return stacked && (disk.failStart ? state.Starts >= 1 : state.TopStarted != 0);
    });
    if (!started) {
        why = "gave up waiting for disk " + std::to_string(disk.slot) +
              "'s stack to start: " + Describe(state);
        return false;
    }
    if (!disk.failStart &&
        !BusControl(IOCTL_QGBUS_ENABLE_INTERFACE, &disk.slot, sizeof disk.slot, nullptr, 0)) {
        why = "the bus did not enable disk " + std::to_string(disk.slot) + "'s interface (error " +
              std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

bool UnplugDisk(uint32_t slot, std::string& why) {
    if (!BusControl(IOCTL_QGBUS_UNPLUG, &slot, sizeof slot, nullptr, 0)) {
        why = "the bus refused the unplug";
        return false;
    }
    QgDiskState state = {};
    if (!WaitFor([&] {
            state = DiskState(slot);
            return state.Removals >= 1 && !state.Exists;
        })) {
        why = "gave up waiting for disk " + std::to_string(slot) + "'s removal: " + Describe(state);
        return false;
    }
    // The disk is gone; the filter above it deletes itself right after. A rescan
    // that has come round shows that the removal is over.
    uint32_t before = 0;
    if (!BusControl(IOCTL_QGBUS_RESCAN, nullptr, 0, &before, sizeof before) ||
        !WaitFor([&] { return DiskState(slot).BusScans > before; })) {
        why = "gave up waiting for the bus to be enumerated after disk " + std::to_string(slot) +
              "'s removal";
        return false;
    }
    return true;
}

void UnplugEverything() {
    for (uint32_t slot = 0; slot < QG_TESTBUS_SLOTS; ++slot) {
        if (DiskState(slot).Present) {
            std::string why;
            UnplugDisk(slot, why);
        }
    }
}

bool ChangeDisk(const TestDisk& disk) {
    const QgDiskSettings settings = SettingsOf(disk);
    return BusControl(IOCTL_QGBUS_CHANGE_DISK, &settings, sizeof settings, nullptr, 0);
}

HANDLE OpenDisk(uint32_t slot, DWORD access) {
    wchar_t path[32];
    swprintf(path, 32, QG_TESTDISK_USER_FORMAT, slot);
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

int RunQuillctl(const std::wstring& arguments, std::string& output) {
    output.clear();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return -1;
    }
    HandleCloser reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring line = std::wstring(L"\"") + QG_QUILLCTL_EXE + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    HandleCloser child(process.hProcess), thread(process.hThread);
    writer.Reset(); // the pipe ends when quillctl's copy closes
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        output.append(chunk, got);
    }
    DWORD code = 0;
    WaitForSingleObject(process.hProcess, kWaitMs);
    return GetExitCodeProcess(process.hProcess, &code) ? static_cast<int>(code) : -1;
}

IoResult WriteDisk(HANDLE disk, DWORD length, unsigned char fill) {
    std::vector<unsigned char> data(length + 1, fill);
    IO_STATUS_BLOCK io = {};
    IoResult result;
    result.status =
        NtWriteFile(disk, nullptr, nullptr, nullptr, &io, data.data(), length, nullptr, nullptr);
    result.information = io.Information;
    return result;
}

IoResult ReadDisk(HANDLE disk, DWORD length, unsigned char* data) {
    std::vector<unsigned char> buffer(length + 1, 0);
    IO_STATUS_BLOCK io = {};
    IoResult result;
    result.status =
        NtReadFile(disk, nullptr, nullptr, nullptr, &io, buffer.data(), length, nullptr, nullptr);
    result.information = io.Information;
    if (data != nullptr) {
        memcpy(data, buffer.data(), length);
    }
    return result;
}

IoResult ControlDisk(HANDLE disk, uint32_t code, DWORD inputLength, DWORD outputLength,
                     uint32_t word) {
    uint32_t words[2] = {word, 0};
    IO_STATUS_BLOCK io = {};
    IoResult result;
    result.status = NtDeviceIoControlFile(disk, nullptr, nullptr, nullptr, &io, code, words,
                                          inputLength, words, outputLength);
    result.information = io.Information;
    result.word = words[0];
    return result;
}

namespace {

QgKernelResult BusRequest(uint32_t code, const void* input, DWORD inputLength) {
    QgKernelResult result = {};
    result.Status = -1;
    BusControl(code, input, inputLength, &result, sizeof result);
    return result;
}

} // namespace

QgKernelResult KernelControl(uint32_t slot, uint32_t code, uint32_t inputLength,
                             uint32_t outputLength, uint32_t word) {
    QgControlRequest request = {slot, code, inputLength, outputLength, word};
    return BusRequest(IOCTL_QGBUS_CONTROL, &request, sizeof request);
}

QgKernelResult PowerUp(uint32_t slot) {
    return BusRequest(IOCTL_QGBUS_POWER, &slot, sizeof slot);
}

QgKernelResult StopAndStart(uint32_t slot) {
    return BusRequest(IOCTL_QGBUS_STOP_START, &slot, sizeof slot);
}

bool ProbeSecurity(bool viaDriver, QgSecurityContext& context) {
    const uint32_t via = viaDriver;
    return BusControl(IOCTL_QGBUS_SECURITY, &via, sizeof via, &context, sizeof context);
}
