// Names that setup writes into the system and the uninstaller takes out again.
#pragma once

// The driver's service name, its file stem and its entry in the class filter list.
constexpr const wchar_t* DRIVER_NAME = L"quilldrv";
// The Disk Drive setup class and its filter list.
constexpr const wchar_t* DISK_CLASS_KEY =
    L"System\\CurrentControlSet\\Control\\Class\\{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const wchar_t* UPPER_FILTERS = L"UpperFilters";
// The maker's folder under Program Files, which holds the installed folder.
constexpr const wchar_t* VENDOR_FOLDER = L"VARNO";

// Held by setup and by the uninstaller for their whole run: one install or removal
// at a time on the PC, whoever runs it (a deployment tool runs setup as SYSTEM).
constexpr const wchar_t* PRODUCT_MUTEX = L"Global\\VARNO_QuillGuard";
// The switch of the quiet runs, passed on from setup to the launcher and from the
// launcher to the uninstaller.
constexpr const wchar_t* QUIET_SWITCH = L"/quiet";
// The log of a quiet removal, beside _uninst.bin in the temporary folder.
constexpr const wchar_t* UNINSTALLER_LOG_FILE = L"_uninst.log";
