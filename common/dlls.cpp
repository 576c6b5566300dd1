#include "dlls.h"

#include "capacity.h"
#include "format.h"

void RestrictDllSearch() {
    // Looked up at run time: the call came with an update to Windows 7 and is
    // missing on older systems, where importing it would keep the program from
    // starting.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const FARPROC proc =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    const auto restrict =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(proc));
    if (restrict == nullptr || !restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t system[PATH_CAPACITY];
    const UINT length = GetSystemDirectoryW(system, PATH_CAPACITY);
    wchar_t path[PATH_CAPACITY];
    if (length == 0 || length >= PATH_CAPACITY || !JoinPath(path, PATH_CAPACITY, system, name)) {
        return nullptr;
    }
    return LoadLibraryW(path);
}
