// The driver service against Wine's service control manager: a first install, an
// existing service kept but forced to demand start until the trial load, the
// driver file replaced, and failures that stop before the service.
#include "setup_support.h"

#include <gtest/gtest.h>

namespace {

// Whatever stands in the source folder is copied; these bytes mark it.
constexpr char kSourceDriver[] = "driver file of the source folder\n";

class InstallDriverServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        source_ = TempFolder() + L"\\qg-service-source";
        DeleteTree(source_);
        CreateDirectoryW(source_.c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(source_ + L"\\quilldrv.sys", kSourceDriver));
        WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(ListOf({u"PartMgr"})));
    }
    void TearDown() override { DeleteTree(source_); }

    unsigned Install() { return InstallDriverService(source_.c_str(), DRIVER_NAME); }

    MachineState machine_;
    std::wstring source_;
};

// The service's configuration as the service control manager reports it.
struct ServiceConfig {
    DWORD type = 0, start = 0, errorControl = 0;
    std::wstring displayName, group, binaryPath;
};

ServiceConfig QueryDriverService() {
    ServiceConfig config;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, DRIVER_NAME, SERVICE_QUERY_CONFIG);
    BYTE buffer[8192];
    DWORD needed = 0;
    auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    if (service != nullptr && QueryServiceConfigW(service, q, sizeof buffer, &needed)) {
        config = {q->dwServiceType,
                  q->dwStartType,
                  q->dwErrorControl,
                  q->lpDisplayName ? q->lpDisplayName : L"",
                  q->lpLoadOrderGroup ? q->lpLoadOrderGroup : L"",
                  q->lpBinaryPathName ? q->lpBinaryPathName : L""};
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return config;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// Nothing starts with Windows before the install's trial load has passed.
TEST_F(InstallDriverServiceTest, AFirstInstallRegistersADemandStartKernelDriver) {
    ASSERT_EQ(Install(), INSTALL_RESULT_OK);

    const ServiceConfig config = QueryDriverService();
    EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(Narrow(config.displayName), "Quillon Driver");
    EXPECT_EQ(Narrow(config.group), "PnP Filter");
    EXPECT_NE(Narrow(config.binaryPath).find("quilldrv.sys"), std::string::npos);

    EXPECT_EQ(ServiceKeyDword(L"ErrorControl"), 1u);
    EXPECT_EQ(ServiceKeyDword(L"Start"), 3u);
    EXPECT_EQ(ServiceKeyDword(L"Type"), 1u);
    EXPECT_EQ(ReadFileBytes(SystemDriverFile()), kSourceDriver);
    // The filter registration is the install worker's next step, not this one's.
    EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes, MultiSz(ListOf({u"PartMgr"})).bytes);
}

TEST_F(InstallDriverServiceTest, AnExistingServiceIsKeptButForcedToDemandStart) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        CreateServiceW(manager, DRIVER_NAME, L"Earlier Driver", SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START, SERVICE_ERROR_IGNORE,
                       L"C:\\earlier\\quilldrv.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    ASSERT_EQ(Install(), INSTALL_RESULT_OK);
    EXPECT_EQ(Narrow(QueryDriverService().displayName), "Earlier Driver") << "re-created";
    EXPECT_EQ(ServiceKeyDword(L"Start"), 3u);
    EXPECT_EQ(ServiceKeyDword(L"ErrorControl"), 1u);
    EXPECT_EQ(ServiceKeyDword(L"Type"), 1u);
}

TEST_F(InstallDriverServiceTest, AnExistingDriverFileIsReplaced) {
    ASSERT_TRUE(WriteFileBytes(SystemDriverFile(), "an earlier, longer driver file........"));
    ASSERT_EQ(Install(), INSTALL_RESULT_OK);
    EXPECT_EQ(ReadFileBytes(SystemDriverFile()), kSourceDriver);
}

TEST_F(InstallDriverServiceTest, ACopyFailureCreatesNoServiceAndLeavesTheFiltersAlone) {
    struct Case {
        const char* what;
        void (*prepare)(const std::wstring& source);
    };
    const Case cases[] = {
        {"no driver in the source folder",
         [](const std::wstring& source) { DeleteFileW((source + L"\\quilldrv.sys").c_str()); }},
        {"a folder where the system's driver file goes",
         [](const std::wstring&) { CreateDirectoryW(SystemDriverFile().c_str(), nullptr); }},
    };
    for (const Case& c : cases) {
        MachineState::Reset();
        ASSERT_TRUE(WriteFileBytes(source_ + L"\\quilldrv.sys", kSourceDriver));
        c.prepare(source_);
        EXPECT_EQ(Install(), INSTALL_RESULT_COPY_FAILED) << c.what;
        EXPECT_FALSE(DriverServiceExists()) << c.what;
        EXPECT_EQ(ReadValue(DISK_CLASS_KEY, UPPER_FILTERS).bytes,
                  MultiSz(ListOf({u"PartMgr"})).bytes)
            << c.what;
    }
}

TEST_F(InstallDriverServiceTest, ASourcePathPastItsBufferFailsTheCopyStep) {
    // source folder + "\quilldrv.sys" = 260 characters: one more than the buffer holds.
    const std::wstring folder = MakeFolderOfLength(source_ + L"\\deep", 260 - 13);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\quilldrv.sys", kSourceDriver));
    EXPECT_EQ(InstallDriverService(folder.c_str(), DRIVER_NAME), INSTALL_RESULT_COPY_FAILED);
    EXPECT_FALSE(DriverServiceExists());
}

} // namespace
