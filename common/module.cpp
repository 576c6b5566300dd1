#include "module.h"

#include "capacity.h"
#include "closer.h"
#include "format.h"

#include <windows.h>

#include <share.h>
#include <stdio.h>
#include <cstring>
#include <cwchar>

namespace {

// The resource's bytes in the program's own image; null when missing or empty.
const void* ModuleBytes(const wchar_t* resource, DWORD* size) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, resource, L"MODULE");
    if (found == nullptr) {
        return nullptr;
    }
    *size = SizeofResource(self, found);
    if (*size == 0) {
        return nullptr;
    }
    HGLOBAL loaded = LoadResource(self, found);
    return loaded != nullptr ? LockResource(loaded) : nullptr;
}

bool TargetPath(wchar_t (&target)[FORMATTED_PATH_CAPACITY], const wchar_t* folder,
                const wchar_t* fileName) {
    const size_t folderLength = wcslen(folder);
    const bool endsInBackslash = folderLength > 0 && folder[folderLength - 1] == L'\\';
    return FormatTo(target, FORMATTED_PATH_CAPACITY, endsInBackslash ? L"%ls%ls" : L"%ls\\%ls",
                    folder, fileName);
}

bool WriteModule(const wchar_t* target, const void* bytes, DWORD size) {
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

// True when the open file holds exactly `bytes`.
bool HoldsBytes(HANDLE file, const void* bytes, DWORD size) {
    const auto* expected = static_cast<const unsigned char*>(bytes);
    unsigned char chunk[4096];
    DWORD at = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            return at == size;
        }
        if (read > size - at || std::memcmp(chunk, expected + at, read) != 0) {
            return false;
        }
        at += read;
    }
}

} // namespace

bool ExtractModule(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resource) {
    DWORD size = 0;
    const void* bytes = ModuleBytes(resource, &size);
    wchar_t target[FORMATTED_PATH_CAPACITY];
    return bytes != nullptr && TargetPath(target, folder, fileName) &&
           WriteModule(target, bytes, size);
}

HANDLE ExtractModuleHeld(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resource) {
    DWORD size = 0;
    const void* bytes = ModuleBytes(resource, &size);
    wchar_t target[FORMATTED_PATH_CAPACITY];
    if (bytes == nullptr || !TargetPath(target, folder, fileName)) {
        return INVALID_HANDLE_VALUE;
    }
    // A file left there by someone else keeps its owner and security when it is
    // only overwritten: it goes first, and one that cannot go is not used.
    if (!DeleteFileW(target) && GetLastError() != ERROR_FILE_NOT_FOUND &&
        GetLastError() != ERROR_PATH_NOT_FOUND) {
        return INVALID_HANDLE_VALUE;
    }
    // Created new: a name or link planted after the delete makes the creation fail
    // instead of having this write go through it to another file.
    {
        HandleCloser created(CreateFileW(target, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!created) {
            return INVALID_HANDLE_VALUE;
        }
        if (!WriteFile(created.Get(), bytes, size, &written, nullptr) || written != size) {
            created.Reset();
            DeleteFileW(target);
            return INVALID_HANDLE_VALUE;
        }
    }
    // The writing handle cannot be the one held: a program whose file is open for
    // writing cannot be started. Read sharing only: nobody can write, rename or
    // delete the file while it is held, and anyone who opened it for writing in
    // between makes this open fail.
    HandleCloser held(CreateFileW(target, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    // Between the write and this open the file was out of our hands.
    if (!held || !HoldsBytes(held.Get(), bytes, size)) {
        return INVALID_HANDLE_VALUE;
    }
    return held.Release();
}
