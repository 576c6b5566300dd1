// The two built programs' resources as the platform's loader sees them: the wait
// box's template in each language (windres adds and drops style bits of its own),
// the carried uninstaller, and the manifests. The texts are checked where the
// programs show them.
#include "uninstall_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// RT_DIALOG and RT_MANIFEST turn narrow without UNICODE: spelt as numbers below
// (5, 24).
constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
constexpr WORD kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

struct Module {
    explicit Module(const wchar_t* path) {
        std::wstring program = path;
        std::replace(program.begin(), program.end(), L'/', L'\\');
        handle = LoadLibraryExW(program.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    ~Module() { FreeLibrary(handle); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The bytes of one resource in one language; "<missing>" when there is none.
    std::string Bytes(const wchar_t* type, const wchar_t* name, WORD language) const {
        HRSRC found = FindResourceExW(handle, type, name, language);
        if (found == nullptr) {
            return "<missing>";
        }
        const auto* data = static_cast<const char*>(LockResource(LoadResource(handle, found)));
        return std::string(data, SizeofResource(handle, found));
    }

    HMODULE handle = nullptr;
};

// Reads the fields of an extended dialog template in order.
struct TemplateReader {
    const BYTE* at;
    template <typename T> T Take() {
        T value;
        memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    std::wstring Text() {
        std::wstring text(reinterpret_cast<const wchar_t*>(at));
        at += (text.size() + 1) * sizeof(wchar_t);
        return text;
    }
    void AlignToDword(const BYTE* start) { at = start + ((at - start + 3) & ~3); }
};

TEST(Resources, TheWaitBoxTemplateInEachLanguage) {
    const Module uninstaller(QG_UNINSTALLER_EXE);
    const struct {
        WORD language;
        const wchar_t* title;
        const wchar_t* text;
    } cases[] = {
        {kEnglish, L"title is being deleted.", L"Please wait for a while."},
        {kJapanese, L" title の削除中", L"しばらくお待ち下さい。"},
        {kChinese, L"正在删除 title", L"请稍等..."},
    };
    for (const auto& c : cases) {
        const std::string bytes =
            uninstaller.Bytes(MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(102), c.language);
        ASSERT_NE(bytes, "<missing>") << c.language;
        const auto* start = reinterpret_cast<const BYTE*>(bytes.data());
        TemplateReader r{start};
        EXPECT_EQ(r.Take<WORD>(), 1);      // version
        EXPECT_EQ(r.Take<WORD>(), 0xFFFF); // extended template
        r.Take<DWORD>();                   // help id
        EXPECT_EQ(r.Take<DWORD>(), 0u) << "extended style";
        EXPECT_EQ(r.Take<DWORD>(), 0x80C000C8u) << "style, language " << c.language;
        EXPECT_EQ(r.Take<WORD>(), 1) << "one control";
        const short box[4] = {r.Take<short>(), r.Take<short>(), r.Take<short>(), r.Take<short>()};
        EXPECT_EQ(std::vector<short>(box, box + 4), (std::vector<short>{0, 0, 187, 93}));
        EXPECT_EQ(r.Take<WORD>(), 0) << "no menu";
        EXPECT_EQ(r.Take<WORD>(), 0) << "the standard dialog class";
        EXPECT_TRUE(r.Text() == c.title) << c.language;
        EXPECT_EQ(r.Take<WORD>(), 8) << "points";
        r.Take<WORD>(); // weight
        r.Take<WORD>(); // italic, character set
        EXPECT_TRUE(r.Text() == L"MS Shell Dlg");

        r.AlignToDword(start);
        r.Take<DWORD>(); // help id
        EXPECT_EQ(r.Take<DWORD>(), 0u) << "control's extended style";
        EXPECT_EQ(r.Take<DWORD>(), 0x50020201u) << "control's style, language " << c.language;
        const short item[4] = {r.Take<short>(), r.Take<short>(), r.Take<short>(), r.Take<short>()};
        EXPECT_EQ(std::vector<short>(item, item + 4), (std::vector<short>{6, 37, 173, 17}));
        EXPECT_EQ(r.Take<DWORD>(), 0xFFFFFFFFu) << "identifier -1";
        EXPECT_EQ(r.Take<WORD>(), 0xFFFF);
        EXPECT_EQ(r.Take<WORD>(), 0x0082) << "a static control";
        EXPECT_TRUE(r.Text() == c.text) << c.language;
    }
}

TEST(Resources, TheLauncherCarriesTheBuiltUninstallerInJapaneseOnly) {
    const Module launcher(QG_LAUNCHER_EXE);
    std::wstring uninstaller = QG_UNINSTALLER_EXE;
    std::replace(uninstaller.begin(), uninstaller.end(), L'/', L'\\');
    EXPECT_TRUE(launcher.Bytes(L"MODULE", L"_UNINST.EXE", kJapanese) == ReadFileBytes(uninstaller));
    EXPECT_EQ(launcher.Bytes(L"MODULE", L"_UNINST.EXE", kEnglish), "<missing>");
}

TEST(Resources, BothProgramsAskForAdministratorRights) {
    for (const wchar_t* path : {QG_LAUNCHER_EXE, QG_UNINSTALLER_EXE}) {
        const Module program(path);
        const std::string manifest =
            program.Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), kEnglish);
        EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" "
                                "uiAccess=\"false\"/>"),
                  std::string::npos);
    }
}

} // namespace
