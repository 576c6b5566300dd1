// The removal steps in this process, on installed states built in the prefix: the
// filter list, the service, the installed folder and its parent, the uninstall
// entry, and the one message the worker may show. The worker runs on the test
// thread with a hidden window standing in for the wait box.
#include "uninstaller.h"

#include "uninstall_support.h"

#include <gtest/gtest.h>

namespace {

std::wstring SystemText(DWORD error) {
    wchar_t text[1024] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 1024, nullptr);
    return text;
}

std::wstring UninstallEntry() {
    return std::wstring(kUninstallKey) + L"\\" + kEntryName;
}

class RemovalTest : public ::testing::Test {
protected:
    void SetUp() override {
        WaitWindow.store(CreateWindowExW(0, L"STATIC", L"wait box stand-in", WS_POPUP, 0, 0, 10, 10,
                                         nullptr, nullptr, nullptr, nullptr));
        ASSERT_NE(WaitWindow.load(), nullptr);
        NoWaitBox.store(false);
        SetArgument(LauncherFolder, InstalledFolder());
        SetArgument(UninstallEntryName, kEntryName);
        SetArgument(ProductTitle, kTitle);
        SetArgument(ProductFolderName, kFolderName);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallEntry().c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, UninstallEntry().c_str());
        DestroyWindow(WaitWindow.load());
        WaitWindow.store(nullptr);
    }

    static void SetArgument(wchar_t* target, const std::wstring& value) {
        wcsncpy(target, value.c_str(), ARGUMENT_CAPACITY - 1);
        target[ARGUMENT_CAPACITY - 1] = 0;
    }

    // What setup leaves behind, plus an uninstall entry, which setup does not write.
    void Install() {
        ASSERT_TRUE(InstallStandIn());
        ASSERT_TRUE(CreateUninstallEntry(kEntryName));
    }

    // Runs the worker while boxes on this thread are answered; checks that it ended
    // the wait box exactly once.
    DWORD RunWorker() {
        DWORD result = 2;
        WithBoxesAnswered(watch_, [&] { result = RemovalWorker(nullptr); });
        int ends = 0;
        MSG message;
        while (PeekMessageW(&message, WaitWindow.load(), WM_REMOVAL_DONE, WM_REMOVAL_DONE,
                            PM_REMOVE)) {
            EXPECT_EQ(message.wParam, 0u);
            EXPECT_EQ(message.lParam, 0);
            ++ends;
        }
        EXPECT_EQ(ends, 1) << "WM_REMOVAL_DONE posts to the wait box";
        return result;
    }

    SavedValue UpperFilters() const { return ReadValue(DISK_CLASS_KEY, UPPER_FILTERS); }

    MachineState machine_;
    BoxWatch watch_;
};

// --- The filter list -----------------------------------------------------------

struct FilterCase {
    const char* name;
    std::u16string stored; // characters as stored, final nulls included
    std::u16string expected;
};

TEST_F(RemovalTest, EveryQuilldrvEntryLeavesTheFilterListAndTheRestStays) {
    const FilterCase cases[] = {
        {"behind another", ListOf({u"PartMgr", u"quilldrv"}), ListOf({u"PartMgr"})},
        {"any case of A-Z", ListOf({u"QUILLDRV", u"PartMgr", u"quilldrv"}), ListOf({u"PartMgr"})},
        {"the only entry", ListOf({u"quilldrv"}), std::u16string(1, u'\0')},
        {"no match", ListOf({u"PartMgr", u"quilldrv2"}), ListOf({u"PartMgr", u"quilldrv2"})},
        {"empty list", std::u16string(1, u'\0'), std::u16string(1, u'\0')},
        {"no closing null", std::u16string(u"PartMgr\0quilldrv\0", 17), ListOf({u"PartMgr"})},
    };
    for (const auto& c : cases) {
        WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(c.stored));
        EXPECT_EQ(
            RemoveFromMultiSzValue(HKEY_LOCAL_MACHINE, DISK_CLASS_KEY, UPPER_FILTERS, DRIVER_NAME),
            1)
            << c.name;
        const SavedValue after = UpperFilters();
        EXPECT_TRUE(after.exists) << c.name << ": the value is rewritten, never deleted";
        EXPECT_EQ(after.type, static_cast<DWORD>(REG_MULTI_SZ)) << c.name;
        EXPECT_EQ(after.bytes, MultiSz(c.expected).bytes) << c.name;
    }
}

// A missing value holds nothing to remove; a foreign one is not ours to rewrite.
TEST_F(RemovalTest, AMissingOrForeignFilterValueIsLeftAsItIs) {
    WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, SavedValue{});
    EXPECT_EQ(
        RemoveFromMultiSzValue(HKEY_LOCAL_MACHINE, DISK_CLASS_KEY, UPPER_FILTERS, DRIVER_NAME), 1);
    EXPECT_FALSE(UpperFilters().exists);

    const std::wstring text = L"quilldrv";
    const SavedValue single = {true, REG_SZ,
                               std::string(reinterpret_cast<const char*>(text.c_str()),
                                           (text.size() + 1) * sizeof(wchar_t))};
    WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, single);
    EXPECT_EQ(
        RemoveFromMultiSzValue(HKEY_LOCAL_MACHINE, DISK_CLASS_KEY, UPPER_FILTERS, DRIVER_NAME), 0);
    EXPECT_EQ(UpperFilters().type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(UpperFilters().bytes, single.bytes);
}

// --- The service ---------------------------------------------------------------

TEST_F(RemovalTest, TheServiceIsDeletedAndAMissingOneCountsAsRemoved) {
    ASSERT_TRUE(CreateStandInService());
    EXPECT_EQ(RemoveDriverService(DRIVER_NAME), REMOVAL_RESULT_OK);
    EXPECT_TRUE(DriverServiceGone());
    EXPECT_EQ(RemoveDriverService(DRIVER_NAME), REMOVAL_RESULT_OK);
}

// --- The worker: whole removals and where they stop ----------------------------

TEST_F(RemovalTest, AFullRemovalLeavesOnlyTheOtherFilters) {
    Install();
    EXPECT_EQ(RunWorker(), 1u);
    EXPECT_EQ(UpperFilters().bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
    EXPECT_TRUE(DriverServiceGone());
    EXPECT_FALSE(PathExists(SystemDriverFile()));
    EXPECT_FALSE(PathExists(InstalledFolder()));
    EXPECT_FALSE(PathExists(VendorFolder())) << "the maker's folder goes with its last product";
    EXPECT_TRUE(DeletionsAtRestart().empty());
    EXPECT_FALSE(KeyExists(UninstallEntry()));
    EXPECT_EQ(watch_.boxes, 0);
}

// What is not there counts as removed: a removal that stopped at it would leave a
// product that can be neither removed nor installed again (setup takes the service
// key for an installed product).
TEST_F(RemovalTest, AMissingFilterValueServiceOrEntryCountsAsRemoved) {
    const struct {
        const char* name;
        void (*takeAway)();
        bool filterValue; // the value exists afterwards
    } cases[] = {
        {"no filter value", [] { WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, SavedValue{}); }, false},
        {"no service", [] { ASSERT_TRUE(DeleteDriverService()); }, true},
        {"no uninstall entry", [] { RegDeleteKeyW(HKEY_LOCAL_MACHINE, UninstallEntry().c_str()); },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MachineState::Reset();
        Install();
        c.takeAway();
        EXPECT_EQ(RunWorker(), 1u);
        EXPECT_EQ(UpperFilters().exists, c.filterValue);
        EXPECT_TRUE(DriverServiceGone());
        EXPECT_FALSE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\quilldrv"));
        EXPECT_FALSE(PathExists(VendorFolder()));
        EXPECT_FALSE(KeyExists(UninstallEntry()));
        EXPECT_EQ(watch_.boxes, 0);
    }
}

TEST_F(RemovalTest, ASubfolderKeepsTheInstalledFolderAndItsParent) {
    Install();
    CreateDirectoryW((InstalledFolder() + L"\\sub").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(InstalledFolder() + L"\\sub\\kept.txt", "kept"));
    EXPECT_EQ(RunWorker(), 1u);
    EXPECT_EQ(FolderEntries(InstalledFolder()), std::vector<std::wstring>{L"sub"});
    EXPECT_TRUE(PathExists(InstalledFolder() + L"\\sub\\kept.txt"));
    EXPECT_TRUE(PathExists(VendorFolder()));
}

// What cannot go now goes at the restart the user is offered next: the file, then
// its folder, then the maker's folder that holds nothing else.
TEST_F(RemovalTest, FilesInUseStayAndGoAtTheRestartWithTheirFolders) {
    Install();
    const std::wstring launcher = InstalledFolder() + L"\\Uninst.exe";
    HandleCloser held(
        CreateFileW(launcher.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    HandleCloser driver(CreateFileW(SystemDriverFile().c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(driver);
    EXPECT_EQ(RunWorker(), 1u);
    EXPECT_EQ(FolderEntries(InstalledFolder()), std::vector<std::wstring>{L"Uninst.exe"});
    EXPECT_TRUE(PathExists(VendorFolder()));
    EXPECT_EQ(DeletionsAtRestart(), (std::vector<std::wstring>{SystemDriverFile(), launcher,
                                                               InstalledFolder(), VendorFolder()}));
}

TEST_F(RemovalTest, TheMakersFolderStaysWhileItHoldsAnotherProduct) {
    Install();
    CreateDirectoryW((VendorFolder() + L"\\QuillGuardVer.1.0.0").c_str(), nullptr);
    EXPECT_EQ(RunWorker(), 1u);
    EXPECT_FALSE(PathExists(InstalledFolder()));
    EXPECT_EQ(FolderEntries(VendorFolder()), std::vector<std::wstring>{L"QuillGuardVer.1.0.0"});
}

TEST_F(RemovalTest, AMissingUninstallParentShowsTheSystemTextOverTheWaitBox) {
    Install();
    UninstallKeyAway away;
    ASSERT_TRUE(away.Away());
    EXPECT_EQ(RunWorker(), 0u);
    EXPECT_FALSE(PathExists(VendorFolder())) << "the folder steps come before";
    ASSERT_EQ(watch_.boxes, 1);
    EXPECT_EQ(watch_.text, SystemText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(watch_.caption, kTitle);
    EXPECT_EQ(watch_.owner, WaitWindow.load());
    EXPECT_EQ(watch_.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_INFORMATION)));
}

// RegDeleteKeyW with an empty name deletes the key it is given: here the parent of
// every uninstall entry, once it holds none.
TEST_F(RemovalTest, AnEmptyEntryNameDeletesNoKey) {
    Install();
    UninstallKeyAway away;
    ASSERT_TRUE(away.Away());
    HKEY parent = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &parent, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(parent);
    SetArgument(UninstallEntryName, L"");
    EXPECT_EQ(RunWorker(), 0u);
    EXPECT_TRUE(KeyExists(kUninstallKey));
    EXPECT_EQ(watch_.boxes, 0);
}

// Only the product's own folder under Program Files is emptied. A launcher in a
// drive's root passes "C:"; an empty field names the current drive's root; a
// launcher copied elsewhere, or on a share, names another folder, maybe one named
// like the product; a junction named like the product may lead anywhere, even to
// the installed folder. Their files stay; the registry and service steps run all
// the same.
TEST_F(RemovalTest, OnlyTheProductsOwnFolderIsEmptied) {
    const std::wstring elsewhere = L"C:\\qg-elsewhere";
    const std::wstring named = elsewhere + L"\\QuillGuardVer.2.0.0";
    const struct {
        std::wstring folder;
        std::wstring marker;
        bool junction; // the folder leads to the installed folder
    } cases[] = {
        {L"C:", L"C:\\qg-root-marker.txt", false},
        {L"", L"C:\\qg-root-marker.txt", false},
        {elsewhere, elsewhere + L"\\kept.txt", false},
        {elsewhere + L"\\QuillGuardVer.2.0.0x", elsewhere + L"\\QuillGuardVer.2.0.0x\\kept.txt",
         false},
        {named, InstalledFolder() + L"\\Uninst.exe", true},
        {named, named + L"\\kept.txt", false},
    };
    for (const auto& c : cases) {
        Install();
        CreateDirectoryW(elsewhere.c_str(), nullptr);
        if (c.junction) {
            ASSERT_TRUE(UnixLink(c.folder, InstalledFolder(), false));
        } else {
            CreateDirectoryW(c.folder.c_str(), nullptr);
        }
        ASSERT_TRUE(WriteFileBytes(c.marker, "stays"));
        SetArgument(LauncherFolder, c.folder);
        EXPECT_EQ(RunWorker(), 1u) << "folder \"" << c.folder << "\"";
        EXPECT_TRUE(PathExists(c.marker)) << "folder \"" << c.folder << "\"";
        EXPECT_TRUE(DriverServiceGone());
        if (c.junction) {
            ASSERT_TRUE(UnixLink(c.folder, L"", true));
        }
        DeleteTree(c.marker);
    }
    DeleteTree(elsewhere);
}

// --- Emptying the folder -------------------------------------------------------

TEST(DeleteFolderFiles, AnEntryWhosePathWouldNotFitStays) {
    const std::wstring base = TempFolder() + L"\\qg-long";
    const std::wstring folder = MakeFolderOfLength(base, 240);
    const std::wstring fits(MAX_PATH - 1 - 241, L'f'); // folder, backslash, name: 259
    const std::wstring tooLong(MAX_PATH - 241, L'l');  // 260: one past the buffer
    ASSERT_TRUE(WriteFileBytes(folder + L"\\" + fits, "x"));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\" + tooLong, "x"));
    EXPECT_EQ(DeleteFolderFiles(folder.c_str()), 1);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::wstring>{tooLong});

    // A folder whose search pattern does not fit is not searched at all.
    const std::wstring deeper = MakeFolderOfLength(base, 256);
    ASSERT_TRUE(WriteFileBytes(deeper + L"\\a", "x"));
    EXPECT_EQ(DeleteFolderFiles(deeper.c_str()), 1);
    EXPECT_EQ(FolderEntries(deeper), std::vector<std::wstring>{L"a"});
    DeleteTree(base);
}

// --- Without the wait box -------------------------------------------------------

// This test program carries the uninstaller's strings but not its dialog, so the
// wait box cannot be created: the removal must run anyway, and the restart
// question must follow.
TEST_F(RemovalTest, WithoutAWaitBoxTheRemovalRunsAndTheRestartQuestionFollows) {
    Install();
    WaitWindow.store(nullptr);
    int result = 0;
    WithBoxesAnswered(watch_, [&] { result = RunRemoval(); });
    NoWaitBox.store(false);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(PathExists(VendorFolder()));
    EXPECT_TRUE(DriverServiceGone());
    ASSERT_EQ(watch_.boxes, 1) << "the restart question";
    EXPECT_EQ(watch_.caption, kTitle);
    EXPECT_EQ(watch_.text, L"To activate the new settings, you must restart PC. \n"
                           L"Do you want to restart PC Now?");
    EXPECT_EQ(watch_.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_QUESTION)));
}

} // namespace
