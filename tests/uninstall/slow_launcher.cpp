// Stands in for a launcher that does not end promptly: starts the uninstaller
// named by its first argument with the launcher's five fields (its own folder as
// the installed folder, then the three given arguments), and ends only 2 s later.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** tokens = CommandLineToArgvW(GetCommandLineW(), &count);
    if (tokens == nullptr || count != 5) {
        return 1;
    }
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    folder = folder.substr(0, folder.rfind(L'\\'));
    std::wstring line = L"\"" + std::wstring(tokens[1]) + L"\" \"" + folder + L"\"";
    for (int i = 2; i < 5; ++i) {
        line += L" \"" + std::wstring(tokens[i]) + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
        return 1;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    Sleep(2000);
    return 0;
}
