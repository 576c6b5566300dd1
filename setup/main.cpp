// QuillGuardSetup's entry: the command line, the processor gate, the installed
// test, unpacking, the wizard or the quiet install, and the clean-up afterwards.
// Interactive runs end with exit code 0; quiet ones with the codes Windows
// installers use.
#include "setup.h"

#include "closer.h"
#include "dlls.h"
#include "exit_codes.h"
#include "log.h"
#include "system.h"
#include "ui.h"

#include "resources/resource.h"

#include <shellapi.h>

namespace {

bool IsSwitch(const wchar_t* token, const wchar_t* name) {
    return (token[0] == L'/' || token[0] == L'-') &&
           CompareStringOrdinal(token + 1, -1, name, -1, TRUE) == CSTR_EQUAL;
}

// The switches, case-insensitive, each with "/" or "-": /quiet, /uninstall,
// /norestart, /log PATH. Anything else makes the command line invalid; /quiet is
// honoured wherever it stands, so that no box comes up in a quiet run.
void ReadCommandLine() {
    int count = 0;
    wchar_t** tokens = CommandLineToArgvW(GetCommandLineW(), &count);
    Options.valid = tokens != nullptr;
    for (int i = 1; i < count; ++i) {
        if (IsSwitch(tokens[i], L"quiet")) {
            Options.quiet = true;
        } else if (IsSwitch(tokens[i], L"uninstall")) {
            Options.uninstall = true;
        } else if (IsSwitch(tokens[i], L"norestart")) {
            Options.noRestart = true;
        } else if (IsSwitch(tokens[i], L"log") && i + 1 < count &&
                   FormatPath(Options.logPath, L"%ls", tokens[i + 1])) {
            ++i;
        } else {
            Options.valid = false;
        }
    }
    LocalFree(tokens);
}

bool RefuseOtherProcessors() {
    if (IsNativeX64()) {
        return false;
    }
    LogStep(L"x64 processor", ERROR_INSTALL_PLATFORM_UNSUPPORTED);
    if (!Options.quiet) {
        MessageBoxW(nullptr, L"The PC is not x64.", L"Error", MB_OK | MB_TOPMOST);
    }
    return true;
}

void CreateWizardObjects(HINSTANCE instance) {
    SetupInstance = instance;
    SetupIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SETUP));
    WhiteBrush = CreateSolidBrush(RGB(255, 255, 255));
}

// The name holds at most 31 characters and the suffix is fixed: the title fits.
void BuildWizardTitle() {
    WizardTitle[0] = 0;
    AppendTo(WizardTitle, TITLE_CAPACITY, LoadProductName());
    AppendTo(WizardTitle, TITLE_CAPACITY, L" ");
    AppendTo(WizardTitle, TITLE_CAPACITY, VERSION_SUFFIX);
}

bool RefuseCommandLine() {
    if (Options.valid) {
        return false;
    }
    LogStep(L"command line", ERROR_INVALID_COMMAND_LINE);
    if (!Options.quiet) {
        MessageBoxW(nullptr, LoadResString(IDS_USAGE), WizardTitle, MB_OK | MB_ICONWARNING);
    }
    return true;
}

// Installed means: the driver's service key opens with full access.
bool IsProductInstalled() {
    wchar_t path[PATH_CAPACITY];
    if (!FormatPath(path, L"%ls%ls", SERVICES_KEY, DRIVER_NAME)) {
        return false;
    }
    KeyCloser key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key.Put()) == ERROR_SUCCESS;
}

// A service marked for deletion keeps its key, flagged so, until the restart.
bool IsRemovalPending() {
    wchar_t path[PATH_CAPACITY];
    DWORD flag = 0;
    DWORD bytes = sizeof flag;
    return FormatPath(path, L"%ls%ls", SERVICES_KEY, DRIVER_NAME) &&
           RegGetValueW(HKEY_LOCAL_MACHINE, path, L"DeleteFlag", RRF_RT_REG_DWORD, nullptr, &flag,
                        &bytes) == ERROR_SUCCESS &&
           flag != 0;
}

// Protection would reach the disk Windows starts from, and the PC would not start
// again: nothing is installed.
bool RefuseUsbSystemDisk() {
    if (!SystemDiskIsOnUsb()) {
        return false;
    }
    LogStep(L"Windows starts from a USB disk", ERROR_INSTALL_FAILURE);
    if (!Options.quiet) {
        wchar_t text[TEXT_CAPACITY];
        FormatTo(text, TEXT_CAPACITY, LoadResString(IDS_SYSTEM_ON_USB), WizardTitle);
        MessageBoxW(nullptr, text, WizardTitle, MB_OK | MB_ICONERROR);
    }
    return true;
}

bool Unpack() {
    const bool unpacked = ExtractSetupFiles();
    LogStep(L"unpacking the files", unpacked ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE);
    if (!unpacked && !Options.quiet) {
        MessageBoxW(nullptr, LoadResString(IDS_CANNOT_INSTALL), WizardTitle,
                    MB_OK | MB_SYSTEMMODAL);
    }
    return unpacked;
}

// The licence control's window class comes with the rich edit library.
void RunWizard() {
    HMODULE richEdit = LoadSystemLibrary(L"Riched20.dll");
    if (richEdit == nullptr) {
        return;
    }
    DialogBoxParamW(SetupInstance, MAKEINTRESOURCEW(IDD_WIZARD), nullptr, WizardDlgProc, 0);
    FreeLibrary(richEdit);
}

// Installed: a restart makes Windows load the filter into every disk stack.
DWORD InstallQuietly() {
    InstallFailure failure = {};
    if (RunInstall(&failure)) {
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    }
    return NeedsRestartFirst(failure.error) ? ERROR_FAIL_NOACTION_REBOOT : ERROR_INSTALL_FAILURE;
}

void DeleteWizardObjects() {
    DeleteObject(WhiteBrush);
    DeleteObject(TitleFont);
}

DWORD RunSetup(HINSTANCE instance) {
    if (RefuseOtherProcessors()) {
        return Options.quiet ? ERROR_INSTALL_PLATFORM_UNSUPPORTED : 0;
    }
    CreateWizardObjects(instance);
    BuildWizardTitle();
    if (RefuseCommandLine()) {
        return ERROR_INVALID_COMMAND_LINE;
    }
    // One install or removal at a time. An interactive run goes on as it always did,
    // holding the mutex when it can.
    HandleCloser mutex(TakeProductMutex());
    if (!mutex && Options.quiet) {
        LogStep(L"another setup or removal is running", ERROR_INSTALL_ALREADY_RUNNING);
        return ERROR_INSTALL_ALREADY_RUNNING;
    }
    // The removal is the uninstaller's, which takes the mutex for itself.
    if (Options.uninstall || (IsProductInstalled() && !Options.quiet)) {
        mutex.Reset();
        if (!Options.quiet) {
            RunInstalledUninstallers();
            return 0;
        }
        return IsProductInstalled() ? RemoveQuietly() : ERROR_SUCCESS;
    }
    if (IsProductInstalled()) {
        LogLine(IsRemovalPending() ? L"an earlier removal waits for the restart"
                                   : L"already installed: nothing to do");
        return IsRemovalPending() ? ERROR_FAIL_NOACTION_REBOOT : ERROR_SUCCESS;
    }
    if (RefuseUsbSystemDisk() || !Unpack()) {
        return Options.quiet ? ERROR_INSTALL_FAILURE : 0;
    }
    DWORD code = 0;
    if (Options.quiet) {
        code = InstallQuietly();
    } else {
        RunWizard();
    }
    DeleteWizardObjects();
    RemoveSetupFiles();
    return code;
}

} // namespace

const wchar_t* LoadProductName() {
    ProductName[0] = 0;
    return LoadResStringTo(IDS_PRODUCT_NAME, ProductName, static_cast<int>(NAME_CAPACITY));
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    ReadCommandLine();
    if (Options.logPath[0] != 0) {
        OpenLog(Options.logPath);
    }
    LogLine(GetCommandLineW());
    const DWORD code = RunSetup(instance);
    wchar_t line[TITLE_CAPACITY];
    if (FormatTo(line, TITLE_CAPACITY, L"exit code %lu", code)) {
        LogLine(line);
    }
    return static_cast<int>(code);
}
