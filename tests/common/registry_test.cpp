// Multi-string values in Wine's real registry: making an entry the first one once,
// whatever the value held before, and leaving a value of another type alone.
#include "multisz_support.h"
#include "registry.h"
#include "../support/wine_support.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kKey = L"Software\\QuillGuardTest\\Filters";
constexpr const wchar_t* kValue = L"UpperFilters";

class MultiSzValue : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\QuillGuardTest"); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\QuillGuardTest"); }

    // Stores exactly `bytes` bytes. The registry (Wine's as Windows') counts one more
    // character when a string's data is followed by a null in memory, so the copy
    // stored from is followed by non-null characters.
    static void Store(DWORD type, const std::string& bytes) {
        const std::string padded = bytes + "ZZZZ";
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, kValue, 0, type, reinterpret_cast<const BYTE*>(padded.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // The stored value exactly as the registry holds it: type and bytes.
    static std::string Stored(DWORD* type) {
        BYTE data[512];
        DWORD bytes = sizeof data;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_ANY | RRF_NOEXPAND, type, data,
                         &bytes) != ERROR_SUCCESS) {
            return "<absent>";
        }
        return std::string(reinterpret_cast<char*>(data), bytes);
    }

    static std::string Bytes(const std::u16string& list) {
        return std::string(reinterpret_cast<const char*>(list.data()), list.size() * 2);
    }
};

TEST_F(MultiSzValue, AddingMakesTheEntryFirstOnceAndKeepsTheOthersInOrder) {
    struct Case {
        const char* what;
        bool exists;
        std::string stored; // the value's bytes as stored
        const wchar_t* entry;
        Entries result;
    };
    const Case cases[] = {
        {"absent value", false, "", L"x", {u"x"}},
        {"empty list", true, Bytes(ListOf({})), L"x", {u"x"}},
        {"equal entries in any case",
         true,
         Bytes(ListOf({u"a", u"X", u"b", u"x"})),
         L"x",
         {u"x", u"a", u"b"}},
        {"the usual PartMgr",
         true,
         Bytes(ListOf({u"PartMgr"})),
         L"quilldrv",
         {u"quilldrv", u"PartMgr"}},
        {"driver in capitals",
         true,
         Bytes(ListOf({u"QUILLDRV", u"PartMgr"})),
         L"quilldrv",
         {u"quilldrv", u"PartMgr"}},
        {"already first",
         true,
         Bytes(ListOf({u"quilldrv", u"PartMgr"})),
         L"quilldrv",
         {u"quilldrv", u"PartMgr"}},
        {"accented capital differs",
         true,
         Bytes(ListOf({u"\u00c9"})),
         L"\u00e9",
         {u"\u00e9", u"\u00c9"}},
        // Data that is no well-formed list: only its complete strings count.
        {"zero bytes", true, "", L"x", {u"x"}},
        {"odd byte count", true, Bytes(ListOf({u"a"})) + "b", L"x", {u"x", u"a"}},
        {"last string without its null",
         true,
         Bytes(std::u16string(u"a\0bc", 4)),
         L"x",
         {u"x", u"a", u"bc"}},
        {"no final null", true, Bytes(std::u16string(u"a\0b\0", 4)), L"x", {u"x", u"a", u"b"}},
    };
    for (const Case& c : cases) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\QuillGuardTest");
        if (c.exists) {
            Store(REG_MULTI_SZ, c.stored);
        }
        ASSERT_TRUE(AddToMultiSzValue(HKEY_LOCAL_MACHINE, kKey, kValue, c.entry)) << c.what;
        DWORD type = 0;
        EXPECT_EQ(Stored(&type), Bytes(ListOf(c.result))) << c.what;
        EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ)) << c.what;
    }
}

TEST_F(MultiSzValue, AValueOfAnotherTypeFailsTheAddAndStaysUnchanged) {
    const wchar_t text[] = L"PartMgr";
    Store(REG_SZ, std::string(reinterpret_cast<const char*>(text), sizeof text));
    EXPECT_FALSE(AddToMultiSzValue(HKEY_LOCAL_MACHINE, kKey, kValue, L"quilldrv"));
    DWORD type = 0;
    EXPECT_EQ(Stored(&type), std::string(reinterpret_cast<const char*>(text), sizeof text));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    MultiSzBlock list;
    EXPECT_FALSE(ReadMultiSzValue(HKEY_LOCAL_MACHINE, kKey, kValue, list));
    EXPECT_FALSE(list);
}

// Only a missing value is no value: any other failure of the first query could
// hide a list whose entries a rewrite would lose.
LSTATUS WINAPI QueryRefused(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
    return ERROR_ACCESS_DENIED;
}

TEST_F(MultiSzValue, AFirstQueryFailingOtherwiseThanNotFoundFailsAndWritesNothing) {
    Store(REG_MULTI_SZ, Bytes(ListOf({u"PartMgr"})));
    {
        OwnImportSwap swap("advapi32.dll", "RegQueryValueExW",
                           reinterpret_cast<void*>(&QueryRefused));
        ASSERT_TRUE(swap.Swapped());
        EXPECT_FALSE(AddToMultiSzValue(HKEY_LOCAL_MACHINE, kKey, kValue, L"quilldrv"));
    }
    DWORD type = 0;
    EXPECT_EQ(Stored(&type), Bytes(ListOf({u"PartMgr"})));
}

TEST_F(MultiSzValue, AnEmptyEntryFailsTheAddAndLeavesTheListAlone) {
    Store(REG_MULTI_SZ, Bytes(ListOf({u"PartMgr"})));
    EXPECT_FALSE(AddToMultiSzValue(HKEY_LOCAL_MACHINE, kKey, kValue, L""));
    DWORD type = 0;
    EXPECT_EQ(Stored(&type), Bytes(ListOf({u"PartMgr"})));
}

TEST_F(MultiSzValue, ReadingAnAbsentValueSucceedsWithNoListAndCreatesTheKey) {
    MultiSzBlock list = BlockOf(ListOf({u"stale"}));
    EXPECT_TRUE(ReadMultiSzValue(HKEY_LOCAL_MACHINE, kKey, kValue, list));
    EXPECT_FALSE(list);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

} // namespace
