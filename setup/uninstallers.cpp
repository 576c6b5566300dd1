// The hand-over to removal: setup run on an installed machine starts the launcher
// of every installed copy and ends; a quiet removal starts each quietly and waits.
#include "setup.h"

#include "closer.h"
#include "exit_codes.h"
#include "log.h"

#include <shlobj.h>

#include <cwchar>

namespace {

bool IsFile(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The launcher of base\folderName and its three quoted arguments. Folders whose
// paths, suffix or argument line would not fit are skipped: a cut text would name
// another folder or another product.
bool FindLauncher(const wchar_t* base, const wchar_t* folderName,
                  wchar_t (&launcher)[PATH_CAPACITY], wchar_t (&arguments)[TEXT_CAPACITY]) {
    wchar_t folder[PATH_CAPACITY];
    if (!FormatPath(folder, L"%ls%ls", base, folderName) ||
        !FormatPath(launcher, L"%ls\\%ls", folder, LAUNCHER_FILE) || !IsFile(launcher)) {
        return false;
    }
    // The search pattern put the product key in front; the suffix is the rest.
    const size_t keyLength = wcslen(PRODUCT_KEY);
    const size_t nameLength = wcslen(folderName);
    return nameLength >= keyLength && nameLength - keyLength < NAME_CAPACITY &&
           FormatLauncherArguments(arguments, TEXT_CAPACITY, LoadProductName(),
                                   folderName + keyLength);
}

// Calls `act` with the launcher and the arguments of every installed copy under
// Program Files\VARNO, in the order the file system lists them.
template <typename Act> void ForEachInstalledLauncher(Act act) {
    wchar_t programFiles[PATH_CAPACITY];
    wchar_t base[PATH_CAPACITY];
    wchar_t pattern[PATH_CAPACITY];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                                programFiles)) ||
        !FormatPath(base, L"%ls\\%ls\\", programFiles, VENDOR_FOLDER) ||
        !FormatPath(pattern, L"%ls%ls*", base, PRODUCT_KEY)) {
        return;
    }
    WIN32_FIND_DATAW found;
    FindCloser search(FindFirstFileW(pattern, &found));
    if (!search) {
        return;
    }
    do {
        wchar_t launcher[PATH_CAPACITY];
        wchar_t arguments[TEXT_CAPACITY];
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            FindLauncher(base, found.cFileName, launcher, arguments)) {
            act(launcher, arguments);
        }
    } while (FindNextFileW(search.Get(), &found));
}

// Runs the launcher with its arguments and the quiet switch, and waits for it; its
// exit code, which is the uninstaller's.
DWORD RunQuietLauncher(const wchar_t* launcher, const wchar_t* arguments) {
    wchar_t line[TEXT_CAPACITY];
    if (!FormatLine(line, L"\"%ls\" %ls %ls", launcher, arguments, QUIET_SWITCH)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ERROR_INSTALL_FAILURE;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(launcher, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started)) {
        return ERROR_INSTALL_FAILURE;
    }
    HandleCloser process(started.hProcess);
    HandleCloser thread(started.hThread);
    DWORD code = ERROR_INSTALL_FAILURE;
    WaitForSingleObject(process.Get(), INFINITE);
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

} // namespace

void RunInstalledUninstallers() {
    ForEachInstalledLauncher([](const wchar_t* launcher, const wchar_t* arguments) {
        ShellExecuteW(nullptr, L"open", launcher, arguments, nullptr, SW_SHOW);
    });
}

DWORD RemoveQuietly() {
    DWORD result = ERROR_SUCCESS_REBOOT_REQUIRED;
    bool found = false;
    ForEachInstalledLauncher([&](const wchar_t* launcher, const wchar_t* arguments) {
        found = true;
        const DWORD code = RunQuietLauncher(launcher, arguments);
        wchar_t line[TEXT_CAPACITY];
        if (FormatLine(line, L"removal through %ls: exit code %lu", launcher, code)) {
            LogLine(line);
        }
        // Removed only when every copy was; a failure outweighs another removal
        // that was running.
        if (code != ERROR_SUCCESS_REBOOT_REQUIRED && result != ERROR_INSTALL_FAILURE) {
            result = code == ERROR_INSTALL_ALREADY_RUNNING ? code : ERROR_INSTALL_FAILURE;
        }
    });
    wchar_t temp[PATH_CAPACITY];
    wchar_t line[TEXT_CAPACITY];
    const DWORD length = GetTempPathW(PATH_CAPACITY, temp);
    if (found && length > 0 && length < PATH_CAPACITY &&
        FormatLine(line, L"the uninstaller's own log: %ls%ls", temp, UNINSTALLER_LOG_FILE)) {
        LogLine(line);
    }
    // The service says installed, yet no copy has a launcher: nothing can remove it.
    return found ? result : ERROR_INSTALL_FAILURE;
}
