// Linked into every Windows test program: creates the file that cmake/wine-run
// names in QG_WINE_RUN_STARTED as soon as the process runs its own code, so that
// the wrapper can tell a program that never started from one that failed.
#include <windows.h>

namespace {

bool MarkStarted() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"QG_WINE_RUN_STARTED", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    const HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

const bool kMarked = MarkStarted();

} // namespace
