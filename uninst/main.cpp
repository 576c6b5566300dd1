// Uninst, the uninstall launcher: started by setup from the installed folder with
// three quoted arguments, and QUIET_SWITCH as a fourth for a removal without
// questions or boxes. It writes the uninstaller it carries into the temporary
// folder and starts it there, so that the installed folder, this program's own
// file included, can be deleted.
#include "arguments.h"
#include "capacity.h"
#include "format.h"
#include "closer.h"
#include "dlls.h"
#include "module.h"
#include "names.h"
#include "resource.h"
#include "system.h"
#include "ui.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>

namespace {

constexpr const wchar_t* kUninstallerFile = L"_uninst.bin";
constexpr const wchar_t* kUninstallerResource = L"_uninst.exe";

// The three arguments and the quiet switch, written once by TakeArguments.
wchar_t UninstallEntryName[TITLE_CAPACITY];
wchar_t ProductTitle[TEXT_CAPACITY];
wchar_t ProductFolderName[TEXT_CAPACITY];
bool Quiet = false;

// Error numbers of text 107.
constexpr int ERROR_NO_TEMP_FOLDER = 0;
constexpr int ERROR_NOT_STARTED = 1;
constexpr int ERROR_COMMAND_LINE = 2;
constexpr int ERROR_NO_OWN_PATH = 3;
constexpr int ERROR_NOT_WRITTEN = 4;
constexpr int LAUNCHED = -1;

// Exactly three arguments, each whole: a cut one would pass on another name.
bool TakeLauncherArguments() {
    const ArgumentBuffer buffers[] = {{UninstallEntryName, TITLE_CAPACITY},
                                      {ProductTitle, TEXT_CAPACITY},
                                      {ProductFolderName, TEXT_CAPACITY}};
    return TakeArguments(buffers, 3, Quiet);
}

void ShowError(const wchar_t* text) {
    MessageBoxW(nullptr, text, ProductTitle, MB_OK | MB_ICONERROR);
}

// An interactive run shows text `id` and ends with 0; a quiet one, which nobody
// watches, shows nothing (not even the warning of a missing string) and ends with
// `quietCode` for the tool that started it.
int Refuse(UINT id, int quietCode) {
    if (Quiet) {
        return quietCode;
    }
    ShowError(LoadResString(id));
    return 0;
}

// The uninstaller's exit code: a quiet launcher ends with it.
int ExitCodeOf(HANDLE process) {
    DWORD code = ERROR_INSTALL_FAILURE;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &code)) {
        return ERROR_INSTALL_FAILURE;
    }
    return static_cast<int>(code);
}

// Only an explicit Yes: a box that could not be shown (0) is no consent.
bool UserConfirms() {
    wchar_t question[TEXT_CAPACITY];
    if (!FormatTo(question, TEXT_CAPACITY, LoadResString(IDS_CONFIRM_DELETE), ProductTitle)) {
        return false;
    }
    return MessageBoxW(nullptr, question, ProductTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// The folder that holds `path`: drive and directory, without the directory's
// final backslash, so that the quoted field does not swallow its closing quote.
void FolderOf(const wchar_t* path, wchar_t* folder) {
    const size_t driveLength = (path[0] != 0 && path[1] == L':') ? 2 : 0;
    size_t end = driveLength;
    for (size_t i = driveLength; path[i] != 0; ++i) {
        if (path[i] == L'\\' || path[i] == L'/') {
            end = i + 1;
        }
    }
    if (end > driveLength && path[end - 1] == L'\\') {
        --end;
    }
    wmemcpy(folder, path, end);
    folder[end] = 0;
}

// Writes the uninstaller into the temporary folder and starts it there, passing
// the quiet switch on; LAUNCHED, with the started process in `process`, or the
// error number of the failed step. A path that does not fit its buffer counts as
// no path: a cut one would name another file.
int LaunchUninstaller(HandleCloser& process) {
    wchar_t temp[PATH_CAPACITY];
    const DWORD tempLength = GetTempPathW(PATH_CAPACITY, temp);
    if (tempLength == 0 || tempLength >= PATH_CAPACITY) {
        return ERROR_NO_TEMP_FOLDER;
    }
    // Held until the program has started: nobody can change the file in between.
    HandleCloser uninstaller(ExtractModuleHeld(temp, kUninstallerFile, kUninstallerResource));
    if (!uninstaller) {
        return ERROR_NOT_WRITTEN;
    }
    wchar_t self[PATH_CAPACITY];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, PATH_CAPACITY);
    if (selfLength == 0 || selfLength >= PATH_CAPACITY) {
        return ERROR_NO_OWN_PATH;
    }
    wchar_t launcherFolder[PATH_CAPACITY];
    FolderOf(self, launcherFolder);

    wchar_t commandLine[PATH_CAPACITY];
    if (!FormatTo(commandLine, PATH_CAPACITY, L"\"%ls%ls\" \"%ls\" \"%ls\" \"%ls\" \"%ls\"%ls%ls",
                  temp, kUninstallerFile, launcherFolder, UninstallEntryName, ProductTitle,
                  ProductFolderName, Quiet ? L" " : L"", Quiet ? QUIET_SWITCH : L"")) {
        return ERROR_COMMAND_LINE;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, temp, &startup,
                        &started)) {
        return ERROR_NOT_STARTED;
    }
    // An interactive launcher does not wait: the uninstaller deletes this program's
    // file. A quiet one waits for the exit code, and its file goes at the restart.
    process.Reset(started.hProcess);
    HandleCloser thread(started.hThread);
    return LAUNCHED;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    // Wrong or overlong arguments (a user opening the file by hand): nothing happens.
    // A quiet run's tool learns it from the exit code.
    if (!TakeLauncherArguments()) {
        return Quiet ? ERROR_INVALID_COMMAND_LINE : 0;
    }
    if (!IsUserAnAdmin()) {
        return Refuse(IDS_NOT_ADMIN, ERROR_INSTALL_FAILURE);
    }
    // Held, through the question or the quiet wait, until this launcher ends.
    HandleCloser mutex(CreateMutexW(nullptr, TRUE, L"uninst_Mutex"));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        return Refuse(IDS_ALREADY_STARTED, ERROR_INSTALL_ALREADY_RUNNING);
    }
    if (!Quiet && !UserConfirms()) {
        return 0;
    }
    // Setup or a removal that holds the product's mutex may be running _uninst.bin,
    // which then cannot be rewritten: a quiet tool learns that the PC is busy, not
    // that the removal failed. Only probed: the uninstaller takes it for its run.
    if (Quiet && !HandleCloser(TakeProductMutex())) {
        return ERROR_INSTALL_ALREADY_RUNNING;
    }
    HandleCloser uninstaller;
    const int launched = LaunchUninstaller(uninstaller);
    if (launched >= 0) {
        if (Quiet) {
            return ERROR_INSTALL_FAILURE;
        }
        wchar_t text[TITLE_CAPACITY];
        FormatTo(text, TITLE_CAPACITY, LoadResString(IDS_PROCESS_FAILED), launched);
        ShowError(text);
        return 0;
    }
    return Quiet ? ExitCodeOf(uninstaller.Get()) : 0;
}
