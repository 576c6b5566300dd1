// Extracts the setup files and exits with 0 when the licence written is the
// language version named on the command line (1033, 1041 or 2052), 1 otherwise.
// CTest runs it under different user interface languages.
#include "engine.h"

#include "../support/wine_support.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 || !ExtractSetupFiles()) {
        std::puts("setup files could not be extracted");
        return 2;
    }
    const std::string licence = ReadFileBytes(std::wstring(ExtractFolder) + L"\\License.rtf");
    RemoveSetupFiles();
    const std::wstring wanted = argv[1];
    std::printf("licence: %s", licence.c_str());
    return licence.find(std::string(wanted.begin(), wanted.end())) != std::string::npos ? 0 : 1;
}
