// Setup's pictures, drawn by code so that the build makes them the same on every
// run: the emblem (a shield with a padlock in front of a USB stick) as a Windows
// icon file of nine images and as the wizard's 48 x 48 header bitmap.
#pragma once

#include <cstdint>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
};

// One drawn image, square, 8-bit straight (not premultiplied) RGBA, rows top down.
struct Picture {
    int size;
    std::vector<uint8_t> rgba;
};

// One icon image as stored in the file: its size and colour depth (4, 8 or 32).
struct IconFormat {
    int size;
    int bits;
};

// The images of setup's icon, in file (and so resource id) order.
extern const IconFormat kSetupIconFormats[9];

// The emblem at `size` pixels. `flat` picks plain colours from the 16-colour
// palette instead of gradients, for the 16-colour images.
Picture DrawEmblem(int size, bool flat);

// The palettes the low-colour images use: the standard 16 colours in their
// usual order, and a fixed 256-colour palette (the 16, a 6x6x6 cube, 24 greys).
const std::vector<Rgb>& StandardPalette16();
const std::vector<Rgb>& FixedPalette256();

// Index of the palette colour nearest to `colour`.
uint8_t NearestColour(const std::vector<Rgb>& palette, Rgb colour);

// A pixel counts as opaque in the low-colour images and the AND masks from this alpha on.
constexpr uint8_t kOpaqueFrom = 128;

// A complete .ico file holding the given images in the given order.
std::vector<uint8_t> EncodeIcon(const std::vector<IconFormat>& formats);

// The header bitmap: a .bmp file, 48 x 48, 24 bits, BI_RGB, the emblem on white.
std::vector<uint8_t> EncodeHeaderBitmap();
