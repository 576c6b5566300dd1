// The install worker end to end, as the wizard sees it: a hidden window receives
// the one result message, never before a second has passed; the installed folder,
// the driver service and the filter entry are checked in Wine's machine state, and
// after a failure that nothing the install created is left.
#include "setup_support.h"

#include "resources/resource.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

UINT ResultMessage = 0;
ULONGLONG ResultTick = 0;
InstallFailure Failure = {};

LRESULT CALLBACK WizardStandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INSTALL_SUCCEEDED || message == WM_INSTALL_FAILED) {
        EXPECT_EQ(wParam, 0u);
        EXPECT_EQ(lParam != 0, message == WM_INSTALL_FAILED) << "a failure tells why";
        EXPECT_EQ(ResultMessage, 0u) << "a second result message";
        ResultMessage = message;
        ResultTick = GetTickCount64();
        if (lParam != 0) {
            Failure = *reinterpret_cast<const InstallFailure*>(lParam);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class InstallWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WizardWindow = CreateWizardStandIn(WizardStandInProc);
        ASSERT_NE(WizardWindow, nullptr);
        ResultMessage = 0;
        ResultTick = 0;
        Failure = {};
        WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(ListOf({u"PartMgr"})));
        ASSERT_TRUE(ExtractSetupFiles());
    }
    void TearDown() override {
        RemoveSetupFiles();
        DestroyWindow(WizardWindow);
        WizardWindow = nullptr;
    }

    // Starts the install thread and pumps messages until the result arrives (30 s
    // at most); returns the result message and how long it took.
    UINT RunInstall(ULONGLONG* elapsed) {
        const ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(StartInstall());
        const bool arrived = WaitUntil(
            [] {
                MSG message;
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    DispatchMessageW(&message);
                }
                return ResultMessage != 0;
            },
            30000);
        EXPECT_TRUE(arrived) << "no result message reached the wizard within 30 s";
        *elapsed = ResultTick - start;
        return ResultMessage;
    }

    // A failed install in `step` that left nothing of its own behind.
    void ExpectFailedLeavingNothing(UINT step) {
        ULONGLONG elapsed = 0;
        EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_FAILED);
        EXPECT_EQ(Failure.step, step);
        EXPECT_NE(Failure.error, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_FALSE(DriverServiceExists());
        EXPECT_FALSE(PathExists(SystemDriverFile()));
        EXPECT_FALSE(PathExists(InstalledFolder()));
        EXPECT_FALSE(PathExists(VendorFolder()));
        HKEY entry = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntry, 0, KEY_READ, &entry),
                  ERROR_SUCCESS);
        EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
                  MultiSz(ListOf({u"PartMgr"})).bytes);
    }

    MachineState machine_;
};

// Normal attributes as Wine reports them: it shows every plain file as
// FILE_ATTRIBUTE_ARCHIVE, so "normal" is the absence of read-only, hidden and system.
bool HasNormalAttributes(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

TEST_F(InstallWorkerTest, AFirstInstallCreatesBothFoldersAndRegistersTheDriver) {
    ASSERT_FALSE(PathExists(VendorFolder()));
    ULONGLONG elapsed = 0;
    EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_SUCCEEDED);
    EXPECT_GE(elapsed, 1000u);

    std::vector<std::wstring> installed = FolderEntries(InstalledFolder());
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed,
              (std::vector<std::wstring>{L"Uninst.exe", L"quillctl.exe", L"quilldrv.sys"}))
        << "exactly the driver and the launcher, no licence";
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\quilldrv.sys"), X64DriverBytes());
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\Uninst.exe"), kLauncherBytes);
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\quillctl.exe"), kControlToolBytes);
    EXPECT_TRUE(HasNormalAttributes(InstalledFolder() + L"\\quilldrv.sys"));
    EXPECT_TRUE(HasNormalAttributes(InstalledFolder() + L"\\Uninst.exe"));

    EXPECT_TRUE(DriverServiceExists());
    EXPECT_EQ(DriverServiceState(), static_cast<DWORD>(SERVICE_STOPPED))
        << "the trial load left the driver running";
    EXPECT_EQ(ServiceKeyDword(L"Start"), 0u);
    EXPECT_EQ(ReadFileBytes(SystemDriverFile()), X64DriverBytes());
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"quilldrv", u"PartMgr"})).bytes);
}

// A removal before the restart left the launcher and the driver to be deleted then:
// an install before that restart keeps the files it writes, and nothing else.
TEST_F(InstallWorkerTest, FilesLeftForDeletionAtTheRestartAreKeptOnceInstalledAgain) {
    CreateDirectoryW(VendorFolder().c_str(), nullptr);
    CreateDirectoryW(InstalledFolder().c_str(), nullptr);
    const std::wstring other = VendorFolder() + L"\\other.txt";
    for (const std::wstring& path :
         {InstalledFolder() + L"\\Uninst.exe", SystemDriverFile(), other}) {
        ASSERT_TRUE(WriteFileBytes(path, "left by a removal"));
        ASSERT_TRUE(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    }
    ULONGLONG elapsed = 0;
    EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_SUCCEEDED);
    EXPECT_EQ(DeletionsAtRestart(), std::vector<std::wstring>{other});
}

TEST_F(InstallWorkerTest, AnExistingVendorFolderIsUsedAsItIs) {
    ASSERT_TRUE(CreateDirectoryW(VendorFolder().c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(VendorFolder() + L"\\other product.txt", "kept"));
    ULONGLONG elapsed = 0;
    EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_SUCCEEDED);
    EXPECT_EQ(ReadFileBytes(VendorFolder() + L"\\other product.txt"), "kept");
    EXPECT_TRUE(PathExists(InstalledFolder() + L"\\quilldrv.sys"));
}

TEST_F(InstallWorkerTest, ReadOnlyLeftoversAreReplacedAndEndWithNormalAttributes) {
    CreateDirectoryW(VendorFolder().c_str(), nullptr);
    CreateDirectoryW(InstalledFolder().c_str(), nullptr);
    for (const wchar_t* name : {L"\\quilldrv.sys", L"\\Uninst.exe"}) {
        const std::wstring path = InstalledFolder() + name;
        ASSERT_TRUE(WriteFileBytes(path, "a leftover of an earlier install, longer than now"));
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_FALSE(HasNormalAttributes(path));
    }
    ULONGLONG elapsed = 0;
    EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_SUCCEEDED);
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\quilldrv.sys"), X64DriverBytes());
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\Uninst.exe"), kLauncherBytes);
    EXPECT_TRUE(HasNormalAttributes(InstalledFolder() + L"\\quilldrv.sys"));
    EXPECT_TRUE(HasNormalAttributes(InstalledFolder() + L"\\Uninst.exe"));
}

TEST_F(InstallWorkerTest, AFileNamedLikeTheVendorFolderFailsTheInstallAfterThePause) {
    ASSERT_TRUE(WriteFileBytes(VendorFolder(), "not a folder"));
    ULONGLONG elapsed = 0;
    EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_FAILED);
    EXPECT_GE(elapsed, 1000u) << "the failure came before the one-second pause";
    EXPECT_EQ(Failure.step, static_cast<UINT>(IDS_STEP_FOLDER));
    EXPECT_EQ(ReadFileBytes(VendorFolder()), "not a folder") << "what was there before stays";
    EXPECT_FALSE(DriverServiceExists());
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
}

TEST_F(InstallWorkerTest, AFailedServiceStepTakesBackTheFoldersAndFiles) {
    // A folder where the system's driver file goes makes its copy fail (786).
    ASSERT_TRUE(CreateDirectoryW(SystemDriverFile().c_str(), nullptr));
    ULONGLONG elapsed = 0;
    EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_FAILED);
    EXPECT_EQ(Failure.step, static_cast<UINT>(IDS_STEP_DRIVER_FILE));
    EXPECT_FALSE(PathExists(VendorFolder()));
    EXPECT_FALSE(DriverServiceExists());
    EXPECT_TRUE(PathExists(SystemDriverFile())) << "the folder that was there stays";
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
}

// Failures after the service exists, made in this process (the install runs here)
// where Wine cannot make them; each leaves nothing. A refused trial load is the
// wizard tests' (an image that does not load).
BOOL WINAPI StartFindsOneRunning(SC_HANDLE, DWORD, LPCWSTR*) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
}
BOOL WINAPI StopRefused(SC_HANDLE, DWORD, LPSERVICE_STATUS) {
    SetLastError(ERROR_INVALID_SERVICE_CONTROL);
    return FALSE;
}
// Refuses to write this value ("Start" only when it is boot start).
const wchar_t* RefusedValue = L"";
LSTATUS WINAPI ValueRefused(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                            DWORD size) {
    if (name != nullptr && wcscmp(name, RefusedValue) == 0 &&
        (wcscmp(name, L"Start") != 0 ||
         *reinterpret_cast<const DWORD*>(data) == SERVICE_BOOT_START)) {
        return ERROR_ACCESS_DENIED;
    }
    using SetValue = LSTATUS(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
    static const auto real = reinterpret_cast<SetValue>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"advapi32"), "RegSetValueExW")));
    return real(key, name, reserved, type, data, size);
}

TEST_F(InstallWorkerTest, AValueThatCannotBeWrittenFailsTheInstallAndLeavesNothing) {
    OwnImportSwap swap("advapi32.dll", "RegSetValueExW", reinterpret_cast<void*>(&ValueRefused));
    ASSERT_TRUE(swap.Swapped());
    for (const auto& c : {std::make_pair(L"Start", IDS_STEP_BOOT_START),
                          std::make_pair(L"EstimatedSize", IDS_STEP_ENTRY)}) {
        MachineState::Reset();
        ResultMessage = 0;
        RefusedValue = c.first;
        ExpectFailedLeavingNothing(c.second);
    }
}

// An earlier driver still running says nothing about the new file; one that will
// not stop leaves the trial to a restart, which the failed page asks for.
TEST_F(InstallWorkerTest, ARunningDriverThatWillNotStopFailsTheInstallUntilARestart) {
    OwnImportSwap start("advapi32.dll", "StartServiceW",
                        reinterpret_cast<void*>(&StartFindsOneRunning));
    OwnImportSwap stop("advapi32.dll", "ControlService", reinterpret_cast<void*>(&StopRefused));
    ASSERT_TRUE(start.Swapped() && stop.Swapped());
    ExpectFailedLeavingNothing(IDS_STEP_TRIAL);
    EXPECT_EQ(Failure.error, static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_TRUE(NeedsRestartFirst(Failure.error));
}

TEST_F(InstallWorkerTest, TheThreadEndsWithOneAfterSuccessAndZeroAfterFailure) {
    // Run on this thread, the result message is a direct call of the window procedure.
    EXPECT_EQ(InstallWorker(nullptr), 1u);
    EXPECT_EQ(ResultMessage, WM_INSTALL_SUCCEEDED);
    MachineState::Reset();
    ResultMessage = 0;
    ASSERT_TRUE(WriteFileBytes(VendorFolder(), "not a folder"));
    EXPECT_EQ(InstallWorker(nullptr), 0u);
    EXPECT_EQ(ResultMessage, WM_INSTALL_FAILED);
}

} // namespace
