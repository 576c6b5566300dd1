// Built as a DLL of a system name (riched20.dll, uxtheme.dll) and planted beside
// a program, as a stranger could plant it in a Downloads or temporary folder:
// when loaded, it writes "planted-loaded.txt" beside itself. It exports nothing,
// so nobody can use it.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 32] = {};
        GetModuleFileNameW(self, path, MAX_PATH);
        wchar_t* name = wcsrchr(path, L'\\');
        if (name != nullptr) {
            wcscpy(name + 1, L"planted-loaded.txt");
            CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        }
    }
    return TRUE;
}
