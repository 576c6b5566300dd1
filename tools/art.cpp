#include "art.h"

#include <algorithm>
#include <cmath>
#include <functional>

const IconFormat kSetupIconFormats[9] = {{48, 4}, {32, 4},  {16, 4},  {48, 8}, {32, 8},
                                         {16, 8}, {48, 32}, {32, 32}, {16, 32}};

namespace {

// The emblem is designed on a 48-unit square, y downwards; each image scales it.
constexpr double kDesignSize = 48.0;

struct Vec {
    double x, y;
};

// Signed distance in design units to a shape's edge, negative inside.
using Shape = std::function<double(Vec)>;

// A vertical gradient between two colours over a band of design units; a flat
// paint has the same colour at both ends.
struct Paint {
    Rgb top, bottom;
    double y0, y1;
};

Paint Flat(Rgb colour) {
    return {colour, colour, 0.0, 1.0};
}

// Premultiplied RGBA in 0..1, rows top down.
struct Canvas {
    int size;
    double pixelsPerUnit;
    std::vector<double> px;
};

Canvas NewCanvas(int size) {
    return {size, size / kDesignSize, std::vector<double>(static_cast<size_t>(size) * size * 4)};
}

double Clamp01(double v) {
    return std::min(1.0, std::max(0.0, v));
}

// Share of a pixel covered by the shape, from the distance of the pixel's centre
// to the edge: a one-pixel-wide ramp gives anti-aliased edges. `growPx` moves the
// edge outwards by that many pixels (inwards when negative).
double Coverage(const Canvas& canvas, const Shape& shape, int x, int y, double growPx) {
    const Vec p{(x + 0.5) / canvas.pixelsPerUnit, (y + 0.5) / canvas.pixelsPerUnit};
    return Clamp01(0.5 - (shape(p) * canvas.pixelsPerUnit - growPx));
}

void Fill(Canvas& canvas, const Shape& shape, const Paint& paint, double growPx = 0.0) {
    for (int y = 0; y < canvas.size; ++y) {
        const double unitY = (y + 0.5) / canvas.pixelsPerUnit;
        const double t = Clamp01((unitY - paint.y0) / (paint.y1 - paint.y0));
        const double r = (paint.top.r + (paint.bottom.r - paint.top.r) * t) / 255.0;
        const double g = (paint.top.g + (paint.bottom.g - paint.top.g) * t) / 255.0;
        const double b = (paint.top.b + (paint.bottom.b - paint.top.b) * t) / 255.0;
        for (int x = 0; x < canvas.size; ++x) {
            const double a = Coverage(canvas, shape, x, y, growPx);
            if (a == 0.0) {
                continue;
            }
            double* d = &canvas.px[(static_cast<size_t>(y) * canvas.size + x) * 4];
            d[0] = r * a + d[0] * (1 - a);
            d[1] = g * a + d[1] * (1 - a);
            d[2] = b * a + d[2] * (1 - a);
            d[3] = a + d[3] * (1 - a);
        }
    }
}

// Clears what lies under the shape, leaving a transparent gap between layers.
void Cut(Canvas& canvas, const Shape& shape, double growPx) {
    for (int y = 0; y < canvas.size; ++y) {
        for (int x = 0; x < canvas.size; ++x) {
            const double keep = 1.0 - Coverage(canvas, shape, x, y, growPx);
            double* d = &canvas.px[(static_cast<size_t>(y) * canvas.size + x) * 4];
            for (int c = 0; c < 4; ++c) {
                d[c] *= keep;
            }
        }
    }
}

// A shape drawn with a dark rim of `rimPx` pixels, whatever the image size.
void FillWithRim(Canvas& canvas, const Shape& shape, const Paint& rim, const Paint& inside,
                 double rimPx = 1.0) {
    Fill(canvas, shape, rim);
    Fill(canvas, shape, inside, -rimPx);
}

Shape RoundedBox(double x0, double y0, double x1, double y1, double radius) {
    return [=](Vec p) {
        const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
        const double qx = std::fabs(p.x - cx) - ((x1 - x0) / 2 - radius);
        const double qy = std::fabs(p.y - cy) - ((y1 - y0) / 2 - radius);
        const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
        return outside + std::min(std::max(qx, qy), 0.0) - radius;
    };
}

Shape Circle(double cx, double cy, double radius) {
    return [=](Vec p) { return std::hypot(p.x - cx, p.y - cy) - radius; };
}

Shape Union(Shape a, Shape b) {
    return [=](Vec p) { return std::min(a(p), b(p)); };
}

double SegmentDistance(Vec p, Vec a, Vec b) {
    const double vx = b.x - a.x, vy = b.y - a.y;
    const double t = Clamp01(((p.x - a.x) * vx + (p.y - a.y) * vy) / (vx * vx + vy * vy));
    return std::hypot(p.x - a.x - vx * t, p.y - a.y - vy * t);
}

Shape Polygon(std::vector<Vec> points) {
    return [points = std::move(points)](Vec p) {
        double distance = 1e9;
        bool inside = false;
        for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
            const Vec a = points[j], b = points[i];
            distance = std::min(distance, SegmentDistance(p, a, b));
            if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y)) {
                inside = !inside;
            }
        }
        return inside ? -distance : distance;
    };
}

void AddQuadratic(std::vector<Vec>& points, Vec from, Vec control, Vec to) {
    constexpr int kSteps = 12;
    for (int i = 1; i <= kSteps; ++i) {
        const double t = static_cast<double>(i) / kSteps, u = 1 - t;
        points.push_back({u * u * from.x + 2 * u * t * control.x + t * t * to.x,
                          u * u * from.y + 2 * u * t * control.y + t * t * to.y});
    }
}

// A shield with a peak at the top centre, straight sides and a pointed foot.
Shape Shield(double left, double right, double top, double shoulder, double waist, double foot) {
    const double mid = (left + right) / 2;
    std::vector<Vec> points{{mid, top}};
    AddQuadratic(points, {mid, top}, {(mid + right) / 2, shoulder}, {right, shoulder});
    points.push_back({right, waist});
    AddQuadratic(points, {right, waist}, {right, waist + (foot - waist) * 0.8}, {mid, foot});
    AddQuadratic(points, {mid, foot}, {left, waist + (foot - waist) * 0.8}, {left, waist});
    points.push_back({left, shoulder});
    AddQuadratic(points, {left, shoulder}, {(mid + left) / 2, shoulder}, {mid, top});
    points.pop_back(); // the closing point repeats the first
    return Polygon(std::move(points));
}

// A padlock's shackle: an upturned U of the given centre line radius and thickness
// whose legs reach down to `legEnd`.
Shape Shackle(double cx, double cy, double radius, double thickness, double legEnd) {
    return [=](Vec p) {
        const double qx = p.x - cx, qy = p.y - cy;
        double centreLine;
        if (qy < 0) {
            centreLine = std::fabs(std::hypot(qx, qy) - radius);
        } else {
            centreLine = std::hypot(std::fabs(qx) - radius, std::max(qy - (legEnd - cy), 0.0));
        }
        return centreLine - thickness / 2;
    };
}

constexpr Rgb kBlack{0, 0, 0}, kNavy{0, 0, 0x80}, kOlive{0x80, 0x80, 0}, kGrey{0x80, 0x80, 0x80},
    kSilver{0xC0, 0xC0, 0xC0}, kBlue{0, 0, 0xFF}, kYellow{0xFF, 0xFF, 0}, kWhite{0xFF, 0xFF, 0xFF};

// Colours of each part: gradients for the rich images, palette colours for the
// 16-colour ones (which would otherwise be quantised into muddy blotches).
struct Scheme {
    Paint stickRim, stick, plugRim, plug, holes;
    Paint shieldRim, shield, lockRim, lock, shackleRim, shackle, keyhole;
};

Scheme RichScheme() {
    return {Flat({0x26, 0x32, 0x38}),
            {{0x6B, 0x82, 0x8E}, {0x37, 0x47, 0x4F}, 14, 42},
            Flat({0x5F, 0x6B, 0x72}),
            {{0xF2, 0xF4, 0xF5}, {0xA9, 0xB4, 0xBA}, 2, 15},
            Flat({0x37, 0x47, 0x4F}),
            Flat({0x0D, 0x2F, 0x66}),
            {{0x52, 0xA2, 0xF2}, {0x17, 0x4E, 0xA6}, 9, 47},
            Flat({0x6E, 0x42, 0x00}),
            {{0xFF, 0xDB, 0x5C}, {0xE3, 0x92, 0x08}, 26, 38},
            Flat({0x37, 0x47, 0x4F}),
            {{0xF5, 0xF7, 0xF8}, {0x9A, 0xAC, 0xB5}, 20, 28},
            Flat({0x5A, 0x36, 0x00})};
}

Scheme FlatScheme() {
    return {Flat(kBlack), Flat(kGrey),  Flat(kBlack),  Flat(kSilver), Flat(kBlack), Flat(kNavy),
            Flat(kBlue),  Flat(kOlive), Flat(kYellow), Flat(kBlack),  Flat(kWhite), Flat(kBlack)};
}

} // namespace

Picture DrawEmblem(int size, bool flat) {
    const Scheme s = flat ? FlatScheme() : RichScheme();
    // Small images get a bigger lock and lose the details a few pixels cannot show.
    const bool small = size <= 16;
    Canvas canvas = NewCanvas(size);

    // The USB stick, behind: a metal plug with its two windows, on a body.
    const Shape body = RoundedBox(4, 14, 24, 42, 3);
    const Shape plug = RoundedBox(7, 2, 21, 16, 0.5);
    FillWithRim(canvas, body, s.stickRim, s.stick);
    FillWithRim(canvas, plug, s.plugRim, s.plug);
    Fill(canvas, RoundedBox(10, 6, 13, 9.5, 0.3), s.holes);
    Fill(canvas, RoundedBox(15, 6, 18, 9.5, 0.3), s.holes);

    // The shield, in front, parted from the stick by a transparent gap.
    const Shape shield = Shield(17, 47, 8, 12, 26, 47.5);
    Cut(canvas, shield, size <= 16 ? 1.0 : 1.5);
    FillWithRim(canvas, shield, s.shieldRim, s.shield);

    // The padlock on the shield.
    const double lockTop = small ? 24.5 : 26;
    const Shape lock =
        small ? RoundedBox(22.5, lockTop, 41.5, 40, 1.5) : RoundedBox(25, lockTop, 39, 38, 2);
    const Shape shackle =
        small ? Shackle(32, 24, 5.5, 3.6, lockTop + 1) : Shackle(32, 25, 4.4, 3.0, lockTop + 1);
    FillWithRim(canvas, shackle, s.shackleRim, s.shackle, small ? 0.75 : 1.0);
    FillWithRim(canvas, lock, s.lockRim, s.lock);
    if (!small) {
        Fill(canvas, Union(Circle(32, 30.6, 1.8), RoundedBox(31.1, 30.6, 32.9, 35, 0.3)),
             s.keyhole);
    }

    Picture picture{size, std::vector<uint8_t>(canvas.px.size())};
    for (size_t i = 0; i < canvas.px.size(); i += 4) {
        const double a = canvas.px[i + 3];
        for (int c = 0; c < 3; ++c) {
            const double straight = a > 0 ? canvas.px[i + c] / a : 0.0;
            picture.rgba[i + c] = static_cast<uint8_t>(std::lround(Clamp01(straight) * 255));
        }
        picture.rgba[i + 3] = static_cast<uint8_t>(std::lround(Clamp01(a) * 255));
    }
    return picture;
}

const std::vector<Rgb>& StandardPalette16() {
    static const std::vector<Rgb> palette{
        {0, 0, 0},          {0x80, 0, 0},    {0, 0x80, 0},    {0x80, 0x80, 0},
        {0, 0, 0x80},       {0x80, 0, 0x80}, {0, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
        {0x80, 0x80, 0x80}, {0xFF, 0, 0},    {0, 0xFF, 0},    {0xFF, 0xFF, 0},
        {0, 0, 0xFF},       {0xFF, 0, 0xFF}, {0, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}};
    return palette;
}

const std::vector<Rgb>& FixedPalette256() {
    static const std::vector<Rgb> palette = [] {
        std::vector<Rgb> p = StandardPalette16();
        for (int r = 0; r < 6; ++r) {
            for (int g = 0; g < 6; ++g) {
                for (int b = 0; b < 6; ++b) {
                    p.push_back({static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                                 static_cast<uint8_t>(b * 51)});
                }
            }
        }
        // Greys between the cube's steps, for the metal parts.
        for (int i = 1; i <= 24; ++i) {
            const auto v = static_cast<uint8_t>(i * 255 / 25);
            p.push_back({v, v, v});
        }
        return p;
    }();
    return palette;
}

uint8_t NearestColour(const std::vector<Rgb>& palette, Rgb colour) {
    // Weighted for the eye's sensitivity, in integers so every build agrees.
    size_t best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < palette.size(); ++i) {
        const long dr = colour.r - palette[i].r, dg = colour.g - palette[i].g,
                   db = colour.b - palette[i].b;
        const long distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<uint8_t>(best);
}

namespace {

void Put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

size_t RowBytes(int pixels, int bits) {
    return (static_cast<size_t>(pixels) * bits + 31) / 32 * 4;
}

void PutInfoHeader(std::vector<uint8_t>& out, int width, int height, int bits, uint32_t imageBytes,
                   uint32_t pixelsPerMetre) {
    Put32(out, 40); // BITMAPINFOHEADER
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1); // planes
    Put16(out, static_cast<unsigned>(bits));
    Put32(out, 0); // BI_RGB
    Put32(out, imageBytes);
    Put32(out, pixelsPerMetre);
    Put32(out, pixelsPerMetre);
    Put32(out, 0); // colours used: all the depth allows
    Put32(out, 0); // colours important: all
}

// One icon image: header (height counts the colour and the mask rows), palette,
// colour rows and AND mask rows, both bottom up.
std::vector<uint8_t> EncodeIconImage(IconFormat format) {
    const int n = format.size;
    const Picture picture = DrawEmblem(n, format.bits == 4);
    const std::vector<Rgb>* palette = format.bits == 4   ? &StandardPalette16()
                                      : format.bits == 8 ? &FixedPalette256()
                                                         : nullptr;
    const size_t colourRow = RowBytes(n, format.bits), maskRow = RowBytes(n, 1);
    std::vector<uint8_t> colours(colourRow * n), mask(maskRow * n);
    for (int y = 0; y < n; ++y) {
        const size_t row = static_cast<size_t>(n - 1 - y);
        for (int x = 0; x < n; ++x) {
            const uint8_t* p = &picture.rgba[(static_cast<size_t>(y) * n + x) * 4];
            const bool opaque = p[3] >= kOpaqueFrom;
            if (!opaque) {
                mask[row * maskRow + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
            if (palette == nullptr) {
                uint8_t* d = &colours[row * colourRow + static_cast<size_t>(x) * 4];
                d[0] = p[2];
                d[1] = p[1];
                d[2] = p[0];
                d[3] = p[3];
                continue;
            }
            // Transparent pixels are colour 0 (black) under a set mask bit, so
            // the screen shows through unchanged.
            const uint8_t index = opaque ? NearestColour(*palette, {p[0], p[1], p[2]}) : 0;
            if (format.bits == 8) {
                colours[row * colourRow + x] = index;
            } else {
                colours[row * colourRow + x / 2] |=
                    static_cast<uint8_t>(x % 2 == 0 ? index << 4 : index);
            }
        }
    }
    std::vector<uint8_t> out;
    PutInfoHeader(out, n, 2 * n, format.bits, static_cast<uint32_t>(colours.size() + mask.size()),
                  0);
    if (palette != nullptr) {
        for (const Rgb& c : *palette) {
            out.insert(out.end(), {c.b, c.g, c.r, 0});
        }
    }
    out.insert(out.end(), colours.begin(), colours.end());
    out.insert(out.end(), mask.begin(), mask.end());
    return out;
}

} // namespace

std::vector<uint8_t> EncodeIcon(const std::vector<IconFormat>& formats) {
    constexpr size_t kDirectoryBytes = 6, kEntryBytes = 16;
    std::vector<std::vector<uint8_t>> images;
    for (const IconFormat& format : formats) {
        images.push_back(EncodeIconImage(format));
    }
    std::vector<uint8_t> out;
    Put16(out, 0); // reserved
    Put16(out, 1); // icon
    Put16(out, static_cast<unsigned>(formats.size()));
    size_t offset = kDirectoryBytes + kEntryBytes * formats.size();
    for (size_t i = 0; i < formats.size(); ++i) {
        const IconFormat& f = formats[i];
        out.push_back(static_cast<uint8_t>(f.size));               // width; 0 would mean 256
        out.push_back(static_cast<uint8_t>(f.size));               // height
        out.push_back(static_cast<uint8_t>(f.bits == 4 ? 16 : 0)); // colours, 0 when 256 or more
        out.push_back(0);                                          // reserved
        Put16(out, 1);                                             // planes
        Put16(out, static_cast<unsigned>(f.bits));
        Put32(out, static_cast<uint32_t>(images[i].size()));
        Put32(out, static_cast<uint32_t>(offset));
        offset += images[i].size();
    }
    for (const std::vector<uint8_t>& image : images) {
        out.insert(out.end(), image.begin(), image.end());
    }
    return out;
}

std::vector<uint8_t> EncodeHeaderBitmap() {
    constexpr int kSize = 48;
    constexpr uint32_t kHeadersBytes = 14 + 40;
    constexpr uint32_t kPixelsPerMetre = 2835; // 72 dots per inch
    const Picture picture = DrawEmblem(kSize, false);
    const size_t row = RowBytes(kSize, 24);
    const auto pixelBytes = static_cast<uint32_t>(row * kSize);

    std::vector<uint8_t> out{'B', 'M'};
    Put32(out, kHeadersBytes + pixelBytes);
    Put32(out, 0); // reserved
    Put32(out, kHeadersBytes);
    PutInfoHeader(out, kSize, kSize, 24, pixelBytes, kPixelsPerMetre);
    // On white, the colour of the header band it stands in.
    for (int y = kSize - 1; y >= 0; --y) {
        for (int x = 0; x < kSize; ++x) {
            const uint8_t* p = &picture.rgba[(static_cast<size_t>(y) * kSize + x) * 4];
            for (int c = 2; c >= 0; --c) {
                out.push_back(static_cast<uint8_t>((p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255));
            }
        }
    }
    return out;
}
