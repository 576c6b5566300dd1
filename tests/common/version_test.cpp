// The version tests and the processor gate on the versions Wine reports: the
// probe program is started with Wine's per-program Windows version set.
#include "../support/wine_support.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kAppDefaults = L"Software\\Wine\\AppDefaults\\qg_version_probe.exe";

// Runs the probe as Wine's `version` (none: the prefix's own) and returns its answer.
DWORD ProbeAs(const wchar_t* version) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
    if (version != nullptr) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kAppDefaults, L"Version", REG_SZ, version,
                        static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring command = path;
    command = L"\"" + command.substr(0, command.rfind(L'\\')) + L"\\qg_version_probe.exe\"";

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD answer = 0xFFFFFFFF;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &answer);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
    return answer;
}

constexpr DWORD kWindows2000 = 1, kWindowsXP = 2, kNativeX64 = 4;

TEST(VersionTests, AnswerForTheVersionWineReports) {
    struct Case {
        const wchar_t* version;
        DWORD answer;
    };
    const Case cases[] = {
        {L"win2k", kWindows2000},            // 5.0: no x64 test at all
        {L"winxp", kWindowsXP | kNativeX64}, // 5.1
        {L"winxp64", kNativeX64},            // 5.2
        {L"vista", kNativeX64},              // 6.0
        {L"win10", kNativeX64},
        {nullptr, kNativeX64}, // the prefix's default
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProbeAs(c.version), c.answer)
            << "as "
            << (c.version ? std::string(c.version, c.version + wcslen(c.version))
                          : std::string("default"))
            << " (0xFFFFFFFF: the probe did not end within 30 s)";
    }
}

} // namespace
