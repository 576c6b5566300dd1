// Setup's install engine: the temporary extraction folder, the processor test, the
// driver service and filter registration, and the install worker thread.
#pragma once

#include "capacity.h"
#include "closer.h"
#include "names.h"

#include <windows.h>

// --- Names the install writes into the system -------------------------------

constexpr const wchar_t* DRIVER_DISPLAY_NAME = L"Quillon Driver";
constexpr const wchar_t* DRIVER_GROUP = L"PnP Filter";
constexpr const wchar_t* SERVICES_KEY = L"SYSTEM\\CurrentControlSet\\Services\\";

// Installed folder: Program Files\VARNO\QuillGuardVer.2.0.0
constexpr const wchar_t* PRODUCT_KEY = L"QuillGuard";
constexpr const wchar_t* VERSION_SUFFIX = L"Ver.2.0.0";

// The product's entry in the platform's list of installed programs (Apps &
// features), in the 64-bit view: this key, then "VARNO_QuillGuardVer.2.0.0".
constexpr const wchar_t* UNINSTALL_KEY = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* DISPLAY_VERSION = L"2.0.0";
constexpr const wchar_t* PUBLISHER = L"VARNO"; // the version block's CompanyName

// Files extracted from setup's MODULE resources: file name, resource name.
constexpr const wchar_t* LAUNCHER_FILE = L"Uninst.exe";
constexpr const wchar_t* CONTROL_TOOL_FILE = L"quillctl.exe"; // also its resource's name
constexpr const wchar_t* LICENCE_FILE = L"License.rtf";
constexpr const wchar_t* DRIVER_FILE = L"quilldrv.sys";
constexpr const wchar_t* DRIVER_X64_RESOURCE = L"QUILLDRV_X64_SYS";

// --- Result codes of InstallDriverService (only 501 is success) --------------

constexpr unsigned INSTALL_RESULT_OK = 501;
constexpr unsigned INSTALL_RESULT_NO_SYSTEM_DIRECTORY = 785;
constexpr unsigned INSTALL_RESULT_COPY_FAILED = 786;
constexpr unsigned INSTALL_RESULT_NO_SERVICE = 795;
constexpr unsigned INSTALL_RESULT_NO_SERVICE_KEY = 796;
constexpr unsigned INSTALL_RESULT_ERROR_CONTROL_NOT_WRITTEN = 797;
constexpr unsigned INSTALL_RESULT_START_NOT_WRITTEN = 798;
constexpr unsigned INSTALL_RESULT_TYPE_NOT_WRITTEN = 799;

// --- Messages from the install worker to the wizard ---------------------------

// wParam 0, lParam 0.
constexpr UINT WM_INSTALL_SUCCEEDED = WM_APP + 1;
// wParam 0; lParam the InstallFailure below, valid while the message is handled, or
// 0 when nothing more is known.
constexpr UINT WM_INSTALL_FAILED = WM_APP + 2;

// Why an install failed, for the administrator: the step (the string id of its
// name) and the Windows error code.
struct InstallFailure {
    UINT step;
    DWORD error;
};

// --- Process-wide state, written once before the install thread starts -------

// The extraction folder, without a trailing backslash (written by ExtractSetupFiles).
extern wchar_t ExtractFolder[PATH_CAPACITY];
// The folder and its three files, each held open from its creation until
// RemoveSetupFiles: the folder without delete sharing (it cannot be renamed or
// swapped), the files with read sharing only (nobody can change, rename or
// replace them). What setup copies is read from these handles.
struct ExtractHolds {
    HandleCloser folder;
    HandleCloser launcher;
    HandleCloser licence;
    HandleCloser driver;
    HandleCloser tool;
};
extern ExtractHolds ExtractHeld;
// The wizard dialog, which receives the install's result message.
extern HWND WizardWindow;
// String 103, and the product title: the name, a space, "Ver.2.0.0" (the wizard's
// caption, and the name of the product in Apps & features).
extern wchar_t ProductName[NAME_CAPACITY];
extern wchar_t WizardTitle[TITLE_CAPACITY];

// --- Extraction folder and processor test ------------------------------------

// Creates a fresh qgs*.TMP folder in the user's temporary folder, sets
// ExtractFolder and writes the launcher, the licence, the x64 driver and quillctl into it,
// holding each (ExtractHeld).
bool ExtractSetupFiles();
// Lets go of the holds, deletes the four files and the folder; true when the
// folder was removed.
bool RemoveSetupFiles();
bool DeleteFileInFolder(const wchar_t* folder, const wchar_t* name);
// True on a native x64 processor (never on Windows 2000, nor on Arm64 emulating
// x64, nor where the platform cannot tell the native processor).
bool IsNativeX64();

// True when the disk that holds the Windows volume sits on the USB bus (a portable
// Windows, a system disk in a USB case). False when it cannot be learned.
bool SystemDiskIsOnUsb();

// --- Driver service ----------------------------------------------------------

// The system's driver folder, "\", the driver name and ".sys".
bool SystemDriverPath(wchar_t (&path)[PATH_CAPACITY], const wchar_t* driverName);
// Copies sourceFolder\<driverName>.sys into the system's driver folder, registers
// the kernel service and forces its ErrorControl, Start (demand start, until the
// trial load has passed) and Type. On failure the thread's last error says why.
unsigned InstallDriverService(const wchar_t* sourceFolder, const wchar_t* driverName);
// Opens the service, or creates it when it does not exist; an existing service is
// left as it is.
bool CreateDriverService(const wchar_t* serviceName, const wchar_t* binaryPath, DWORD startType);
bool ServiceIsRegistered(const wchar_t* serviceName);
// Starts the driver service once and stops it again: Windows loads the image under
// its own signature policy and runs DriverEntry, touching no disk while the filter
// is not registered. A driver already running is stopped first, so that the new
// file is the one loaded. False with the Windows error code when the image did not
// load; ERROR_SERVICE_ALREADY_RUNNING when a running one would not stop.
bool TrialLoadDriver(const wchar_t* serviceName, DWORD* error);
// Writes the service's Start value.
bool SetDriverStart(const wchar_t* driverName, DWORD startType);
// Stops and deletes the service (a loaded driver keeps it until the restart).
void DeleteCreatedService(const wchar_t* serviceName);
// Errors that only a restart clears: a driver still loaded, a service still
// marked for deletion.
bool NeedsRestartFirst(DWORD error);

// --- The launcher's arguments and the Apps & features entry --------------------

// The installed launcher's three quoted arguments for the installed folder whose
// name ends in `suffix`: "VARNO_QuillGuard<suffix>" "<productName> <suffix>"
// "QuillGuard<suffix>". False when they do not fit.
bool FormatLauncherArguments(wchar_t* line, size_t capacity, const wchar_t* productName,
                             const wchar_t* suffix);
// Writes the product's Apps & features entry for the installed folder; `created`
// tells whether the key is new. False, with the thread's last error, when any
// value cannot be written.
bool WriteUninstallEntry(const wchar_t* installedFolder, bool* created);
void DeleteUninstallEntry();

// --- Install worker ----------------------------------------------------------

// The install steps on the calling thread, each logged: the installed folder, the
// copies, the driver service, the trial load, boot start, the Apps & features
// entry and the filter registration. A failure takes back what the install created
// and says why.
bool RunInstall(InstallFailure* failure);
// Starts InstallWorker on a thread of its own. When no thread can be started the
// wizard is sent WM_INSTALL_FAILED (posted) and the result is false.
bool StartInstall();
// RunInstall, then a wait of one second and the result message to WizardWindow.
// Exit code 1 after success, 0 after failure.
DWORD WINAPI InstallWorker(void* unused);
