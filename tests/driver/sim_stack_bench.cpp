// Cost of quilldrv's routines per request on the simulated stack, against a bare
// pass-through filter and against no filter at all. Prints figures; asserts
// nothing. Run by `make bench` (in Wine).
#include "policy.h"
#include "sim/sim.h"

#include <chrono>
#include <cstdio>

namespace {

constexpr int kRequests = 100000;
constexpr int kRounds = 5; // the best round counts: the machine is shared

struct Measure {
    double RequestsPerSecond;
    double AllocationsPerRequest;
};

Measure TimeOnce(int disk, bool write) {
    const uint32_t allocations = SimAllocations();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRequests; ++i) {
        if (write) {
            SimWrite(disk, 512);
        } else {
            SimRead(disk, 512);
        }
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    return {kRequests / seconds.count(),
            static_cast<double>(SimAllocations() - allocations) / kRequests};
}

void Report(const char* what, const Measure& m, const Measure& bare, const Measure& none) {
    std::printf("  %-34s %10.0f req/s  %.2fx bare filter  %.2fx no filter  %.3f alloc/req\n", what,
                m.RequestsPerSecond, bare.RequestsPerSecond / m.RequestsPerSecond,
                none.RequestsPerSecond / m.RequestsPerSecond, m.AllocationsPerRequest);
}

Measure Time(int disk, bool write) {
    Measure best = TimeOnce(disk, write);
    for (int round = 1; round < kRounds; ++round) {
        const Measure m = TimeOnce(disk, write);
        if (m.RequestsPerSecond > best.RequestsPerSecond) {
            best = m;
        }
    }
    return best;
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
    const int none = SimPlugDiskWithoutFilter(&sata);

    // Warm up, then measure each path.
    Time(filtered, true);
    const Measure bareWrite = Time(bare, true);
    const Measure noneWrite = Time(none, true);
    const Measure bareRead = Time(bare, false);
    const Measure noneRead = Time(none, false);
    std::printf("simulated stack, best of %d rounds of %d requests; cost per request as a\n"
                "ratio to the bare filter and to no filter (>1: slower)\n",
                kRounds, kRequests);
    Report("quilldrv write, passed down", Time(filtered, true), bareWrite, noneWrite);
    Report("quilldrv write, refused (USB)", Time(protectedUsb, true), bareWrite, noneWrite);
    Report("quilldrv read (pass-through)", Time(filtered, false), bareRead, noneRead);
    Report("bare pass-through filter write", bareWrite, bareWrite, noneWrite);
    Report("no filter write", noneWrite, bareWrite, noneWrite);
    return SimViolations() == 0 ? 0 : 1;
}
