// _uninst: started by the launcher from the temporary folder with five quoted
// fields (its own path, the installed folder, the uninstall entry's name, the
// product title, the installed folder's name), and QUIET_SWITCH as a sixth for a
// removal without boxes that ends with an installer's exit code.
#include "uninstaller.h"

#include "arguments.h"
#include "closer.h"
#include "dlls.h"
#include "format.h"
#include "log.h"
#include "names.h"
#include "system.h"

namespace {

// The exit code is the log's last line.
int EndWith(int code) {
    wchar_t line[TITLE_CAPACITY];
    FormatTo(line, TITLE_CAPACITY, L"exit code %d", code);
    LogLine(line);
    return code;
}

int Remove() {
    wchar_t line[TEXT_CAPACITY];
    FormatTo(line, TEXT_CAPACITY, L"removing %ls from %ls%ls", UninstallEntryName, LauncherFolder,
             Quiet ? L", quiet" : L"");
    LogLine(line);
    // One install or removal at a time, held until the end (the restart question
    // included): steps of two runs interleaved could leave a half-removed product.
    HandleCloser mutex(TakeProductMutex());
    if (!mutex) {
        LogLine(L"another setup or removal is running: nothing removed");
        // An interactive run ends at once without a box as well: it comes from a
        // launcher started while setup or another removal runs, whose own window is
        // before the user; the launcher can be started again once that has ended.
        return EndWith(Quiet ? ERROR_INSTALL_ALREADY_RUNNING : 0);
    }
    if (Quiet) {
        return EndWith(RunQuietRemoval());
    }
    RunRemoval();
    return EndWith(0);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    // Every argument whole or none: a cut folder name would name another folder.
    const ArgumentBuffer buffers[] = {{LauncherFolder, ARGUMENT_CAPACITY},
                                      {UninstallEntryName, ARGUMENT_CAPACITY},
                                      {ProductTitle, ARGUMENT_CAPACITY},
                                      {ProductFolderName, ARGUMENT_CAPACITY}};
    const bool taken = TakeArguments(buffers, 4, Quiet);
    if (!taken && !Quiet) {
        MessageBoxW(nullptr, GetCommandLineW(), L"Parameter error!", MB_OK);
        return 0;
    }
    // In the current folder, the temporary folder beside _uninst.bin. Written in
    // both modes: an interactive removal names no failed step to its user either,
    // and the same lines then tell support which one it was.
    OpenLog(UNINSTALLER_LOG_FILE);
    if (!taken) {
        LogLine(L"the command line is not five fields and the quiet switch");
        return EndWith(ERROR_INVALID_COMMAND_LINE);
    }
    return Remove();
}
