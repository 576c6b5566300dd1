// The fixed text buffers of the three programs, counted in wide characters with
// the terminator: one name per size, meaning the same in every program.
#pragma once

#include <cstddef>

constexpr size_t NAME_CAPACITY = 32;      // the product name, an installed folder's version suffix
constexpr size_t TITLE_CAPACITY = 64;     // titles, captions, error texts, launcher argument 1
constexpr size_t ARGUMENT_CAPACITY = 256; // the uninstaller's arguments
constexpr size_t PATH_CAPACITY = 260;     // paths (MAX_PATH)
constexpr size_t FORMATTED_PATH_CAPACITY = 264; // a folder and a name joined (MAX_PATH + 4)
constexpr size_t TEXT_CAPACITY = 1024;          // loaded strings, system texts, argument lines
constexpr size_t PAGE_TEXT_CAPACITY = 2048;     // the wizard's formatted page texts
