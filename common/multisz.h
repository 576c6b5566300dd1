// String lists in the registry's multi-string layout: null-terminated strings
// closed by one more null. Plain code over 16-bit characters, so that the same
// functions run in the programs, in the host tests under the sanitizers and in
// the fuzzer. Lengths count characters including the final null.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

struct MultiSzFree {
    void operator()(char16_t* block) const { std::free(block); }
};

// One list in one heap block; the holder frees it.
using MultiSzBlock = std::unique_ptr<char16_t, MultiSzFree>;

// Entries are equal when they are equal after A-Z are mapped to a-z; every other
// character compares by its code (no locale, no other folding).
bool MultiSzEntriesEqual(const char16_t* a, const char16_t* b);

size_t MultiSzLength(const char16_t* list);

// Removes, in place, every entry equal to `entry`; stores the new length in
// `resultLength`. The block is not shrunk. Returns the number removed.
size_t MultiSzRemove(const char16_t* entry, char16_t* list, size_t* resultLength);

// Replaces the held list by `entry` followed by it. False when no memory could be
// had, or when `entry` is empty (an empty string would end the list and lose every
// entry behind it); the holder then keeps its list.
bool MultiSzPrepend(const char16_t* entry, MultiSzBlock& holder);

// A well-formed list from stored data of any size: the strings found within
// `bytes` up to the first empty string, closed by a final null. A last string
// without its null within the data is kept; an odd last byte is dropped; data of
// 0 or 1 byte is the empty list. Never reads past `bytes`. Null when no memory
// could be had.
MultiSzBlock MultiSzFromBytes(const void* data, size_t bytes);
