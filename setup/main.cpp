// QuillGuardSetup's entry: the processor gate, the installed test, unpacking,
// the wizard, and the clean-up afterwards. Every path ends with exit code 0.
#include "setup.h"

#include "closer.h"
#include "dlls.h"
#include "ui.h"

#include "resources/resource.h"

namespace {

bool RefuseOtherProcessors() {
    if (IsNativeX64()) {
        return false;
    }
    MessageBoxW(nullptr, L"The PC is not x64.", L"Error", MB_OK | MB_TOPMOST);
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

// Installed means: the driver's service key opens with full access.
bool IsProductInstalled() {
    wchar_t path[PATH_CAPACITY];
    if (!FormatPath(path, L"System\\CurrentControlSet\\Services\\%ls", DRIVER_NAME)) {
        return false;
    }
    KeyCloser key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key.Put()) == ERROR_SUCCESS;
}

// Protection would reach the disk Windows starts from, and the PC would not start
// again: nothing is installed.
bool RefuseUsbSystemDisk() {
    if (!SystemDiskIsOnUsb()) {
        return false;
    }
    wchar_t text[TEXT_CAPACITY];
    FormatTo(text, TEXT_CAPACITY, LoadResString(IDS_SYSTEM_ON_USB), WizardTitle);
    MessageBoxW(nullptr, text, WizardTitle, MB_OK | MB_ICONERROR);
    return true;
}

void ReportCannotInstall() {
    MessageBoxW(nullptr, LoadResString(IDS_CANNOT_INSTALL), WizardTitle, MB_OK | MB_SYSTEMMODAL);
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

void DeleteWizardObjects() {
    DeleteObject(WhiteBrush);
    DeleteObject(TitleFont);
}

} // namespace

const wchar_t* LoadProductName() {
    ProductName[0] = 0;
    return LoadResStringTo(IDS_PRODUCT_NAME, ProductName, static_cast<int>(NAME_CAPACITY));
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    if (RefuseOtherProcessors()) {
        return 0;
    }
    CreateWizardObjects(instance);
    BuildWizardTitle();
    if (IsProductInstalled()) {
        RunInstalledUninstallers();
        return 0;
    }
    if (RefuseUsbSystemDisk()) {
        return 0;
    }
    if (!ExtractSetupFiles()) {
        ReportCannotInstall();
        return 0;
    }
    RunWizard();
    DeleteWizardObjects();
    RemoveSetupFiles();
    return 0;
}
