// The two built programs' resources as the platform's loader sees them, language
// by language: the texts exactly as written for the user, the wait box's template
// (windres adds and drops style bits of its own), the carried uninstaller, and the
// manifests.
#include "uninstall_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// RT_STRING, RT_DIALOG and RT_MANIFEST turn narrow without UNICODE: spelt as
// numbers below (6, 5, 24).
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

    // String `id` of the table in `language`, read from its block of sixteen.
    std::wstring String(UINT id, WORD language) const {
        const std::string block =
            Bytes(MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), language);
        if (block == "<missing>") {
            return L"<missing>";
        }
        const auto* p = reinterpret_cast<const wchar_t*>(block.data());
        for (UINT i = 0; i < id % 16; ++i) {
            p += 1 + *p;
        }
        return std::wstring(p + 1, *p);
    }

    HMODULE handle = nullptr;
};

struct TextCase {
    UINT id;
    WORD language;
    const wchar_t* text;
};

TEST(Resources, TheLaunchersTextsInEachLanguage) {
    const Module launcher(QG_LAUNCHER_EXE);
    ASSERT_NE(launcher.handle, nullptr);
    const TextCase cases[] = {
        {104, kEnglish, L"Is %s deleted from the computer?"},
        {105, kEnglish, L"It is not treatable in Limited acount."},
        {106, kEnglish, L"It has already started."},
        {107, kEnglish, L"It failed in processing.\n\nError%d"},
        {104, kJapanese, L"コンピュータから %s を削除しますか？"},
        {105, kJapanese, L"制限付きのアカウントでは処理できません。"},
        {106, kJapanese, L"既に起動しています。"},
        {107, kJapanese, L"処理に失敗しました。\n\nエラー%d"},
        {104, kChinese, L"从电脑中删除 %s 吗？"},
        {105, kChinese, L"It is not treatable in Limited acount."},
        {106, kChinese, L"It has already started."},
        {107, kChinese, L"It failed in processing.\n\nError%d"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(launcher.String(c.id, c.language) == c.text)
            << "string " << c.id << ", language " << c.language;
    }
}

TEST(Resources, TheUninstallersTextsInEachLanguage) {
    const Module uninstaller(QG_UNINSTALLER_EXE);
    ASSERT_NE(uninstaller.handle, nullptr);
    const TextCase cases[] = {
        {3, kEnglish, L"%s is being deleted."},
        {4, kEnglish,
         L"To activate the new settings, you must restart PC. \nDo you want to restart PC Now?"},
        {3, kJapanese, L"%s の削除中"},
        {4, kJapanese,
         L"新しい設定を有効するには、コンピュータを再起動する必要があります。\n"
         L"今すぐコンピュータを再起動しますか?"},
        {3, kChinese, L"正在删除 %s"},
        {4, kChinese, L"要啟動新的設置，您必須重新啟動電腦。 \n您要重新啟動電腦吧?"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(uninstaller.String(c.id, c.language) == c.text)
            << "string " << c.id << ", language " << c.language;
    }
}

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
