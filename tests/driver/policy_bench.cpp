// Cost of the write decision per request. Prints figures; asserts nothing.
#include "policy.h"

#include <benchmark/benchmark.h>

namespace {

// A mix of disks so that the branches are not all predicted one way.
DriveState* Disks() {
    static DriveState disks[64];
    for (int i = 0; i < 64; ++i) {
        disks[i].StorageHeader.BusType = (i % 3 == 0) ? 11 : STORAGE_BUS_TYPE_USB;
        disks[i].SubjectToPolicy = (i % 7 == 0) ? 0 : 1;
        disks[i].ProtectOn = (i % 5 == 0) ? 0 : 1;
    }
    return disks;
}

void BM_IsWriteBlocked(benchmark::State& state) {
    DriveState* disks = Disks();
    uint32_t mode = WP_MODE_ON;
    unsigned i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mode);
        bool blocked = IsWriteBlocked(disks[i++ & 63], mode);
        benchmark::DoNotOptimize(blocked);
    }
}
BENCHMARK(BM_IsWriteBlocked);

void BM_DecideWrite(benchmark::State& state) {
    DriveState* disks = Disks();
    DiskRequest write = {};
    write.MajorFunction = IRP_MJ_WRITE;
    uint32_t mode = WP_MODE_ON;
    unsigned i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mode);
        RequestDecision d = DecideRequest(write, disks[i++ & 63], mode);
        benchmark::DoNotOptimize(d);
    }
}
BENCHMARK(BM_DecideWrite);

void BM_DecideGetMode(benchmark::State& state) {
    DriveState* disks = Disks();
    DiskRequest get = {};
    get.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    get.IoControlCode = IOCTL_WP_GET_MODE;
    get.OutputLength = WP_WORD_BYTES;
    uint32_t mode = WP_MODE_ON;
    unsigned i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mode);
        RequestDecision d = DecideRequest(get, disks[i++ & 63], mode);
        benchmark::DoNotOptimize(d);
    }
}
BENCHMARK(BM_DecideGetMode);

} // namespace

BENCHMARK_MAIN();
