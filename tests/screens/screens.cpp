// Takes the pictures of the product for the documentation: runs setup through
// every wizard page, then the removal through the launcher's question and the
// uninstaller's wait box, and saves each window as a PNG file (through WIC).
//   screens SETUP.exe OUT_FOLDER TAG
// Runs in a Wine prefix of its own with a real display: it installs and removes
// the product there. TAG ends each file name (en, ja, zh); the language itself
// comes from the environment Wine was started in.
#include "closer.h"
#include "format.h"
#include "wizard_driver.h"

#include <shlobj.h>
#include <tlhelp32.h>
#include <wincodec.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr DWORD kPatienceMs = 30000;

using DcCloser = Closer<HDC, DeleteDC>;
using GdiCloser = Closer<HGDIOBJ, DeleteObject>;

template <typename T> void ReleaseCom(T* object) {
    object->Release();
}
template <typename T> using ComCloser = Closer<T*, ReleaseCom<T>>;

const wchar_t* OutFolder;
const wchar_t* Tag;

bool Fail(const wchar_t* what) {
    std::fwprintf(stderr, L"screens: %ls\n", what);
    return false;
}

// Polls `ready` every 20 ms until it holds or the patience runs out.
template <typename Ready>
bool WaitUntil(Ready ready, const wchar_t* what, DWORD limitMs = kPatienceMs) {
    const ULONGLONG end = GetTickCount64() + limitMs;
    while (!ready()) {
        if (GetTickCount64() > end) {
            std::fwprintf(stderr, L"screens: gave up waiting for %ls\n", what);
            return false;
        }
        Sleep(20);
    }
    return true;
}

// --- Saving pictures ----------------------------------------------------------

bool SavePng(const wchar_t* path, const BYTE* bgr, UINT width, UINT height, UINT stride) {
    ComCloser<IWICImagingFactory> factory;
    ComCloser<IWICStream> stream;
    ComCloser<IWICBitmapEncoder> encoder;
    ComCloser<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(factory.Put()))) ||
        FAILED(factory.Get()->CreateStream(stream.Put())) ||
        FAILED(stream.Get()->InitializeFromFilename(path, GENERIC_WRITE)) ||
        FAILED(factory.Get()->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Put())) ||
        FAILED(encoder.Get()->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder.Get()->CreateNewFrame(frame.Put(), nullptr)) ||
        FAILED(frame.Get()->Initialize(nullptr)) || FAILED(frame.Get()->SetSize(width, height)) ||
        FAILED(frame.Get()->SetPixelFormat(&format)) ||
        !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) ||
        FAILED(frame.Get()->WritePixels(height, stride, stride * height, const_cast<BYTE*>(bgr))) ||
        FAILED(frame.Get()->Commit()) || FAILED(encoder.Get()->Commit())) {
        return Fail(path);
    }
    return true;
}

// The window as the display shows it, frame and caption included, saved as
// OUT_FOLDER\name-TAG.png.
bool SaveWindow(HWND window, const wchar_t* name) {
    wchar_t path[MAX_PATH];
    if (!FormatTo(path, MAX_PATH, L"%ls\\%ls-%ls.png", OutFolder, name, Tag)) {
        return Fail(L"picture path too long");
    }
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(400); // let the other process finish painting
    RECT box;
    GetWindowRect(window, &box);
    const int width = box.right - box.left, height = box.bottom - box.top;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    DcCloser memory(CreateCompatibleDC(screen));
    GdiCloser bitmap(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !bitmap) {
        ReleaseDC(nullptr, screen);
        return Fail(L"no bitmap for the picture");
    }
    HGDIOBJ old = SelectObject(memory.Get(), bitmap.Get());
    // What the display shows: Wine draws the frame itself (the prefix has no
    // window manager to hand it to), and the window stands on top.
    const bool copied =
        BitBlt(memory.Get(), 0, 0, width, height, screen, box.left, box.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory.Get(), old);
    ReleaseDC(nullptr, screen);
    if (!copied) {
        return Fail(L"could not copy the window");
    }
    const UINT stride = (static_cast<UINT>(width) * 3 + 3) & ~3u;
    const bool saved = SavePng(path, static_cast<const BYTE*>(bits), width, height, stride);
    if (saved) {
        std::fwprintf(stdout, L"screens: %ls\n", path);
    }
    return saved;
}

// --- Finding windows ----------------------------------------------------------

struct DialogSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<DialogSearch*>(lParam);
    wchar_t className[16];
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window) ||
        GetClassNameW(window, className, 16) == 0 || wcscmp(className, L"#32770") != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// The first visible dialog of the process.
HWND FindDialogOf(DWORD pid) {
    DialogSearch search{pid, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// --- The machine ----------------------------------------------------------------

bool ProgramFilesPath(wchar_t* path, const wchar_t* below) {
    wchar_t folder[MAX_PATH];
    return SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                                      folder)) &&
           FormatTo(path, MAX_PATH, L"%ls\\%ls", folder, below);
}

void DeleteTree(const wchar_t* path) {
    wchar_t from[MAX_PATH + 2] = {};
    if (!FormatTo(from, MAX_PATH, L"%ls", path)) {
        return;
    }
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from; // double-null terminated by the zeroed tail
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

// Back to a machine where the product was never installed: no service, no
// installed folder, no filter entry, whatever an earlier run left.
void ForgetProduct() {
    ServiceCloser manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ServiceCloser service(manager ? OpenServiceW(manager.Get(), L"quilldrv", DELETE) : nullptr);
    if (service) {
        DeleteService(service.Get());
    }
    service.Reset();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\quilldrv");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE,
                       L"System\\CurrentControlSet\\Control\\Class\\"
                       L"{4d36e967-e325-11ce-bfc1-08002be10318}",
                       L"UpperFilters");
    wchar_t folder[MAX_PATH];
    if (ProgramFilesPath(folder, L"VARNO")) {
        DeleteTree(folder);
    }
}

bool Ended(const Started& process, const wchar_t* what) {
    if (WaitForExit(process, kPatienceMs) == STILL_ACTIVE) {
        std::fwprintf(stderr, L"screens: %ls did not end\n", what);
        return false;
    }
    return true;
}

// The uninstaller's worker, stopped before it can end the wait box. The worker
// starts before the box and sleeps while the box does not exist yet; every
// thread of the process but its first (the main thread, which runs the box) is
// suspended as soon as a second one shows up.
struct HeldWorker {
    DWORD pid;
    HandleCloser threads[8];
    int count;
    int first; // the main thread, left running
};

DWORD FindProcess(const wchar_t* image) {
    HandleCloser snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, image) == 0) {
            return entry.th32ProcessID;
        }
    }
    return 0;
}

ULONGLONG CreationTime(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
        return ~0ull;
    }
    return static_cast<ULONGLONG>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

// Suspends all threads of `pid` but the earliest once there are at least two.
bool HoldAllButFirstThread(HeldWorker& held) {
    HandleCloser snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    held.count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more && held.count < 8;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID == held.pid) {
            held.threads[held.count++].Reset(OpenThread(
                THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        }
    }
    if (held.count < 2) {
        return false;
    }
    held.first = 0;
    for (int i = 1; i < held.count; ++i) {
        if (CreationTime(held.threads[i].Get()) < CreationTime(held.threads[held.first].Get())) {
            held.first = i;
        }
    }
    for (int i = 0; i < held.count; ++i) {
        if (i != held.first) {
            SuspendThread(held.threads[i].Get());
        }
    }
    return true;
}

bool HoldUninstallerWorker(HeldWorker& held) {
    const ULONGLONG end = GetTickCount64() + kPatienceMs;
    while (GetTickCount64() < end) {
        if (held.pid == 0) {
            held.pid = FindProcess(L"_uninst.bin");
        }
        if (held.pid != 0 && HoldAllButFirstThread(held)) {
            return true;
        }
        Sleep(0);
    }
    return Fail(L"the uninstaller's worker never showed up");
}

void ReleaseWorker(HeldWorker& held) {
    for (int i = 0; i < held.count; ++i) {
        if (i != held.first) {
            ResumeThread(held.threads[i].Get());
        }
        held.threads[i].Reset();
    }
    held.count = 0;
}

// --- The sessions ---------------------------------------------------------------

bool StartSetup(const wchar_t* setup, Started& process) {
    return StartProgram(setup, L"", &process) || Fail(L"could not start setup");
}

// Setup from its start to the installing page; every page saved when `save`.
bool WalkToInstalling(const Started& process, HWND& wizard, bool save) {
    wizard = FindWizard(process.id, kPatienceMs);
    if (wizard == nullptr) {
        return Fail(L"no wizard");
    }
    if (save && !SaveWindow(wizard, L"setup-1-welcome")) {
        return false;
    }
    Click(wizard, kNext);
    if (!WaitUntil([&] { return IsShown(wizard, kLicence); }, L"the licence page")) {
        return false;
    }
    Click(wizard, kAgree);
    if (!WaitUntil([&] { return IsEnabled(wizard, kNext); }, L"Next after Agree") ||
        (save && !SaveWindow(wizard, L"setup-2-licence"))) {
        return false;
    }
    Click(wizard, kNext);
    if (!WaitUntil([&] { return !IsShown(wizard, kLicence); }, L"the confirmation page") ||
        (save && !SaveWindow(wizard, L"setup-3-confirm"))) {
        return false;
    }
    Click(wizard, kNext);
    if (!WaitUntil([&] { return !IsEnabled(wizard, kCancel); }, L"the installing page")) {
        return false;
    }
    // The worker reports after a second at the earliest: time enough for one picture.
    return !save || SaveWindow(wizard, L"setup-4-installing");
}

bool WaitForEnabledClose(HWND wizard) {
    return WaitUntil([&] { return IsEnabled(wizard, kNext); }, L"the Close button");
}

// An install that fails: a file stands where the installed folder would be.
bool TakeFailedPage(const wchar_t* setup) {
    ForgetProduct();
    wchar_t vendor[MAX_PATH], blocker[MAX_PATH];
    if (!ProgramFilesPath(vendor, L"VARNO") ||
        !ProgramFilesPath(blocker, L"VARNO\\QuillGuardVer.2.0.0")) {
        return Fail(L"no Program Files");
    }
    CreateDirectoryW(vendor, nullptr);
    HandleCloser(CreateFileW(blocker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Started process;
    HWND wizard = nullptr;
    if (!StartSetup(setup, process) || !WalkToInstalling(process, wizard, false) ||
        !WaitForEnabledClose(wizard) || !SaveWindow(wizard, L"setup-6-failed")) {
        return false;
    }
    Click(wizard, kNext);
    const bool ended = Ended(process, L"setup after a failed install");
    ForgetProduct();
    return ended;
}

bool TakeInstallPages(const wchar_t* setup) {
    Started process;
    HWND wizard = nullptr;
    if (!StartSetup(setup, process) || !WalkToInstalling(process, wizard, true)) {
        return false;
    }
    const HWND question = FindMessageBox(process.id, kPatienceMs);
    if (question == nullptr) {
        return Fail(L"no restart question after the install");
    }
    Press(question, IDCANCEL); // never OK: that would end the prefix's session
    if (!WaitUntil([&] { return !IsWindow(question); }, L"the restart question to close") ||
        !WaitForEnabledClose(wizard) || !SaveWindow(wizard, L"setup-5-complete")) {
        return false;
    }
    Click(wizard, kNext);
    return Ended(process, L"setup after the install");
}

// Setup on the installed machine starts the launcher; its question, then the
// uninstaller's wait box, held open by stopping its worker for the picture.
bool TakeRemovalBoxes(const wchar_t* setup) {
    Started process;
    if (!StartSetup(setup, process)) {
        return false;
    }
    const HWND question = FindMessageBox(0, kPatienceMs);
    if (question == nullptr || !SaveWindow(question, L"uninst-question")) {
        return Fail(L"no question from the launcher");
    }
    Press(question, IDYES);
    HeldWorker held{};
    if (!HoldUninstallerWorker(held)) {
        return false;
    }
    HWND wait = nullptr;
    // Should the worker have ended the box after all, the restart question (with
    // its OK button) would come instead.
    const bool saved =
        WaitUntil([&] { return (wait = FindDialogOf(held.pid)) != nullptr; }, L"the wait box") &&
        (GetDlgItem(wait, IDOK) == nullptr || Fail(L"the wait box ended before its picture")) &&
        SaveWindow(wait, L"uninst-wait");
    ReleaseWorker(held);
    if (!saved) {
        return false;
    }
    HWND restart = nullptr;
    if (!WaitUntil(
            [&] {
                restart = FindDialogOf(held.pid);
                return restart != nullptr && restart != wait;
            },
            L"the uninstaller's restart question")) {
        return false;
    }
    Press(restart, IDCANCEL);
    return Ended(process, L"setup before the removal");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fwprintf(stderr, L"usage: screens SETUP.exe OUT_FOLDER TAG\n");
        return 2;
    }
    OutFolder = argv[2];
    Tag = argv[3];
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return Fail(L"no COM"), 1;
    }
    const bool taken =
        TakeFailedPage(argv[1]) && TakeInstallPages(argv[1]) && TakeRemovalBoxes(argv[1]);
    ForgetProduct();
    CoUninitialize();
    return taken ? 0 : 1;
}
