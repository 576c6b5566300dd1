#include "ui.h"

#include "capacity.h"
#include "placement.h"

#include <cwchar>

namespace {

wchar_t SharedText[TEXT_CAPACITY];

void ShowLastErrorWarning() {
    const DWORD error = GetLastError();
    wchar_t text[TEXT_CAPACITY] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0, text, TEXT_CAPACITY, nullptr);
    MessageBoxW(nullptr, text, nullptr, MB_OK | MB_ICONWARNING);
}

Box ToBox(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

} // namespace

wchar_t* LoadResStringTo(UINT id, wchar_t* buffer, int capacity) {
    if (LoadStringW(GetModuleHandleW(nullptr), id, buffer, capacity) == 0) {
        ShowLastErrorWarning();
    }
    return buffer;
}

const wchar_t* LoadResString(UINT id) {
    SharedText[0] = 0;
    return LoadResStringTo(id, SharedText, TEXT_CAPACITY);
}

void SystemErrorText(DWORD error, wchar_t* text, DWORD capacity) {
    text[0] = 0;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, capacity, nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n')) {
        text[--length] = 0;
    }
}

void LoadEnglishString(UINT id, wchar_t* buffer, size_t capacity) {
    buffer[0] = 0;
    // Strings live in blocks of 16, each a length and that many characters.
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceExW(self, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    const HGLOBAL loaded = found != nullptr ? LoadResource(self, found) : nullptr;
    const auto* at =
        static_cast<const wchar_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    if (at == nullptr) {
        return;
    }
    const wchar_t* end = at + SizeofResource(self, found) / sizeof(wchar_t);
    for (UINT i = 0; i < id % 16 && at < end; ++i) {
        at += 1 + *at;
    }
    if (at < end && static_cast<size_t>(*at) < capacity && at + 1 + *at <= end) {
        wmemcpy(buffer, at + 1, *at);
        buffer[*at] = 0;
    }
}

void CenterWindow(HWND window) {
    HWND reference = GetParent(window);
    if (reference == nullptr) {
        reference = GetDesktopWindow();
    }
    RECT r = {}, w = {}, d = {};
    GetWindowRect(reference, &r);
    GetWindowRect(window, &w);
    GetWindowRect(GetDesktopWindow(), &d);
    const Box placed = CenteredBox(ToBox(r), ToBox(w), ToBox(d));
    SetWindowPos(window, HWND_TOP, placed.left, placed.top, 0, 0, SWP_NOSIZE);
}
