// Marker data of any content and length: the match must never read outside the
// data, and exemption must need at least 64 bytes with a listed code at 44.
#include "policy.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 300) {
        return 0;
    }
    // A heap copy of exactly `size` bytes, so AddressSanitizer sees any read past the end.
    const std::vector<uint8_t> bytes(data, data + size);
    const uint8_t* copy = bytes.data();
    const uint32_t count = static_cast<uint32_t>(size);
    const bool match = MatchExemptCode(copy, count);
    if (match) {
        if (size < MARKER_MIN_BYTES) {
            std::abort();
        }
        bool listed = false;
        for (const char* code : ExemptProductCodes) {
            const size_t bytes = std::strlen(code) + 1;
            listed = listed || std::memcmp(copy + MARKER_CODE_OFFSET, code, bytes) == 0;
        }
        if (!listed) {
            std::abort();
        }
    }
    const uint8_t subject = ClassifyMarker(STATUS_SUCCESS, copy, count);
    if (subject != (match && count <= MARKER_MAX_BYTES ? 0 : 1)) {
        std::abort();
    }
    if (ClassifyMarker(STATUS_ACCESS_DENIED, copy, count) != 1) {
        std::abort();
    }
    return 0;
}
