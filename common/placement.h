// Where a centred window goes: plain arithmetic, apart from the window calls of
// CenterWindow, so that it runs in the host tests.
#pragma once

#include <cstdint>

struct Box {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// `window` centred on `reference` (halves truncated toward zero), then pushed back
// inside `desktop`: right and bottom first, then left and top, so a window larger
// than the desktop ends with its left and top edges on the desktop's.
Box CenteredBox(const Box& reference, const Box& window, const Box& desktop);
