// The shipped driver files, read back through Windows' own image and version
// APIs: the loader's checksum and the version block a driver must carry.
#include <windows.h>
#include <imagehlp.h>

#include "../support/wine_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct DriverFile {
    const char* arch;
    std::wstring path;
};

std::vector<DriverFile> DriverFiles() {
    // Wine's drive Z: is the build machine's root.
    const std::string dist = std::string("Z:") + QG_DIST_DIR;
    std::vector<DriverFile> files;
    for (const char* arch : {"x64", "x86"}) {
        const std::string path = dist + "/" + arch + "/quilldrv.sys";
        files.push_back({arch, std::wstring(path.begin(), path.end())});
    }
    return files;
}

TEST(DriverImage, ChecksumMatchesWhatTheLoaderComputes) {
    for (const DriverFile& file : DriverFiles()) {
        SCOPED_TRACE(file.arch);
        if (GetFileAttributesW(file.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ADD_FAILURE() << "not built: " << std::string(file.path.begin(), file.path.end());
            continue;
        }
        DWORD inHeader = 0, computed = 0;
        ASSERT_EQ(MapFileAndCheckSumW(file.path.c_str(), &inHeader, &computed), CHECKSUM_SUCCESS);
        EXPECT_NE(inHeader, 0u);
        EXPECT_EQ(inHeader, computed);
    }
}

TEST(DriverImage, VersionBlockNamesTheDriver) {
    for (const DriverFile& file : DriverFiles()) {
        SCOPED_TRACE(file.arch);
        const std::vector<char> block = VersionBlock(file.path.c_str());
        const VS_FIXEDFILEINFO* fixed = FixedVersion(block);
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
        EXPECT_EQ(fixed->dwFileVersionLS, 0u);
        EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
        EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DRV));
        EXPECT_EQ(VersionString(block.data(), L"InternalName"), L"quilldrv.sys");
        EXPECT_EQ(VersionString(block.data(), L"OriginalFilename"), L"quilldrv.sys");
        EXPECT_EQ(VersionString(block.data(), L"FileVersion"), L"2.0.0.0");
    }
}

} // namespace
