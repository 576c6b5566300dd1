// The product's whole life on one machine: install through the wizard, run setup
// again, confirm the removal, decline both restarts: the machine is as before.
#include "setup_support.h"
#include "wizard_driver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// What the install changes and the removal must undo.
struct Snapshot {
    bool service;
    std::string upperFilters;
    bool vendorFolder;
    std::vector<std::wstring> programFiles;
    bool entry; // in Apps & features
    bool operator==(const Snapshot& o) const {
        return service == o.service && upperFilters == o.upperFilters &&
               vendorFolder == o.vendorFolder && programFiles == o.programFiles && entry == o.entry;
    }
};

Snapshot TakeSnapshot() {
    std::vector<std::wstring> programFiles = FolderEntries(ProgramFiles());
    std::sort(programFiles.begin(), programFiles.end());
    HKEY key = nullptr;
    const bool entry = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntry, 0,
                                     KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return {DriverServiceExists(), ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
            PathExists(VendorFolder()), programFiles, entry};
}

TEST(Lifecycle, InstallThenRemoveThroughSetupLeavesTheMachineAsBefore) {
    MachineState machine;
    WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(ListOf({u"PartMgr"})));
    const Snapshot before = TakeSnapshot();
    ASSERT_FALSE(before.service);

    std::wstring failure;
    // No restart question with /norestart; the removal road on purpose with /uninstall.
    ASSERT_TRUE(InstallThroughWizard(QG_SETUP_EXE, &failure, L"/norestart"))
        << std::string(failure.begin(), failure.end());
    EXPECT_TRUE(DriverServiceExists());
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
              MultiSz(ListOf({u"quilldrv", u"PartMgr"})).bytes);
    ASSERT_TRUE(PathExists(InstalledFolder() + L"\\Uninst.exe"));
    EXPECT_TRUE(TakeSnapshot().entry);

    ASSERT_TRUE(RemoveThroughLaunchers(QG_SETUP_EXE, &failure, L"/uninstall"))
        << std::string(failure.begin(), failure.end());
    // The service is only marked for deletion while the removal runs; it goes soon after.
    EXPECT_TRUE(WaitUntil([] { return !DriverServiceExists(); }, 10000));
    const Snapshot after = TakeSnapshot();
    EXPECT_FALSE(after.service);
    EXPECT_EQ(after.upperFilters, before.upperFilters);
    EXPECT_FALSE(after.vendorFolder);
    EXPECT_TRUE(after == before);
}

} // namespace
