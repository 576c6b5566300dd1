// The art and licences as QuillGuardSetup.exe carries them: read back through the
// resource API from the built program, against the files the tools wrote.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> ReadFile(const wchar_t* path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read a built file";
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring ArtFile(const wchar_t* name) {
    return std::wstring(QG_SETUP_ART_DIR) + L"\\" + name;
}

uint32_t U16(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

class SetupArtResources : public testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExW(QG_SETUP_EXE, nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "QuillGuardSetup.exe not loaded"; }

    // The resource's bytes in exactly this language; empty when there is none.
    static std::vector<uint8_t> Resource(LPCWSTR type, LPCWSTR name, WORD language) {
        HRSRC found = FindResourceExW(module_, type, name, language);
        if (found == nullptr) {
            return {};
        }
        const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module_, found)));
        return {data, data + SizeofResource(module_, found)};
    }

    static HMODULE module_;
};

HMODULE SetupArtResources::module_ = nullptr;

// RT_* are narrow without UNICODE.
const LPCWSTR kGroupIcon = MAKEINTRESOURCEW(14), kIcon = MAKEINTRESOURCEW(3),
              kBitmap = MAKEINTRESOURCEW(2);

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN);

// Group 102 lists RT_ICON 1 to 9 in the file's order, and each image is the
// file's image byte for byte.
TEST_F(SetupArtResources, IconGroupHoldsTheNineImagesOfTheIconFileAsIcons1To9) {
    const std::vector<uint8_t> ico = ReadFile(ArtFile(L"setup.ico").c_str());
    const std::vector<uint8_t> group = Resource(kGroupIcon, MAKEINTRESOURCEW(102), kJapanese);
    ASSERT_EQ(group.size(), 6u + 9u * 14u);
    ASSERT_EQ(U16(group, 4), 9u);
    for (size_t i = 0; i < 9; ++i) {
        const size_t g = 6 + 14 * i, e = 6 + 16 * i; // GRPICONDIRENTRY, ICONDIRENTRY
        SCOPED_TRACE("image " + std::to_string(i + 1));
        EXPECT_EQ(U16(group, g + 12), i + 1) << "resource id";
        EXPECT_EQ(group[g], ico.at(e)) << "width";
        EXPECT_EQ(U16(group, g + 6), U16(ico, e + 6)) << "bits";
        const std::vector<uint8_t> image =
            Resource(kIcon, MAKEINTRESOURCEW(static_cast<WORD>(i + 1)), kJapanese);
        const size_t offset = U32(ico, e + 12), bytes = U32(ico, e + 8);
        ASSERT_EQ(image.size(), bytes);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), ico.begin() + offset));
    }
}

TEST_F(SetupArtResources, HeaderBitmapIsTheBitmapFileWithoutItsFileHeader) {
    const std::vector<uint8_t> bmp = ReadFile(ArtFile(L"header.bmp").c_str());
    const std::vector<uint8_t> bitmap = Resource(kBitmap, MAKEINTRESOURCEW(119), kJapanese);
    ASSERT_EQ(bitmap.size(), 40u + 6912u);
    EXPECT_TRUE(std::equal(bitmap.begin(), bitmap.end(), bmp.begin() + 14));
}

TEST_F(SetupArtResources, EachLanguageCarriesItsOwnLicenceDocument) {
    const std::pair<WORD, const wchar_t*> languages[] = {
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"licence_1033.rtf"},
        {kJapanese, L"licence_1041.rtf"},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), L"licence_2052.rtf"}};
    for (const auto& [language, file] : languages) {
        EXPECT_EQ(Resource(L"MODULE", L"LICENSE.RTF", language), ReadFile(ArtFile(file).c_str()))
            << "language " << language;
    }
}

// What the wizard and the shell get on a true-colour display: for each size the
// platform picks the 32-bit image (ids 7 to 9), and the picture control's bitmap
// is 48 x 48 at 24 bits.
TEST_F(SetupArtResources, PlatformPicksTheAlphaImagesAndLoadsTheBitmap) {
    std::vector<uint8_t> group = Resource(kGroupIcon, MAKEINTRESOURCEW(102), kJapanese);
    ASSERT_FALSE(group.empty());
    const std::pair<int, int> picks[] = {{48, 7}, {32, 8}, {16, 9}};
    for (const auto& [size, id] : picks) {
        EXPECT_EQ(LookupIconIdFromDirectoryEx(group.data(), TRUE, size, size, LR_DEFAULTCOLOR), id)
            << size << " px";
    }
    HBITMAP header = static_cast<HBITMAP>(
        LoadImageW(module_, MAKEINTRESOURCEW(119), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(header, nullptr);
    BITMAP picture = {};
    GetObjectW(header, sizeof picture, &picture);
    EXPECT_EQ(picture.bmWidth, 48);
    EXPECT_EQ(picture.bmHeight, 48);
    EXPECT_EQ(picture.bmBitsPixel, 24);
    DeleteObject(header);
}

} // namespace
