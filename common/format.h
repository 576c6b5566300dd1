// Bounded formatting into fixed wide buffers. Text that does not fit is never cut:
// the call fails and leaves an empty text (FormatTo) or the old text (AppendTo).
#pragma once

#include <cstdarg>
#include <cstddef>

// printf-style; use %ls for wide strings (the one spelling that means a wide
// string in both the Microsoft and the mingw printf families).
bool FormatTo(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
bool FormatToV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);

// Appends `text` to the string already in `buffer`.
bool AppendTo(wchar_t* buffer, size_t capacity, const wchar_t* text);

// "folder\name", the one path shape the programs build.
bool JoinPath(wchar_t* buffer, size_t capacity, const wchar_t* folder, const wchar_t* name);
