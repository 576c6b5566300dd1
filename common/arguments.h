// The command line of the launcher and of the uninstaller: a fixed number of
// arguments, each copied whole into its buffer, and the quiet switch after them.
#pragma once

#include <cstddef>

struct ArgumentBuffer {
    wchar_t* text;
    size_t capacity;
};

// Splits the program's command line by the platform's rules and copies arguments
// 1 to `count` into `buffers`. One argument more is taken when it is QUIET_SWITCH
// (in any case): `quiet` says whether it came, also when the call fails, so that a
// quiet run can end without a box. False when there are not exactly `count`
// arguments besides the switch or one does not fit its buffer: a cut argument
// would name another thing.
bool TakeArguments(const ArgumentBuffer* buffers, int count, bool& quiet);
