// Multi-string registry values (such as a device class's "UpperFilters"). Keys are
// given as a root and a subkey path, opened with full access and created when
// missing; no key handle crosses this interface. A false result leaves the reason
// in the thread's last error.
#pragma once

#include <windows.h>

#include "multisz.h"

// True with `list` empty when the value does not exist (ERROR_FILE_NOT_FOUND);
// true with the value's strings otherwise. False when the key cannot be opened or
// created, the value is not REG_MULTI_SZ, or any query of it fails otherwise.
bool ReadMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name, MultiSzBlock& list);

bool WriteMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name, const char16_t* list);

// Makes `entry` the first entry of the value, once (equal entries, A-Z folded, are
// taken out); creates the value when missing. False leaves the value as it was.
bool AddToMultiSzValue(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* entry);
