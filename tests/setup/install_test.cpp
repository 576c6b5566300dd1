// The install worker end to end, as the wizard sees it: a hidden window receives
// the one result message, never before a second has passed; the installed folder,
// the driver service and the filter entry are checked in Wine's machine state.
#include "setup_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

UINT ResultMessage = 0;
ULONGLONG ResultTick = 0;

LRESULT CALLBACK WizardStandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INSTALL_SUCCEEDED || message == WM_INSTALL_FAILED) {
        EXPECT_EQ(wParam, 0u);
        EXPECT_EQ(lParam, 0);
        EXPECT_EQ(ResultMessage, 0u) << "a second result message";
        ResultMessage = message;
        ResultTick = GetTickCount64();
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
    EXPECT_EQ(installed, (std::vector<std::wstring>{L"Uninst.exe", L"quilldrv.sys"}))
        << "exactly the driver and the launcher, no licence";
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\quilldrv.sys"), X64DriverBytes());
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\Uninst.exe"), kLauncherBytes);
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
    EXPECT_FALSE(DriverServiceExists());
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
}

TEST_F(InstallWorkerTest, AFailedServiceStepLeavesTheFiltersUntouched) {
    // A folder where the system's driver file goes makes its copy fail (786).
    ASSERT_TRUE(CreateDirectoryW(SystemDriverFile().c_str(), nullptr));
    ULONGLONG elapsed = 0;
    EXPECT_EQ(RunInstall(&elapsed), WM_INSTALL_FAILED);
    EXPECT_TRUE(PathExists(InstalledFolder() + L"\\quilldrv.sys")) << "steps before it stay";
    EXPECT_FALSE(DriverServiceExists());
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
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
