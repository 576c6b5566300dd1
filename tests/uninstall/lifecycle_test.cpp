// The whole life of an installation in the prefix: the install engine installs
// with the real launcher and driver, setup's hand-over starts the installed
// launcher, the user answers Yes and then Cancel to the restart question, and the
// machine is as it was before the install.
#include "uninstall_support.h"

#include <shellapi.h>

#include <gtest/gtest.h>

namespace {

TEST(Lifecycle, InstallThenUninstallLeavesTheMachineAsItWas) {
    MachineState machine;
    WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(ListOf({u"PartMgr"})));
    const SavedValue before = ReadValue(DISK_CLASS_KEY, UPPER_FILTERS);

    WizardWindow = CreateWizardStandIn(DefWindowProcW);
    ASSERT_NE(WizardWindow, nullptr);
    ASSERT_TRUE(ExtractSetupFiles());
    EXPECT_EQ(InstallWorker(nullptr), 1u);
    RemoveSetupFiles();
    DestroyWindow(WizardWindow);
    ASSERT_TRUE(PathExists(InstalledFolder() + L"\\Uninst.exe"));
    ASSERT_TRUE(PathExists(InstalledFolder() + L"\\quillctl.exe"));
    ASSERT_TRUE(DriverServiceExists());
    ASSERT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"quilldrv", u"PartMgr"})).bytes);

    // Setup, started again, hands over to the installed launcher like this.
    const std::wstring launcher = InstalledFolder() + L"\\Uninst.exe";
    const std::wstring arguments =
        Quoted(kEntryName) + L" " + Quoted(kTitle) + L" " + Quoted(kFolderName);
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpVerb = L"open";
    execute.lpFile = launcher.c_str();
    execute.lpParameters = arguments.c_str();
    execute.nShow = SW_SHOW;
    ASSERT_TRUE(ShellExecuteExW(&execute));
    HandleCloser process(execute.hProcess);

    HWND question = WaitForBoxOf(GetProcessId(process.Get()), kTitle);
    ASSERT_NE(question, nullptr) << "the launcher asked nothing within 10 s";
    Answer(question, IDYES);
    EXPECT_EQ(ExitCodeAfter(process.Get(), 10000), 0u);

    HWND restart = WaitForBoxSaying(kTitle, L"To activate the new settings, you must restart PC. \n"
                                            L"Do you want to restart PC Now?");
    ASSERT_NE(restart, nullptr) << "the uninstaller asked no restart question within 10 s";
    HandleCloser uninstaller(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ProcessOf(restart)));
    Answer(restart, IDCANCEL);
    EXPECT_EQ(ExitCodeAfter(uninstaller.Get(), 10000), 0u);

    const SavedValue after = ReadValue(DISK_CLASS_KEY, UPPER_FILTERS);
    EXPECT_EQ(after.type, before.type);
    EXPECT_EQ(after.bytes, before.bytes);
    EXPECT_TRUE(DriverServiceGone());
    EXPECT_FALSE(PathExists(InstalledFolder()));
    EXPECT_FALSE(PathExists(VendorFolder()));
    EndStrayPrograms();
}

} // namespace
