// QuillGuardSetup's resources read back from the built program, language by
// language: string tables, dialog templates, the carried files (each the built
// file byte for byte), icon, header picture, version block and manifest.
#include "setup_texts.h"

#include "../support/wine_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

constexpr LANGID kEnglish = 1033, kJapanese = 1041, kChinese = 2052;

// Resource types, wide (the RT_ macros turn narrow without UNICODE).
const LPCWSTR kRtString = MAKEINTRESOURCEW(6);
const LPCWSTR kRtDialog = MAKEINTRESOURCEW(5);
const LPCWSTR kRtGroupIcon = MAKEINTRESOURCEW(14);
const LPCWSTR kRtIcon = MAKEINTRESOURCEW(3);
const LPCWSTR kRtBitmap = MAKEINTRESOURCEW(2);
const LPCWSTR kRtVersion = MAKEINTRESOURCEW(16);
const LPCWSTR kRtManifest = MAKEINTRESOURCEW(24);

class SetupResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExW(QG_SETUP_EXE, nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "the built setup cannot be loaded"; }

    // The resource's bytes in exactly this language; "<missing>" when absent.
    static std::string Bytes(LPCWSTR type, LPCWSTR name, LANGID language) {
        HRSRC found = FindResourceExW(module_, type, name, language);
        if (found == nullptr) {
            return "<missing>";
        }
        const char* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return std::string(data, SizeofResource(module_, found));
    }

    static std::set<LANGID> Languages(LPCWSTR type, LPCWSTR name) {
        std::set<LANGID> languages;
        EnumResourceLanguagesW(
            module_, type, name,
            [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) -> BOOL {
                reinterpret_cast<std::set<LANGID>*>(found)->insert(language);
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&languages));
        return languages;
    }

    static HMODULE module_;
};

HMODULE SetupResources::module_ = nullptr;

const std::set<LANGID> kThreeLanguages = {kEnglish, kJapanese, kChinese};

// --- Strings ------------------------------------------------------------------

// The 16 strings of a string-table block, as counted UTF-16 texts.
std::vector<std::wstring> StringBlock(const std::string& bytes) {
    std::vector<std::wstring> strings;
    const auto* at = reinterpret_cast<const wchar_t*>(bytes.data());
    const auto* end = at + bytes.size() / 2;
    while (at < end && strings.size() < 16) {
        const size_t length = *at++;
        strings.emplace_back(at, std::min<size_t>(length, end - at));
        at += length;
    }
    return strings;
}

TEST_F(SetupResources, StringsHoldTheirTextsInEachLanguage) {
    for (const LanguageTexts* texts : {&English(), &Japanese(), &Chinese()}) {
        SCOPED_TRACE(texts->name);
        std::map<UINT, std::wstring> found;
        for (UINT block : {7u, 8u, 9u}) { // ids 96 to 111, 112 to 127, 128 to 143
            const std::string bytes = Bytes(kRtString, MAKEINTRESOURCEW(block), texts->language);
            ASSERT_NE(bytes, "<missing>") << "block " << block;
            const auto strings = StringBlock(bytes);
            for (size_t i = 0; i < strings.size(); ++i) {
                if (!strings[i].empty()) {
                    found[(block - 1) * 16 + static_cast<UINT>(i)] = strings[i];
                }
            }
        }
        for (UINT id = 103; id <= 131; ++id) {
            ASSERT_EQ(found.count(id), 1u) << "string " << id << " is missing";
            if (id != 108) {
                EXPECT_EQ(found[id], texts->strings.at(id)) << "string " << id;
            }
        }
        EXPECT_EQ(found.size(), 29u) << "strings beyond 103 to 131";
        // The welcome text: one %s for the wizard title, no other conversion.
        const std::wstring welcome = found[108];
        EXPECT_EQ(std::count(welcome.begin(), welcome.end(), L'%'), 1);
        EXPECT_NE(welcome.find(L"%s"), std::wstring::npos);
    }
    for (UINT block : {7u, 8u, 9u}) {
        EXPECT_EQ(Languages(kRtString, MAKEINTRESOURCEW(block)), kThreeLanguages);
    }
}

// --- Dialog 101 ----------------------------------------------------------------

struct Control {
    DWORD id;
    std::wstring className;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::wstring text; // "#119" for an ordinal
    bool operator==(const Control& o) const {
        return id == o.id && _wcsicmp(className.c_str(), o.className.c_str()) == 0 &&
               style == o.style && exStyle == o.exStyle && x == o.x && y == o.y && cx == o.cx &&
               cy == o.cy && text == o.text;
    }
};

std::ostream& operator<<(std::ostream& out, const Control& c) {
    std::string cls(c.className.begin(), c.className.end());
    return out << "{id " << static_cast<int>(c.id) << ", " << cls << ", style 0x" << std::hex
               << c.style << ", ex 0x" << c.exStyle << std::dec << ", " << c.x << "," << c.y << " "
               << c.cx << "x" << c.cy << ", " << c.text.size() << " chars}";
}

struct Dialog {
    WORD version = 0, signature = 0;
    DWORD helpId = 0, exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, windowClass, caption;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::wstring face;
    std::vector<Control> controls;
};

// Reads a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records.
class TemplateReader {
public:
    explicit TemplateReader(const std::string& bytes) : bytes_(bytes) {}
    template <typename T> T Read() {
        T value = {};
        if (at_ + sizeof(T) <= bytes_.size()) {
            memcpy(&value, bytes_.data() + at_, sizeof(T));
        }
        at_ += sizeof(T);
        return value;
    }
    std::wstring ReadText() {
        std::wstring text;
        for (wchar_t c = Read<wchar_t>(); c != 0 && at_ <= bytes_.size(); c = Read<wchar_t>()) {
            text += c;
        }
        return text;
    }
    // A name or an ordinal (written "#n"); BUTTON and STATIC by their ordinals.
    std::wstring ReadNameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0) {
            return L"";
        }
        if (first == 0xFFFF) {
            const WORD ordinal = Read<WORD>();
            if (ordinal == 0x80) {
                return L"Button";
            }
            if (ordinal == 0x82) {
                return L"Static";
            }
            return L"#" + std::to_wstring(ordinal);
        }
        at_ -= 2;
        return ReadText();
    }
    void AlignToDword() { at_ = (at_ + 3) & ~size_t(3); }
    void Skip(size_t n) { at_ += n; }

private:
    const std::string& bytes_;
    size_t at_ = 0;
};

Dialog ParseDialog(const std::string& bytes) {
    TemplateReader r(bytes);
    Dialog d;
    d.version = r.Read<WORD>();
    d.signature = r.Read<WORD>();
    d.helpId = r.Read<DWORD>();
    d.exStyle = r.Read<DWORD>();
    d.style = r.Read<DWORD>();
    const WORD count = r.Read<WORD>();
    d.x = r.Read<short>();
    d.y = r.Read<short>();
    d.cx = r.Read<short>();
    d.cy = r.Read<short>();
    d.menu = r.ReadNameOrOrdinal();
    d.windowClass = r.ReadNameOrOrdinal();
    d.caption = r.ReadText();
    d.pointSize = r.Read<WORD>();
    d.weight = r.Read<WORD>();
    d.italic = r.Read<BYTE>();
    d.charset = r.Read<BYTE>();
    d.face = r.ReadText();
    for (WORD i = 0; i < count; ++i) {
        r.AlignToDword();
        Control c;
        const DWORD helpId = r.Read<DWORD>();
        c.exStyle = r.Read<DWORD>();
        c.style = r.Read<DWORD>();
        c.x = r.Read<short>();
        c.y = r.Read<short>();
        c.cx = r.Read<short>();
        c.cy = r.Read<short>();
        c.id = r.Read<DWORD>();
        c.className = r.ReadNameOrOrdinal();
        c.text = r.ReadNameOrOrdinal();
        r.Skip(r.Read<WORD>());
        EXPECT_EQ(helpId, 0u) << "control " << i;
        d.controls.push_back(c);
    }
    return d;
}

std::vector<Control> ExpectedControls(const LanguageTexts& t) {
    const DWORD none = 0xFFFFFFFF; // id -1
    std::vector<Control> controls = {
        {1006, L"Button", 0x40000009, 0, 11, 177, t.disagreeWidth, 10, t.disagree},
        {1007, L"Button", 0x40000009, 0, 79, 177, 60, 10, t.agree},
        {2, L"Button", 0x50010000, 0, 67, 198, 58, 16, t.cancel},
        {1003, L"Button", 0x50010300, 0, 136, 198, 58, 16, t.back},
        {1004, L"Button", 0x50010300, 0, 203, 198, 58, 16, t.next},
        {none, L"Static", 0x50000006, 0, 0, 0, 270, 39, L""},
        {1001, L"Static", 0x50020000, 0, 9, 6, 221, 29, L"Title"},
        {1002, L"Static", 0x50020000, 0x20, 9, 44, 253, 132, L"message"},
        {none, L"Static", 0x50000010, 0, 0, 192, 272, 1, L""},
        {none, L"Static", 0x50000010, 0, 0, 39, 272, 1, L""},
        {1008, L"Static", 0x50020000, 0x20, 9, 45, 249, 22, L"message"},
        {1005, L"RichEdit20W", 0x50A01804, 0, 6, 72, 257, 101, L""},
        {none, L"Static", 0x5000000E, 0, 239, 6, 24, 21, L"#119"},
    };
    if (t.language == kJapanese) {
        // The lower rule stands sixth, right after Next.
        std::rotate(controls.begin() + 5, controls.begin() + 8, controls.begin() + 9);
    }
    return controls;
}

TEST_F(SetupResources, TheWizardDialogInEachLanguage) {
    EXPECT_EQ(Languages(kRtDialog, MAKEINTRESOURCEW(101)), kThreeLanguages);
    for (const LanguageTexts* texts : {&English(), &Japanese(), &Chinese()}) {
        SCOPED_TRACE(texts->name);
        const std::string bytes = Bytes(kRtDialog, MAKEINTRESOURCEW(101), texts->language);
        ASSERT_NE(bytes, "<missing>");
        const Dialog d = ParseDialog(bytes);
        EXPECT_EQ(d.version, 1);
        EXPECT_EQ(d.signature, 0xFFFF);
        EXPECT_EQ(d.helpId, 0u);
        EXPECT_EQ(d.exStyle, 0u);
        EXPECT_EQ(d.style, 0x80C800C8u);
        EXPECT_EQ(d.x, 0);
        EXPECT_EQ(d.y, 0);
        EXPECT_EQ(d.cx, 271);
        EXPECT_EQ(d.cy, 220);
        EXPECT_EQ(d.menu, L"");
        EXPECT_EQ(d.windowClass, L"");
        EXPECT_EQ(d.caption, L"Title");
        EXPECT_EQ(d.pointSize, 9);
        EXPECT_EQ(d.weight, 400);
        EXPECT_EQ(d.italic, 0);
        EXPECT_EQ(d.charset, 1);
        EXPECT_EQ(d.face, L"MS Shell Dlg");
        const auto expected = ExpectedControls(*texts);
        ASSERT_EQ(d.controls.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(d.controls[i], expected[i]) << "control #" << i + 1;
        }
    }
}

// --- Carried files ----------------------------------------------------------------

TEST_F(SetupResources, CarriedFilesAreTheBuiltFilesByteForByte) {
    struct Module {
        const wchar_t* name;
        LANGID language;
        const wchar_t* file;
    };
    const Module modules[] = {
        {L"UNINST.EXE", kJapanese, QG_UNINST_EXE},
        {L"QUILLCTL.EXE", kJapanese, QG_QUILLCTL_EXE},
        {L"QUILLDRV_X64_SYS", kJapanese, QG_X64_DRIVER},
        {L"QUILLDRV_X86_SYS", kJapanese, QG_X86_DRIVER},
        {L"LICENSE.RTF", kEnglish, QG_LICENCE_1033},
        {L"LICENSE.RTF", kJapanese, QG_LICENCE_1041},
        {L"LICENSE.RTF", kChinese, QG_LICENCE_2052},
    };
    for (const Module& m : modules) {
        const std::string built = ReadFileBytes(m.file);
        ASSERT_NE(built, "<missing>") << "the built file is missing";
        ASSERT_GT(built.size(), 100u);
        EXPECT_TRUE(Bytes(L"MODULE", m.name, m.language) == built)
            << std::string(m.name, m.name + wcslen(m.name)) << " in " << m.language
            << " is not the built file";
    }
    EXPECT_EQ(Languages(L"MODULE", L"UNINST.EXE"), std::set<LANGID>{kJapanese});
    EXPECT_EQ(Languages(L"MODULE", L"QUILLDRV_X64_SYS"), std::set<LANGID>{kJapanese});
    EXPECT_EQ(Languages(L"MODULE", L"QUILLDRV_X86_SYS"), std::set<LANGID>{kJapanese});
    EXPECT_EQ(Languages(L"MODULE", L"LICENSE.RTF"), kThreeLanguages);

    // The two drivers are the two builds: an x64 and an x86 image.
    auto machine = [](const std::string& image) {
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
        return nt->FileHeader.Machine;
    };
    EXPECT_EQ(machine(Bytes(L"MODULE", L"QUILLDRV_X64_SYS", kJapanese)), IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(machine(Bytes(L"MODULE", L"QUILLDRV_X86_SYS", kJapanese)), IMAGE_FILE_MACHINE_I386);
}

TEST_F(SetupResources, LicencesAreRtfDeclaringCodePage932) {
    for (LANGID language : {kEnglish, kJapanese, kChinese}) {
        const std::string licence = Bytes(L"MODULE", L"LICENSE.RTF", language);
        EXPECT_EQ(licence.rfind("{\\rtf1\\ansi\\ansicpg932", 0), 0u) << language;
    }
}

// --- Icon, picture, version, manifest -----------------------------------------------

TEST_F(SetupResources, IconGroupHoldsNineImagesInThreeSizesAndDepths) {
    EXPECT_EQ(Languages(kRtGroupIcon, MAKEINTRESOURCEW(102)), std::set<LANGID>{kJapanese});
    const std::string group = Bytes(kRtGroupIcon, MAKEINTRESOURCEW(102), kJapanese);
    ASSERT_GE(group.size(), 6u + 9 * 14);
    const auto* header = reinterpret_cast<const WORD*>(group.data());
    EXPECT_EQ(header[1], 1); // icons
    ASSERT_EQ(header[2], 9);
    int index = 0;
    for (int bits : {4, 8, 32}) {
        for (int size : {48, 32, 16}) {
            const char* entry = group.data() + 6 + index * 14;
            WORD planes, bitCount, id;
            memcpy(&planes, entry + 4, 2);
            memcpy(&bitCount, entry + 6, 2);
            memcpy(&id, entry + 12, 2);
            EXPECT_EQ(static_cast<BYTE>(entry[0]), size) << "image " << index + 1;
            EXPECT_EQ(static_cast<BYTE>(entry[1]), size) << "image " << index + 1;
            EXPECT_EQ(bitCount, bits) << "image " << index + 1;
            EXPECT_EQ(id, index + 1);
            EXPECT_NE(Bytes(kRtIcon, MAKEINTRESOURCEW(id), kJapanese), "<missing>");
            ++index;
        }
    }
}

TEST_F(SetupResources, HeaderPictureIs48By48With24Bits) {
    EXPECT_EQ(Languages(kRtBitmap, MAKEINTRESOURCEW(119)), std::set<LANGID>{kJapanese});
    const std::string bitmap = Bytes(kRtBitmap, MAKEINTRESOURCEW(119), kJapanese);
    ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER info;
    memcpy(&info, bitmap.data(), sizeof info);
    EXPECT_EQ(info.biWidth, 48);
    EXPECT_EQ(info.biHeight, 48);
    EXPECT_EQ(info.biBitCount, 24);
    EXPECT_EQ(info.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(bitmap.size() - info.biSize, 6912u);
}

TEST_F(SetupResources, VersionBlockReads2000) {
    EXPECT_EQ(Languages(kRtVersion, MAKEINTRESOURCEW(1)), std::set<LANGID>{kEnglish});
    const std::vector<char> block = VersionBlock(QG_SETUP_EXE);
    const VS_FIXEDFILEINFO* fixed = FixedVersion(block);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x17u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileSubtype, 0u);

    EXPECT_EQ(VersionString(block.data(), L"FileDescription"), L"Quillon Setup Application");
    EXPECT_EQ(VersionString(block.data(), L"FileVersion"), L"2, 0, 0, 0");
    EXPECT_EQ(VersionString(block.data(), L"ProductVersion"), L"2, 0, 0, 0");
    EXPECT_EQ(VersionString(block.data(), L"InternalName"), L"QuillGuardSetup.exe");
    EXPECT_EQ(VersionString(block.data(), L"OriginalFilename"), L"QuillGuardSetup.exe");
    for (const wchar_t* owner : {L"CompanyName", L"ProductName", L"LegalCopyright"}) {
        EXPECT_NE(VersionString(block.data(), owner), L"<missing>");
        EXPECT_NE(VersionString(block.data(), owner), L"");
    }
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);
}

TEST_F(SetupResources, ManifestAsksForAdministratorsAndNoThemedControls) {
    std::set<std::wstring> names;
    EnumResourceNamesW(
        module_, kRtManifest,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            reinterpret_cast<std::set<std::wstring>*>(found)->insert(
                IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name))
                                     : std::wstring(name));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(names, std::set<std::wstring>{L"#1"}) << "exactly one manifest";
    EXPECT_EQ(Languages(kRtManifest, MAKEINTRESOURCEW(1)), std::set<LANGID>{kEnglish});
    const std::string manifest = Bytes(kRtManifest, MAKEINTRESOURCEW(1), kEnglish);
    EXPECT_NE(manifest.find("manifestVersion=\"1.0\""), std::string::npos);
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
}

} // namespace
