// The built _uninst as the launcher starts it: its argument check, the wait box
// (title, place, keys that must not end it), the one error box the removal may
// show, the restart question, answered with Cancel, the quiet removal's failures
// and the product's mutex.
#include "uninstall_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::wstring UninstallerExe() {
    std::wstring path = QG_UNINSTALLER_EXE;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// The five fields as the launcher writes them.
std::wstring FieldsLine(const std::wstring& folder, const std::wstring& title) {
    return Quoted(UninstallerExe()) + L" " + Quoted(folder) + L" " + Quoted(kEntryName) + L" " +
           Quoted(title) + L" " + Quoted(kFolderName);
}

std::wstring WaitTitle(const std::wstring& title) {
    switch (UiLanguage()) {
    case Language::Japanese:
        return title + L" の削除中";
    case Language::Chinese:
        return L"正在删除 " + title;
    default:
        return title + L" is being deleted.";
    }
}

std::wstring RestartQuestion() {
    switch (UiLanguage()) {
    case Language::Japanese:
        return L"新しい設定を有効するには、コンピュータを再起動する必要があります。\n"
               L"今すぐコンピュータを再起動しますか?";
    case Language::Chinese:
        return L"要啟動新的設置，您必須重新啟動電腦。 \n您要重新啟動電腦吧?";
    default:
        return L"To activate the new settings, you must restart PC. \n"
               L"Do you want to restart PC Now?";
    }
}

// Where _uninst writes its log: its current folder, here the test's.
std::wstring LogFile() {
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    return std::wstring(folder) + L"\\_uninst.log";
}

std::wstring SystemText(DWORD error) {
    wchar_t text[1024] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 1024, nullptr);
    return text;
}

class UninstallerRunTest : public ::testing::Test {
protected:
    // Answers the restart question with Cancel and expects the program to end with 0.
    void CancelRestart(const std::wstring& title) {
        HWND question = WaitForBoxOf(program_.id, title);
        ASSERT_NE(question, nullptr) << "no restart question within 10 s";
        EXPECT_EQ(BoxText(question), RestartQuestion());
        Answer(question, IDCANCEL);
        EXPECT_EQ(ExitCodeAfter(program_.process.Get(), 10000), 0u);
    }

    void TearDown() override {
        if (program_.process && ExitCodeAfter(program_.process.Get(), 0) == STILL_ACTIVE) {
            TerminateProcess(program_.process.Get(), 1);
        }
        EndStrayPrograms();
    }

    MachineState machine_;
    Started program_;
};

TEST_F(UninstallerRunTest, AnythingButFiveFieldsShowsTheCommandLineAndRemovesNothing) {
    ASSERT_TRUE(InstallStandIn());
    const std::wstring exe = Quoted(UninstallerExe());
    const std::wstring lines[] = {
        exe,
        exe + L" \"a\" \"b\" \"c\"",
        exe + L" \"a\" \"b\" \"c\" \"d\" \"e\"",
        // A folder ending in a backslash swallows its closing quote.
        exe + L" \"C:\\Folder\\\" \"b\" \"c\" \"d\"",
        // Five fields, one past its 255 characters.
        FieldsLine(InstalledFolder(), std::wstring(256, L't')),
    };
    for (const auto& line : lines) {
        Started program;
        ASSERT_TRUE(StartProgram(UninstallerExe(), line, program));
        HWND box = WaitForBoxOf(program.id, L"Parameter error!");
        ASSERT_NE(box, nullptr) << "no \"Parameter error!\" box for " << line.size()
                                << " characters";
        EXPECT_TRUE(BoxText(box) == line) << "the box shows the whole command line";
        Answer(box, IDOK);
        EXPECT_EQ(ExitCodeAfter(program.process.Get(), 10000), 0u);
    }
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"PartMgr", u"quilldrv"})).bytes);
    EXPECT_TRUE(DriverServiceExists());
    EXPECT_TRUE(PathExists(InstalledFolder() + L"\\quilldrv.sys"));
}

// Wine's user32 loads uxtheme.dll by name once a window is shown. One planted
// beside the uninstaller in the temporary folder, with Wine told to prefer
// native DLLs for the program, is never loaded: the search is kept to the
// system folder.
TEST_F(UninstallerRunTest, ALibraryPlantedBesideTheUninstallerIsNeverLoaded) {
    const std::wstring folder = TempFolder() + L"\\qg-planted";
    const std::wstring program = CopyWithPlantedLibrary(UninstallerExe(), folder, L"_uninst.bin",
                                                        QG_PLANTED_UXTHEME, L"uxtheme");
    ASSERT_FALSE(program.empty());
    // Too few fields: the program shows its one box and removes nothing.
    const bool started = StartProgram(program, Quoted(program), program_);
    HWND box = started ? WaitForBoxOf(program_.id, L"Parameter error!") : nullptr;
    ForgetOverrides(L"_uninst.bin");
    ASSERT_NE(box, nullptr) << "no box within 10 s";
    EXPECT_FALSE(PathExists(folder + L"\\planted-loaded.txt")) << "the planted library ran";
    Answer(box, IDOK);
    EXPECT_EQ(ExitCodeAfter(program_.process.Get(), 10000), 0u);
    DeleteTree(folder);
}

// A failed first step (a filter value that is no list) skips the rest; the restart
// question is asked all the same, here with a title of the longest accepted length.
TEST_F(UninstallerRunTest, TheRestartQuestionFollowsAFailedRemoval) {
    ASSERT_TRUE(InstallStandIn());
    WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, SavedValue{true, REG_SZ, std::string(2, '\0')});
    const std::wstring title(255, L't');
    ASSERT_TRUE(StartProgram(UninstallerExe(), FieldsLine(InstalledFolder(), title), program_));
    ASSERT_NE(WaitForBoxOf(program_.id, title), nullptr);
    // The product's mutex is held to the end: a second uninstaller removes nothing,
    // a quiet one ends with 1618, an interactive one at once with 0.
    for (const bool quiet : {true, false}) {
        Started second;
        ASSERT_TRUE(StartProgram(UninstallerExe(),
                                 FieldsLine(InstalledFolder(), kTitle) + (quiet ? L" /quiet" : L""),
                                 second));
        EXPECT_EQ(ExitCodeAfter(second.process.Get(), 10000), quiet ? 1618u : 0u);
    }
    CancelRestart(title);
    EXPECT_TRUE(DriverServiceExists());
    EXPECT_TRUE(PathExists(InstalledFolder() + L"\\quilldrv.sys"));
}

// Without the parent of the uninstall entries the removal stops at an error box
// owned by the wait box: the box stands still long enough to be looked at.
TEST_F(UninstallerRunTest, TheWaitBoxStandsCentredUntilTheRemovalEnds) {
    ASSERT_TRUE(InstallStandIn());
    UninstallKeyAway away;
    ASSERT_TRUE(away.Away());
    ASSERT_TRUE(StartProgram(UninstallerExe(), FieldsLine(InstalledFolder(), kTitle), program_));

    HWND error = WaitForBoxOf(program_.id, kTitle);
    ASSERT_NE(error, nullptr) << "no error box within 10 s";
    EXPECT_EQ(BoxText(error), SystemText(ERROR_FILE_NOT_FOUND));
    HWND wait = GetWindow(error, GW_OWNER);
    ASSERT_NE(wait, nullptr) << "the error box has the wait box as owner";
    EXPECT_EQ(WindowText(wait), WaitTitle(kTitle));
    EXPECT_TRUE(IsWindowVisible(wait));

    RECT desktop = {}, box = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(wait, &box);
    EXPECT_EQ(box.left, (desktop.right - (box.right - box.left)) / 2);
    EXPECT_EQ(box.top, (desktop.bottom - (box.bottom - box.top)) / 2);
    EXPECT_EQ(GetWindowLongW(wait, GWL_STYLE) & WS_SYSMENU, 0) << "no close box";

    // Escape, Alt+F4 and their messages: the box stays.
    PostMessageW(wait, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(wait, WM_SYSKEYDOWN, VK_F4, 1 << 29);
    PostMessageW(wait, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(wait, WM_CLOSE, 0, 0);
    PostMessageW(wait, WM_COMMAND, IDCANCEL, 0);
    Sleep(500);
    EXPECT_TRUE(IsWindow(wait) && IsWindowVisible(wait)) << "the wait box was closed";

    Answer(error, IDOK);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(wait); }, 10000)) << "the wait box stays";
    CancelRestart(kTitle);
    EXPECT_FALSE(PathExists(VendorFolder()));
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
}

// The launcher's file cannot be deleted while it runs: the removal waits for the
// launcher that started it, here one that ends only 2 s after, and the installed
// folder goes now, not at the restart.
TEST_F(UninstallerRunTest, TheRemovalWaitsForALauncherThatDoesNotEndPromptly) {
    ASSERT_TRUE(InstallStandIn());
    std::wstring slow = QG_SLOW_LAUNCHER;
    std::replace(slow.begin(), slow.end(), L'/', L'\\');
    const std::wstring launcher = InstalledFolder() + L"\\Uninst.exe";
    ASSERT_TRUE(CopyFileW(slow.c_str(), launcher.c_str(), FALSE));
    Started started;
    ASSERT_TRUE(StartProgram(launcher,
                             Quoted(launcher) + L" " + Quoted(UninstallerExe()) + L" " +
                                 Quoted(kEntryName) + L" " + Quoted(kTitle) + L" " +
                                 Quoted(kFolderName),
                             started));
    HWND question = WaitForBoxSaying(kTitle, RestartQuestion());
    ASSERT_NE(question, nullptr) << "no restart question within 10 s";
    program_.process.Reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE,
                                       FALSE, ProcessOf(question)));
    EXPECT_EQ(ExitCodeAfter(started.process.Get(), 0), 0u) << "the launcher had ended";
    EXPECT_FALSE(PathExists(InstalledFolder()));
    EXPECT_TRUE(DeletionsAtRestart().empty());
    Answer(question, IDCANCEL);
    EXPECT_EQ(ExitCodeAfter(program_.process.Get(), 10000), 0u);
}

// CreateThread pointed at CloseHandle, which fails for the null first argument:
// no worker thread, so no wait box; the removal runs all the same, and the restart
// question follows. (The removal tests cover a wait box that cannot be created.)
TEST_F(UninstallerRunTest, WithoutAWorkerThreadTheRemovalStillRuns) {
    ASSERT_TRUE(InstallStandIn());
    ASSERT_TRUE(CreateUninstallEntry(kEntryName));
    ASSERT_TRUE(StartRedirected(UninstallerExe(), FieldsLine(InstalledFolder(), kTitle),
                                "KERNEL32.dll", "CreateThread", "kernel32.dll", "CloseHandle",
                                program_));
    CancelRestart(kTitle);
    EXPECT_EQ(FindDialog([&](HWND w) { return WindowText(w) == WaitTitle(kTitle); }), nullptr);
    EXPECT_FALSE(PathExists(VendorFolder()));
    EXPECT_TRUE(DriverServiceGone());
    EXPECT_FALSE(KeyExists(std::wstring(kUninstallKey) + L"\\" + kEntryName));
}

// Without the parent of the uninstall entries, a quiet removal shows no box, ends
// with 1603 and names the failed step in its log.
TEST_F(UninstallerRunTest, AFailedQuietRemovalEndsWith1603AndTheLogNamesTheStep) {
    ASSERT_TRUE(InstallStandIn());
    UninstallKeyAway away;
    ASSERT_TRUE(away.Away());
    DeleteTree(LogFile());
    ASSERT_TRUE(StartProgram(UninstallerExe(), FieldsLine(InstalledFolder(), kTitle) + L" /quiet",
                             program_));
    EXPECT_EQ(ExitCodeAfter(program_.process.Get(), 10000), 1603u);
    const std::string log = ReadFileBytes(LogFile());
    EXPECT_NE(log.find(" delete the uninstall entry: failed, error 2: "), std::string::npos) << log;
}

} // namespace
