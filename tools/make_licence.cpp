// Turns one UTF-8 licence text into the RTF document setup carries.
//   make_licence LANGUAGE SOURCE.txt OUT.rtf
#include "licence.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_licence LANGUAGE SOURCE.txt OUT.rtf\n");
        return 2;
    }
    const LicenceStyle* style = FindLicenceStyle(std::atoi(argv[1]));
    if (style == nullptr) {
        std::fprintf(stderr, "make_licence: no style for language %s\n", argv[1]);
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_licence: cannot read %s\n", argv[2]);
        return 1;
    }
    const std::string source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string rtf, error;
    if (!BuildLicenceRtf(source, *style, rtf, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
        return 1;
    }
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out << rtf;
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_licence: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
