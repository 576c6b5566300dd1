// The product in the platform's list of installed programs (Apps & features): what
// inventories and deployment tools detect, and how a user removes the product. The
// uninstaller deletes the entry again.
#include "engine.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"

namespace {

bool EntryPath(wchar_t (&path)[PATH_CAPACITY]) {
    return FormatTo(path, PATH_CAPACITY, L"%ls\\%ls_%ls%ls", UNINSTALL_KEY, VENDOR_FOLDER,
                    PRODUCT_KEY, VERSION_SUFFIX);
}

bool Succeeded(LSTATUS status) {
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
    }
    return status == ERROR_SUCCESS;
}

bool SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    return Succeeded(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                    static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t))));
}

bool SetNumber(HKEY key, const wchar_t* name, DWORD value) {
    return Succeeded(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                    sizeof value));
}

ULONGLONG FileBytes(const wchar_t* folder, const wchar_t* name) {
    wchar_t path[FORMATTED_PATH_CAPACITY];
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!JoinPath(path, FORMATTED_PATH_CAPACITY, folder, name) ||
        !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return 0;
    }
    return ULONGLONG{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

// The installed files in KB: the launcher, quillctl, and the driver twice (its copy
// in the system's driver folder).
DWORD InstalledKilobytes(const wchar_t* folder) {
    const ULONGLONG bytes = FileBytes(folder, LAUNCHER_FILE) +
                            FileBytes(folder, CONTROL_TOOL_FILE) +
                            2 * FileBytes(folder, DRIVER_FILE);
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

} // namespace

bool FormatLauncherArguments(wchar_t* line, size_t capacity, const wchar_t* productName,
                             const wchar_t* suffix) {
    return FormatTo(line, capacity, L"\"%ls_%ls%ls\" \"%ls %ls\" \"%ls%ls\"", VENDOR_FOLDER,
                    PRODUCT_KEY, suffix, productName, suffix, PRODUCT_KEY, suffix);
}

bool WriteUninstallEntry(const wchar_t* installedFolder, bool* created) {
    wchar_t path[PATH_CAPACITY];
    wchar_t launcher[FORMATTED_PATH_CAPACITY];
    wchar_t arguments[TEXT_CAPACITY];
    wchar_t uninstall[TEXT_CAPACITY];
    wchar_t quietUninstall[TEXT_CAPACITY];
    if (!EntryPath(path) ||
        !JoinPath(launcher, FORMATTED_PATH_CAPACITY, installedFolder, LAUNCHER_FILE) ||
        !FormatLauncherArguments(arguments, TEXT_CAPACITY, ProductName, VERSION_SUFFIX) ||
        !FormatTo(uninstall, TEXT_CAPACITY, L"\"%ls\" %ls", launcher, arguments) ||
        !FormatTo(quietUninstall, TEXT_CAPACITY, L"%ls %ls", uninstall, QUIET_SWITCH)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    SYSTEMTIME today = {};
    GetLocalTime(&today);
    wchar_t date[16];
    FormatTo(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);

    // The 64-bit view, where Apps & features looks for a 64-bit product.
    KeyCloser key;
    DWORD disposition = 0;
    if (!Succeeded(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.Put(),
                                   &disposition))) {
        return false;
    }
    *created = disposition == REG_CREATED_NEW_KEY;
    return SetText(key.Get(), L"DisplayName", WizardTitle) &&
           SetText(key.Get(), L"DisplayVersion", DISPLAY_VERSION) &&
           SetText(key.Get(), L"Publisher", PUBLISHER) &&
           SetText(key.Get(), L"InstallLocation", installedFolder) &&
           SetText(key.Get(), L"DisplayIcon", launcher) &&
           SetText(key.Get(), L"UninstallString", uninstall) &&
           SetText(key.Get(), L"QuietUninstallString", quietUninstall) &&
           SetNumber(key.Get(), L"NoModify", 1) && SetNumber(key.Get(), L"NoRepair", 1) &&
           SetNumber(key.Get(), L"EstimatedSize", InstalledKilobytes(installedFolder)) &&
           SetText(key.Get(), L"InstallDate", date);
}

void DeleteUninstallEntry() {
    wchar_t path[PATH_CAPACITY];
    if (EntryPath(path)) {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, 0);
    }
}
