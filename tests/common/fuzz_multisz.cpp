// Stored registry data of any content and size, and any entry: the list made of it
// holds every entry the system reads from that data (up to the first empty string,
// a last string without its null included) and is never read past the data; adding
// gives the entry followed by all of those entries but its equals, removing gives
// all of them but its equals, in their order. No entry is ever lost.
#include "multisz.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::u16string> EntriesOf(const char16_t* list) {
    std::vector<std::u16string> entries;
    for (const char16_t* p = list; *p != 0; p += std::char_traits<char16_t>::length(p) + 1) {
        entries.emplace_back(p);
    }
    return entries;
}

// The entries as the system reads stored data: characters split at each null,
// ending at the first empty string or at the end of the data.
std::vector<std::u16string> EntriesTheSystemReads(const std::vector<uint8_t>& stored) {
    std::vector<std::u16string> entries;
    std::u16string current;
    for (size_t i = 0; i + 1 < stored.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(stored[i] | stored[i + 1] << 8);
        if (c != 0) {
            current += c;
        } else if (current.empty()) {
            return entries;
        } else {
            entries.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) {
        entries.push_back(current);
    }
    return entries;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) {
        return 0;
    }
    // First byte: the entry's length in characters; then the entry; then the stored data.
    const size_t entryChars = data[0] % 16;
    if (size < 1 + entryChars * 2) {
        return 0;
    }
    std::u16string entry;
    for (size_t i = 0; i < entryChars; ++i) {
        const char16_t c = static_cast<char16_t>(data[1 + 2 * i] | data[2 + 2 * i] << 8);
        if (c == 0) {
            break;
        }
        entry += c;
    }
    // An exact-size heap copy, so AddressSanitizer sees any read past the stored data.
    const size_t offset = 1 + entryChars * 2;
    const std::vector<uint8_t> stored(data + offset, data + size);
    MultiSzBlock list = MultiSzFromBytes(stored.data(), stored.size());
    Check(static_cast<bool>(list));
    const size_t length = MultiSzLength(list.get());
    Check(length <= stored.size() / 2 + 2); // a last string without its null gains one

    const std::vector<std::u16string> before = EntriesTheSystemReads(stored);
    Check(EntriesOf(list.get()) == before);
    std::vector<std::u16string> kept;
    for (const auto& e : before) {
        if (!MultiSzEntriesEqual(e.c_str(), entry.c_str())) {
            kept.push_back(e);
        }
    }
    size_t newLength = 0;
    const size_t removed = MultiSzRemove(entry.c_str(), list.get(), &newLength);
    Check(removed == before.size() - kept.size());
    Check(newLength == MultiSzLength(list.get()));
    Check(EntriesOf(list.get()) == kept);

    const bool prepended = MultiSzPrepend(entry.c_str(), list);
    Check(prepended == !entry.empty());
    if (prepended) {
        kept.insert(kept.begin(), entry);
    }
    Check(EntriesOf(list.get()) == kept);
    return 0;
}
