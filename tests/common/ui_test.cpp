// String-table texts and window centring in a real Wine session: the warning box
// for a missing string, the 1023-character limit, the shared buffer, and a real
// window placed on the desktop and on its owner.
#include "ui.h"

#include "../support/wine_support.h"

#include <gtest/gtest.h>

namespace {

// Strings of common_test.rc's string table.
constexpr UINT IDS_FIRST = 101;
constexpr UINT IDS_SECOND = 102;
constexpr UINT IDS_LONG = 103; // 1100 characters
constexpr UINT IDS_MISSING = 4000;

// Runs `call` on this thread while a second thread answers the box it shows.
template <typename Call> BoxSeen WithBoxAnswered(Call call) {
    BoxSeen seen;
    seen.ownerThread = GetCurrentThreadId();
    HANDLE answerer = CreateThread(nullptr, 0, AnswerBoxWithOk, &seen, 0, nullptr);
    call();
    WaitForSingleObject(answerer, 10000);
    CloseHandle(answerer);
    return seen;
}

std::wstring SystemText(DWORD error) {
    wchar_t text[1024] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0, text, 1024, nullptr);
    return text;
}

TEST(LoadResString, AMissingStringShowsTheWarningBoxAndGivesEmptyText) {
    const wchar_t* text = nullptr;
    const BoxSeen seen = WithBoxAnswered([&] { text = LoadResString(IDS_MISSING); });
    ASSERT_TRUE(seen.appeared) << "no message box appeared within 5 s";
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(seen.text, SystemText(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(seen.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_WARNING)))
        << "not the warning icon";
}

TEST(LoadResString, ALongTextIsCutToTheBufferLessItsNull) {
    const std::wstring text = LoadResString(IDS_LONG);
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_EQ(text.substr(0, 10), L"0123456789");

    wchar_t name[32];
    LoadResStringTo(IDS_LONG, name, 32);
    EXPECT_EQ(std::wstring(name).size(), 31u);
}

TEST(LoadResString, TwoCallsShareOneBufferHoldingTheSecondText) {
    const wchar_t* first = LoadResString(IDS_FIRST);
    EXPECT_STREQ(first, L"First text");
    const wchar_t* second = LoadResString(IDS_SECOND);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, L"Second text");
}

HWND MakeWindow(HWND owner, int x, int y, int width, int height) {
    return CreateWindowExW(0, L"STATIC", L"QuillGuard centring test", WS_POPUP, x, y, width, height,
                           owner, nullptr, nullptr, nullptr);
}

TEST(CenterWindow, PlacesAWindowWithoutOwnerInTheMiddleOfTheDesktop) {
    RECT desktop = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    for (int width : {300, 301}) {
        HWND window = MakeWindow(nullptr, 0, 0, width, 200);
        ASSERT_NE(window, nullptr);
        CenterWindow(window);
        RECT placed = {};
        GetWindowRect(window, &placed);
        EXPECT_EQ(placed.left, desktop.left + (desktop.right - desktop.left - width) / 2)
            << width << " px on " << desktop.right - desktop.left;
        EXPECT_EQ(placed.top, desktop.top + (desktop.bottom - desktop.top - 200) / 2);
        EXPECT_EQ(placed.right - placed.left, width) << "size changed";
        DestroyWindow(window);
    }
}

TEST(CenterWindow, PlacesAnOwnedWindowInTheMiddleOfItsOwner) {
    HWND owner = MakeWindow(nullptr, 100, 100, 400, 300);
    HWND window = MakeWindow(owner, 0, 0, 200, 100);
    ASSERT_NE(window, nullptr);
    CenterWindow(window);
    RECT placed = {};
    GetWindowRect(window, &placed);
    EXPECT_EQ(placed.left, 200);
    EXPECT_EQ(placed.top, 200);
    DestroyWindow(window);
    DestroyWindow(owner);
}

} // namespace
