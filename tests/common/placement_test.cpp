// Where CenterWindow puts a window: centred on its reference with halves truncated
// toward zero, then pushed back onto the desktop.
#include "placement.h"

#include <gtest/gtest.h>

// Beside Box itself, where GoogleTest's comparisons find them.
static bool operator==(const Box& a, const Box& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

static std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "{" << b.left << ", " << b.top << ", " << b.right << ", " << b.bottom << "}";
}

namespace {

constexpr Box kDesktop = {0, 0, 1024, 768};

struct Placement {
    const char* what;
    Box reference;
    Box window;
    Box placed;
};

void ExpectPlacements(std::initializer_list<Placement> cases) {
    for (const Placement& c : cases) {
        EXPECT_EQ(CenteredBox(c.reference, c.window, kDesktop), c.placed) << c.what;
    }
}

TEST(CenteredBox, CentresOnTheReferenceTruncatingTowardZero) {
    ExpectPlacements({
        {"300 wide on the desktop", kDesktop, {0, 0, 300, 200}, {362, 284, 662, 484}},
        {"301 wide: 361.5 truncates to 361", kDesktop, {5, 5, 306, 206}, {361, 283, 662, 484}},
        {"on a parent", {100, 100, 500, 400}, {0, 0, 200, 100}, {200, 200, 400, 300}},
        // A window 5 px wider than its parent: -5 / 2 is -2, not -3.
        {"wider than its parent", {100, 100, 200, 200}, {0, 0, 105, 100}, {98, 100, 203, 200}},
    });
}

TEST(CenteredBox, KeepsTheWindowOnTheDesktop) {
    ExpectPlacements({
        {"parent at the right edge",
         {900, 100, 1100, 300},
         {0, 0, 300, 100},
         {724, 150, 1024, 250}},
        {"parent at the bottom edge", {100, 700, 300, 900}, {0, 0, 100, 300}, {150, 468, 250, 768}},
        {"parent off the top left", {-300, -300, -100, -100}, {0, 0, 100, 100}, {0, 0, 100, 100}},
        {"taller than the desktop", kDesktop, {0, 0, 300, 1000}, {362, 0, 662, 1000}},
        {"larger than the desktop", kDesktop, {0, 0, 1100, 900}, {0, 0, 1100, 900}},
    });
}

TEST(CenteredBox, RespectsADesktopNotAtTheOrigin) {
    const Box desktop = {-1024, 0, 0, 768};
    EXPECT_EQ(CenteredBox(desktop, {0, 0, 300, 200}, desktop), (Box{-662, 284, -362, 484}));
}

} // namespace
