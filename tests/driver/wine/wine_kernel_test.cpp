// The shipped quilldrv.sys in Wine's kernel: the PnP manager loads it for disks
// of the Disk Drive class that the test bus plugs in, and each scenario sends
// requests to the top of the stacks as a program or a kernel caller would.
#include "disk_rig.h"

#include "closer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr LONG kSuccess = 0;
constexpr LONG kAccessDenied = static_cast<LONG>(0xC0000022);
constexpr LONG kMediaWriteProtected = static_cast<LONG>(0xC00000A2);
constexpr LONG kInvalidParameter = static_cast<LONG>(0xC000000D);
constexpr LONG kInvalidDeviceRequest = static_cast<LONG>(0xC0000010);
constexpr LONG kDeviceNotReady = static_cast<LONG>(0xC00000A3); // the test disk's failed start

constexpr uint32_t kIoctlDiskIsWritable = 0x00070024;
constexpr uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;
constexpr uint32_t kIoctlProbe = 0x0022200C;
constexpr uint32_t kIoctlDriveUnprotect = 0x00222018;
constexpr uint32_t kIoctlDriveProtect = 0x0022201C;
constexpr uint32_t kIoctlSetMode = 0x00222020;
constexpr uint32_t kIoctlGetMode = 0x00222024;
constexpr uint32_t kModeOn = 0x3D5A92E6;
constexpr uint32_t kModeOff = 0x71C4B80D;
constexpr uint32_t kUntouched = 0xA5A5A5A5; // in the reply buffer when nothing is written

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

// Marker data of `length` bytes with `code` written at byte 44.
Marker MarkerOf(size_t length, const char* code, size_t codeBytes, DWORD type = REG_BINARY) {
    Marker marker;
    marker.present = true;
    marker.type = type;
    marker.bytes.assign(length, '\x7F');
    for (size_t i = 0; i < codeBytes && 44 + i < length; ++i) {
        marker.bytes[44 + i] = code[i];
    }
    return marker;
}

// A code and its terminating zero byte.
Marker MarkerWithCode(size_t length, const char* code, DWORD type = REG_BINARY) {
    return MarkerOf(length, code, std::strlen(code) + 1, type);
}

class KernelStack : public testing::Test {
protected:
    static void SetUpTestSuite() {
        RigDrivers drivers;
        ready_ = PrepareDrivers(QG_X64_DRIVER, QG_TESTBUS_DRIVER, false, drivers, why_);
        if (ready_) {
            UnplugEverything();
        }
    }

    void SetUp() override { ASSERT_TRUE(ready_) << why_; }

    // Protection comes back on for every disk, and every disk goes away again.
    void TearDown() override {
        for (const TestDisk& disk : plugged_) {
            if (disk.withFilter && DiskState(disk.slot).Present) {
                KernelControl(disk.slot, kIoctlSetMode, 4, 0, kModeOn);
                break;
            }
        }
        for (const TestDisk& disk : plugged_) {
            if (DiskState(disk.slot).Present) {
                std::string why;
                EXPECT_TRUE(UnplugDisk(disk.slot, why)) << why;
            }
            DeleteDiskInstance(disk.instance);
        }
    }

    static TestDisk Disk(uint32_t slot, uint32_t busType, const wchar_t* instance) {
        TestDisk disk;
        disk.slot = slot;
        disk.busType = busType;
        disk.instance = instance;
        return disk;
    }

    // Plugs the disk in and waits until its stack is started.
    bool Plug(const TestDisk& disk) {
        std::string why;
        plugged_.push_back(disk);
        const bool ok = PlugDisk(disk, why);
        EXPECT_TRUE(ok) << why;
        return ok;
    }

    bool Unplug(uint32_t slot) {
        std::string why;
        const bool ok = UnplugDisk(slot, why);
        EXPECT_TRUE(ok) << why;
        return ok;
    }

    static LONG Write(uint32_t slot, DWORD length = 512) {
        HandleCloser disk(OpenDisk(slot, kReadWrite));
        EXPECT_TRUE(disk) << "cannot open disk " << slot;
        return disk ? WriteDisk(disk.Get(), length).status : -1;
    }

    static IoResult UserControl(uint32_t slot, uint32_t code, DWORD in, DWORD out,
                                uint32_t word = kUntouched, DWORD access = kReadWrite) {
        HandleCloser disk(OpenDisk(slot, access));
        EXPECT_TRUE(disk) << "cannot open disk " << slot;
        return disk ? ControlDisk(disk.Get(), code, in, out, word) : IoResult{};
    }

    static inline bool ready_ = false;
    static inline std::string why_;
    std::vector<TestDisk> plugged_;
};

// ---------------------------------------------------------------------------
// Which disks are protected
// ---------------------------------------------------------------------------

// Whether the medium is removable plays no part.
TEST_F(KernelStack, UnmarkedUsbDiskRefusesWritesAndReportsWriteProtected) {
    for (const bool fixedMedia : {false, true}) {
        SCOPED_TRACE(fixedMedia ? "USB disk with fixed media" : "USB flash drive");
        TestDisk usb = Disk(0, kBusTypeUsb, L"usb_unmarked");
        usb.fixedMedia = fixedMedia;
        ASSERT_TRUE(Plug(usb));
        EXPECT_EQ(DiskState(0).StorageQueries, 1u) << "the bus is learned at start";

        HandleCloser disk(OpenDisk(0, kReadWrite));
        ASSERT_TRUE(disk);
        EXPECT_EQ(WriteDisk(disk.Get(), 512).status, kAccessDenied);
        EXPECT_EQ(WriteDisk(disk.Get(), 0).status, kAccessDenied) << "zero-length writes too";
        unsigned char data[512];
        const IoResult read = ReadDisk(disk.Get(), 512, data);
        EXPECT_EQ(read.status, kSuccess);
        EXPECT_EQ(read.information, 512u);
        EXPECT_EQ(ControlDisk(disk.Get(), kIoctlDiskIsWritable, 0, 0).status, kMediaWriteProtected);
        disk.Reset();

        const QgDiskState state = DiskState(0);
        EXPECT_EQ(state.Writes, 0u) << "refused writes never reach the disk";
        EXPECT_EQ(state.Reads, 1u);
        EXPECT_EQ(state.WritableQueries, 0u) << "answered by the filter";
        ASSERT_TRUE(Unplug(0));
    }
}

TEST_F(KernelStack, DisksOnOtherBusesAreNeverTouched) {
    struct Case {
        uint32_t busType;
        const wchar_t* instance;
    };
    const Case cases[] = {{kBusTypeSata, L"sata"}, {kBusTypeScsi, L"scsi"}, {12, L"sd_card"}};
    uint32_t slot = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "bus type " << c.busType);
        ASSERT_TRUE(Plug(Disk(slot, c.busType, c.instance)));
        HandleCloser disk(OpenDisk(slot, kReadWrite));
        ASSERT_TRUE(disk);
        EXPECT_EQ(WriteDisk(disk.Get(), 512, 0x3C).status, kSuccess);
        EXPECT_EQ(WriteDisk(disk.Get(), 0).status, kSuccess);
        unsigned char data[512] = {};
        EXPECT_EQ(ReadDisk(disk.Get(), 512, data).status, kSuccess);
        EXPECT_EQ(data[0], 0x3C) << "the written bytes reached the medium";
        EXPECT_EQ(ControlDisk(disk.Get(), kIoctlDiskIsWritable, 0, 0).status, kSuccess);
        EXPECT_EQ(DiskState(slot).WritableQueries, 1u) << "the disk answered the query";
        ++slot;
    }
}

// Each marker on a USB disk: exempt disks take writes, the others refuse them.
TEST_F(KernelStack, ExemptionMarkerEdgeCases) {
    Marker noZero = MarkerOf(64, "KevAmbAX", 8); // "KevAmbA", then byte 51 is no zero
    Marker wide = MarkerOf(64, "K\0e\0v\0C\0e\0l\0B\0\0", 16);
    struct Case {
        const char* what;
        Marker marker;
        bool exempt;
    };
    const Case cases[] = {
        {"64 bytes, row 7 and two bytes after its zero", MarkerOf(64, "KevCelB\0zz", 10), true},
        {"63 bytes with a valid code", MarkerWithCode(63, "KevCelB"), false},
        {"row 7 in lower case", MarkerWithCode(64, "kevcelb"), false},
        {"the 8-character row 2", MarkerWithCode(64, "KevAmbAA"), true},
        {"row 1 without its zero byte", noZero, false},
        {"204 bytes, the most that is read", MarkerWithCode(204, "KevDunBB"), true},
        {"205 bytes with a valid code", MarkerWithCode(205, "KevCelB"), false},
        {"typed REG_SZ, bytes carry a code", MarkerWithCode(64, "KevAmbB", REG_SZ), true},
        {"the code in wide characters", wide, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDisk disk = Disk(0, kBusTypeUsb, L"usb_marked");
        disk.marker = c.marker;
        ASSERT_TRUE(Plug(disk));
        EXPECT_EQ(Write(0), c.exempt ? kSuccess : kAccessDenied);
        EXPECT_EQ(UserControl(0, kIoctlDiskIsWritable, 0, 0).status,
                  c.exempt ? kSuccess : kMediaWriteProtected);
        ASSERT_TRUE(Unplug(0));
    }
}

TEST_F(KernelStack, EveryListedProductCodeExemptsItsDisk) {
    const char* codes[] = {"KevAmbA",  "KevAmbAA", "KevAmbB",  "KevAmbBB", "KevCelA",
                           "KevCelAA", "KevCelB",  "KevCelBB", "KevDunBB"};
    for (const char* code : codes) {
        SCOPED_TRACE(code);
        TestDisk disk = Disk(0, kBusTypeUsb, L"usb_listed");
        disk.marker = MarkerWithCode(100, code);
        ASSERT_TRUE(Plug(disk));
        EXPECT_EQ(Write(0), kSuccess);
        ASSERT_TRUE(Unplug(0));
    }
}

TEST_F(KernelStack, ExemptDiskIgnoresThePerDiskSwitch) {
    TestDisk disk = Disk(0, kBusTypeUsb, L"usb_exempt");
    disk.marker = MarkerWithCode(64, "KevCelA");
    ASSERT_TRUE(Plug(disk));
    QgKernelResult r = KernelControl(0, kIoctlDriveProtect, 0, 4);
    EXPECT_EQ(r.Status, kSuccess);
    EXPECT_EQ(r.Word, kModeOn);
    EXPECT_EQ(Write(0), kSuccess) << "protect leaves an exempt disk alone";
    r = KernelControl(0, kIoctlDriveUnprotect, 0, 4);
    EXPECT_EQ(r.Status, kSuccess);
    EXPECT_EQ(r.Word, kModeOn);
}

// ---------------------------------------------------------------------------
// quillctl, the administrator's tool, on the same disks
// ---------------------------------------------------------------------------

// One disk of each kind quillctl tells apart, numbered 10 to 15 by the bus.
TEST_F(KernelStack, QuillctlTellsWhatHappensToWritesOnEachDisk) {
    TestDisk usb = Disk(0, kBusTypeUsb, L"ctl_usb");
    usb.vendor = "Vendor \"A\"";
    usb.product = "Flash";
    TestDisk fixed = Disk(1, kBusTypeUsb, L"ctl_usb_fixed");
    fixed.fixedMedia = true;
    fixed.vendor = "";
    TestDisk exempt = Disk(2, kBusTypeUsb, L"ctl_exempt");
    exempt.marker = MarkerWithCode(64, "KevCelA");
    TestDisk sata = Disk(3, kBusTypeSata, L"ctl_sata");
    TestDisk bare = Disk(4, kBusTypeUsb, L"ctl_no_filter");
    bare.withFilter = false;
    TestDisk locked = Disk(5, kBusTypeSata, L"ctl_medium_locked");
    locked.writeProtected = true;
    for (const TestDisk& disk : {usb, fixed, exempt, sata, bare, locked}) {
        ASSERT_TRUE(Plug(disk));
    }

    std::string out;
    ASSERT_EQ(RunQuillctl(L"status --json", out), 0) << out;
    EXPECT_EQ(out.rfind("{\"driver\": \"running\", \"mode\": \"on\", \"disks\": [", 0), 0u) << out;
    EXPECT_EQ(out.substr(out.size() - 3), "]}\n");
    const char* const disks[] = {
        R"({"number": 10, "bus": "USB", "vendor": "Vendor \"A\"", "product": "Flash", "size": 4096, "filter": true, "writes": "blocked"})",
        R"({"number": 11, "bus": "USB", "vendor": "", "product": "Simulated Disk", "size": 4096, "filter": true, "writes": "blocked"})",
        R"({"number": 12, "bus": "USB", "vendor": "QgTest", "product": "Simulated Disk", "size": 4096, "filter": true, "writes": "exempt"})",
        R"({"number": 13, "bus": "SATA", "vendor": "QgTest", "product": "Simulated Disk", "size": 4096, "filter": true, "writes": "not covered"})",
        R"({"number": 14, "bus": "USB", "vendor": "QgTest", "product": "Simulated Disk", "size": 4096, "filter": false, "writes": "no filter"})",
        R"({"number": 15, "bus": "SATA", "vendor": "QgTest", "product": "Simulated Disk", "size": 4096, "filter": true, "writes": "write-protected by the disk"})",
    };
    for (const char* disk : disks) {
        EXPECT_NE(out.find(disk), std::string::npos) << disk << "\nin " << out;
    }

    ASSERT_EQ(RunQuillctl(L"STATUS", out), 0) << out;
    EXPECT_NE(out.find("Disk 10: USB, 4.0 KB, Vendor \"A\" Flash: writes blocked\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("QuillGuard driver: running\r\nProtection for the whole PC: on\r\n"),
              std::string::npos)
        << out;

    // Nothing to switch on these: each says why and changes nothing.
    struct Refusal {
        const wchar_t* arguments;
        int exitCode;
        const char* says;
    };
    for (const Refusal& r :
         {Refusal{L"unprotect 12", 0, "exemption marker"}, Refusal{L"protect 13", 0, "not on USB"},
          Refusal{L"unprotect 14", 3, "no QuillGuard filter"},
          Refusal{L"unprotect 99", 2, "no disk 99"}, Refusal{L"unprotect 1x", 1, "Usage:"},
          Refusal{L"status --xml", 1, "Usage:"}, Refusal{L"", 1, "Usage:"}}) {
        SCOPED_TRACE(testing::Message() << "quillctl " << r.arguments);
        EXPECT_EQ(RunQuillctl(r.arguments, out), r.exitCode);
        EXPECT_NE(out.find(r.says), std::string::npos) << out;
    }
    EXPECT_EQ(Write(0), kAccessDenied);
    EXPECT_EQ(UserControl(0, kIoctlGetMode, 0, 4, kUntouched, 0).word, kModeOn);
}

// Each switch changes what a write to the USB disk gets, and only that disk's.
TEST_F(KernelStack, QuillctlSwitchesProtectionForOneDiskAndForThePc) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"ctl_switch_a")));
    ASSERT_TRUE(Plug(Disk(1, kBusTypeUsb, L"ctl_switch_b")));
    struct Step {
        const wchar_t* arguments;
        LONG first, second; // what a write to each disk gets afterwards
    };
    for (const Step& s :
         {Step{L"unprotect 10", kSuccess, kAccessDenied},
          Step{L"Protect 10", kAccessDenied, kAccessDenied}, Step{L"off", kSuccess, kSuccess},
          Step{L"on", kAccessDenied, kAccessDenied}}) {
        SCOPED_TRACE(testing::Message() << "quillctl " << s.arguments);
        std::string out;
        EXPECT_EQ(RunQuillctl(s.arguments, out), 0) << out;
        EXPECT_EQ(Write(0), s.first);
        EXPECT_EQ(Write(1), s.second);
    }
}

// ---------------------------------------------------------------------------
// The control interface
// ---------------------------------------------------------------------------

TEST_F(KernelStack, ControlCodesCheckLengthsAndWords) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_control")));
    struct Case {
        uint32_t code;
        uint32_t in, out, word;
        LONG status;
        uint32_t information, reply;
    };
    const Case cases[] = {
        {kIoctlProbe, 0, 4, kUntouched, kSuccess, 4, kModeOn},
        {kIoctlProbe, 0, 8, kUntouched, kInvalidParameter, 0, kUntouched},
        {kIoctlProbe, 4, 0, kUntouched, kInvalidParameter, 0, kUntouched},
        {kIoctlGetMode, 0, 4, kUntouched, kSuccess, 4, kModeOn},
        {kIoctlGetMode, 0, 3, kUntouched, kInvalidParameter, 0, kUntouched},
        {kIoctlDriveUnprotect, 0, 8, kUntouched, kInvalidParameter, 0, kUntouched},
        {kIoctlDriveUnprotect, 4, 0, kModeOff, kInvalidParameter, 0, kModeOff},
        {kIoctlDriveProtect, 0, 2, kUntouched, kInvalidParameter, 0, kUntouched},
        {kIoctlSetMode, 4, 0, 0, kInvalidParameter, 0, 0},
        {kIoctlSetMode, 4, 0, 0x12345678, kInvalidParameter, 0, 0x12345678},
        {kIoctlSetMode, 8, 0, kModeOff, kInvalidParameter, 0, kModeOff},
        {kIoctlSetMode, 3, 0, kModeOff, kInvalidParameter, 0, kModeOff},
        {kIoctlSetMode, 0, 4, kModeOff, kInvalidParameter, 0, kModeOff},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "code 0x" << c.code << std::dec << ", in " << c.in << ", out "
                     << c.out << ", word 0x" << std::hex << c.word);
        const QgKernelResult r = KernelControl(0, c.code, c.in, c.out, c.word);
        EXPECT_EQ(r.Status, c.status);
        EXPECT_EQ(r.Information, c.information);
        EXPECT_EQ(r.Word, c.reply);
    }
    EXPECT_EQ(Write(0), kAccessDenied) << "no refused request changed anything";
    EXPECT_EQ(KernelControl(0, kIoctlGetMode, 0, 4).Word, kModeOn);
    EXPECT_EQ(DiskState(0).OtherControls, 0u) << "control codes never reach the disk";
}

TEST_F(KernelStack, OtherControlCodesPassDownUnchanged) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_other")));
    EXPECT_EQ(UserControl(0, kIoctlDiskGetDriveGeometry, 0, 8).status, kInvalidDeviceRequest);
    EXPECT_EQ(DiskState(0).OtherControls, 1u);
}

TEST_F(KernelStack, UnprotectingOneDiskLeavesTheOthersProtected) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_a")));
    ASSERT_TRUE(Plug(Disk(1, kBusTypeUsb, L"usb_b")));
    QgKernelResult r = KernelControl(0, kIoctlDriveUnprotect, 0, 4);
    EXPECT_EQ(r.Status, kSuccess);
    EXPECT_EQ(r.Word, kModeOn);
    EXPECT_EQ(r.Information, 4u);
    EXPECT_EQ(Write(0), kSuccess);
    EXPECT_EQ(UserControl(0, kIoctlDiskIsWritable, 0, 0).status, kSuccess);
    EXPECT_EQ(Write(1), kAccessDenied);

    r = KernelControl(0, kIoctlDriveProtect, 0, 4);
    EXPECT_EQ(r.Status, kSuccess);
    EXPECT_EQ(r.Word, kModeOn);
    EXPECT_EQ(Write(0), kAccessDenied);
    EXPECT_EQ(Write(1), kAccessDenied);
}

TEST_F(KernelStack, ModeOffFreesEveryDiskAndModeOnRestoresThem) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_a")));
    ASSERT_TRUE(Plug(Disk(1, kBusTypeUsb, L"usb_b")));
    ASSERT_TRUE(Plug(Disk(2, kBusTypeSata, L"sata")));
    QgKernelResult r = KernelControl(2, kIoctlSetMode, 4, 0, kModeOff);
    EXPECT_EQ(r.Status, kSuccess) << "sent to any disk, the SATA one included";
    EXPECT_EQ(Write(0), kSuccess);
    EXPECT_EQ(Write(1), kSuccess);
    const IoResult mode = UserControl(1, kIoctlGetMode, 0, 4);
    EXPECT_EQ(mode.status, kSuccess);
    EXPECT_EQ(mode.word, kModeOff);
    EXPECT_EQ(UserControl(0, kIoctlProbe, 0, 4).word, kModeOn) << "the probe always answers on";

    r = KernelControl(0, kIoctlSetMode, 4, 0, kModeOn);
    EXPECT_EQ(r.Status, kSuccess);
    EXPECT_EQ(Write(0), kAccessDenied);
    EXPECT_EQ(Write(1), kAccessDenied);
    EXPECT_EQ(Write(2), kSuccess);
}

TEST_F(KernelStack, ModeOnDoesNotOverrideAnUnprotectedDisk) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_a")));
    ASSERT_TRUE(Plug(Disk(1, kBusTypeUsb, L"usb_b")));
    EXPECT_EQ(KernelControl(0, kIoctlDriveUnprotect, 0, 4).Status, kSuccess);
    EXPECT_EQ(KernelControl(1, kIoctlSetMode, 4, 0, kModeOff).Status, kSuccess);
    EXPECT_EQ(KernelControl(1, kIoctlSetMode, 4, 0, kModeOn).Status, kSuccess);
    EXPECT_EQ(Write(0), kSuccess) << "its own switch is still off";
    EXPECT_EQ(Write(1), kAccessDenied);
}

// As on Windows, only a handle that grants write access may switch protection (the
// rig marks it, and its token stand-in is an administrator's); any handle may ask.
// Who else may switch, by token and by the way the request came, is the simulated
// I/O manager's to test: Wine's token queries cannot tell a standard user.
TEST_F(KernelStack, OnlyAWriteHandleSwitchesProtection) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_user")));
    HandleCloser writer(OpenDisk(0, kReadWrite));
    ASSERT_TRUE(writer);
    for (const DWORD access : {DWORD{0}, DWORD{GENERIC_READ}}) {
        SCOPED_TRACE(testing::Message() << "access 0x" << std::hex << access);
        EXPECT_EQ(UserControl(0, kIoctlSetMode, 4, 0, kModeOff, access).status, kAccessDenied);
        EXPECT_EQ(UserControl(0, kIoctlDriveUnprotect, 0, 4, kUntouched, access).status,
                  kAccessDenied);
        EXPECT_EQ(UserControl(0, kIoctlDriveProtect, 0, 4, kUntouched, access).status,
                  kAccessDenied);
        const IoResult probe = UserControl(0, kIoctlProbe, 0, 4, kUntouched, access);
        EXPECT_EQ(probe.status, kSuccess);
        EXPECT_EQ(probe.information, 4u);
        EXPECT_EQ(probe.word, kModeOn);
        const IoResult mode = UserControl(0, kIoctlGetMode, 0, 4, kUntouched, access);
        EXPECT_EQ(mode.status, kSuccess);
        EXPECT_EQ(mode.word, kModeOn);
    }
    EXPECT_EQ(Write(0), kAccessDenied);

    IoResult r = ControlDisk(writer.Get(), kIoctlDriveUnprotect, 0, 4);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.word, kModeOn);
    EXPECT_EQ(Write(0), kSuccess);
    EXPECT_EQ(ControlDisk(writer.Get(), kIoctlDriveProtect, 0, 4).status, kSuccess);
    EXPECT_EQ(Write(0), kAccessDenied);
    EXPECT_EQ(ControlDisk(writer.Get(), kIoctlSetMode, 4, 0, kModeOff).status, kSuccess);
    EXPECT_EQ(UserControl(0, kIoctlGetMode, 0, 4, kUntouched, 0).word, kModeOff);
    EXPECT_EQ(Write(0), kSuccess);
    EXPECT_EQ(ControlDisk(writer.Get(), kIoctlSetMode, 4, 0, kModeOn).status, kSuccess);
    EXPECT_EQ(Write(0), kAccessDenied);
}

// ---------------------------------------------------------------------------
// The life of a filter device
// ---------------------------------------------------------------------------

TEST_F(KernelStack, UnplugRemovesTheFilterAndReplugStartsAfresh) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_moving")));
    EXPECT_EQ(QuilldrvDevices(), 1);
    EXPECT_EQ(KernelControl(0, kIoctlDriveUnprotect, 0, 4).Status, kSuccess);
    ASSERT_TRUE(Unplug(0));
    QgDiskState state = DiskState(0);
    EXPECT_EQ(state.SurpriseRemovals, 1u);
    EXPECT_EQ(state.Removals, 1u);
    EXPECT_EQ(QuilldrvDevices(), 0) << "the filter device is deleted with its disk";
    EXPECT_FALSE(HandleCloser(OpenDisk(0, kReadWrite)));

    // The same device instance, now on another bus: nothing of the old filter stays.
    ASSERT_TRUE(Plug(Disk(0, kBusTypeSata, L"usb_moving")));
    EXPECT_EQ(Write(0), kSuccess);
    ASSERT_TRUE(Unplug(0));
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_moving")));
    EXPECT_EQ(Write(0), kAccessDenied) << "a new filter device starts protected";
}

TEST_F(KernelStack, UsbDiskWhoseStorageQueryFailsIsNotBlocked) {
    TestDisk disk = Disk(0, kBusTypeUsb, L"usb_query_fails");
    disk.failStorageQuery = true;
    ASSERT_TRUE(Plug(disk));
    EXPECT_EQ(DiskState(0).StorageQueries, 1u);
    EXPECT_EQ(Write(0), kSuccess);
    EXPECT_EQ(UserControl(0, kIoctlDiskIsWritable, 0, 0).status, kSuccess);
}

TEST_F(KernelStack, UsbDiskWhoseStartFailsIsNotBlocked) {
    TestDisk disk = Disk(0, kBusTypeUsb, L"usb_start_fails");
    disk.failStart = true;
    ASSERT_TRUE(Plug(disk));
    const QgDiskState state = DiskState(0);
    EXPECT_EQ(state.Starts, 1u);
    EXPECT_EQ(state.StorageQueries, 0u) << "no query after a failed start";
    EXPECT_EQ(Write(0), kSuccess);
}

TEST_F(KernelStack, StopThenStartQueriesTheBusAgain) {
    TestDisk disk = Disk(0, kBusTypeSata, L"sata_then_usb");
    ASSERT_TRUE(Plug(disk));
    EXPECT_EQ(Write(0), kSuccess);
    disk.busType = kBusTypeUsb;
    ASSERT_TRUE(ChangeDisk(disk));
    EXPECT_EQ(Write(0), kSuccess) << "the bus is learned at start only";

    EXPECT_EQ(StopAndStart(0).Status, kSuccess);
    const QgDiskState state = DiskState(0);
    EXPECT_EQ(state.Stops, 1u);
    EXPECT_EQ(state.Starts, 2u);
    EXPECT_EQ(state.StorageQueries, 2u);
    EXPECT_EQ(Write(0), kAccessDenied);
}

TEST_F(KernelStack, RestartWhoseStorageQueryFailsKeepsTheBusLearnedBefore) {
    TestDisk disk = Disk(0, kBusTypeUsb, L"usb_query_fails_later");
    ASSERT_TRUE(Plug(disk));
    disk.busType = kBusTypeSata;
    disk.failStorageQuery = true;
    ASSERT_TRUE(ChangeDisk(disk));
    EXPECT_EQ(StopAndStart(0).Status, kSuccess) << "a failed query does not fail the start";
    EXPECT_EQ(DiskState(0).StorageQueries, 2u);
    EXPECT_EQ(Write(0), kAccessDenied);
}

TEST_F(KernelStack, RestartThatFailsReachesTheSenderAndChangesNothing) {
    TestDisk disk = Disk(0, kBusTypeUsb, L"usb_restart_fails");
    ASSERT_TRUE(Plug(disk));
    disk.busType = kBusTypeSata;
    disk.failStart = true;
    ASSERT_TRUE(ChangeDisk(disk));
    EXPECT_EQ(StopAndStart(0).Status, kDeviceNotReady);
    EXPECT_EQ(DiskState(0).StorageQueries, 1u) << "no query after a failed start";
    EXPECT_EQ(Write(0), kAccessDenied);
}

TEST_F(KernelStack, InjectedPowerRequestPassesDown) {
    ASSERT_TRUE(Plug(Disk(0, kBusTypeUsb, L"usb_power")));
    EXPECT_EQ(PowerUp(0).Status, kSuccess);
    EXPECT_EQ(DiskState(0).Power, 1u);
    EXPECT_EQ(Write(0), kAccessDenied);
}

} // namespace
