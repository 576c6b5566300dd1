#include "module.h"

#include "format.h"

#include <windows.h>

#include <share.h>
#include <stdio.h>
#include <cwchar>

bool ExtractModule(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resource) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, resource, L"MODULE");
    if (found == nullptr) {
        return false;
    }
    const DWORD size = SizeofResource(self, found);
    if (size == 0) {
        return false;
    }
    HGLOBAL loaded = LoadResource(self, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return false;
    }

    wchar_t target[MAX_PATH + 4];
    const size_t folderLength = wcslen(folder);
    const bool endsInBackslash = folderLength > 0 && folder[folderLength - 1] == L'\\';
    if (!FormatTo(target, MAX_PATH + 4, endsInBackslash ? L"%ls%ls" : L"%ls\\%ls", folder,
                  fileName)) {
        return false;
    }

    FILE* file = _wfsopen(target, L"wb", _SH_DENYRW);
    if (file == nullptr) {
        return false;
    }
    const bool written = fwrite(bytes, size, 1, file) == 1;
    // Data still buffered is written on closing; a failure there loses it too.
    const bool closed = fclose(file) == 0;
    if (!written || !closed) {
        DeleteFileW(target);
        return false;
    }
    return true;
}
