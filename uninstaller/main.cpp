// _uninst: started by the launcher from the temporary folder with five quoted
// fields (its own path, the installed folder, the uninstall entry's name, the
// product title, the installed folder's name).
#include "uninstaller.h"

#include "arguments.h"
#include "dlls.h"

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
    RunRemoval();
    return 0;
}
