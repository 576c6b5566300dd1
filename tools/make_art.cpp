// Writes setup's icon and header bitmap, the same bytes on every run.
//   make_art ICON.ico HEADER.bmp
#include "art.h"

#include <cstdio>
#include <iterator>

namespace {

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        std::perror(path);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    // A full disk may only show when the buffered bytes go out.
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "make_art: %s: could not write\n", path);
    }
    return written && closed;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_art ICON.ico HEADER.bmp\n");
        return 2;
    }
    const std::vector<IconFormat> formats(std::begin(kSetupIconFormats),
                                          std::end(kSetupIconFormats));
    if (!WriteFile(argv[1], EncodeIcon(formats)) || !WriteFile(argv[2], EncodeHeaderBitmap())) {
        return 1;
    }
    return 0;
}
