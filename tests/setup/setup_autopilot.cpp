// setup_autopilot install|remove [setup.exe]: runs QuillGuardSetup unattended, as
// `make demo` does on the headless graphics driver. Exit code 0 on success, 1 when
// a step did not happen in time (the reason is printed), 2 on a bad command line.
#include "wizard_driver.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: setup_autopilot install|remove [QuillGuardSetup.exe]\n", stderr);
        return 2;
    }
    std::wstring setup = argc == 3 ? argv[2] : L"";
    if (setup.empty()) {
        // Beside the autopilot by default.
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        setup = self;
        setup = setup.substr(0, setup.rfind(L'\\')) + L"\\QuillGuardSetup.exe";
    }
    const std::wstring mode = argv[1];
    std::wstring failure;
    bool done = false;
    if (mode == L"install") {
        done = InstallThroughWizard(setup, &failure);
    } else if (mode == L"remove") {
        done = RemoveThroughLaunchers(setup, &failure);
    } else {
        std::fputs("usage: setup_autopilot install|remove [QuillGuardSetup.exe]\n", stderr);
        return 2;
    }
    if (!done) {
        std::fprintf(stderr, "setup_autopilot %ls: %ls\n", mode.c_str(), failure.c_str());
        return 1;
    }
    std::printf("setup_autopilot %ls: done\n", mode.c_str());
    return 0;
}
