// setup_autopilot install|remove [setup.exe]: runs QuillGuardSetup unattended, as
// `make demo` does on the headless graphics driver. Exit code 0 on success, 1 when
// a step did not happen in time (the reason is printed), 2 on a bad command line.
// setup_autopilot run PROGRAM [ARGUMENTS...]: runs a program as a deployment tool
// would and prints its whole exit code (a Unix exit status keeps only 8 bits).
#include "wizard_driver.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kUsage[] = "usage: setup_autopilot install|remove [QuillGuardSetup.exe]\n"
                          "       setup_autopilot run PROGRAM [ARGUMENTS...]\n";

int Run(int argc, wchar_t** argv) {
    std::wstring arguments;
    for (int i = 3; i < argc; ++i) {
        arguments += std::wstring(i > 3 ? L" " : L"") + L"\"" + argv[i] + L"\"";
    }
    Started program;
    if (!StartProgram(argv[2], arguments, &program)) {
        std::fprintf(stderr, "setup_autopilot run: %ls could not be started\n", argv[2]);
        return 1;
    }
    std::printf("exit code %lu\n", WaitForExit(program, INFINITE));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"run") {
        return Run(argc, argv);
    }
    if (argc < 2 || argc > 3) {
        std::fputs(kUsage, stderr);
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
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!done) {
        std::fprintf(stderr, "setup_autopilot %ls: %ls\n", mode.c_str(), failure.c_str());
        return 1;
    }
    std::printf("setup_autopilot %ls: done\n", mode.c_str());
    return 0;
}
