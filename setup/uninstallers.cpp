// The hand-over to removal: setup run on an installed machine starts the launcher
// of every installed copy and ends.
#include "setup.h"

#include "closer.h"

#include <shlobj.h>

#include <cwchar>

namespace {

bool IsFile(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Starts base\folderName\Uninst.exe with its three quoted arguments. Folders whose
// paths, suffix or argument line would not fit are skipped: a cut text would name
// another folder or another product.
void StartLauncher(const wchar_t* base, const wchar_t* folderName) {
    wchar_t folder[PATH_CAPACITY];
    wchar_t launcher[PATH_CAPACITY];
    if (!FormatPath(folder, L"%ls%ls", base, folderName) ||
        !FormatPath(launcher, L"%ls\\%ls", folder, LAUNCHER_FILE) || !IsFile(launcher)) {
        return;
    }
    // The search pattern put the product key in front; the suffix is the rest.
    const size_t keyLength = wcslen(PRODUCT_KEY);
    const size_t nameLength = wcslen(folderName);
    if (nameLength < keyLength || nameLength - keyLength >= NAME_CAPACITY) {
        return;
    }
    const wchar_t* suffix = folderName + keyLength;
    const wchar_t* name = LoadProductName();
    wchar_t arguments[TEXT_CAPACITY];
    if (!FormatLine(arguments, L"\"%ls_%ls%ls\" \"%ls %ls\" \"%ls%ls\"", VENDOR_FOLDER, PRODUCT_KEY,
                    suffix, name, suffix, PRODUCT_KEY, suffix)) {
        return;
    }
    ShellExecuteW(nullptr, L"open", launcher, arguments, nullptr, SW_SHOW);
}

} // namespace

void RunInstalledUninstallers() {
    wchar_t programFiles[PATH_CAPACITY];
    wchar_t base[PATH_CAPACITY];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                                programFiles)) ||
        !FormatPath(base, L"%ls\\%ls\\", programFiles, VENDOR_FOLDER)) {
        return;
    }
    wchar_t pattern[PATH_CAPACITY];
    if (!FormatPath(pattern, L"%ls%ls*", base, PRODUCT_KEY)) {
        return;
    }
    WIN32_FIND_DATAW found;
    FindCloser search(FindFirstFileW(pattern, &found));
    if (!search) {
        return;
    }
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            StartLauncher(base, found.cFileName);
        }
    } while (FindNextFileW(search.Get(), &found));
}
