// The command line of the launcher and of the uninstaller: a fixed number of
// arguments, each copied whole into its buffer.
#pragma once

#include <cstddef>

struct ArgumentBuffer {
    wchar_t* text;
    size_t capacity;
};

// Splits the program's command line by the platform's rules and copies arguments
// 1 to `count` into `buffers`. False when there are not exactly `count` arguments
// or one does not fit its buffer: a cut argument would name another thing.
bool TakeArguments(const ArgumentBuffer* buffers, int count);
