// Setup's entry: an installed machine hands over to each installed launcher, and
// the boxes of the other early ends (not x64, nothing unpacked, no product name).
#include "setup_support.h"
#include "setup_texts.h"
#include "wizard_driver.h"

#include "exit_codes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring ReadRecord(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    if (bytes == "<missing>") {
        return L"<not started>";
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Waits for setup to end, watching that it never shows a window of its own.
DWORD WaitWithoutWindows(const Started& setup, bool* showedWindow) {
    *showedWindow = false;
    WaitUntil(
        [&] {
            if (FindWizard(setup.id, 0) != nullptr || FindMessageBox(setup.id, 0) != nullptr) {
                *showedWindow = true;
            }
            return HasEnded(setup);
        },
        15000);
    return WaitForExit(setup, 0);
}

class SetupEntry : public ::testing::Test {
protected:
    void SetUp() override { tempBefore_ = Sorted(FolderEntries(TempFolder())); }
    void TearDown() override {
        Kill(setup_);
        EXPECT_EQ(Sorted(FolderEntries(TempFolder())), tempBefore_)
            << "setup left something in the temporary folder";
    }

    // The service key alone is what marks the product installed.
    static void MarkInstalled() {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                  L"SYSTEM\\CurrentControlSet\\Services\\quilldrv", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    MachineState machine_;
    std::vector<std::wstring> tempBefore_;
    Started setup_;
};

TEST_F(SetupEntry, AnInstalledMachineStartsTheLauncherOfEachInstalledCopyAndEndsAtOnce) {
    MarkInstalled();
    struct Entry {
        std::wstring name;
        bool folder;
        bool launcher;
        std::wstring arguments; // empty: must not be started
    };
    const std::wstring suffix31(31, L's'), suffix32(32, L's'), long240(240, L'l');
    const Entry entries[] = {
        {L"QuillGuardVer.2.0.0", true, true,
         L" \"VARNO_QuillGuardVer.2.0.0\" \"Quillet Ver.2.0.0\" \"QuillGuardVer.2.0.0\""},
        {L"QuillGuard", true, true, L" \"VARNO_QuillGuard\" \"Quillet \" \"QuillGuard\""},
        {L"QuillGuardVer.1.5", true, true,
         L" \"VARNO_QuillGuardVer.1.5\" \"Quillet Ver.1.5\" \"QuillGuardVer.1.5\""},
        // The longest suffix that fits its 32 characters, and one more.
        {L"QuillGuard" + suffix31, true, true,
         L" \"VARNO_QuillGuard" + suffix31 + L"\" \"Quillet " + suffix31 + L"\" \"QuillGuard" +
             suffix31 + L"\""},
        {L"QuillGuard" + suffix32, true, true, L""},
        // A launcher path past 259 characters would be cut: skipped.
        {L"QuillGuard" + long240, true, true, L""},
        {L"QuillGuardEmpty", true, false, L""},
        {L"QuillGuardFile", false, false, L""},
        {L"OtherProduct", true, true, L""},
    };
    CreateDirectoryW(VendorFolder().c_str(), nullptr);
    for (const Entry& e : entries) {
        const std::wstring path = VendorFolder() + L"\\" + e.name;
        if (!e.folder) {
            ASSERT_TRUE(WriteFileBytes(path, "a file, not an installed copy"));
            continue;
        }
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        if (e.launcher) {
            ASSERT_TRUE(CopyFileW(QG_LAUNCHER_RECORDER, (path + L"\\Uninst.exe").c_str(), FALSE));
        }
    }

    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(StartProgram(QG_SETUP_EXE, L"", &setup_));
    bool showedWindow = false;
    EXPECT_EQ(WaitWithoutWindows(setup_, &showedWindow), 0u);
    EXPECT_LT(GetTickCount64() - start, 10000u) << "setup did not end at once";
    EXPECT_FALSE(showedWindow) << "setup showed a window on an installed machine";

    auto record = [](const Entry& e) { return VendorFolder() + L"\\" + e.name + L"\\started.txt"; };
    for (const Entry& e : entries) {
        if (e.arguments.empty()) {
            continue;
        }
        SCOPED_TRACE(std::string(e.name.begin(), e.name.end()));
        EXPECT_TRUE(WaitUntil([&] { return ReadRecord(record(e)) != L"<not started>"; }, 10000))
            << "no launcher started within 10 s";
        WaitUntil([&] { return !ReadRecord(record(e)).empty(); }, 2000);
        const std::wstring line = ReadRecord(record(e));
        EXPECT_TRUE(EndsWith(line, e.arguments))
            << "started with: " << std::string(line.begin(), line.end());
        EXPECT_NE(line.find(e.name + L"\\Uninst.exe"), std::wstring::npos);
    }
    Sleep(2000); // time enough for a launcher started wrongly to have written
    for (const Entry& e : entries) {
        if (e.arguments.empty()) {
            EXPECT_FALSE(PathExists(record(e)))
                << "a launcher started in " << std::string(e.name.begin(), e.name.end());
        }
    }
    EXPECT_FALSE(PathExists(InstalledFolder() + L"\\quilldrv.sys")) << "setup installed again";
}

TEST_F(SetupEntry, AServiceKeyWithoutInstalledCopiesEndsSilently) {
    MarkInstalled();
    ASSERT_TRUE(StartProgram(QG_SETUP_EXE, L"", &setup_));
    bool showedWindow = false;
    EXPECT_EQ(WaitWithoutWindows(setup_, &showedWindow), 0u);
    EXPECT_FALSE(showedWindow);
    EXPECT_FALSE(PathExists(VendorFolder()));
}

TEST_F(SetupEntry, AnotherProcessorIsRefusedInEnglishBeforeAnythingElse) {
    // Wine reports version 5.0 to this program: no x64 test is even asked.
    const wchar_t* appDefaults = L"Software\\Wine\\AppDefaults\\QuillGuardSetup.exe";
    RegSetKeyValueW(HKEY_CURRENT_USER, appDefaults, L"Version", REG_SZ, L"win2k",
                    6 * sizeof(wchar_t));
    MarkInstalled(); // not even this is looked at
    ASSERT_TRUE(StartProgram(QG_SETUP_EXE, L"", &setup_));
    const BoxAnswer box = AnswerMessageBox(setup_.id, IDOK, 15000);
    const DWORD exitCode = WaitForExit(setup_, 10000);
    RegDeleteTreeW(HKEY_CURRENT_USER, appDefaults);
    ASSERT_TRUE(box.found) << "no box within 15 s";
    EXPECT_EQ(box.text, L"The PC is not x64.");
    EXPECT_EQ(box.caption, L"Error");
    EXPECT_EQ(box.icon, nullptr);
    EXPECT_TRUE(box.hasOk && !box.hasCancel);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(SetupEntry, FilesThatCannotBeUnpackedAreReportedUnderTheWizardTitle) {
    // A temporary folder that does not exist: no extraction folder can be made.
    const wchar_t* const environment[] = {L"TMP=C:\\no such folder", L"TEMP=C:\\no such folder"};
    ASSERT_TRUE(StartProgram(QG_SETUP_EXE, L"", &setup_, environment, 2));
    const BoxAnswer box = AnswerMessageBox(setup_.id, IDOK, 15000);
    ASSERT_TRUE(box.found) << "no box within 15 s";
    EXPECT_EQ(box.text, English().strings.at(104));
    EXPECT_EQ(box.caption, kWizardTitle);
    EXPECT_EQ(box.icon, nullptr);
    EXPECT_EQ(WaitForExit(setup_, 10000), 0u);
    EXPECT_EQ(FindWizard(setup_.id, 0), nullptr);
}

TEST_F(SetupEntry, WithoutTheRichEditLibrarySetupUnpacksShowsNothingAndCleansUp) {
    // Wine's per-program DLL override: an empty value disables the library.
    const wchar_t* overrides = L"Software\\Wine\\AppDefaults\\QuillGuardSetup.exe\\DllOverrides";
    RegSetKeyValueW(HKEY_CURRENT_USER, overrides, L"riched20", REG_SZ, L"", sizeof(wchar_t));
    ASSERT_TRUE(StartProgram(QG_SETUP_EXE, L"", &setup_));
    bool showedWindow = false;
    const DWORD exitCode = WaitWithoutWindows(setup_, &showedWindow);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\QuillGuardSetup.exe");
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(showedWindow);
    // TearDown checks that the unpacked files and their folder are gone.
}

// A riched20.dll planted beside setup, as in a Downloads folder, and preferred by
// Wine over its own (it loads a DLL of that name from the program's folder only
// when told to prefer native ones): setup loads the system's library, the
// licence shows, and the planted one is never loaded.
TEST_F(SetupEntry, ALibraryPlantedBesideSetupIsNeverLoaded) {
    const std::wstring folder = TempFolder() + L"\\qg-planted";
    const std::wstring program = CopyWithPlantedLibrary(
        QG_SETUP_EXE, folder, L"QuillGuardSetup.exe", QG_PLANTED_LIBRARY, L"riched20");
    ASSERT_FALSE(program.empty());
    const bool started = StartProgram(program, L"", &setup_);
    const HWND wizard = started ? FindWizard(setup_.id, 15000) : nullptr;
    ForgetOverrides(L"QuillGuardSetup.exe");
    ASSERT_TRUE(started);
    EXPECT_FALSE(PathExists(folder + L"\\planted-loaded.txt")) << "the planted library ran";
    ASSERT_NE(wizard, nullptr) << "no wizard within 15 s";
    Click(wizard, kNext);
    EXPECT_TRUE(WaitUntil([&] { return !ControlText(wizard, kLicence).empty(); }, 5000))
        << "the licence is empty";
    Click(wizard, kCancel);
    EXPECT_EQ(WaitForExit(setup_, 10000), 0u);
    DeleteTree(folder);
}

// A copy of setup whose string tables lack string 103 (an empty text, which
// LoadStringW does not load), in every language.
std::wstring SetupWithoutProductName(const std::wstring& folder) {
    const std::wstring copy = folder + L"\\QuillGuardSetup.exe";
    if (!CopyFileW(QG_SETUP_EXE, copy.c_str(), FALSE)) {
        return L"";
    }
    HMODULE original = LoadLibraryExW(QG_SETUP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
    bool ok = original != nullptr && update != nullptr;
    for (WORD language : {1033, 1041, 2052}) {
        HRSRC found =
            ok ? FindResourceExW(original, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(7), language)
               : nullptr;
        if (found == nullptr) {
            ok = false;
            break;
        }
        const auto* data = static_cast<const wchar_t*>(LockResource(LoadResource(original, found)));
        const size_t count = SizeofResource(original, found) / sizeof(wchar_t);
        std::wstring block;
        size_t at = 0;
        for (UINT id = 96; id < 112 && at < count; ++id) {
            const size_t length = data[at];
            if (id == 103) {
                block += wchar_t(0);
            } else {
                block.append(data + at, length + 1);
            }
            at += length + 1;
        }
        ok = ok && UpdateResourceW(update, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(7), language,
                                   block.data(), static_cast<DWORD>(block.size() * 2));
    }
    if (update != nullptr) {
        ok = EndUpdateResourceW(update, !ok) && ok;
    }
    if (original != nullptr) {
        FreeLibrary(original);
    }
    return ok ? copy : L"";
}

TEST_F(SetupEntry, AMissingProductNameWarnsAndTheTitleIsASpaceAndTheVersion) {
    const std::wstring folder = TempFolder() + L"\\qg-no-name";
    DeleteTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = SetupWithoutProductName(folder);
    ASSERT_FALSE(program.empty()) << "the copy without string 103 could not be made";

    ASSERT_TRUE(StartProgram(program, L"", &setup_));
    const BoxAnswer warning = AnswerMessageBox(setup_.id, IDOK, 15000);
    ASSERT_TRUE(warning.found) << "no warning within 15 s";
    EXPECT_NE(warning.icon, nullptr) << "the warning has no icon";
    const HWND wizard = FindWizard(setup_.id, 15000);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(WindowText(wizard), L" Ver.2.0.0");
    EXPECT_EQ(ControlText(wizard, kTitle), Formatted(English().strings.at(107), L" Ver.2.0.0"));
    Click(wizard, kCancel);
    EXPECT_EQ(WaitForExit(setup_, 10000), 0u);
    DeleteTree(folder);
}

// --- Quiet runs, as deployment tools start them ---------------------------------

std::wstring EntryText(const wchar_t* name) {
    wchar_t text[1024] = {};
    DWORD bytes = sizeof text;
    RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallEntry, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                 nullptr, text, &bytes);
    return text;
}

DWORD EntryNumber(const wchar_t* name) {
    DWORD value = 0xFFFFFFFF, bytes = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallEntry, name,
                 RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &bytes);
    return value;
}

// The step names of a log's lines ("<date> <time> <step>: <result>"), each checked
// to start with a time stamp.
std::vector<std::string> LogSteps(const std::wstring& path) {
    std::vector<std::string> steps;
    const std::string log = ReadFileBytes(path);
    for (size_t at = 0; at < log.size();) {
        const size_t end = log.find("\r\n", at);
        const std::string line = log.substr(at, end - at);
        at = end == std::string::npos ? log.size() : end + 2;
        EXPECT_TRUE(line.size() > 20 && line[4] == '-' && line[10] == ' ' && line[13] == ':')
            << line;
        steps.push_back(line.substr(20));
    }
    return steps;
}

class QuietSetup : public SetupEntry {
protected:
    // A quiet removal leaves the uninstaller and its log in the temporary folder, as
    // every removal leaves the uninstaller.
    void SetUp() override {
        DeleteTree(TempFolder() + L"\\_uninst.bin");
        DeleteTree(TempFolder() + L"\\_uninst.log");
        SetupEntry::SetUp();
        WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(ListOf({u"PartMgr"})));
        DeleteTree(log_);
    }
    void TearDown() override {
        DeleteTree(log_);
        SetupEntry::TearDown();
    }

    // Runs `command` as a deployment tool would and returns its exit code; no window
    // of the product's programs may come up meanwhile.
    DWORD Run(const std::wstring& program, const std::wstring& arguments) {
        Started started;
        EXPECT_TRUE(StartProgram(program, arguments, &started));
        std::wstring windows;
        const DWORD code = WaitWatchingWindows(started.process.Get(), 60000, &windows);
        EXPECT_EQ(windows, L"") << "windows came up";
        Kill(started);
        return code;
    }

    // As a fleet tool removes the product; what every removal leaves goes too.
    void RemoveQuietlyThroughSetup() {
        EXPECT_EQ(Run(QG_SETUP_EXE, L"/uninstall /quiet"),
                  static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
        EXPECT_TRUE(WaitUntil([] { return !DriverServiceExists(); }, 10000));
        DeleteTree(TempFolder() + L"\\_uninst.bin");
        DeleteTree(TempFolder() + L"\\_uninst.log");
    }

    const std::wstring log_ = TempFolder() + L"\\qg-setup.log";
};

// The life of a quiet install as a deployment tool sees it: installed, found
// installed, removed through the entry's quiet uninstall command, not found.
TEST_F(QuietSetup, AQuietInstallWritesTheProductAndItsEntryAndItsQuietRemovalTakesThemAway) {
    EXPECT_EQ(Run(QG_SETUP_EXE, L"/QUIET -log \"" + log_ + L"\""),
              static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
    EXPECT_EQ(ServiceKeyDword(L"Start"), 0u);
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"quilldrv", u"PartMgr"})).bytes);
    EXPECT_EQ(ReadFileBytes(SystemDriverFile()), ReadFileBytes(QG_X64_DRIVER));
    EXPECT_EQ(Sorted(FolderEntries(InstalledFolder())),
              (std::vector<std::wstring>{L"Uninst.exe", L"quillctl.exe", L"quilldrv.sys"}));
    EXPECT_EQ(ReadFileBytes(InstalledFolder() + L"\\Uninst.exe"), ReadFileBytes(QG_UNINST_EXE));

    const std::wstring launcher = InstalledFolder() + L"\\Uninst.exe";
    const std::wstring uninstall = L"\"" + launcher +
                                   L"\" \"VARNO_QuillGuardVer.2.0.0\" \"Quillet Ver.2.0.0\" "
                                   L"\"QuillGuardVer.2.0.0\"";
    SYSTEMTIME today = {};
    GetLocalTime(&today);
    wchar_t date[16];
    swprintf(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    const DWORD kilobytes = static_cast<DWORD>((2 * ReadFileBytes(QG_X64_DRIVER).size() +
                                                ReadFileBytes(QG_UNINST_EXE).size() +
                                                ReadFileBytes(QG_QUILLCTL_EXE).size() + 1023) /
                                               1024);
    EXPECT_EQ(EntryText(L"DisplayName"), kWizardTitle);
    EXPECT_EQ(EntryText(L"DisplayVersion"), L"2.0.0");
    EXPECT_EQ(EntryText(L"Publisher"), L"VARNO");
    EXPECT_EQ(EntryText(L"InstallLocation"), InstalledFolder());
    EXPECT_EQ(EntryText(L"DisplayIcon"), launcher);
    EXPECT_EQ(EntryText(L"UninstallString"), uninstall);
    EXPECT_EQ(EntryText(L"QuietUninstallString"), uninstall + L" /quiet");
    EXPECT_EQ(EntryNumber(L"NoModify"), 1u);
    EXPECT_EQ(EntryNumber(L"NoRepair"), 1u);
    EXPECT_EQ(EntryNumber(L"EstimatedSize"), kilobytes);
    EXPECT_EQ(EntryText(L"InstallDate"), date);

    const std::vector<std::string> steps = LogSteps(log_);
    ASSERT_EQ(steps.size(), 11u);
    EXPECT_NE(steps[0].find("/QUIET -log"), std::string::npos) << "the command line";
    const std::vector<std::string> expected = {
        "unpacking the files: ok",
        "creating the installation folder: ok",
        "copying the files into the installation folder: ok",
        "copying the driver into the system's driver folder: ok",
        "registering the driver service: ok",
        "loading the driver on trial: ok",
        "setting the driver to start with Windows: ok",
        "writing the entry of Apps & features: ok",
        "registering the driver as a filter of the disk drives: ok",
        "exit code 3010",
    };
    EXPECT_EQ(std::vector<std::string>(steps.begin() + 1, steps.end() - 1),
              std::vector<std::string>(expected.begin(), expected.end() - 1));
    EXPECT_EQ(steps.back(), expected.back());

    // Installed already: nothing changes.
    EXPECT_EQ(Run(QG_SETUP_EXE, L"/quiet"), 0u);
    EXPECT_EQ(EntryText(L"InstallDate"), date);
    EXPECT_EQ(Sorted(FolderEntries(InstalledFolder())),
              (std::vector<std::wstring>{L"Uninst.exe", L"quillctl.exe", L"quilldrv.sys"}));

    // The quiet uninstall command exactly as written, its program quoted.
    const std::wstring quiet = EntryText(L"QuietUninstallString");
    const size_t close = quiet.find(L'"', 1);
    EXPECT_EQ(Run(quiet.substr(1, close - 1), quiet.substr(close + 2)),
              static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
    EXPECT_TRUE(WaitUntil([] { return !DriverServiceExists(); }, 10000));
    // The launcher waits for the removal, so its file and folders go at the restart.
    EXPECT_EQ(FolderEntries(InstalledFolder()), std::vector<std::wstring>{L"Uninst.exe"});
    EXPECT_EQ(DeletionsAtRestart(),
              (std::vector<std::wstring>{launcher, InstalledFolder(), VendorFolder()}));
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
    EXPECT_EQ(EntryNumber(L"NoModify"), 0xFFFFFFFFu) << "the entry stays";

    // Installed again before the restart, and removed through setup.
    EXPECT_EQ(Run(QG_SETUP_EXE, L"/quiet"), static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
    RemoveQuietlyThroughSetup();
}

// A quiet install that Windows refuses the driver of leaves nothing and logs why.
TEST_F(QuietSetup, ARefusedDriverFailsTheQuietInstallAndLeavesNothing) {
    const std::wstring folder = ProgramFiles() + L"\\qg-unloadable-driver";
    DeleteTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = SetupWithAnUnloadableDriver(QG_SETUP_EXE, folder);
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(Run(program, L"/quiet /log \"" + log_ + L"\""),
              static_cast<DWORD>(ERROR_INSTALL_FAILURE));
    DeleteTree(folder);
    EXPECT_FALSE(DriverServiceExists());
    EXPECT_FALSE(PathExists(SystemDriverFile()));
    EXPECT_FALSE(PathExists(VendorFolder()));
    EXPECT_EQ(EntryNumber(L"NoModify"), 0xFFFFFFFFu);
    const std::string log = ReadFileBytes(log_);
    EXPECT_NE(log.find("loading the driver on trial: failed, error 1114: "), std::string::npos)
        << log;
}

// A setup built with a driver signed elsewhere (here with a second test key, as
// Microsoft's would come back) carries it as it is, and its trial load passes.
TEST_F(QuietSetup, ASetupBuiltWithAReturnedDriverInstallsThatDriverByteForByte) {
    ASSERT_NE(ReadFileBytes(QG_RETURNED_DRIVER), ReadFileBytes(QG_X64_DRIVER));
    EXPECT_EQ(Run(QG_RETURNED_SETUP_EXE, L"/quiet"),
              static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
    EXPECT_EQ(ReadFileBytes(SystemDriverFile()), ReadFileBytes(QG_RETURNED_DRIVER));
    RemoveQuietlyThroughSetup();
}

// What stops a quiet run before it changes anything, and its exit code.
TEST_F(QuietSetup, WhatStopsAQuietRunEndsItWithItsCodeAndChangesNothing) {
    const wchar_t* appDefaults = L"Software\\Wine\\AppDefaults\\QuillGuardSetup.exe";
    struct Case {
        const char* name;
        std::wstring arguments;
        DWORD code;
        void (*prepare)();
    };
    const Case cases[] = {
        {"an unknown switch", L"/bogus /quiet", ERROR_INVALID_COMMAND_LINE, [] {}},
        {"/log without a path", L"/quiet /log", ERROR_INVALID_COMMAND_LINE, [] {}},
        {"not installed, nothing to remove", L"-Uninstall -Quiet", 0, [] {}},
        {"installed already", L"/quiet", 0, [] { MarkInstalled(); }},
        {"installed, but no launcher to remove it", L"/uninstall /quiet", ERROR_INSTALL_FAILURE,
         [] { MarkInstalled(); }},
        {"a removal waits for the restart", L"/quiet", ERROR_FAIL_NOACTION_REBOOT,
         [] {
             MarkInstalled();
             const DWORD one = 1;
             RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\quilldrv",
                             L"DeleteFlag", REG_DWORD, &one, sizeof one);
         }},
        {"not an x64 PC", L"/quiet", ERROR_INSTALL_PLATFORM_UNSUPPORTED,
         [] {
             RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\QuillGuardSetup.exe",
                             L"Version", REG_SZ, L"win2k", 6 * sizeof(wchar_t));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MachineState::Reset();
        c.prepare();
        EXPECT_EQ(Run(QG_SETUP_EXE, c.arguments), c.code);
        RegDeleteTreeW(HKEY_CURRENT_USER, appDefaults);
        EXPECT_FALSE(PathExists(VendorFolder()));
        EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
                  MultiSz(ListOf({u"PartMgr"})).bytes);
    }

    // Another setup or removal holds the product's mutex.
    MachineState::Reset();
    HandleCloser other(CreateMutexW(nullptr, TRUE, L"Global\\VARNO_QuillGuard"));
    ASSERT_TRUE(other);
    EXPECT_EQ(Run(QG_SETUP_EXE, L"/quiet"), static_cast<DWORD>(ERROR_INSTALL_ALREADY_RUNNING));
    EXPECT_FALSE(PathExists(VendorFolder()));
}

// Without /quiet a wrong command line shows the switches.
TEST_F(SetupEntry, AnUnknownSwitchShowsTheSwitchesAndEndsWith1639) {
    ASSERT_TRUE(StartProgram(QG_SETUP_EXE, L"/install", &setup_));
    const BoxAnswer box = AnswerMessageBox(setup_.id, IDOK, 15000);
    ASSERT_TRUE(box.found) << "no box within 15 s";
    EXPECT_EQ(box.text, English().strings.at(131));
    EXPECT_EQ(box.caption, kWizardTitle);
    EXPECT_EQ(WaitForExit(setup_, 10000), static_cast<DWORD>(ERROR_INVALID_COMMAND_LINE));
    EXPECT_FALSE(PathExists(VendorFolder()));
}

} // namespace
