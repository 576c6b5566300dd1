#include "multisz.h"

#include <cstring>

namespace {

char16_t FoldAsciiLetter(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

size_t StringLength(const char16_t* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

} // namespace

bool MultiSzEntriesEqual(const char16_t* a, const char16_t* b) {
    for (;; ++a, ++b) {
        if (FoldAsciiLetter(*a) != FoldAsciiLetter(*b)) {
            return false;
        }
        if (*a == 0) {
            return true;
        }
    }
}

size_t MultiSzLength(const char16_t* list) {
    size_t length = 0;
    while (list[length] != 0) {
        length += StringLength(list + length) + 1;
    }
    return length + 1;
}

size_t MultiSzRemove(const char16_t* entry, char16_t* list, size_t* resultLength) {
    *resultLength = MultiSzLength(list);
    size_t kept = 0;
    size_t removed = 0;
    while (list[kept] != 0) {
        const size_t n = StringLength(list + kept) + 1;
        if (MultiSzEntriesEqual(list + kept, entry)) {
            *resultLength -= n;
            // Everything behind the string, final null included, moves down.
            std::memmove(list + kept, list + kept + n, (*resultLength - kept) * sizeof(char16_t));
            ++removed;
        } else {
            kept += n;
        }
    }
    return removed;
}

bool MultiSzPrepend(const char16_t* entry, MultiSzBlock& holder) {
    const size_t entryLength = StringLength(entry);
    if (entryLength == 0) {
        return false;
    }
    const size_t oldLength = MultiSzLength(holder.get());
    auto* block =
        static_cast<char16_t*>(std::malloc((entryLength + 1 + oldLength) * sizeof(char16_t)));
    if (block == nullptr) {
        return false;
    }
    std::memcpy(block + entryLength + 1, holder.get(), oldLength * sizeof(char16_t));
    std::memcpy(block, entry, (entryLength + 1) * sizeof(char16_t));
    holder.reset(block);
    return true;
}

MultiSzBlock MultiSzFromBytes(const void* data, size_t bytes) {
    const size_t count = bytes / sizeof(char16_t);
    // Room for every stored character, a null for a last string stored without
    // one, and the final null.
    MultiSzBlock list(static_cast<char16_t*>(std::calloc(count + 2, sizeof(char16_t))));
    if (!list) {
        return list;
    }
    char16_t* chars = list.get();
    if (count > 0) { // no data may come as a null pointer, which memcpy must not get
        std::memcpy(chars, data, count * sizeof(char16_t));
    }
    // The list ends at the first empty string or at the end of the data. A last
    // string without its null is still an entry: the system reads it as one, and
    // dropping it would lose a filter when the list is written back.
    size_t end = 0;
    while (end < count && chars[end] != 0) {
        while (end < count && chars[end] != 0) {
            ++end;
        }
        chars[end] = 0; // already there, or the spare null behind the data
        ++end;
    }
    chars[end] = 0;
    return list;
}
