// _uninst: started by the launcher from the temporary folder with five quoted
// fields (its own path, the installed folder, the uninstall entry's name, the
// product title, the installed folder's name).
#include "uninstaller.h"

#include "dlls.h"
#include "format.h"

#include <shellapi.h>

namespace {

// Every argument whole or none: a cut folder name would name another folder.
bool TakeArguments(wchar_t** tokens) {
    wchar_t* const targets[] = {LauncherFolder, UninstallEntryName, ProductTitle,
                                ProductFolderName};
    for (int i = 0; i < 4; ++i) {
        if (!FormatTo(targets[i], ARGUMENT_CAPACITY, L"%ls", tokens[i + 1])) {
            return false;
        }
    }
    return true;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    int count = 0;
    wchar_t** tokens = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool taken = tokens != nullptr && count == 5 && TakeArguments(tokens);
    LocalFree(tokens);
    if (!taken) {
        MessageBoxW(nullptr, GetCommandLineW(), L"Parameter error!", MB_OK);
        return 0;
    }
    RunRemoval();
    return 0;
}
