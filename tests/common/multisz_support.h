// Building and reading string lists in tests: a list from its entries, and the
// entries back out of a list.
#pragma once

#include "multisz.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

using Entries = std::vector<std::u16string>;

// The list layout: each entry with its null, then the final null.
inline std::u16string ListOf(const Entries& entries) {
    std::u16string list;
    for (const auto& entry : entries) {
        list += entry;
        list += u'\0';
    }
    list += u'\0';
    return list;
}

inline Entries EntriesOf(const char16_t* list) {
    Entries entries;
    for (const char16_t* p = list; *p != 0; p += std::char_traits<char16_t>::length(p) + 1) {
        entries.emplace_back(p);
    }
    return entries;
}

// A heap block holding a copy of `list`, as the registry read hands it over.
inline MultiSzBlock BlockOf(const std::u16string& list) {
    auto* block = static_cast<char16_t*>(std::malloc(list.size() * sizeof(char16_t)));
    std::memcpy(block, list.data(), list.size() * sizeof(char16_t));
    return MultiSzBlock(block);
}
