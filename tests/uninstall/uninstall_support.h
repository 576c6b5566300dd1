// What the uninstall tests share: the installed state they build in the prefix,
// the programs they start, and the windows of other processes they find, read and
// answer.
#pragma once

#include "../setup/setup_support.h"
#include "../support/window_driver.h"

#include "closer.h"

#include <winternl.h>

#include <atomic>
#include <cstdlib>
#include <string>

// The three arguments that setup passes to an installed launcher.
constexpr const wchar_t* kEntryName = L"VARNO_QuillGuardVer.2.0.0";
constexpr const wchar_t* kTitle = L"Quillet Ver.2.0.0";
constexpr const wchar_t* kFolderName = L"QuillGuardVer.2.0.0";

constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

inline std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// The user interface language the test runs in, from LC_ALL as CTest sets it.
enum class Language { English, Japanese, Chinese };
inline Language UiLanguage() {
    const char* locale = std::getenv("LC_ALL");
    const std::string name = locale != nullptr ? locale : "";
    if (name.rfind("ja", 0) == 0) {
        return Language::Japanese;
    }
    if (name.rfind("zh", 0) == 0) {
        return Language::Chinese;
    }
    return Language::English;
}

// --- The installed state -------------------------------------------------------

inline bool CreateStandInService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        CreateServiceW(manager, DRIVER_NAME, DRIVER_DISPLAY_NAME, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       L"\\SystemRoot\\System32\\drivers\\quilldrv.sys", nullptr, nullptr, nullptr,
                       nullptr, nullptr);
    const bool created = service != nullptr;
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return created;
}

// The service is only marked for deletion; Wine drops it a moment later.
inline bool DriverServiceGone() {
    return WaitUntil([] { return !DriverServiceExists(); }, 10000);
}

inline bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

inline bool CreateUninstallEntry(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstallKey) + L"\\" + name).c_str(), 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(kTitle),
                   static_cast<DWORD>((wcslen(kTitle) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return true;
}

// Wine shows a Unix symbolic link to a folder as a reparse point, as Windows shows
// a junction, and cannot make one itself (its CreateSymbolicLinkW does nothing):
// Unix's ln makes it and rm takes it away, never following it as DeleteTree would.
inline bool UnixLink(const std::wstring& link, const std::wstring& target, bool remove) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    auto unixPath = [&](const std::wstring& path) {
        char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
        const std::string narrow = name != nullptr ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return std::wstring(narrow.begin(), narrow.end());
    };
    const std::wstring program = remove ? L"Z:\\bin\\rm" : L"Z:\\bin\\ln";
    auto quoted = [&](const std::wstring& path) { return L"\"" + unixPath(path) + L"\""; };
    std::wstring line =
        remove ? L"rm " + quoted(link) : L"ln -s " + quoted(target) + L" " + quoted(link);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
        return false;
    }
    CloseHandle(started.hProcess); // a Unix program's handle does not wait for it
    CloseHandle(started.hThread);
    return WaitUntil(
        [&] { return (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) == remove; },
        10000);
}

// What setup leaves behind: "quilldrv" in the filter list after another entry, the
// service, the driver in the system's driver folder, and the installed folder with
// its two files.
inline bool InstallStandIn() {
    WriteValue(DISK_CLASS_KEY, UPPER_FILTERS, MultiSz(ListOf({u"PartMgr", u"quilldrv"})));
    CreateDirectoryW(VendorFolder().c_str(), nullptr);
    CreateDirectoryW(InstalledFolder().c_str(), nullptr);
    return CreateStandInService() && WriteFileBytes(SystemDriverFile(), "driver") &&
           WriteFileBytes(InstalledFolder() + L"\\quilldrv.sys", "driver") &&
           WriteFileBytes(InstalledFolder() + L"\\Uninst.exe", "launcher");
}

// The parent of the uninstall entries, taken away for a scenario and put back.
class UninstallKeyAway {
public:
    UninstallKeyAway() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBackup);
        HKEY backup = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kBackup, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &backup, nullptr);
        saved_ = RegCopyTreeW(HKEY_LOCAL_MACHINE, kUninstallKey, backup) == ERROR_SUCCESS;
        RegCloseKey(backup);
        if (saved_) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
        }
    }
    ~UninstallKeyAway() {
        if (saved_) {
            HKEY key = nullptr;
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
            RegCopyTreeW(HKEY_LOCAL_MACHINE, kBackup, key);
            RegCloseKey(key);
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBackup);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kBackup);
    }
    UninstallKeyAway(const UninstallKeyAway&) = delete;
    UninstallKeyAway& operator=(const UninstallKeyAway&) = delete;

    bool Away() const { return saved_ && !KeyExists(kUninstallKey); }

private:
    static constexpr const wchar_t* kBackup = L"SOFTWARE\\QuillGuardTestUninstallBackup";
    bool saved_ = false;
};

// --- Programs under test -------------------------------------------------------

// Starts `exe` with the given command line (the whole of it, program name included).
inline bool StartProgram(const std::wstring& exe, const std::wstring& commandLine,
                         Started& started) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    started.process.Reset(info.hProcess);
    started.id = info.dwProcessId;
    return true;
}

// A box of another process with this caption.
inline HWND WaitForBoxOf(DWORD process, const std::wstring& caption, DWORD timeoutMs = 10000) {
    return WaitForDialog(
        [&](HWND w) { return ProcessOf(w) == process && WindowText(w) == caption; }, timeoutMs);
}

// A box of any other process with this caption and text.
inline HWND WaitForBoxSaying(const std::wstring& caption, const std::wstring& text,
                             DWORD timeoutMs = 10000) {
    return WaitForDialog(
        [&](HWND w) {
            return ProcessOf(w) != GetCurrentProcessId() && WindowText(w) == caption &&
                   BoxText(w) == text;
        },
        timeoutMs);
}

// Ends the programs that a failed case left showing a box of the product (an
// uninstaller started by a launcher is no child of the test): CTest would wait for
// them, as they hold its output pipe.
inline void EndStrayPrograms() {
    for (HWND box; (box = FindDialog([](HWND w) {
                        return ProcessOf(w) != GetCurrentProcessId() &&
                               (WindowText(w) == kTitle || WindowText(w) == L"Parameter error!");
                    })) != nullptr;) {
        HandleCloser process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ProcessOf(box)));
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), 5000);
    }
}

// The command line and current folder of another process, read from its process
// parameters (x64 layout).
struct ProcessStart {
    std::wstring commandLine;
    std::wstring currentFolder;
};

inline std::wstring ReadRemoteString(HANDLE process, const UNICODE_STRING& remote) {
    std::wstring text(remote.Length / sizeof(wchar_t), L'\0');
    SIZE_T read = 0;
    if (remote.Length == 0 ||
        !ReadProcessMemory(process, remote.Buffer, text.data(), remote.Length, &read)) {
        return L"<unreadable>";
    }
    return text;
}

inline ProcessStart ReadProcessStart(DWORD id) {
    ProcessStart start;
    HandleCloser process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG length = 0;
    if (!process || NtQueryInformationProcess(process.Get(), ProcessBasicInformation, &basic,
                                              sizeof basic, &length) != 0) {
        return start;
    }
    BYTE* parameters = nullptr;
    SIZE_T read = 0;
    ReadProcessMemory(process.Get(), reinterpret_cast<BYTE*>(basic.PebBaseAddress) + 0x20,
                      &parameters, sizeof parameters, &read);
    UNICODE_STRING currentFolder = {}, commandLine = {};
    ReadProcessMemory(process.Get(), parameters + 0x38, &currentFolder, sizeof currentFolder,
                      &read);
    ReadProcessMemory(process.Get(), parameters + 0x70, &commandLine, sizeof commandLine, &read);
    start.commandLine = ReadRemoteString(process.Get(), commandLine);
    start.currentFolder = ReadRemoteString(process.Get(), currentFolder);
    return start;
}

// --- Failures made inside a running program --------------------------------------

// Failures Wine cannot be made to produce are made inside the running program:
// one of its imports is pointed at another function of the same shape that fails
// (Wine loads its libraries at one address in every process of a prefix). The
// program's code is untouched.
inline bool RedirectImport(HANDLE process, const char* dll, const char* function,
                           const char* replacementDll, const char* replacement) {
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG length = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic,
                                  &length) != 0) {
        return false;
    }
    auto read = [&](ULONG_PTR address, void* into, SIZE_T size) {
        SIZE_T done = 0;
        return ReadProcessMemory(process, reinterpret_cast<void*>(address), into, size, &done) &&
               done == size;
    };
    const auto target =
        reinterpret_cast<ULONG_PTR>(GetProcAddress(LoadLibraryA(replacementDll), replacement));
    BYTE here[16] = {}, there[16] = {};
    memcpy(here, reinterpret_cast<const void*>(target), sizeof here);
    if (!read(target, there, sizeof there) || memcmp(here, there, sizeof here) != 0) {
        return false; // the library sits elsewhere in the program
    }
    ULONG_PTR base = 0;
    if (!read(reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress) + 0x10, &base, sizeof base)) {
        return false;
    }
    const ImportSlot slot = FindImportSlot(process, base, dll, function);
    ULONG_PTR bound = 0;
    DWORD old = 0;
    SIZE_T written = 0;
    // Still the name's entry: the loader has not bound it yet.
    return slot.address != 0 && read(slot.address, &bound, sizeof bound) &&
           bound != slot.nameEntry &&
           VirtualProtectEx(process, reinterpret_cast<void*>(slot.address), sizeof bound,
                            PAGE_READWRITE, &old) &&
           WriteProcessMemory(process, reinterpret_cast<void*>(slot.address), &target,
                              sizeof target, &written) &&
           written == sizeof target;
}

// Starts a program as its debugger, stops it at the loader's first breakpoint
// (imports bound, program not yet run), redirects one import (see
// RedirectImport), and lets it go.
inline bool StartRedirected(const std::wstring& exe, const std::wstring& commandLine,
                            const char* dll, const char* function, const char* replacementDll,
                            const char* replacement, Started& started) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    started.process.Reset(info.hProcess);
    started.id = info.dwProcessId;
    bool redirected = false;
    for (;;) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 10000)) {
            break;
        }
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                redirected =
                    RedirectImport(info.hProcess, dll, function, replacementDll, replacement);
                ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
                break;
            }
            status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            return false;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    DebugSetProcessKillOnExit(FALSE);
    DebugActiveProcessStop(info.dwProcessId);
    return redirected;
}

// --- Message boxes shown on a thread of this process ----------------------------

// Watches one thread of this process until stopped and ends each box it shows
// with Cancel (which also ends an OK-only box): OK on the restart question would
// end the prefix's Wine session. Records the last box.
struct BoxWatch {
    DWORD thread = 0;
    std::atomic<bool> stop{false};
    int boxes = 0; // read after the watcher has ended
    std::wstring text, caption;
    HICON icon = nullptr;
    HWND owner = nullptr;
};

inline DWORD WINAPI WatchBoxes(void* context) {
    auto* watch = static_cast<BoxWatch*>(context);
    while (!watch->stop.load()) {
        HWND box = nullptr;
        EnumThreadWindows(watch->thread, FindDialogOfThread, reinterpret_cast<LPARAM>(&box));
        if (box != nullptr) {
            watch->text = BoxText(box);
            watch->caption = WindowText(box);
            watch->owner = GetWindow(box, GW_OWNER);
            for (int id : {0x440, 0x14}) {
                if (GetDlgItem(box, id) != nullptr) {
                    watch->icon =
                        reinterpret_cast<HICON>(SendDlgItemMessageW(box, id, STM_GETICON, 0, 0));
                    break;
                }
            }
            ++watch->boxes;
            SendMessageW(box, WM_COMMAND, IDCANCEL, 0);
            WaitUntil([&] { return !IsWindow(box); }, 5000);
        }
        Sleep(10);
    }
    return 0;
}

// Runs `call` on this thread while a second thread answers the boxes it shows.
template <typename Call> void WithBoxesAnswered(BoxWatch& watch, Call call) {
    watch.thread = GetCurrentThreadId();
    HANDLE watcher = CreateThread(nullptr, 0, WatchBoxes, &watch, 0, nullptr);
    call();
    watch.stop.store(true);
    WaitForSingleObject(watcher, 10000);
    CloseHandle(watcher);
}
