// The machine state the install touches, saved and reset around each scenario:
// the service "quilldrv", the driver file in the system, the Disk Drive class's
// "UpperFilters", the vendor folder under Program Files.
#pragma once

#include "engine.h"

#include "../common/multisz_support.h"

#include "../support/wine_support.h"

#include <shlobj.h>

#include <string>
#include <vector>

// The launcher's stand-in (see setup_test.rc.in), and the x64 driver as built.
constexpr char kLauncherBytes[] = "stand-in for the uninstall launcher\n";
constexpr char kControlToolBytes[] = "stand-in for quillctl\n";
inline std::string X64DriverBytes() {
    return ReadFileBytes(QG_X64_DRIVER);
}

inline std::wstring SystemDriverFile() {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\Drivers\\quilldrv.sys";
}

inline std::wstring ProgramFiles() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

inline std::wstring VendorFolder() {
    return ProgramFiles() + L"\\VARNO";
}
inline std::wstring InstalledFolder() {
    return VendorFolder() + L"\\QuillGuardVer.2.0.0";
}

// Deletes the service "quilldrv" and waits (up to 10 s) until it is gone.
inline bool DeleteDriverService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return false;
    }
    SC_HANDLE service = OpenServiceW(manager, DRIVER_NAME, SERVICE_ALL_ACCESS);
    if (service != nullptr) {
        // A loaded driver's service would only be marked for deletion.
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    const bool gone = WaitUntil(
        [&] {
            SC_HANDLE again = OpenServiceW(manager, DRIVER_NAME, SERVICE_QUERY_STATUS);
            if (again != nullptr) {
                CloseServiceHandle(again);
                return false;
            }
            return true;
        },
        10000);
    CloseServiceHandle(manager);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\quilldrv");
    return gone;
}

inline bool DriverServiceExists() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, DRIVER_NAME, SERVICE_QUERY_CONFIG);
    const bool exists = service != nullptr;
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return exists;
}

// The service's current state (SERVICE_STOPPED, SERVICE_RUNNING, ...); 0 without one.
inline DWORD DriverServiceState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, DRIVER_NAME, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (service != nullptr) {
        QueryServiceStatus(service, &status);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return status.dwCurrentState;
}

inline DWORD ServiceKeyDword(const wchar_t* name) {
    DWORD value = 0xFFFFFFFF, bytes = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\quilldrv", name,
                 RRF_RT_REG_DWORD, nullptr, &value, &bytes);
    return value;
}

// A hidden window standing in for the wizard: the install worker sends it its
// result message. One procedure per test program (the class is registered once).
inline HWND CreateWizardStandIn(WNDPROC procedure) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = L"QuillGuardWizardStandIn";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                           nullptr, nullptr);
}

// A registry value as raw type and bytes, or absent.
struct SavedValue {
    bool exists = false;
    DWORD type = 0;
    std::string bytes;
};

inline SavedValue ReadValue(const wchar_t* key, const wchar_t* name) {
    SavedValue saved;
    BYTE data[4096];
    DWORD bytes = sizeof data;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, &saved.type, data,
                     &bytes) == ERROR_SUCCESS) {
        saved.exists = true;
        saved.bytes.assign(reinterpret_cast<char*>(data), bytes);
    }
    return saved;
}

inline void WriteValue(const wchar_t* key, const wchar_t* name, const SavedValue& value) {
    if (!value.exists) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, name);
        return;
    }
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, value.type, value.bytes.data(),
                    static_cast<DWORD>(value.bytes.size()));
}

inline SavedValue MultiSz(const std::u16string& list) {
    return {true, REG_MULTI_SZ,
            std::string(reinterpret_cast<const char*>(list.data()), list.size() * 2)};
}

// The product's Apps & features entry.
constexpr const wchar_t* kUninstallEntry =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VARNO_QuillGuardVer.2.0.0";

// Files and folders the system deletes at its next start (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT): source and empty target pairs.
constexpr const wchar_t* kSessionManagerKey =
    L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingRenames = L"PendingFileRenameOperations";

// The paths scheduled for deletion at the restart, in order, without the "\??\"
// prefix the system stores.
inline std::vector<std::wstring> DeletionsAtRestart() {
    const SavedValue value = ReadValue(kSessionManagerKey, kPendingRenames);
    std::vector<std::wstring> paths;
    const auto* chars = reinterpret_cast<const wchar_t*>(value.bytes.data());
    const size_t count = value.bytes.size() / sizeof(wchar_t);
    for (size_t i = 0; i < count && chars[i] != 0;) {
        std::wstring source(chars + i);
        i += source.size() + 1;
        const std::wstring target(i < count ? chars + i : L"");
        i += target.size() + 1;
        if (target.empty()) {
            paths.push_back(source.rfind(L"\\??\\", 0) == 0 ? source.substr(4) : source);
        }
    }
    return paths;
}

// A copy of `setup` in `folder` that carries only the first half of the x64 driver:
// an image that no loader accepts, as Windows refuses a badly signed one.
inline std::wstring SetupWithAnUnloadableDriver(const std::wstring& setup,
                                                const std::wstring& folder) {
    const std::wstring copy = folder + L"\\QuillGuardSetup.exe";
    std::string half = X64DriverBytes();
    half.resize(half.size() / 2);
    HANDLE update = nullptr;
    const bool ok = CopyFileW(setup.c_str(), copy.c_str(), FALSE) &&
                    (update = BeginUpdateResourceW(copy.c_str(), FALSE)) != nullptr &&
                    UpdateResourceW(update, L"MODULE", L"QUILLDRV_X64_SYS",
                                    MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), half.data(),
                                    static_cast<DWORD>(half.size()));
    return update != nullptr && EndUpdateResourceW(update, !ok) && ok ? copy : L"";
}

// Resets everything the install writes, and puts "UpperFilters" and what the
// system is to delete at its next start back as they were.
class MachineState {
public:
    MachineState()
        : upperFilters_(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS)),
          pendingRenames_(ReadValue(kSessionManagerKey, kPendingRenames)) {
        Reset();
    }
    ~MachineState() {
        Reset();
        WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, upperFilters_);
        WriteValue(kSessionManagerKey, kPendingRenames, pendingRenames_);
    }
    MachineState(const MachineState&) = delete;
    MachineState& operator=(const MachineState&) = delete;

    static void Reset() {
        DeleteDriverService();
        DeleteTree(SystemDriverFile());
        DeleteTree(VendorFolder());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallEntry);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallEntry);
    }

private:
    SavedValue upperFilters_;
    SavedValue pendingRenames_;
};
