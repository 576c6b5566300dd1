// Built as riched20.dll and planted beside a copy of setup, as a stranger could
// plant it in a Downloads folder: when loaded, it writes "planted-loaded.txt"
// beside itself. It registers no window class, so setup cannot use it.
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
