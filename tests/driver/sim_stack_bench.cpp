// Cost of quilldrv's routines per request on the simulated stack, against a bare
// pass-through filter. Rounds of the two run back to back, in alternating order,
// so that both see the same load of the shared machine; the median of the
// per-round ratios is the figure, with its minimum and maximum beside it. Prints
// figures; asserts nothing. Run by `make bench` (in Wine).
#include "policy.h"
#include "sim/sim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRequests = 20000;
constexpr int kRounds = 25;

enum class Path { Write, Read };

// Nanoseconds per request over one round.
double TimeRound(int disk, Path path) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRequests; ++i) {
        if (path == Path::Write) {
            SimWrite(disk, 512);
        } else {
            SimRead(disk, 512);
        }
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / kRequests;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Interleaved rounds of quilldrv's disk and the bare filter's disk on one path.
void Compare(const char* what, int quilldrv, int bare, Path path) {
    std::vector<double> ratios, ours, theirs;
    for (int round = 0; round < kRounds; ++round) {
        double q = 0, b = 0;
        if (round % 2 == 0) {
            q = TimeRound(quilldrv, path);
            b = TimeRound(bare, path);
        } else {
            b = TimeRound(bare, path);
            q = TimeRound(quilldrv, path);
        }
        ours.push_back(q);
        theirs.push_back(b);
        ratios.push_back(q / b);
    }
    std::printf("  %-30s %7.0f ns  %7.0f ns   %.3fx   [%.3fx .. %.3fx]\n", what, Median(ours),
                Median(theirs), Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
}

} // namespace

int main() {
    SimLoadDriver();
    SimDiskConfig sata = {};
    sata.BusType = 11;
    SimDiskConfig usb = {};
    usb.BusType = STORAGE_BUS_TYPE_USB;

    int32_t status = 0;
    const int filtered = SimPlugDisk(&sata, &status);
    SimPnp(filtered, 0x00);
    const int protectedUsb = SimPlugDisk(&usb, &status);
    SimPnp(protectedUsb, 0x00);
    const int bare = SimPlugDiskWithBareFilter(&sata);

    // Warm up every path once.
    TimeRound(filtered, Path::Write);
    TimeRound(protectedUsb, Path::Write);
    TimeRound(bare, Path::Write);
    TimeRound(filtered, Path::Read);
    TimeRound(bare, Path::Read);

    std::printf("simulated stack: %d interleaved rounds of %d requests, quilldrv against a bare\n"
                "pass-through filter; median per request, median ratio [min .. max] of the rounds\n"
                "(target: median within 1.02x)\n",
                kRounds, kRequests);
    std::printf("  %-30s %10s  %10s   %s\n", "path", "quilldrv", "bare", "ratio");
    Compare("write, passed down (SATA)", filtered, bare, Path::Write);
    Compare("write, refused (USB)", protectedUsb, bare, Path::Write);
    Compare("read (pass-through)", filtered, bare, Path::Read);
    return SimViolations() == 0 ? 0 : 1;
}
