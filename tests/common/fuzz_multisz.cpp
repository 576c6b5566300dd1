// Stored registry data of any content and size, and any entry: the list made of it
// is well formed and never read past the data, removal takes out exactly the equal
// entries, and prepending puts the entry first with the rest kept in order.
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
    Check(length <= stored.size() / 2 + 1);

    const std::vector<std::u16string> before = EntriesOf(list.get());
    std::vector<std::u16string> kept;
    for (const auto& e : before) {
        Check(!e.empty());
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
