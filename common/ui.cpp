#include "ui.h"

#include "capacity.h"
#include "placement.h"

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
