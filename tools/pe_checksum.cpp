// Writes the PE image checksum into a linked image. GNU ld leaves it zero, and
// Windows refuses to load a driver whose checksum does not match. --check only
// compares: the signing tool rewrites the checksum, and the tests hold it to that.
//   pe_checksum [--check] FILE
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kChecksumInOptionalHeader = 64;
constexpr size_t kOptionalHeaderInNtHeaders = 4 + 20; // signature + file header

uint32_t ReadU32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The image checksum: 16-bit one's-complement-style sum of the file with the
// checksum field taken as zero, folded to 16 bits, plus the file length.
uint32_t ImageChecksum(const std::vector<uint8_t>& image, size_t checksumAt) {
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i == checksumAt || i == checksumAt + 2) {
            continue;
        }
        uint32_t word = image[i];
        if (i + 1 < image.size()) {
            word |= image[i + 1] << 8;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum) + static_cast<uint32_t>(image.size());
}

} // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: pe_checksum [--check] FILE\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    std::vector<uint8_t> image;
    {
        std::ifstream in(path, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (image.size() < kPeOffsetField + 4) {
        std::fprintf(stderr, "pe_checksum: %s: not a PE image\n", path);
        return 1;
    }
    const size_t nt = ReadU32(image, kPeOffsetField);
    const size_t at = nt + kOptionalHeaderInNtHeaders + kChecksumInOptionalHeader;
    if (at + 4 > image.size() || ReadU32(image, nt) != 0x00004550) {
        std::fprintf(stderr, "pe_checksum: %s: not a PE image\n", path);
        return 1;
    }
    const uint32_t checksum = ImageChecksum(image, at);
    if (check) {
        const uint32_t stored = ReadU32(image, at);
        if (stored != checksum) {
            std::fprintf(stderr, "pe_checksum: %s: checksum %08X, should be %08X\n", path, stored,
                         checksum);
            return 1;
        }
        return 0;
    }
    for (int i = 0; i < 4; ++i) {
        image[at + i] = static_cast<uint8_t>(checksum >> (8 * i));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) {
        std::fprintf(stderr, "pe_checksum: %s: cannot write\n", path);
        return 1;
    }
    return 0;
}
