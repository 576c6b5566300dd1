// The real quilldrv.sys in Wine's kernel, shown rather than tested:
//   --demo   a write refused on a simulated USB disk and accepted on a SATA disk, then
//            quillctl's listing, and the USB disk unprotected and protected again
//   --bench  the cost of a ReadFile/WriteFile round trip with and without the filter
//   --security program|driver  what Wine's SeCaptureSubjectContext and SeTokenIsAdmin
//            return for a program's request or a driver's (quilldrv's sender check)
// Uses the quilldrv service an installed product registered when there is one.
#include "disk_rig.h"

#include "closer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr LONG kStatusSuccess = 0;

bool Prepare() {
    RigDrivers drivers;
    std::string why;
    if (!PrepareDrivers(QG_X64_DRIVER, QG_TESTBUS_DRIVER, true, drivers, why)) {
        std::printf("cannot prepare the drivers: %s\n", why.c_str());
        return false;
    }
    std::printf("quilldrv: %s %ls\n",
                drivers.usedInstalledQuilldrv ? "the installed service," : "the build's own copy,",
                drivers.quilldrvImage.c_str());
    UnplugEverything();
    return true;
}

bool Plug(const TestDisk& disk) {
    std::string why;
    if (!PlugDisk(disk, why)) {
        std::printf("cannot plug disk %u in: %s\n", disk.slot, why.c_str());
        return false;
    }
    return true;
}

void Unplug(const TestDisk& disk) {
    std::string why;
    if (!UnplugDisk(disk.slot, why)) {
        std::printf("cannot unplug disk %u: %s\n", disk.slot, why.c_str());
    }
    DeleteDiskInstance(disk.instance);
}

// Writes one sector through the whole stack and says what became of it.
bool ShowWrite(const char* label, uint32_t slot, bool expectRefused) {
    HandleCloser disk(OpenDisk(slot, GENERIC_READ | GENERIC_WRITE));
    if (!disk) {
        std::printf("  %s: cannot open the disk (error %lu)\n", label, GetLastError());
        return false;
    }
    const IoResult write = WriteDisk(disk.Get(), 512);
    const QgDiskState state = DiskState(slot);
    if (write.status == kStatusSuccess) {
        std::printf("  %-10s write of 512 bytes accepted: %u bytes written, %u write(s) reached "
                    "the disk\n",
                    label, static_cast<unsigned>(write.information), state.Writes);
    } else {
        std::printf("  %-10s write of 512 bytes refused: status 0x%08lX%s, %u write(s) reached "
                    "the disk\n",
                    label, static_cast<unsigned long>(write.status),
                    write.status == static_cast<LONG>(0xC0000022) ? " (access denied)" : "",
                    state.Writes);
    }
    return (write.status != kStatusSuccess) == expectRefused;
}

// Runs quillctl as an administrator would and shows what it printed.
bool ShowQuillctl(const std::wstring& arguments) {
    std::string output;
    const int code = RunQuillctl(arguments, output);
    std::printf("> quillctl %ls\n%s  (exit code %d)\n", arguments.c_str(), output.c_str(), code);
    return code == 0;
}

int Demo() {
    if (!Prepare()) {
        return 1;
    }
    TestDisk usb;
    usb.slot = 0;
    usb.busType = kBusTypeUsb;
    usb.instance = L"tour_usb";
    TestDisk sata;
    sata.slot = 1;
    sata.busType = kBusTypeSata;
    sata.instance = L"tour_sata";
    if (!Plug(usb) || !Plug(sata)) {
        return 1;
    }
    std::printf("quilldrv.sys in Wine's kernel, on two simulated disks:\n");
    bool shown = ShowWrite("USB disk:", usb.slot, true);
    shown = ShowWrite("SATA disk:", sata.slot, false) && shown;

    // The administrator's tool on the same disks: the USB disk is number 10.
    const std::wstring number = std::to_wstring(DiskNumberOf(usb.slot));
    shown = ShowQuillctl(L"status") && shown;
    shown = ShowQuillctl(L"unprotect " + number) && shown;
    shown = ShowWrite("USB disk:", usb.slot, false) && shown;
    shown = ShowQuillctl(L"status") && shown;
    shown = ShowQuillctl(L"protect " + number) && shown;
    shown = ShowWrite("USB disk:", usb.slot, true) && shown;
    Unplug(usb);
    Unplug(sata);
    return shown ? 0 : 1;
}

// Round trips per second of a 512-byte WriteFile followed by a ReadFile.
double RoundTripsPerSecond(uint32_t slot, int count) {
    HandleCloser disk(OpenDisk(slot, GENERIC_READ | GENERIC_WRITE));
    if (!disk) {
        return 0;
    }
    char sector[512];
    std::memset(sector, 0x5A, sizeof sector);
    DWORD done = 0;
    for (int i = 0; i < count / 10; ++i) { // warm-up
        WriteFile(disk.Get(), sector, sizeof sector, &done, nullptr);
        ReadFile(disk.Get(), sector, sizeof sector, &done, nullptr);
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        if (!WriteFile(disk.Get(), sector, sizeof sector, &done, nullptr) ||
            !ReadFile(disk.Get(), sector, sizeof sector, &done, nullptr)) {
            return 0;
        }
    }
    QueryPerformanceCounter(&end);
    return count * static_cast<double>(frequency.QuadPart) /
           static_cast<double>(end.QuadPart - start.QuadPart);
}

int Bench() {
    if (!Prepare()) {
        return 1;
    }
    TestDisk filtered;
    filtered.slot = 0;
    filtered.instance = L"bench_filtered";
    TestDisk bare;
    bare.slot = 1;
    bare.instance = L"bench_bare";
    bare.withFilter = false;
    if (!Plug(filtered) || !Plug(bare)) {
        return 1;
    }
    // Alternating rounds, best of each: the machine's load changes between rounds.
    constexpr int kRoundTrips = 1000, kRounds = 5;
    double with = 0, without = 0;
    for (int round = 0; round < kRounds; ++round) {
        with = std::max(with, RoundTripsPerSecond(filtered.slot, kRoundTrips));
        without = std::max(without, RoundTripsPerSecond(bare.slot, kRoundTrips));
    }
    std::printf("512-byte WriteFile + ReadFile round trip on a SATA disk in Wine's kernel "
                "(best of %d rounds of %d):\n",
                kRounds, kRoundTrips);
    std::printf("  with quilldrv:    %8.0f round trips/s, %7.1f us per request\n", with,
                with > 0 ? 1e6 / (2 * with) : 0.0);
    std::printf("  without quilldrv: %8.0f round trips/s, %7.1f us per request\n", without,
                without > 0 ? 1e6 / (2 * without) : 0.0);
    std::printf("  ratio with/without: %.2f\n", without > 0 ? with / without : 0.0);
    Unplug(filtered);
    Unplug(bare);
    return with > 0 && without > 0 ? 0 : 1;
}

// Asks once per session: in Wine 8 the first call ends the device host.
int Security(const std::wstring& via) {
    if (via != L"program" && via != L"driver") {
        std::printf("usage: wine_disk_tour --security program|driver\n");
        return 2;
    }
    if (!Prepare()) {
        return 1;
    }
    const bool viaDriver = via == L"driver";
    std::printf("SeCaptureSubjectContext and SeTokenIsAdmin for %s, in Wine's device host:\n",
                viaDriver ? "a driver's kernel-mode request" : "a test program's request");
    QgSecurityContext c = {};
    if (!ProbeSecurity(viaDriver, c)) {
        std::printf("  no answer (error %lu); the device host is %s\n", GetLastError(),
                    HandleCloser(
                        CreateFileW(QG_TESTBUS_USER_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr))
                        ? "still running"
                        : "gone");
        return 1;
    }
    std::printf("  client token %s, primary token %s, impersonation level %u, SeTokenIsAdmin %s\n",
                c.ClientToken ? "set" : "null", c.PrimaryToken ? "set" : "null",
                c.ImpersonationLevel, c.IsAdmin ? "TRUE" : "FALSE");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"--demo") {
        return Demo();
    }
    if (mode == L"--bench") {
        return Bench();
    }
    if (mode == L"--security") {
        return Security(argc > 2 ? argv[2] : L"");
    }
    std::printf("usage: wine_disk_tour --demo | --bench | --security program|driver\n");
    return 2;
}
