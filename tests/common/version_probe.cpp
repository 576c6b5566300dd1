// Reports what the version and processor tests answer in this process, as bits of
// the exit code: 1 IsWindows2000, 2 IsWindowsXP, 4 IsNativeX64. The version tests
// start it under the Windows versions that Wine can pretend to be.
#include "engine.h"
#include "system.h"

int main() {
    return (IsWindows2000() ? 1 : 0) | (IsWindowsXP() ? 2 : 0) | (IsNativeX64() ? 4 : 0);
}
