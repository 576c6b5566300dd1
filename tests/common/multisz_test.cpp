// The string-list operations behind the filter registration: lengths, removal of
// every equal entry (A-Z folded, nothing else), prepending, and stored data of any
// shape turned into a well-formed list.
#include "multisz_support.h"

#include <gtest/gtest.h>

namespace {

TEST(MultiSzLength, CountsEveryCharacterTerminatorAndTheFinalNull) {
    EXPECT_EQ(MultiSzLength(ListOf({}).c_str()), 1u);
    EXPECT_EQ(MultiSzLength(ListOf({u"a", u"bc"}).c_str()), 6u);
    EXPECT_EQ(MultiSzLength(ListOf({u"PartMgr"}).c_str()), 9u);
}

TEST(MultiSzEntriesEqual, FoldsOnlyTheLettersAToZ) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        bool equal;
    };
    const Case cases[] = {
        {u"quilldrv", u"QUILLDRV", true},
        {u"QuillDrv", u"quilldrv", true},
        {u"x", u"X", true},
        {u"\u00c9", u"\u00e9", false}, // É and é: no folding beyond A-Z
        {u"\u0130", u"i", false},      // İ is no I
        {u"[", u"{", false},           // 0x5B and 0x7B lie 0x20 apart but are no letters
        {u"@", u"`", false},
        {u"quilldrv", u"quilldrv2", false},
        {u"", u"", true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(MultiSzEntriesEqual(cases[i].a, cases[i].b), cases[i].equal) << "case " << i;
        EXPECT_EQ(MultiSzEntriesEqual(cases[i].b, cases[i].a), cases[i].equal) << "case " << i;
    }
}

TEST(MultiSzRemove, RemovesEveryEqualEntryAndReportsCountAndLength) {
    struct Case {
        const char16_t* entry;
        Entries before;
        size_t removed;
        Entries after;
    };
    const Case cases[] = {
        {u"a", {u"a", u"a", u"b"}, 2, {u"b"}},
        {u"x", {u"a", u"X", u"b", u"x"}, 2, {u"a", u"b"}},
        {u"x", {u"x"}, 1, {}},
        {u"x", {}, 0, {}},
        {u"x", {u"xx", u"y"}, 0, {u"xx", u"y"}},
        {u"quilldrv", {u"QUILLDRV", u"PartMgr", u"quilldrv"}, 2, {u"PartMgr"}},
        {u"\u00e9", {u"\u00c9", u"\u00e9"}, 1, {u"\u00c9"}},
    };
    for (const Case& c : cases) {
        std::u16string list = ListOf(c.before);
        size_t length = 0;
        EXPECT_EQ(MultiSzRemove(c.entry, list.data(), &length), c.removed);
        EXPECT_EQ(EntriesOf(list.c_str()), c.after);
        EXPECT_EQ(length, ListOf(c.after).size());
        EXPECT_EQ(length, MultiSzLength(list.c_str()));
    }
}

TEST(MultiSzPrepend, PutsTheEntryFirstAndKeepsTheRestInOrder) {
    MultiSzBlock list = BlockOf(ListOf({u"PartMgr", u"other"}));
    ASSERT_TRUE(MultiSzPrepend(u"quilldrv", list));
    EXPECT_EQ(EntriesOf(list.get()), (Entries{u"quilldrv", u"PartMgr", u"other"}));
    EXPECT_EQ(MultiSzLength(list.get()), 9u + 8u + 6u + 1u);

    MultiSzBlock empty = BlockOf(ListOf({}));
    ASSERT_TRUE(MultiSzPrepend(u"x", empty));
    EXPECT_EQ(EntriesOf(empty.get()), (Entries{u"x"}));
}

TEST(MultiSzPrepend, RefusesAnEmptyEntryThatWouldHideTheList) {
    MultiSzBlock list = BlockOf(ListOf({u"PartMgr"}));
    const char16_t* before = list.get();
    EXPECT_FALSE(MultiSzPrepend(u"", list));
    EXPECT_EQ(list.get(), before);
    EXPECT_EQ(EntriesOf(list.get()), (Entries{u"PartMgr"}));
}

// Stored data as bytes, as the registry may hold it.
std::vector<unsigned char> Bytes(const std::u16string& chars, size_t extraBytes = 0) {
    std::vector<unsigned char> bytes(chars.size() * 2 + extraBytes, 0x41);
    std::memcpy(bytes.data(), chars.data(), chars.size() * 2);
    return bytes;
}

TEST(MultiSzFromBytes, KeepsEveryStringTheSystemReadsFromMalformedData) {
    struct Case {
        const char* what;
        std::vector<unsigned char> data;
        Entries entries;
    };
    const std::u16string noFinalNull(u"a\0bc", 4);
    const std::u16string oneNull(u"a\0", 2);
    const Case cases[] = {
        {"well formed", Bytes(ListOf({u"a", u"b"})), {u"a", u"b"}},
        {"no bytes", {}, {}},
        {"one byte", {0x61}, {}},
        {"empty list", Bytes(ListOf({})), {}},
        {"odd byte count", Bytes(ListOf({u"a", u"b"}), 1), {u"a", u"b"}},
        {"last string without its null", Bytes(noFinalNull), {u"a", u"bc"}},
        {"strings without the final null", Bytes(oneNull), {u"a"}},
        {"no null at all", Bytes(u"abc"), {u"abc"}},
        {"odd byte behind a string without its null", Bytes(u"ab", 1), {u"ab"}},
        {"data behind the list end", Bytes(std::u16string(u"a\0\0zz\0", 6)), {u"a"}},
    };
    for (const Case& c : cases) {
        // An exact-size heap copy: AddressSanitizer sees any read past the data.
        std::vector<unsigned char> exact(c.data);
        MultiSzBlock list = MultiSzFromBytes(exact.data(), exact.size());
        ASSERT_TRUE(list) << c.what;
        EXPECT_EQ(EntriesOf(list.get()), c.entries) << c.what;
    }
}

} // namespace
