// The rig the Windows tests stand on: each would fail in confusing ways without it.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

namespace {

TEST(WineRig, ProgramsRunWithAdministratorRights) {
    EXPECT_TRUE(IsUserAnAdmin());
}

TEST(WineRig, PrefixUsesTheHeadlessGraphicsDriver) {
    wchar_t driver[32] = {};
    DWORD bytes = sizeof driver;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", L"Graphics",
                           RRF_RT_REG_SZ, nullptr, driver, &bytes),
              ERROR_SUCCESS);
    EXPECT_STREQ(driver, L"null");
}

TEST(WineRig, MachineRegistryIsWritable) {
    const wchar_t* path = L"Software\\QuillGuardRigTest";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const DWORD written = 0x3D5A92E6;
    EXPECT_EQ(RegSetValueExW(key, L"Word", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&written),
                             sizeof written),
              ERROR_SUCCESS);
    DWORD read = 0, bytes = sizeof read;
    EXPECT_EQ(RegGetValueW(key, nullptr, L"Word", RRF_RT_REG_DWORD, nullptr, &read, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(read, written);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path), ERROR_SUCCESS);
}

// A message box is modal; a second thread finds it by its caption and answers it,
// the way the scenario tests will drive the programs' dialogs.
DWORD WINAPI AnswerBox(void*) {
    for (int tries = 0; tries < 500; ++tries) {
        HWND box = FindWindowW(L"#32770", L"QuillGuard rig");
        if (box != nullptr) {
            PostMessageW(box, WM_COMMAND, IDNO, 0);
            return 1;
        }
        Sleep(10);
    }
    return 0;
}

TEST(WineRig, MessageBoxesCanBeAnsweredHeadless) {
    HANDLE answerer = CreateThread(nullptr, 0, AnswerBox, nullptr, 0, nullptr);
    ASSERT_NE(answerer, nullptr);
    const int answer = MessageBoxW(nullptr, L"Answer me", L"QuillGuard rig", MB_YESNO);
    WaitForSingleObject(answerer, 10000);
    DWORD found = 0;
    GetExitCodeThread(answerer, &found);
    CloseHandle(answerer);
    EXPECT_EQ(found, 1u) << "no message box with the caption appeared within 5 s";
    EXPECT_EQ(answer, IDNO);
}

} // namespace
