// Writing embedded MODULE resources to files: the exact bytes, one path shape
// whatever the folder's ending, complete replacement, and no file on any failure.
#include "module.h"

#include "../support/wine_support.h"

#include <gtest/gtest.h>

namespace {

// The contents of the test resources (see common_test.rc.in).
constexpr char kLonger[] = "the longer of two test modules, 52 bytes long......\n";
constexpr char kShorter[] = "short\n";

class ExtractModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = TempFolder() + L"\\qg-extract-test";
        DeleteTree(folder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }
    void TearDown() override { DeleteTree(folder_); }

    std::wstring folder_;
};

TEST_F(ExtractModuleTest, WritesTheResourceBytesWithOrWithoutATrailingBackslash) {
    for (const std::wstring& given : {folder_, folder_ + L"\\"}) {
        DeleteTree(folder_ + L"\\out.bin");
        ASSERT_TRUE(ExtractModule(given.c_str(), L"out.bin", L"LONGER"));
        EXPECT_EQ(ReadFileBytes(folder_ + L"\\out.bin"), kLonger);
        EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"out.bin"});
    }
}

TEST_F(ExtractModuleTest, ReplacesAnExistingFileCompletelyEvenWhenShorter) {
    ASSERT_TRUE(ExtractModule(folder_.c_str(), L"out.bin", L"LONGER"));
    ASSERT_TRUE(ExtractModule(folder_.c_str(), L"out.bin", L"SHORTER"));
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\out.bin"), kShorter);
}

TEST_F(ExtractModuleTest, AMissingOrEmptyResourceCreatesNoFile) {
    EXPECT_FALSE(ExtractModule(folder_.c_str(), L"out.bin", L"NO_SUCH_MODULE"));
    EXPECT_FALSE(ExtractModule(folder_.c_str(), L"out.bin", L"EMPTY"));
    EXPECT_TRUE(FolderEntries(folder_).empty());
}

// A target that cannot be opened for writing. Wine maps the read-only attribute to
// the Unix write permission, which root (our test runs) ignores, so the target is
// held open without sharing instead.
TEST_F(ExtractModuleTest, ATargetThatCannotBeOpenedFailsAndKeepsItsContent) {
    const std::wstring target = folder_ + L"\\out.bin";
    ASSERT_TRUE(WriteFileBytes(target, "old"));
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ExtractModule(folder_.c_str(), L"out.bin", L"LONGER"));
    CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(target), "old");
}

TEST_F(ExtractModuleTest, APathPast263CharactersIsRefusedNotCut) {
    // folder + "\" + "out.bin" = 264 characters: one more than the path buffer holds.
    const std::wstring folder = MakeFolderOfLength(folder_, 264 - 8);
    ASSERT_TRUE(PathExists(folder));
    EXPECT_FALSE(ExtractModule(folder.c_str(), L"out.bin", L"LONGER"));
    EXPECT_TRUE(FolderEntries(folder).empty()) << "a file was written under a cut name";
    // One character shorter fits exactly.
    EXPECT_TRUE(ExtractModule(folder.c_str(), L"out.bi", L"LONGER"));
}

} // namespace
