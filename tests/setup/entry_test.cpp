// Setup's entry: an installed machine hands over to each installed launcher, and
// the boxes of the other early ends (not x64, nothing unpacked, no product name).
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

} // namespace
