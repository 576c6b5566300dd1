#include "format.h"

#include <cstdarg>
#include <cwchar>
#include <stdio.h>

bool FormatToV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) {
        return false;
    }
    // _vsnwprintf returns -1 when the text and its null do not fit, and does not
    // null-terminate a text of exactly `capacity` characters: both count as too long.
    const int written = _vsnwprintf(buffer, capacity, format, args);
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

bool FormatTo(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool fitted = FormatToV(buffer, capacity, format, args);
    va_end(args);
    return fitted;
}

bool AppendTo(wchar_t* buffer, size_t capacity, const wchar_t* text) {
    const size_t used = wcsnlen(buffer, capacity);
    if (used >= capacity) {
        return false;
    }
    return FormatTo(buffer + used, capacity - used, L"%ls", text);
}

bool JoinPath(wchar_t* buffer, size_t capacity, const wchar_t* folder, const wchar_t* name) {
    return FormatTo(buffer, capacity, L"%ls\\%ls", folder, name);
}
