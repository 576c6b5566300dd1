// Setup's entry on a PC whose Windows volume lies on a USB disk: a box, and nothing
// unpacked or installed. Wine answers no such thing (its volumes report no disk
// extents), so the entry runs in this process with the disk queries answered by
// the test through this program's DeviceIoControl.
#include "setup.h"
#include "setup_support.h"
#include "setup_texts.h"
#include "wizard_driver.h"

#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

STORAGE_BUS_TYPE AnsweredBus = BusTypeUsb;

// Disk 0 holds the Windows volume, on the bus the test chose.
BOOL WINAPI AnsweringDeviceIoControl(HANDLE, DWORD code, void*, DWORD, void* out, DWORD outSize,
                                     DWORD* returned, OVERLAPPED*) {
    if (code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS && outSize >= sizeof(VOLUME_DISK_EXTENTS)) {
        auto* extents = static_cast<VOLUME_DISK_EXTENTS*>(out);
        *extents = {};
        extents->NumberOfDiskExtents = 1;
        *returned = sizeof *extents;
        return TRUE;
    }
    if (code == IOCTL_STORAGE_QUERY_PROPERTY && outSize >= sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
        auto* descriptor = static_cast<STORAGE_DEVICE_DESCRIPTOR*>(out);
        *descriptor = {};
        descriptor->Version = descriptor->Size = sizeof *descriptor;
        descriptor->BusType = AnsweredBus;
        *returned = sizeof *descriptor;
        return TRUE;
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

// Setup's entry reads the command line: this test program's own would be no setup's.
LPWSTR WINAPI SetupCommandLine() {
    static wchar_t line[] = L"QuillGuardSetup.exe";
    return line;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// IsWow64Process2 as an x64 program hears it on the machine the test chose.
USHORT AnsweredNativeMachine = IMAGE_FILE_MACHINE_ARM64;
BOOL WINAPI AnsweringIsWow64Process2(HANDLE, USHORT* process, USHORT* native) {
    *process = IMAGE_FILE_MACHINE_UNKNOWN;
    *native = AnsweredNativeMachine;
    return TRUE;
}
using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressFn RealGetProcAddress;
FARPROC WINAPI AnsweringGetProcAddress(HMODULE module, LPCSTR name) {
    return lstrcmpA(name, "IsWow64Process2") == 0
               ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&AnsweringIsWow64Process2))
               : RealGetProcAddress(module, name);
}

// On Arm64, GetNativeSystemInfo tells an emulated x64 program that the machine is
// x64; the native machine decides.
TEST(SystemDisk, AnX64ProgramEmulatedOnArm64IsNotOnANativeX64) {
    RealGetProcAddress = reinterpret_cast<GetProcAddressFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "GetProcAddress")));
    OwnImportSwap swap("kernel32.dll", "GetProcAddress",
                       reinterpret_cast<void*>(&AnsweringGetProcAddress));
    ASSERT_TRUE(swap.Swapped());
    for (const USHORT machine :
         {USHORT{IMAGE_FILE_MACHINE_ARM64}, USHORT{IMAGE_FILE_MACHINE_AMD64}}) {
        AnsweredNativeMachine = machine;
        EXPECT_EQ(IsNativeX64(), machine == IMAGE_FILE_MACHINE_AMD64)
            << "machine 0x" << std::hex << machine;
    }
}

TEST(SystemDisk, AWindowsThatStartsFromUsbGetsABoxAndNothingIsInstalled) {
    MachineState machine;
    const auto tempBefore = Sorted(FolderEntries(TempFolder()));
    OwnImportSwap swap("kernel32.dll", "DeviceIoControl",
                       reinterpret_cast<void*>(&AnsweringDeviceIoControl));
    OwnImportSwap commandLine("kernel32.dll", "GetCommandLineW",
                              reinterpret_cast<void*>(&SetupCommandLine));
    ASSERT_TRUE(swap.Swapped() && commandLine.Swapped());
    AnsweredBus = BusTypeSata;
    EXPECT_FALSE(SystemDiskIsOnUsb()) << "only USB counts";
    AnsweredBus = BusTypeUsb;
    int result = -1;
    std::thread entry([&] { result = WinMain(GetModuleHandleW(nullptr), nullptr, nullptr, 0); });
    const BoxAnswer box = AnswerMessageBox(GetCurrentProcessId(), IDOK, 15000);
    entry.join();
    ASSERT_TRUE(box.found) << "no box within 15 s";
    EXPECT_EQ(box.text, Formatted(English().strings.at(129)));
    EXPECT_EQ(box.caption, kWizardTitle);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Sorted(FolderEntries(TempFolder())), tempBefore) << "something was unpacked";
    EXPECT_FALSE(PathExists(VendorFolder()));
    EXPECT_FALSE(DriverServiceExists());
}

} // namespace
