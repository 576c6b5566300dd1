#include "placement.h"

namespace {

void MoveBy(Box& box, int32_t dx, int32_t dy) {
    box.left += dx;
    box.right += dx;
    box.top += dy;
    box.bottom += dy;
}

} // namespace

Box CenteredBox(const Box& reference, const Box& window, const Box& desktop) {
    const int32_t width = window.right - window.left;
    const int32_t height = window.bottom - window.top;
    // C++ division truncates toward zero, as the placement requires.
    const int32_t left = reference.left + ((reference.right - reference.left) - width) / 2;
    const int32_t top = reference.top + ((reference.bottom - reference.top) - height) / 2;
    Box placed = {left, top, left + width, top + height};
    if (placed.right > desktop.right) {
        MoveBy(placed, desktop.right - placed.right, 0);
    }
    if (placed.bottom > desktop.bottom) {
        MoveBy(placed, 0, desktop.bottom - placed.bottom);
    }
    if (placed.left < desktop.left) {
        MoveBy(placed, desktop.left - placed.left, 0);
    }
    if (placed.top < desktop.top) {
        MoveBy(placed, 0, desktop.top - placed.top);
    }
    return placed;
}
