// The built launcher, copied to where setup would find it and started with
// setup's three arguments: the silent ends, the second instance, the question,
// the uninstaller it writes and starts (read back from the started process), the
// failures it reports by number, and the quiet removal.
#include "uninstall_support.h"

#include "system.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::wstring BuiltProgram(const wchar_t* path) {
    std::wstring program = path;
    std::replace(program.begin(), program.end(), L'/', L'\\');
    return program;
}

std::wstring ExtractedUninstaller() {
    return TempFolder() + L"\\_uninst.bin";
}

std::wstring Question(const std::wstring& title) {
    switch (UiLanguage()) {
    case Language::Japanese:
        return L"コンピュータから " + title + L" を削除しますか？";
    case Language::Chinese:
        return L"从电脑中删除 " + title + L" 吗？";
    default:
        return L"Is " + title + L" deleted from the computer?";
    }
}

std::wstring Failure(int number) {
    if (UiLanguage() == Language::Japanese) {
        return L"処理に失敗しました。\n\nエラー" + std::to_wstring(number);
    }
    return L"It failed in processing.\n\nError" + std::to_wstring(number);
}

std::wstring ArgumentsLine(const std::wstring& entry, const std::wstring& title,
                           const std::wstring& folder) {
    return Quoted(entry) + L" " + Quoted(title) + L" " + Quoted(folder);
}

const std::wstring kSetupArguments = ArgumentsLine(kEntryName, kTitle, kFolderName);

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteTree(ExtractedUninstaller());
        // No filter value: an uninstaller that gets started removes nothing.
        WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, SavedValue{});
    }
    void TearDown() override {
        for (Started* program : {&launcher_, &second_}) {
            if (program->process && ExitCodeAfter(program->process.Get(), 0) == STILL_ACTIVE) {
                TerminateProcess(program->process.Get(), 1);
            }
        }
        EndStrayPrograms();
        DeleteTree(ExtractedUninstaller());
        for (const auto& path : copies_) {
            DeleteTree(path);
        }
    }

    // A copy of the built launcher at `folder`\Uninst.exe; `folder` is made, and
    // deleted after the test unless it already existed.
    std::wstring PlaceLauncher(const std::wstring& folder) {
        if (!PathExists(folder)) {
            CreateDirectoryW(folder.c_str(), nullptr);
            copies_.push_back(folder);
        }
        const std::wstring path = folder + L"\\Uninst.exe";
        EXPECT_TRUE(CopyFileW(BuiltProgram(QG_LAUNCHER_EXE).c_str(), path.c_str(), FALSE));
        copies_.push_back(path);
        return path;
    }

    bool Start(Started& program, const std::wstring& exe, const std::wstring& arguments) {
        return StartProgram(exe, Quoted(exe) + L" " + arguments, program);
    }

    // Starts the launcher and waits for its question.
    HWND StartToQuestion(const std::wstring& exe, const std::wstring& arguments = kSetupArguments,
                         const std::wstring& title = kTitle) {
        EXPECT_TRUE(Start(launcher_, exe, arguments));
        HWND question = WaitForBoxOf(launcher_.id, title);
        EXPECT_NE(question, nullptr) << "no question within 10 s";
        return question;
    }

    // After Yes: the uninstaller's restart question, its process's start, Cancel.
    ProcessStart CancelUninstaller() {
        const std::wstring restart = L"To activate the new settings, you must restart PC. \n"
                                     L"Do you want to restart PC Now?";
        HWND question =
            UiLanguage() == Language::English
                ? WaitForBoxSaying(kTitle, restart)
                : WaitForDialog([](HWND w) {
                      return ProcessOf(w) != GetCurrentProcessId() && WindowText(w) == kTitle;
                  });
        if (question == nullptr) {
            ADD_FAILURE() << "the uninstaller asked no restart question within 10 s";
            return {};
        }
        const ProcessStart start = ReadProcessStart(ProcessOf(question));
        HandleCloser uninstaller(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE,
                        ProcessOf(question)));
        Answer(question, IDCANCEL);
        EXPECT_EQ(ExitCodeAfter(uninstaller.Get(), 10000), 0u);
        return start;
    }

    DWORD LauncherExit() { return ExitCodeAfter(launcher_.process.Get(), 10000); }

    MachineState machine_;
    Started launcher_, second_;
    std::vector<std::wstring> copies_;
};

// --- Silent ends -----------------------------------------------------------------

TEST_F(LauncherTest, WrongOrOverlongArgumentsEndAtOnceWithoutAWindow) {
    const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
    const struct {
        const char* name;
        std::wstring arguments;
        DWORD exit = 0;
    } cases[] = {
        {"no arguments", L""},
        {"two", L"\"a\" \"b\""},
        {"four", kSetupArguments + L" \"d\""},
        {"entry name of 64", ArgumentsLine(std::wstring(64, L'e'), kTitle, kFolderName)},
        {"title of 1024", ArgumentsLine(kEntryName, std::wstring(1024, L't'), kFolderName)},
        {"folder of 1024", ArgumentsLine(kEntryName, kTitle, std::wstring(1024, L'f'))},
        // "Is " + 994 + " deleted from the computer?" needs 1025 characters.
        {"question past 1024", ArgumentsLine(kEntryName, std::wstring(994, L't'), kFolderName)},
        {"quiet, title of 1024",
         ArgumentsLine(kEntryName, std::wstring(1024, L't'), kFolderName) + L" /quiet", 1639},
    };
    for (const auto& c : cases) {
        Started program;
        ASSERT_TRUE(Start(program, exe, c.arguments));
        // A message box would hold the launcher: ending on its own means none came.
        EXPECT_EQ(ExitCodeAfter(program.process.Get(), 10000), c.exit) << c.name;
    }
    EXPECT_FALSE(PathExists(ExtractedUninstaller()));
}

TEST_F(LauncherTest, ArgumentsAtTheirLimitsAreAskedAbout) {
    const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
    const std::wstring title(993, L't'); // the question is 1023 characters
    HWND question = StartToQuestion(
        exe, ArgumentsLine(std::wstring(63, L'e'), title, std::wstring(1023, L'f')), title);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(BoxText(question), Question(title));
    Answer(question, IDNO);
    EXPECT_EQ(LauncherExit(), 0u);
}

// --- The question ----------------------------------------------------------------

TEST_F(LauncherTest, AnsweringNoWritesAndStartsNothing) {
    HWND question = StartToQuestion(PlaceLauncher(L"C:\\qg-launcher"));
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(BoxText(question), Question(kTitle));
    Answer(question, IDNO);
    EXPECT_EQ(LauncherExit(), 0u);
    EXPECT_FALSE(PathExists(ExtractedUninstaller()));
}

// Every box pointed at GetCapture, which takes nothing and gives 0: a question
// that could not be shown is no Yes.
TEST_F(LauncherTest, AQuestionThatCannotBeShownWritesAndStartsNothing) {
    const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
    ASSERT_TRUE(StartRedirected(exe, Quoted(exe) + L" " + kSetupArguments, "USER32.dll",
                                "MessageBoxW", "user32.dll", "GetCapture", launcher_));
    EXPECT_EQ(LauncherExit(), 0u);
    EXPECT_FALSE(PathExists(ExtractedUninstaller()));
}

TEST_F(LauncherTest, ASecondLauncherIsTurnedAwayWhileTheFirstAsks) {
    const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
    HWND question = StartToQuestion(exe);
    ASSERT_NE(question, nullptr);

    ASSERT_TRUE(Start(second_, exe, kSetupArguments));
    HWND refusal = WaitForBoxOf(second_.id, kTitle);
    ASSERT_NE(refusal, nullptr) << "the second launcher showed nothing within 10 s";
    EXPECT_EQ(BoxText(refusal), UiLanguage() == Language::Japanese ? L"既に起動しています。"
                                                                   : L"It has already started.");
    Answer(refusal, IDOK);
    EXPECT_EQ(ExitCodeAfter(second_.process.Get(), 10000), 0u);
    Started quiet; // says it by its exit code alone
    ASSERT_TRUE(Start(quiet, exe, kSetupArguments + L" /quiet"));
    EXPECT_EQ(ExitCodeAfter(quiet.process.Get(), 10000), 1618u);

    EXPECT_TRUE(IsWindowVisible(question)) << "the first launcher's question is undisturbed";
    Answer(question, IDNO);
    EXPECT_EQ(LauncherExit(), 0u);

    // Once the first has ended, a launcher may run again.
    Started third;
    ASSERT_TRUE(Start(third, exe, kSetupArguments));
    HWND again = WaitForBoxOf(third.id, kTitle);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(BoxText(again), Question(kTitle));
    Answer(again, IDNO);
    EXPECT_EQ(ExitCodeAfter(third.process.Get(), 10000), 0u);
}

// Setup or another removal holds the product's mutex and may run _uninst.bin (here
// held open for writing): a quiet launcher says the PC is busy rather than failing
// to write the file.
TEST_F(LauncherTest, AQuietLauncherWhileAnotherRemovalRunsEndsWith1618) {
    HandleCloser mutex(TakeProductMutex());
    HandleCloser held(CreateFileW(ExtractedUninstaller().c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(mutex && held);
    ASSERT_TRUE(Start(launcher_, PlaceLauncher(L"C:\\qg-launcher"), kSetupArguments + L" /quiet"));
    EXPECT_EQ(LauncherExit(), 1618u);
}

// --- Yes: the uninstaller written and started --------------------------------------

TEST_F(LauncherTest, AnsweringYesStartsTheUninstallerInTheTemporaryFolder) {
    const struct {
        const wchar_t* folder;   // where the launcher is
        const wchar_t* expected; // the folder field
    } cases[] = {
        {L"C:\\qg-launcher\\Installed Folder", L"C:\\qg-launcher\\Installed Folder"},
        {L"C:", L"C:"}, // a launcher in a drive's root
    };
    CreateDirectoryW(L"C:\\qg-launcher", nullptr);
    copies_.push_back(L"C:\\qg-launcher");
    for (const auto& c : cases) {
        HWND question = StartToQuestion(PlaceLauncher(c.folder));
        ASSERT_NE(question, nullptr);
        Answer(question, IDYES);
        EXPECT_EQ(LauncherExit(), 0u);
        EXPECT_TRUE(ReadFileBytes(ExtractedUninstaller()) ==
                    ReadFileBytes(BuiltProgram(QG_UNINSTALLER_EXE)))
            << "_uninst.bin is the built uninstaller";

        const ProcessStart start = CancelUninstaller();
        const std::wstring temp = TempFolder() + L"\\";
        EXPECT_EQ(start.commandLine, Quoted(temp + L"_uninst.bin") + L" " + Quoted(c.expected) +
                                         L" " + kSetupArguments);
        EXPECT_EQ(start.currentFolder, temp);
        DeleteTree(ExtractedUninstaller());
    }
}

// --- Failures reported by number -------------------------------------------------

// The launcher runs nothing it does not own: a file of that name that someone else
// holds open for writing (sharing everything), or one that comes back under the
// name after the launcher's delete (here the delete is pointed at lstrlenW, which
// takes the path and deletes nothing), which must not be written through.
TEST_F(LauncherTest, AnUninstallerFileThatCannotBeWrittenIsError4) {
    for (const bool planted : {false, true}) {
        SCOPED_TRACE(planted ? "a name planted after the delete" : "a file held for writing");
        HandleCloser held;
        if (planted) {
            ASSERT_TRUE(WriteFileBytes(ExtractedUninstaller(), "planted"));
        } else {
            held.Reset(CreateFileW(ExtractedUninstaller().c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   CREATE_ALWAYS, 0, nullptr));
            ASSERT_TRUE(held);
        }
        Started launcher;
        const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
        ASSERT_TRUE(Start(launcher, exe, kSetupArguments));
        HWND question = WaitForBoxOf(launcher.id, kTitle);
        ASSERT_NE(question, nullptr) << "no question within 10 s";
        EXPECT_EQ(BoxText(question), Question(kTitle));
        HandleCloser process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, launcher.id));
        ASSERT_TRUE(!planted || RedirectImport(process.Get(), "KERNEL32.dll", "DeleteFileW",
                                               "kernel32.dll", "lstrlenW"));
        Answer(question, IDYES);
        HWND failure = WaitForDialog([&](HWND w) {
            return ProcessOf(w) == launcher.id && WindowText(w) == kTitle && w != question;
        });
        ASSERT_NE(failure, nullptr) << "no failure box within 10 s";
        EXPECT_EQ(BoxText(failure), Failure(4));
        Answer(failure, IDOK);
        EXPECT_EQ(ExitCodeAfter(launcher.process.Get(), 10000), 0u);
        if (planted) {
            EXPECT_EQ(ReadFileBytes(ExtractedUninstaller()), "planted") << "written through";
        }
        held.Reset();
        DeleteTree(ExtractedUninstaller());
    }
}

TEST_F(LauncherTest, ACommandLinePastItsBufferIsError2) {
    // The five fields then need more than 259 characters.
    const std::wstring folder = MakeFolderOfLength(L"C:\\qg-launcher", 200);
    copies_.push_back(L"C:\\qg-launcher");
    HWND question = StartToQuestion(PlaceLauncher(folder));
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);
    HWND failure = WaitForDialog([&](HWND w) {
        return ProcessOf(w) == launcher_.id && WindowText(w) == kTitle && w != question;
    });
    ASSERT_NE(failure, nullptr) << "no failure box within 10 s";
    EXPECT_EQ(BoxText(failure), Failure(2));
    Answer(failure, IDOK);
    EXPECT_EQ(LauncherExit(), 0u);
    EXPECT_TRUE(PathExists(ExtractedUninstaller())) << "what was written stays";
    Started quiet; // the same failure without a box
    ASSERT_TRUE(Start(quiet, folder + L"\\Uninst.exe", kSetupArguments + L" /quiet"));
    EXPECT_EQ(ExitCodeAfter(quiet.process.Get(), 10000), 1603u);
}

// CreateProcessW to CloseHandle, which fails for the null first argument. By the
// time the launcher asks, its imports are bound.
bool MakeCreateProcessFail(DWORD launcher) {
    HandleCloser process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, launcher));
    return process && RedirectImport(process.Get(), "KERNEL32.dll", "CreateProcessW",
                                     "kernel32.dll", "CloseHandle");
}

TEST_F(LauncherTest, AUserWithoutAdministratorRightsIsToldSoAndNothingHappens) {
    // IsUserAnAdmin pointed at GetCapture: no arguments, null without windows.
    const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
    ASSERT_TRUE(StartRedirected(exe, Quoted(exe) + L" " + kSetupArguments, "SHELL32.dll",
                                "IsUserAnAdmin", "user32.dll", "GetCapture", launcher_));
    HWND refusal = WaitForBoxOf(launcher_.id, kTitle);
    ASSERT_NE(refusal, nullptr) << "no box within 10 s";
    EXPECT_EQ(BoxText(refusal), UiLanguage() == Language::Japanese
                                    ? L"制限付きのアカウントでは処理できません。"
                                    : L"It is not treatable in Limited acount.");
    Answer(refusal, IDOK);
    EXPECT_EQ(LauncherExit(), 0u);
    EXPECT_FALSE(PathExists(ExtractedUninstaller()));
    Started quiet; // without a box
    ASSERT_TRUE(StartRedirected(exe, Quoted(exe) + L" " + kSetupArguments + L" /quiet",
                                "SHELL32.dll", "IsUserAnAdmin", "user32.dll", "GetCapture", quiet));
    EXPECT_EQ(ExitCodeAfter(quiet.process.Get(), 10000), 1603u);
}

TEST_F(LauncherTest, AnUninstallerThatCannotBeStartedIsError1) {
    HWND question = StartToQuestion(PlaceLauncher(L"C:\\qg-launcher"));
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(MakeCreateProcessFail(launcher_.id));
    Answer(question, IDYES);
    HWND failure = WaitForDialog([&](HWND w) {
        return ProcessOf(w) == launcher_.id && WindowText(w) == kTitle && w != question;
    });
    ASSERT_NE(failure, nullptr) << "no failure box within 10 s";
    EXPECT_EQ(BoxText(failure), L"It failed in processing.\n\nError1");
    Answer(failure, IDOK);
    EXPECT_EQ(LauncherExit(), 0u);
    EXPECT_TRUE(PathExists(ExtractedUninstaller())) << "what was written stays";
}

// CreateProcessW pointed at MessageBoxW (no owner, the command line as text, no
// caption, MB_OK), which holds the launcher right where it starts the uninstaller
// and then counts as started: until then nobody may change or delete the file.
TEST_F(LauncherTest, TheUninstallerFileIsHeldUntilItHasBeenStarted) {
    HWND question = StartToQuestion(PlaceLauncher(L"C:\\qg-launcher"));
    ASSERT_NE(question, nullptr);
    HandleCloser process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, launcher_.id));
    ASSERT_TRUE(RedirectImport(process.Get(), "KERNEL32.dll", "CreateProcessW", "user32.dll",
                               "MessageBoxW"));
    Answer(question, IDYES);
    HWND starting = WaitForDialog([&](HWND w) {
        return ProcessOf(w) == launcher_.id && w != question &&
               BoxText(w).find(L"_uninst.bin") != std::wstring::npos;
    });
    ASSERT_NE(starting, nullptr) << "the launcher did not come to CreateProcessW within 10 s";
    HandleCloser writer(CreateFileW(ExtractedUninstaller().c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer) << "the file could be opened for writing";
    EXPECT_FALSE(DeleteFileW(ExtractedUninstaller().c_str())) << "the file could be deleted";
    Answer(starting, IDOK);
    EXPECT_EQ(LauncherExit(), 0u);
    EXPECT_TRUE(ReadFileBytes(ExtractedUninstaller()) ==
                ReadFileBytes(BuiltProgram(QG_UNINSTALLER_EXE)));
}

// Wine gives neither path past its buffer (it starts no program from a longer
// path, and its GetTempPathW gives 0 then): each call is pointed at GetTickCount,
// which takes nothing and gives far more than 260. A cut path would name another
// file, so the launcher reports the step instead.
TEST_F(LauncherTest, APathPastItsBufferIsReportedByItsStep) {
    const struct {
        const char* call;
        int error;
    } cases[] = {{"GetTempPathW", 0}, {"GetModuleFileNameW", 3}};
    const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
    for (const auto& c : cases) {
        Started launcher;
        ASSERT_TRUE(Start(launcher, exe, kSetupArguments));
        HWND question = WaitForBoxOf(launcher.id, kTitle);
        ASSERT_NE(question, nullptr) << c.call;
        HandleCloser process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, launcher.id));
        ASSERT_TRUE(
            RedirectImport(process.Get(), "KERNEL32.dll", c.call, "kernel32.dll", "GetTickCount"))
            << c.call;
        Answer(question, IDYES);
        HWND failure = WaitForDialog([&](HWND w) {
            return ProcessOf(w) == launcher.id && WindowText(w) == kTitle && w != question;
        });
        ASSERT_NE(failure, nullptr) << c.call << ": no failure box within 10 s";
        EXPECT_EQ(BoxText(failure), Failure(c.error)) << c.call;
        Answer(failure, IDOK);
        EXPECT_EQ(ExitCodeAfter(launcher.process.Get(), 10000), 0u) << c.call;
    }
}

// Wine's GetTempPathW gives 0 for a TMP past 259 characters.
TEST_F(LauncherTest, NoTemporaryFolderIsError0) {
    const std::wstring longTemp = MakeFolderOfLength(TempFolder() + L"\\qg-long-temp", 280);
    const std::wstring exe = PlaceLauncher(L"C:\\qg-launcher");
    wchar_t saved[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", longTemp.c_str());
    const bool started = Start(launcher_, exe, kSetupArguments);
    SetEnvironmentVariableW(L"TMP", saved[0] != 0 ? saved : nullptr);
    DeleteTree(TempFolder() + L"\\qg-long-temp");
    ASSERT_TRUE(started);
    HWND question = WaitForBoxOf(launcher_.id, kTitle);
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);
    HWND failure = WaitForDialog([&](HWND w) {
        return ProcessOf(w) == launcher_.id && WindowText(w) == kTitle && w != question;
    });
    ASSERT_NE(failure, nullptr) << "no failure box within 10 s";
    EXPECT_EQ(BoxText(failure), L"It failed in processing.\n\nError0");
    Answer(failure, IDOK);
    EXPECT_EQ(LauncherExit(), 0u);
}

// --- Quiet -------------------------------------------------------------------------

// As setup's quiet removal starts the installed launcher (the switch in any case):
// no window of the launcher or of the uninstaller it waits for, the product gone
// (the running launcher's file and its folders at the restart), the steps logged
// beside _uninst.bin.
TEST_F(LauncherTest, AQuietRemovalShowsNoWindowAndEndsWith3010) {
    ASSERT_TRUE(InstallStandIn());
    ASSERT_TRUE(CreateUninstallEntry(kEntryName));
    const std::wstring exe = PlaceLauncher(InstalledFolder());
    const std::wstring log = TempFolder() + L"\\_uninst.log";
    DeleteTree(log);
    ASSERT_TRUE(Start(launcher_, exe, kSetupArguments + L" /Quiet"));
    std::wstring windows;
    EXPECT_EQ(WaitWatchingWindows(launcher_.process.Get(), 10000, &windows), 3010u);
    EXPECT_EQ(windows, L"");
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
    EXPECT_TRUE(DriverServiceGone());
    EXPECT_FALSE(KeyExists(std::wstring(kUninstallKey) + L"\\" + kEntryName));
    EXPECT_EQ(DeletionsAtRestart(),
              (std::vector<std::wstring>{exe, InstalledFolder(), VendorFolder()}));
    const std::string lines = ReadFileBytes(log);
    EXPECT_NE(lines.find(" delete the uninstall entry: ok\r\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find(" exit code 3010\r\n"), std::string::npos) << lines;
}

} // namespace
