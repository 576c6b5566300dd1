// What the Windows tests share: waiting with a limit, files and folders, and
// answering the message boxes that a call under test shows.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

// Polls `condition` every 10 ms until it holds or `timeoutMs` has passed.
template <typename Condition> bool WaitUntil(Condition condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(10);
    }
}

inline bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
}

inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    CloseHandle(file);
    return ok;
}

// The names in a folder, "." and ".." left out.
inline std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// Deletes a file or a whole folder, read-only files included.
inline void DeleteTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        for (const auto& name : FolderEntries(path)) {
            DeleteTree(path + L"\\" + name);
        }
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

// A folder path of exactly `length` characters: `base` (made afresh) and nested
// folders below it, each step a backslash and 1 to 100 characters.
inline std::wstring MakeFolderOfLength(const std::wstring& base, size_t length) {
    DeleteTree(base);
    CreateDirectoryW(base.c_str(), nullptr);
    std::wstring path = base;
    while (path.size() < length) {
        const size_t remaining = length - path.size();
        const size_t part = remaining <= 101 ? remaining - 1 : (remaining == 102 ? 99 : 100);
        path += L"\\" + std::wstring(part, L'd');
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return path;
}

// Copies `program` as `name` into `folder`, made anew, and plants `library` beside
// it as `libraryName`.dll, with Wine told to prefer a native DLL of that name for
// the program: only then does Wine load one from the program's folder. The
// override is per program in the registry (the loader takes WINEDLLOVERRIDES from
// the Unix environment, never from a line given to the child); ForgetOverrides
// removes it. Returns the copy's path, or an empty text.
inline std::wstring CopyWithPlantedLibrary(const std::wstring& program, const std::wstring& folder,
                                           const wchar_t* name, std::wstring library,
                                           const wchar_t* libraryName) {
    DeleteTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\" + name;
    for (wchar_t& c : library) {
        c = c == L'/' ? L'\\' : c;
    }
    const std::wstring overrides =
        std::wstring(L"Software\\Wine\\AppDefaults\\") + name + L"\\DllOverrides";
    const bool planted =
        CopyFileW(program.c_str(), copy.c_str(), FALSE) &&
        CopyFileW(library.c_str(), (folder + L"\\" + libraryName + L".dll").c_str(), FALSE) &&
        RegSetKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), libraryName, REG_SZ,
                        L"native,builtin", sizeof L"native,builtin") == ERROR_SUCCESS;
    return planted ? copy : L"";
}

inline void ForgetOverrides(const wchar_t* name) {
    RegDeleteTreeW(HKEY_CURRENT_USER,
                   (std::wstring(L"Software\\Wine\\AppDefaults\\") + name).c_str());
}

// The user's temporary folder, without its trailing backslash.
inline std::wstring TempFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length > 0 && path[length - 1] == L'\\' ? length - 1 : length);
}

// A file's version block, empty when it has none; and its fixed part (null when
// the block has none).
inline std::vector<char> VersionBlock(const wchar_t* path) {
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(path, &ignored));
    if (block.empty() || !GetFileVersionInfoW(path, 0, block.size(), block.data())) {
        block.clear();
    }
    return block;
}

inline const VS_FIXEDFILEINFO* FixedVersion(const std::vector<char>& block) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (block.empty() ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
        return nullptr;
    }
    return fixed;
}

// A text of a version block's U.S. English Unicode table; "<missing>" when absent.
inline std::wstring VersionString(const void* block, const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(block, path.c_str(), reinterpret_cast<void**>(&value), &length)) {
        return L"<missing>";
    }
    return value;
}

// What a message box showed, as a second thread saw it before answering it.
struct BoxSeen {
    bool appeared = false;
    std::wstring text;
    HICON icon = nullptr;
    DWORD ownerThread = 0; // the thread that the box must appear on
};

// A dialog is found once it is visible: before that it may still lack its text.
inline BOOL CALLBACK FindDialogOfThread(HWND window, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (std::wstring(className) == L"#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// Waits up to 5 s for a visible message box on `seen->ownerThread`, records its text and
// icon, and presses its OK button.
inline DWORD WINAPI AnswerBoxWithOk(void* context) {
    auto* seen = static_cast<BoxSeen*>(context);
    HWND box = nullptr;
    WaitUntil(
        [&] {
            EnumThreadWindows(seen->ownerThread, FindDialogOfThread,
                              reinterpret_cast<LPARAM>(&box));
            return box != nullptr;
        },
        5000);
    if (box == nullptr) {
        return 0;
    }
    seen->appeared = true;
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024); // the box's text control
    seen->text = text;
    // Wine's icon control has the id 0x440, Windows' 0x14.
    for (int id : {0x440, 0x14}) {
        if (GetDlgItem(box, id) != nullptr) {
            seen->icon = reinterpret_cast<HICON>(SendDlgItemMessageW(box, id, STM_GETICON, 0, 0));
            break;
        }
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 1;
}

// The import slot through which the image at `base` in `process` calls
// dll!function, and the name entry the loader replaces when it binds the slot;
// address 0 when there is none. Memory is read through ReadProcessMemory, so this
// serves the test's own process and another alike.
struct ImportSlot {
    ULONG_PTR address = 0;
    ULONG_PTR nameEntry = 0;
};

inline ImportSlot FindImportSlot(HANDLE process, ULONG_PTR base, const char* dll,
                                 const char* function) {
    auto read = [&](ULONG_PTR address, void* into, SIZE_T size) {
        SIZE_T done = 0;
        return ReadProcessMemory(process, reinterpret_cast<void*>(address), into, size, &done) &&
               done == size;
    };
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS nt = {};
    if (!read(base, &dos, sizeof dos) || !read(base + dos.e_lfanew, &nt, sizeof nt)) {
        return {};
    }
    const DWORD imports =
        nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (ULONG_PTR at = base + imports;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor = {};
        char name[32] = {};
        if (!read(at, &descriptor, sizeof descriptor) || descriptor.Name == 0) {
            return {};
        }
        read(base + descriptor.Name, name, sizeof name - 1);
        if (_stricmp(name, dll) != 0) {
            continue;
        }
        for (ULONG_PTR i = 0;; ++i) {
            IMAGE_THUNK_DATA entry = {};
            if (!read(base + descriptor.OriginalFirstThunk + i * sizeof entry, &entry,
                      sizeof entry) ||
                entry.u1.AddressOfData == 0) {
                return {};
            }
            char imported[64] = {};
            if (IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal) ||
                !read(base + entry.u1.AddressOfData + 2, imported, sizeof imported - 1) ||
                strcmp(imported, function) != 0) {
                continue;
            }
            return {base + descriptor.FirstThunk + i * sizeof entry, entry.u1.AddressOfData};
        }
    }
}

// Points one import of this test program at `replacement` for the object's life,
// for failures that Wine cannot be made to produce from outside (the code under
// test is linked into the program and calls through the same import table).
class OwnImportSwap {
public:
    OwnImportSwap(const char* dll, const char* function, void* replacement)
        : slot_(reinterpret_cast<ULONG_PTR*>(
              FindImportSlot(GetCurrentProcess(),
                             reinterpret_cast<ULONG_PTR>(GetModuleHandleW(nullptr)), dll, function)
                  .address)) {
        if (slot_ != nullptr) {
            saved_ = *slot_;
            Write(reinterpret_cast<ULONG_PTR>(replacement));
        }
    }
    ~OwnImportSwap() {
        if (slot_ != nullptr) {
            Write(saved_);
        }
    }
    OwnImportSwap(const OwnImportSwap&) = delete;
    OwnImportSwap& operator=(const OwnImportSwap&) = delete;
    bool Swapped() const { return slot_ != nullptr; }

private:
    void Write(ULONG_PTR value) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    ULONG_PTR* slot_ = nullptr;
    ULONG_PTR saved_ = 0;
};
