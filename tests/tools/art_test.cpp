// Setup's icon and header bitmap as Windows reads them: the icon directory, each
// image's header, palette, colour bits and AND mask, and the bitmap's headers.
#include "art.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

uint32_t U16(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

size_t RowBytes(int pixels, int bits) {
    return (static_cast<size_t>(pixels) * bits + 31) / 32 * 4;
}

// One icon image read back from the file.
struct StoredImage {
    int size, bits, colourCount;
    size_t offset, bytes;
};

std::vector<StoredImage> ReadDirectory(const std::vector<uint8_t>& ico) {
    std::vector<StoredImage> images;
    for (size_t i = 0; i < U16(ico, 4); ++i) {
        const size_t e = 6 + 16 * i;
        images.push_back({ico.at(e), static_cast<int>(U16(ico, e + 6)), ico.at(e + 2),
                          U32(ico, e + 12), U32(ico, e + 8)});
    }
    return images;
}

bool MaskBit(const std::vector<uint8_t>& ico, const StoredImage& image, size_t maskAt, int x,
             int y) {
    const size_t row = static_cast<size_t>(image.size - 1 - y); // bottom up
    return (ico.at(maskAt + row * RowBytes(image.size, 1) + x / 8) >> (7 - x % 8)) & 1;
}

// Palette index (4 and 8 bits) or BGRA value (32 bits) of a pixel.
uint32_t ColourBits(const std::vector<uint8_t>& ico, const StoredImage& image, size_t colourAt,
                    int x, int y) {
    const size_t row =
        colourAt + static_cast<size_t>(image.size - 1 - y) * RowBytes(image.size, image.bits);
    switch (image.bits) {
    case 4:
        return x % 2 == 0 ? ico.at(row + x / 2) >> 4 : ico.at(row + x / 2) & 0x0F;
    case 8:
        return ico.at(row + x);
    default:
        return U32(ico, row + static_cast<size_t>(x) * 4);
    }
}

const std::vector<uint8_t>& SetupIcon() {
    static const std::vector<uint8_t> ico = EncodeIcon(
        std::vector<IconFormat>(std::begin(kSetupIconFormats), std::end(kSetupIconFormats)));
    return ico;
}

TEST(SetupIcon, DirectoryListsNineImagesByDepthThenSize) {
    const std::vector<uint8_t>& ico = SetupIcon();
    EXPECT_EQ(U16(ico, 0), 0u);
    EXPECT_EQ(U16(ico, 2), 1u); // icon, not cursor
    const std::vector<StoredImage> images = ReadDirectory(ico);
    const std::pair<int, int> expected[] = {{48, 4}, {32, 4},  {16, 4},  {48, 8}, {32, 8},
                                            {16, 8}, {48, 32}, {32, 32}, {16, 32}};
    ASSERT_EQ(images.size(), 9u);
    size_t next = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); ++i) {
        const StoredImage& image = images[i];
        SCOPED_TRACE("image " + std::to_string(i + 1));
        EXPECT_EQ(image.size, expected[i].first);
        EXPECT_EQ(image.bits, expected[i].second);
        EXPECT_EQ(ico.at(6 + 16 * i + 1), image.size) << "height";
        EXPECT_EQ(image.colourCount, image.bits == 4 ? 16 : 0);
        EXPECT_EQ(U16(ico, 6 + 16 * i + 4), 1u) << "planes";
        // Images follow each other without gaps, and the last one ends the file.
        EXPECT_EQ(image.offset, next);
        next = image.offset + image.bytes;
    }
    EXPECT_EQ(next, ico.size());
}

TEST(SetupIcon, EachImageHeaderMatchesItsDirectoryEntry) {
    const std::vector<uint8_t>& ico = SetupIcon();
    for (const StoredImage& image : ReadDirectory(ico)) {
        SCOPED_TRACE(std::to_string(image.size) + " px, " + std::to_string(image.bits) + " bits");
        const size_t h = image.offset;
        const size_t paletteBytes = image.bits == 32 ? 0 : (size_t{1} << image.bits) * 4;
        const size_t pixelBytes =
            RowBytes(image.size, image.bits) * image.size + RowBytes(image.size, 1) * image.size;
        EXPECT_EQ(U32(ico, h), 40u);
        EXPECT_EQ(U32(ico, h + 4), static_cast<uint32_t>(image.size));
        EXPECT_EQ(U32(ico, h + 8), static_cast<uint32_t>(2 * image.size)) << "colour + mask rows";
        EXPECT_EQ(U16(ico, h + 12), 1u);
        EXPECT_EQ(U16(ico, h + 14), static_cast<uint32_t>(image.bits));
        EXPECT_EQ(U32(ico, h + 16), 0u) << "BI_RGB";
        EXPECT_EQ(U32(ico, h + 20), pixelBytes);
        EXPECT_EQ(U32(ico, h + 32), 0u) << "all colours of the depth";
        EXPECT_EQ(image.bytes, 40 + paletteBytes + pixelBytes);
    }
}

TEST(SetupIcon, PalettesAreTheStandardSixteenAndTheFixed256) {
    const std::vector<uint8_t>& ico = SetupIcon();
    for (const StoredImage& image : ReadDirectory(ico)) {
        if (image.bits == 32) {
            continue;
        }
        const std::vector<Rgb>& palette = image.bits == 4 ? StandardPalette16() : FixedPalette256();
        ASSERT_EQ(palette.size(), size_t{1} << image.bits);
        for (size_t i = 0; i < palette.size(); ++i) {
            const size_t q = image.offset + 40 + 4 * i; // RGBQUAD: blue, green, red, 0
            EXPECT_EQ(ico.at(q), palette[i].b);
            EXPECT_EQ(ico.at(q + 1), palette[i].g);
            EXPECT_EQ(ico.at(q + 2), palette[i].r);
            EXPECT_EQ(ico.at(q + 3), 0);
        }
    }
    // The fixed palette starts with the standard one, so 16-colour art keeps its colours.
    EXPECT_TRUE(std::equal(StandardPalette16().begin(), StandardPalette16().end(),
                           FixedPalette256().begin(),
                           [](Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }));
}

// The mask is set exactly where the drawing is (mostly) transparent, in every
// image, and masked pixels of palette images are black so the screen shows unchanged.
TEST(SetupIcon, AndMaskMarksExactlyTheTransparentPixels) {
    const std::vector<uint8_t>& ico = SetupIcon();
    for (const StoredImage& image : ReadDirectory(ico)) {
        SCOPED_TRACE(std::to_string(image.size) + " px, " + std::to_string(image.bits) + " bits");
        const Picture drawn = DrawEmblem(image.size, image.bits == 4);
        const size_t paletteBytes = image.bits == 32 ? 0 : (size_t{1} << image.bits) * 4;
        const size_t colourAt = image.offset + 40 + paletteBytes;
        const size_t maskAt = colourAt + RowBytes(image.size, image.bits) * image.size;
        int transparent = 0, opaque = 0;
        for (int y = 0; y < image.size; ++y) {
            for (int x = 0; x < image.size; ++x) {
                const uint8_t alpha = drawn.rgba[(static_cast<size_t>(y) * image.size + x) * 4 + 3];
                const bool masked = MaskBit(ico, image, maskAt, x, y);
                ASSERT_EQ(masked, alpha < kOpaqueFrom) << "at " << x << ", " << y;
                if (masked && image.bits != 32) {
                    ASSERT_EQ(ColourBits(ico, image, colourAt, x, y), 0u)
                        << "at " << x << ", " << y;
                }
                masked ? ++transparent : ++opaque;
            }
        }
        // The emblem fills a good part of the square but not all of it.
        EXPECT_GT(opaque, image.size * image.size / 2);
        EXPECT_GT(transparent, image.size * image.size / 10);
    }
}

// Spots of the design, in 48-unit coordinates, and the 16-colour palette index
// each must show: the parts keep their colours at every size they are drawn in.
TEST(SetupIcon, SixteenColourImagesShowThePartsInTheirColours) {
    struct Spot {
        const char* part;
        double x, y;
        uint32_t index;
        int fromSize; // the plug's face is mostly rim and windows at 16 px
    };
    const Spot spots[] = {{"shield", 22.5, 19.5, 12, 16},  // blue
                          {"padlock", 36.5, 35.5, 11, 16}, // yellow
                          {"stick body", 9, 38, 8, 16},    // grey
                          {"plug", 14.5, 12.5, 7, 32}};    // silver
    const std::vector<uint8_t>& ico = SetupIcon();
    for (const StoredImage& image : ReadDirectory(ico)) {
        if (image.bits != 4) {
            continue;
        }
        const size_t colourAt = image.offset + 40 + 16 * 4;
        for (const Spot& spot : spots) {
            if (image.size < spot.fromSize) {
                continue;
            }
            const int x = static_cast<int>(spot.x * image.size / 48);
            const int y = static_cast<int>(spot.y * image.size / 48);
            EXPECT_EQ(ColourBits(ico, image, colourAt, x, y), spot.index)
                << spot.part << " at " << image.size << " px";
        }
    }
}

TEST(SetupIcon, TrueColourImagesHaveSoftEdges) {
    for (int size : {48, 32, 16}) {
        const Picture p = DrawEmblem(size, false);
        int partial = 0;
        for (size_t i = 3; i < p.rgba.size(); i += 4) {
            partial += p.rgba[i] > 0 && p.rgba[i] < 255;
        }
        // Anti-aliasing leaves a fringe of partly covered pixels along the outline.
        EXPECT_GT(partial, size) << size << " px";
    }
}

TEST(SetupIcon, DrawingIsRepeatable) {
    EXPECT_EQ(DrawEmblem(48, false).rgba, DrawEmblem(48, false).rgba);
    EXPECT_EQ(EncodeIcon({{32, 8}, {16, 32}}), EncodeIcon({{32, 8}, {16, 32}}));
    EXPECT_EQ(EncodeHeaderBitmap(), EncodeHeaderBitmap());
}

TEST(NearestColour, FindsEveryPaletteColourItselfAndRoundsToTheClosest) {
    const std::vector<Rgb>& palette = StandardPalette16();
    for (size_t i = 0; i < palette.size(); ++i) {
        EXPECT_EQ(NearestColour(palette, palette[i]), i);
    }
    EXPECT_EQ(NearestColour(palette, {0x10, 0x20, 0xF0}), 12); // nearly blue
    EXPECT_EQ(NearestColour(palette, {0xF0, 0xD0, 0x30}), 11); // gold to yellow
    EXPECT_EQ(NearestColour(FixedPalette256(), {0x33, 0x66, 0x99}), 16 + 1 * 36 + 2 * 6 + 3);
}

TEST(HeaderBitmap, IsA48Square24BitUncompressedDib) {
    const std::vector<uint8_t> bmp = EncodeHeaderBitmap();
    ASSERT_EQ(bmp.size(), 14u + 40u + 6912u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(U32(bmp, 2), bmp.size());
    EXPECT_EQ(U32(bmp, 10), 54u) << "pixels follow the headers";
    EXPECT_EQ(U32(bmp, 14), 40u);
    EXPECT_EQ(U32(bmp, 18), 48u);
    EXPECT_EQ(U32(bmp, 22), 48u) << "positive: bottom-up rows";
    EXPECT_EQ(U16(bmp, 26), 1u);
    EXPECT_EQ(U16(bmp, 28), 24u);
    EXPECT_EQ(U32(bmp, 30), 0u) << "BI_RGB";
    EXPECT_EQ(U32(bmp, 34), 6912u);
    EXPECT_EQ(U32(bmp, 46), 0u);
}

TEST(HeaderBitmap, ShowsTheEmblemOnWhite) {
    const std::vector<uint8_t> bmp = EncodeHeaderBitmap();
    const Picture emblem = DrawEmblem(48, false);
    auto pixel = [&](int x, int y) { return &bmp[54 + (47 - y) * 144 + x * 3]; };
    for (auto [x, y] : {std::pair{0, 0}, {47, 0}, {0, 47}, {47, 47}}) {
        EXPECT_EQ(pixel(x, y)[0], 255);
        EXPECT_EQ(pixel(x, y)[1], 255);
        EXPECT_EQ(pixel(x, y)[2], 255);
    }
    // Where the emblem is opaque the bitmap has its colour (stored blue first).
    const uint8_t* drawn = &emblem.rgba[(36 * 48 + 35) * 4];
    ASSERT_EQ(drawn[3], 255);
    EXPECT_EQ(pixel(35, 36)[0], drawn[2]);
    EXPECT_EQ(pixel(35, 36)[1], drawn[1]);
    EXPECT_EQ(pixel(35, 36)[2], drawn[0]);
}

} // namespace
