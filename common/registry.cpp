#include "registry.h"

#include "closer.h"

#include <cstdlib>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are 16 bits");

namespace {

bool OpenOrCreateKey(HKEY root, const wchar_t* subkey, KeyCloser& key) {
    return RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, key.Put(), nullptr) == ERROR_SUCCESS;
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
    if (asked != ERROR_SUCCESS) {
        return false; // a value we cannot see may still hold entries: never take it as absent
    }
    // One spare byte, so that an empty value still gets a block of its own.
    std::unique_ptr<BYTE, decltype(&std::free)> data(static_cast<BYTE*>(std::malloc(bytes + 1)),
                                                     &std::free);
    if (!data) {
        return false;
    }
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, data.get(), &bytes) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return false;
    }
    // Stored data need not be a well-formed list; keep its complete strings only.
    list = MultiSzFromBytes(data.get(), bytes);
    return static_cast<bool>(list);
}

bool WriteMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name,
                       const char16_t* list) {
    KeyCloser key;
    if (!OpenOrCreateKey(root, subkey, key)) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>(MultiSzLength(list) * sizeof(char16_t));
    return RegSetValueExW(key.Get(), name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list),
                          bytes) == ERROR_SUCCESS;
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
        if (!list) {
            return false;
        }
    }
    size_t remaining = 0;
    MultiSzRemove(AsChar16(entry), list.get(), &remaining);
    if (!MultiSzPrepend(AsChar16(entry), list)) {
        return false;
    }
    return WriteMultiSzValue(root, subkey, name, list.get());
}
