// The extraction folder: a fresh qgs*.TMP folder in the user's temporary folder
// holding exactly the launcher, the licence and the x64 driver, gone again after
// RemoveSetupFiles; and clean failures where a path would not fit.
#include "setup_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// A file's or folder's DACL as the system reads it back, in SDDL.
std::wstring SecurityOf(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return L"<unreadable>";
    }
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    std::wstring sddl = text != nullptr ? text : L"<none>";
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

// Points the temporary folder (TMP and TEMP) somewhere else for one test.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::wstring& folder) {
        GetEnvironmentVariableW(L"TMP", tmp_, MAX_PATH);
        GetEnvironmentVariableW(L"TEMP", temp_, MAX_PATH);
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
    }
    ~TempFolderOverride() {
        SetEnvironmentVariableW(L"TMP", tmp_);
        SetEnvironmentVariableW(L"TEMP", temp_);
    }

private:
    wchar_t tmp_[MAX_PATH] = {};
    wchar_t temp_[MAX_PATH] = {};
};

TEST(ExtractSetupFiles, WritesTheThreeFilesIntoAFreshQgsTmpFolderAndRemovesThemAgain) {
    const std::wstring temp = TempFolder();
    const auto before = Sorted(FolderEntries(temp));

    ASSERT_EQ(X64DriverBytes().substr(0, 2), "MZ") << "the build's x64 driver cannot be read";
    ASSERT_TRUE(ExtractSetupFiles());
    const std::wstring folder = ExtractFolder;
    const std::wstring name = folder.substr(folder.rfind(L'\\') + 1);
    EXPECT_EQ(folder.substr(0, folder.rfind(L'\\')), temp);
    EXPECT_EQ(name.substr(0, 3), L"qgs");
    ASSERT_GE(name.size(), 4u);
    EXPECT_EQ(CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".TMP", 4, TRUE), CSTR_EQUAL)
        << "folder name " << std::string(name.begin(), name.end());
    EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(Sorted(FolderEntries(folder)),
              (std::vector<std::wstring>{L"License.rtf", L"Uninst.exe", L"quillctl.exe",
                                         L"quilldrv.sys"}));
    EXPECT_EQ(ReadFileBytes(folder + L"\\Uninst.exe"), kLauncherBytes);
    EXPECT_EQ(ReadFileBytes(folder + L"\\quilldrv.sys"), X64DriverBytes()) << "not the x64 build";

    // Only administrators and the system may change the folder: the user's own
    // unelevated programs can swap nothing there. Wine keeps no DACL of its own (it
    // turns a given one into Unix permissions and reads those back as a DACL), so
    // what it shows is that everybody else lost access.
    const std::wstring security = SecurityOf(folder);
    for (const wchar_t* others : {L";;;WD)", L";;;BU)", L";;;AU)"}) {
        EXPECT_EQ(security.find(others), std::wstring::npos)
            << std::string(security.begin(), security.end());
    }

    // The reserved name became the folder: nothing else is new in the temporary folder.
    auto expected = before;
    expected.push_back(name);
    EXPECT_EQ(Sorted(FolderEntries(temp)), Sorted(expected));

    EXPECT_TRUE(RemoveSetupFiles());
    EXPECT_FALSE(PathExists(folder));
    EXPECT_EQ(Sorted(FolderEntries(temp)), before) << "the temporary folder holds something new";
}

TEST(ExtractSetupFiles, ATemporaryPathTooLongForTheFilesFailsWithoutCutNames) {
    // A temporary folder of 243 characters: its qgs<1-4 hex digits>.TMP folder has
    // 252 to 255, too long for "\quilldrv.sys" (the path buffer holds 263).
    const std::wstring base = TempFolder() + L"\\qg-long-temp";
    const std::wstring longTemp = MakeFolderOfLength(base, 243);
    ASSERT_TRUE(PathExists(longTemp));
    {
        TempFolderOverride override(longTemp);
        EXPECT_FALSE(ExtractSetupFiles());
    }
    const auto made = FolderEntries(longTemp);
    ASSERT_EQ(made.size(), 1u) << "expected only the extraction folder";
    const std::wstring folder = longTemp + L"\\" + made[0];
    // The files are written in order up to the first that does not fit; none under a
    // cut name.
    std::vector<std::wstring> fitted;
    for (const wchar_t* name : {L"Uninst.exe", L"License.rtf", L"quilldrv.sys"}) {
        if (folder.size() + 1 + wcslen(name) > 263) {
            break;
        }
        fitted.push_back(name);
    }
    EXPECT_EQ(Sorted(FolderEntries(folder)), Sorted(fitted));
    DeleteTree(base);
}

TEST(ExtractSetupFiles, ATemporaryPathPastTheBufferFailsAtOnce) {
    const std::wstring base = TempFolder() + L"\\qg-longer-temp";
    const std::wstring longTemp = MakeFolderOfLength(base, 300);
    {
        TempFolderOverride override(longTemp);
        EXPECT_FALSE(ExtractSetupFiles());
    }
    EXPECT_TRUE(FolderEntries(longTemp).empty());
    DeleteTree(base);
}

TEST(DeleteFileInFolder, DeletesTheNamedFileOnlyWhenThePathFits) {
    const std::wstring folder = TempFolder() + L"\\qg-delete-test";
    DeleteTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\a.txt", "a"));
    EXPECT_TRUE(DeleteFileInFolder(folder.c_str(), L"a.txt"));
    EXPECT_FALSE(PathExists(folder + L"\\a.txt"));
    EXPECT_FALSE(DeleteFileInFolder(folder.c_str(), L"a.txt")) << "already gone";

    // A name that does not fit the path buffer is refused, not cut to one that exists.
    const std::wstring name(264 - folder.size() - 1, L'n');
    const std::wstring cut = name.substr(0, name.size() - 1);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\" + cut, "c"));
    EXPECT_FALSE(DeleteFileInFolder(folder.c_str(), name.c_str()));
    EXPECT_TRUE(PathExists(folder + L"\\" + cut));
    DeleteTree(folder);
}

} // namespace
