// A user's sessions with the wizard, in the language that CTest gives Wine
// (LC_ALL): every page's texts and control states, the agree logic, Back, Cancel,
// the ignored IDOK, the installing page behind disabled buttons, the restart
// question, the complete and failed pages, and the machine afterwards.
#include "setup_support.h"
#include "setup_texts.h"
#include "wizard_driver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        tempBefore_ = Sorted(FolderEntries(TempFolder()));
        // An earlier registration in capitals, and the platform's partition filter.
        WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(ListOf({u"QUILLDRV", u"PartMgr"})));
    }
    void TearDown() override { Kill(setup_); }

    // Starts setup and waits for its wizard on page 1.
    void StartSetup(const wchar_t* program = QG_SETUP_EXE) {
        ASSERT_TRUE(StartProgram(program, L"", &setup_));
        wizard_ = FindWizard(setup_.id, 30000);
        ASSERT_NE(wizard_, nullptr) << "no wizard within 30 s";
    }

    std::wstring S(UINT id) const { return texts_.strings.at(id); }

    // Setup has ended by itself with exit code 0 and left the temporary folder as
    // it found it.
    void ExpectEndedCleanly() {
        EXPECT_EQ(WaitForExit(setup_, 10000), 0u) << "setup did not end with 0 within 10 s";
        EXPECT_EQ(Sorted(FolderEntries(TempFolder())), tempBefore_)
            << "the temporary folder was not left clean";
    }

    void ExpectPage(const std::wstring& title, int messageControl, const std::wstring& message) {
        EXPECT_EQ(ControlText(wizard_, kTitle), title);
        EXPECT_EQ(ControlText(wizard_, messageControl), message);
    }

    void ExpectLicenceControlsShown(bool shown) {
        for (int id : {kLicence, kDisagree, kAgree, kLicencePrompt}) {
            EXPECT_EQ(IsShown(wizard_, id), shown) << "control " << id;
        }
        EXPECT_EQ(IsShown(wizard_, kMessage), !shown);
    }

    // Installs from the confirm page, expecting the failed page naming the step and
    // the Windows error; ends setup there.
    void InstallToTheFailedPage(UINT step, DWORD error) {
        ASSERT_TRUE(GoToConfirmPage(wizard_));
        Click(wizard_, kNext);
        ASSERT_TRUE(WaitForTitle(wizard_, S(117), 30000)) << "no failed page within 30 s";
        wchar_t system[1024] = {};
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, system, 1024, nullptr);
        std::wstring details = S(120);
        details.replace(details.find(L"%s"), 2, S(step));
        details.replace(details.find(L"%u"), 2, std::to_wstring(error));
        details.replace(details.find(L"%s"), 2, system);
        details.erase(details.find_last_not_of(L"\r\n") + 1);
        EXPECT_EQ(ControlText(wizard_, kMessage), Formatted(S(118)) + L"\n\n" + details);
        EXPECT_EQ(ControlText(wizard_, kNext), S(105));
        EXPECT_TRUE(IsEnabled(wizard_, kNext));
        EXPECT_FALSE(IsEnabled(wizard_, kBack));
        EXPECT_FALSE(IsEnabled(wizard_, kCancel));
        EXPECT_EQ(FindMessageBox(setup_.id, 1000), nullptr) << "a box after a failure";
        Click(wizard_, kNext);
        ExpectEndedCleanly();
    }

    // Another process (this test) can neither rename the extraction folder or the
    // files in it nor open them for writing, while the wizard waits for the user.
    void ExpectStagedFilesHeld() {
        std::wstring folder;
        for (const std::wstring& name : FolderEntries(TempFolder())) {
            if (name.rfind(L"qgs", 0) == 0 &&
                !std::binary_search(tempBefore_.begin(), tempBefore_.end(), name)) {
                folder = TempFolder() + L"\\" + name;
            }
        }
        ASSERT_FALSE(folder.empty()) << "no extraction folder";
        EXPECT_FALSE(MoveFileW(folder.c_str(), (folder + L"-swapped").c_str()));
        for (const wchar_t* name : {L"\\Uninst.exe", L"\\License.rtf", L"\\quilldrv.sys"}) {
            const std::wstring path = folder + name;
            EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".old").c_str())) << "renamed " << name;
            HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "opened for writing: " << name;
            CloseHandle(writer);
        }
    }

    const LanguageTexts& texts_ = CurrentTexts();
    MachineState machine_;
    std::vector<std::wstring> tempBefore_;
    Started setup_;
    HWND wizard_ = nullptr;
};

TEST_F(Wizard, TheWelcomePageGreetsWithTheWizardTitleAndFocusesCancel) {
    StartSetup();
    EXPECT_EQ(WindowText(wizard_), kWizardTitle);
    ExpectPage(Formatted(S(107)), kMessage, ControlText(wizard_, kMessage));
    const std::wstring welcome = ControlText(wizard_, kMessage);
    EXPECT_NE(welcome.find(kWizardTitle), std::wstring::npos)
        << "the welcome text names no product";
    EXPECT_EQ(welcome.find(L"%"), std::wstring::npos);
    EXPECT_FALSE(IsEnabled(wizard_, kBack));
    EXPECT_TRUE(IsEnabled(wizard_, kNext));
    EXPECT_TRUE(IsEnabled(wizard_, kCancel));
    ExpectLicenceControlsShown(false);
    EXPECT_EQ(FocusedControl(wizard_), kCancel);
    EXPECT_EQ(ControlText(wizard_, kCancel), texts_.cancel);
    EXPECT_EQ(ControlText(wizard_, kBack), texts_.back);
    EXPECT_EQ(ControlText(wizard_, kNext), texts_.next);

    // Centred on the desktop.
    RECT desktop = {}, placed = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(wizard_, &placed);
    EXPECT_EQ(placed.left,
              desktop.left + (desktop.right - desktop.left - (placed.right - placed.left)) / 2);
    EXPECT_EQ(placed.top,
              desktop.top + (desktop.bottom - desktop.top - (placed.bottom - placed.top)) / 2);
}

TEST_F(Wizard, TheLicencePageShowsTheFormattedLicenceAndLetsOnlyAgreeGoOn) {
    StartSetup();
    Click(wizard_, kNext);
    ASSERT_TRUE(WaitForTitle(wizard_, S(109), 5000));
    ExpectPage(S(109), kLicencePrompt, S(110));
    ExpectLicenceControlsShown(true);
    EXPECT_TRUE(IsEnabled(wizard_, kBack));
    EXPECT_FALSE(IsEnabled(wizard_, kNext)) << "Next before anything was agreed";
    EXPECT_TRUE(IsChecked(wizard_, kDisagree));
    EXPECT_FALSE(IsChecked(wizard_, kAgree));
    EXPECT_EQ(FocusedControl(wizard_), kCancel);
    EXPECT_EQ(ControlText(wizard_, kDisagree), texts_.disagree);
    EXPECT_EQ(ControlText(wizard_, kAgree), texts_.agree);

    // Formatted, not markup; the caret at the start and nothing selected.
    const std::wstring licence = ControlText(wizard_, kLicence);
    EXPECT_GT(licence.size(), 200u);
    EXPECT_EQ(licence.find(L"\\rtf"), std::wstring::npos) << "the licence shows raw RTF";
    EXPECT_EQ(licence.find(L"\\par"), std::wstring::npos) << "the licence shows raw RTF";
    EXPECT_EQ(SendDlgItemMessageW(wizard_, kLicence, EM_GETSEL, 0, 0), 0);

    Click(wizard_, kAgree);
    EXPECT_TRUE(IsEnabled(wizard_, kNext));
    Click(wizard_, kDisagree);
    EXPECT_FALSE(IsEnabled(wizard_, kNext));
    Click(wizard_, kAgree);
    EXPECT_TRUE(IsEnabled(wizard_, kNext));

    Click(wizard_, kBack);
    ASSERT_TRUE(WaitForTitle(wizard_, Formatted(S(107)), 5000));
    ExpectLicenceControlsShown(false);
    EXPECT_FALSE(IsEnabled(wizard_, kBack));
    EXPECT_EQ(FocusedControl(wizard_), kCancel);
}

// A radio command counts only on the licence page and only as BN_CLICKED: it is
// sent here with the buttons' checks changed behind the wizard's back, so that
// acting on it would change Next.
TEST_F(Wizard, RadioCommandsCountOnlyOnTheLicencePageAndOnlyAsClicks) {
    StartSetup();
    auto sendRadio = [&](int id, WORD code) {
        SendMessageW(wizard_, WM_COMMAND, MAKEWPARAM(id, code),
                     reinterpret_cast<LPARAM>(GetDlgItem(wizard_, id)));
    };
    auto setChecks = [&](bool agree) {
        SendDlgItemMessageW(wizard_, kAgree, BM_SETCHECK, agree ? BST_CHECKED : 0, 0);
        SendDlgItemMessageW(wizard_, kDisagree, BM_SETCHECK, agree ? 0 : BST_CHECKED, 0);
    };
    sendRadio(kDisagree, BN_CLICKED); // page 1: Agree is unchecked, yet Next stays
    EXPECT_TRUE(IsEnabled(wizard_, kNext)) << "page 1 acted on a radio click";

    Click(wizard_, kNext);
    ASSERT_TRUE(WaitForTitle(wizard_, S(109), 5000));
    setChecks(true);
    sendRadio(kAgree, BN_DOUBLECLICKED);
    EXPECT_FALSE(IsEnabled(wizard_, kNext)) << "a double-click notification was acted on";
    sendRadio(kAgree, BN_CLICKED);
    EXPECT_TRUE(IsEnabled(wizard_, kNext));
    setChecks(false);
    sendRadio(kDisagree, BN_SETFOCUS);
    EXPECT_TRUE(IsEnabled(wizard_, kNext)) << "a focus notification was acted on";
    sendRadio(kDisagree, BN_CLICKED);
    EXPECT_FALSE(IsEnabled(wizard_, kNext));

    setChecks(true);
    sendRadio(kAgree, BN_CLICKED);
    Click(wizard_, kNext);
    ASSERT_TRUE(WaitForTitle(wizard_, S(111), 5000));
    setChecks(false);
    sendRadio(kDisagree, BN_CLICKED);
    EXPECT_TRUE(IsEnabled(wizard_, kNext)) << "page 3 acted on a radio click";
}

TEST_F(Wizard, TheConfirmPageAndBackToTheLicenceKeepingAgree) {
    StartSetup();
    ASSERT_TRUE(GoToConfirmPage(wizard_));
    ExpectPage(S(111), kMessage, Formatted(S(112)));
    ExpectLicenceControlsShown(false);
    EXPECT_TRUE(IsEnabled(wizard_, kBack));
    EXPECT_TRUE(IsEnabled(wizard_, kNext));
    EXPECT_TRUE(IsEnabled(wizard_, kCancel));

    Click(wizard_, kBack);
    ASSERT_TRUE(WaitForTitle(wizard_, S(109), 5000));
    EXPECT_TRUE(IsChecked(wizard_, kAgree));
    EXPECT_FALSE(IsChecked(wizard_, kDisagree));
    EXPECT_TRUE(IsEnabled(wizard_, kNext)) << "Agree still holds: Next at once";
    ExpectLicenceControlsShown(true);
}

TEST_F(Wizard, CancelOnTheFirstThreePagesEndsSetupAtOnce) {
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        StartSetup();
        if (page == 2) {
            Click(wizard_, kNext);
            ASSERT_TRUE(WaitForTitle(wizard_, S(109), 5000));
        } else if (page == 3) {
            ASSERT_TRUE(GoToConfirmPage(wizard_));
        }
        Click(wizard_, kCancel);
        ExpectEndedCleanly();
        EXPECT_EQ(FindMessageBox(setup_.id, 0), nullptr) << "Cancel asked something";
        EXPECT_FALSE(DriverServiceExists());
        EXPECT_FALSE(PathExists(VendorFolder()));
    }
}

TEST_F(Wizard, IdOkChangesNothingOnAnyPage) {
    StartSetup();
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::wstring title = ControlText(wizard_, kTitle);
        const bool next = IsEnabled(wizard_, kNext);
        SendMessageW(wizard_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_FALSE(HasEnded(setup_));
        EXPECT_EQ(ControlText(wizard_, kTitle), title);
        EXPECT_EQ(IsEnabled(wizard_, kNext), next);
        if (page == 2) {
            Click(wizard_, kAgree);
        }
        if (page < 3) {
            Click(wizard_, kNext);
            ASSERT_TRUE(WaitUntil([&] { return ControlText(wizard_, kTitle) != title; }, 5000));
        }
    }
}

TEST_F(Wizard, AnInstallRunsBehindDisabledButtonsAndCompletesAfterTheRestartQuestion) {
    StartSetup();
    Click(wizard_, kNext);
    ASSERT_TRUE(WaitForTitle(wizard_, S(109), 5000));
    ExpectStagedFilesHeld();
    Click(wizard_, kAgree);
    Click(wizard_, kNext);
    ASSERT_TRUE(WaitForTitle(wizard_, S(111), 5000));
    const ULONGLONG started = GetTickCount64();
    Click(wizard_, kNext);
    ASSERT_TRUE(WaitForTitle(wizard_, Formatted(S(113)), 5000));
    EXPECT_EQ(ControlText(wizard_, kMessage), S(114));
    ExpectLicenceControlsShown(false);

    // Escape and the close box send Cancel; neither may end the installing page.
    PostMessageW(wizard_, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(wizard_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    PostMessageW(wizard_, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(wizard_, WM_CLOSE, 0, 0);

    // Until the worker's result, every button stays disabled.
    ULONGLONG resultAt = 0;
    bool buttonsStayedDisabled = true;
    WaitUntil(
        [&] {
            if (ControlText(wizard_, kTitle) != Formatted(S(113))) {
                resultAt = GetTickCount64();
                return true;
            }
            buttonsStayedDisabled = buttonsStayedDisabled && !IsEnabled(wizard_, kBack) &&
                                    !IsEnabled(wizard_, kNext) && !IsEnabled(wizard_, kCancel);
            return false;
        },
        30000);
    ASSERT_NE(resultAt, 0u) << "the installing page stayed for 30 s";
    EXPECT_FALSE(HasEnded(setup_)) << "Escape or the close box ended the installing page";
    EXPECT_TRUE(buttonsStayedDisabled);
    EXPECT_GE(resultAt - started, 1000u) << "the installing page lasted less than a second";

    // Page 5 is shown before the restart question, which is answered Cancel.
    const BoxAnswer question = AnswerMessageBox(setup_.id, IDCANCEL, 10000);
    ASSERT_TRUE(question.found) << "no restart question within 10 s";
    EXPECT_EQ(question.text, S(119));
    EXPECT_EQ(question.caption, kWizardTitle);
    EXPECT_TRUE(question.hasOk && question.hasCancel);
    // Shared icons are per process in Wine: only their presence can be seen from here.
    EXPECT_NE(question.icon, nullptr);
    ExpectPage(S(115), kMessage, Formatted(S(116)));
    ExpectLicenceControlsShown(false);

    ASSERT_TRUE(WaitUntil([&] { return FindMessageBox(setup_.id, 0) == nullptr; }, 5000));
    EXPECT_EQ(ControlText(wizard_, kNext), S(105));
    EXPECT_TRUE(IsEnabled(wizard_, kNext));
    EXPECT_FALSE(IsEnabled(wizard_, kBack));
    EXPECT_FALSE(IsEnabled(wizard_, kCancel));
    EXPECT_FALSE(HasEnded(setup_));
    Click(wizard_, kNext);
    ExpectEndedCleanly();

    // The machine: service, filters, driver file and installed folder, with the
    // genuine files.
    EXPECT_TRUE(DriverServiceExists());
    EXPECT_EQ(ServiceKeyDword(L"Type"), 1u);
    EXPECT_EQ(ServiceKeyDword(L"Start"), 0u);
    EXPECT_EQ(ServiceKeyDword(L"ErrorControl"), 1u);
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"quilldrv", u"PartMgr"})).bytes);
    const std::string driver = ReadFileBytes(QG_X64_DRIVER);
    ASSERT_EQ(driver.substr(0, 2), "MZ");
    EXPECT_EQ(ReadFileBytes(SystemDriverFile()), driver);
    EXPECT_EQ(Sorted(FolderEntries(InstalledFolder())),
              (std::vector<std::wstring>{L"Uninst.exe", L"quillctl.exe", L"quilldrv.sys"}));
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\quilldrv.sys"), driver);
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\Uninst.exe"), ReadFileBytes(QG_UNINST_EXE));
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\quillctl.exe"), ReadFileBytes(QG_QUILLCTL_EXE));
}

TEST_F(Wizard, AFailedInstallShowsTheFailedPageWithoutRestartQuestion) {
    // A file where the vendor folder belongs: the product folder cannot be made.
    ASSERT_TRUE(WriteFileBytes(VendorFolder(), "not a folder"));
    StartSetup();
    InstallToTheFailedPage(121, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(DriverServiceExists());
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"QUILLDRV", u"PartMgr"})).bytes);
}

// A refused trial load takes back everything the install made, so that setup run
// again shows its wizard instead of taking the removal road.
TEST_F(Wizard, ADriverThatWillNotLoadFailsTheInstallAndLeavesNothing) {
    const std::wstring folder = ProgramFiles() + L"\\qg-unloadable-driver";
    DeleteTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = SetupWithAnUnloadableDriver(QG_SETUP_EXE, folder);
    ASSERT_FALSE(program.empty()) << "cannot make the setup copy";
    StartSetup(program.c_str());
    InstallToTheFailedPage(125, ERROR_DLL_INIT_FAILED); // Wine's answer; Windows': 577
    EXPECT_FALSE(DriverServiceExists());
    EXPECT_FALSE(PathExists(SystemDriverFile()));
    EXPECT_FALSE(PathExists(VendorFolder()));
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"QUILLDRV", u"PartMgr"})).bytes);
    DeleteTree(folder);

    StartSetup();
    Click(wizard_, kCancel);
    ExpectEndedCleanly();
}

} // namespace
