#include "registry.h"

#include "closer.h"

#include <cstdlib>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are 16 bits");

namespace {

// The registry returns its errors instead of setting the thread's: set it, so that
// a caller can report why.
bool Succeeded(LSTATUS status) {
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
    }
    return status == ERROR_SUCCESS;
}

bool OpenOrCreateKey(HKEY root, const wchar_t* subkey, KeyCloser& key) {
    return Succeeded(RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
}

const char16_t* AsChar16(const wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}

} // namespace

bool ReadMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name, MultiSzBlock& list) {
    list.reset();
    KeyCloser key;
    if (!OpenOrCreateKey(root, subkey, key)) {
        return false;
    }
    DWORD type = 0;
    DWORD bytes = 0;
    const LSTATUS asked = RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &bytes);
    if (asked == ERROR_FILE_NOT_FOUND) {
        return true; // no such value
    }
    if (!Succeeded(asked)) {
        return false; // a value we cannot see may still hold entries: never take it as absent
    }
    // One spare byte, so that an empty value still gets a block of its own.
    std::unique_ptr<BYTE, decltype(&std::free)> data(static_cast<BYTE*>(std::malloc(bytes + 1)),
                                                     &std::free);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (!Succeeded(RegQueryValueExW(key.Get(), name, nullptr, &type, data.get(), &bytes))) {
        return false;
    }
    if (type != REG_MULTI_SZ) {
        SetLastError(ERROR_INVALID_DATATYPE);
        return false;
    }
    // Stored data need not be a well-formed list; keep its complete strings only.
    list = MultiSzFromBytes(data.get(), bytes);
    if (!list) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return static_cast<bool>(list);
}

bool WriteMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name,
                       const char16_t* list) {
    KeyCloser key;
    if (!OpenOrCreateKey(root, subkey, key)) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>(MultiSzLength(list) * sizeof(char16_t));
    return Succeeded(RegSetValueExW(key.Get(), name, 0, REG_MULTI_SZ,
                                    reinterpret_cast<const BYTE*>(list), bytes));
}

bool AddToMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name,
                       const wchar_t* entry) {
    MultiSzBlock list;
    if (!ReadMultiSzValue(root, subkey, name, list)) {
        return false;
    }
    if (!list) {
        // No value yet: start from the empty list.
        list.reset(static_cast<char16_t*>(std::calloc(1, sizeof(char16_t))));
    }
    size_t remaining = 0;
    if (list) {
        MultiSzRemove(AsChar16(entry), list.get(), &remaining);
    }
    if (!list || !MultiSzPrepend(AsChar16(entry), list)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return WriteMultiSzValue(root, subkey, name, list.get());
}
