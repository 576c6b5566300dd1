// _uninst: started by the launcher from the temporary folder with five quoted
// fields (its own path, the installed folder, the uninstall entry's name, the
// product title, the installed folder's name).
#include "uninstaller.h"

#include "arguments.h"
#include "dlls.h"
#include "format.h"
#include "log.h"
#include "names.h"

namespace {

// The exit code is the log's last line.
int EndWith(int code) {
    wchar_t line[TITLE_CAPACITY];
    FormatTo(line, TITLE_CAPACITY, L"exit code %d", code);
    LogLine(line);
    return code;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    // Every argument whole or none: a cut folder name would name another folder.
    const ArgumentBuffer buffers[] = {{LauncherFolder, ARGUMENT_CAPACITY},
                                      {UninstallEntryName, ARGUMENT_CAPACITY},
                                      {ProductTitle, ARGUMENT_CAPACITY},
                                      {ProductFolderName, ARGUMENT_CAPACITY}};
    if (!TakeArguments(buffers, 4)) {
        MessageBoxW(nullptr, GetCommandLineW(), L"Parameter error!", MB_OK);
        return 0;
    }
    // In the current folder, the temporary folder beside _uninst.bin. The
    // removal names no failed step to its user, and these lines tell support which
    // one it was.
    OpenLog(UNINSTALLER_LOG_FILE);
    wchar_t line[TEXT_CAPACITY];
    FormatTo(line, TEXT_CAPACITY, L"removing %ls from %ls", UninstallEntryName, LauncherFolder);
    LogLine(line);
    RunRemoval();
    return EndWith(0);
}
