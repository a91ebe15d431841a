#include "button_painting.h"

#include <ole2.h>
#include <olectl.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

#include "packed_bitmap.h"
#include "screen.h"

namespace kestrave {
namespace {

constexpr ColorValue kWhite = 0xFFFFFF;
constexpr ColorValue kBlack = 0;
constexpr long kDarkWeight = 128;
constexpr double kTwipsPerHimetric = 1440.0 / 2540.0;

bool FitsLong(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() &&
           value <= std::numeric_limits<std::int32_t>::max();
}

// One painting step: whatever goes wrong in it only leaves it out.
template <typename Step>
void SkipOnFailure(Step&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

std::optional<COLORREF> Translated(ColorValue color) {
    long rgb = ToRgb(color);
    if (rgb == -1)
        return std::nullopt;
    return static_cast<COLORREF>(rgb);
}

int TwipsToPixels(double twips, int twipsPerPixel) {
    return static_cast<int>(std::lround(twips / twipsPerPixel));
}

void DrawLine(HDC dc, ColorValue color, POINT to1, POINT to2) {
    PenHandle pen(CreatePen(PS_SOLID, 1, static_cast<COLORREF>(color)));
    if (!pen)
        return;
    SelectedObject selected(dc, pen.get());
    LineTo(dc, to1.x, to1.y);
    LineTo(dc, to2.x, to2.y);
}

void PaintFlatFace(ButtonSurface& surface, FaceRelief relief) {
    const ColorValue fore = surface.foreColor;
    // Without a colour the line is drawn in the fore colour, as if the colour change had failed.
    ColorValue light = Translated(fore).value_or(kBlack);
    ColorValue dark = light;
    SkipOnFailure([&] { light = BlendColor(fore, kWhite, 0); });
    SkipOnFailure([&] { dark = BlendColor(fore, kBlack, kDarkWeight); });
    const ColorValue first = relief == FaceRelief::Raised ? light : dark;
    const ColorValue second = relief == FaceRelief::Raised ? dark : light;

    surface.Clear();
    HDC dc = surface.Dc();
    const int width = TwipsToPixels(surface.ScaleWidth(), TwipsPerPixelX());
    const int height = TwipsToPixels(surface.ScaleHeight(), TwipsPerPixelY());
    MoveToEx(dc, 0, height - 1, nullptr);
    // LineTo leaves out its end point: the first colour ends just before the top-right corner,
    // and the second ends just before the bottom-left one, which keeps the first colour.
    DrawLine(dc, first, {0, 0}, {width - 1, 0});
    DrawLine(dc, second, {width - 1, height - 1}, {0, height - 1});
}

void PaintNineSlices(ButtonSurface& surface, const Picture& picture) {
    // A damaged picture is left out rather than drawn from an empty bitmap.
    if (!picture.Bitmap())
        return;
    HDC dc = surface.Dc();
    MemoryDc source(CreateCompatibleDC(dc));
    if (!source)
        return;
    SelectedObject selected(source.get(), picture.Bitmap());
    SetStretchBltMode(dc, COLORONCOLOR);
    const auto copies =
        NineSliceCopiesInPixels(surface.Width(), surface.Height(), picture.Width(),
                                picture.Height(), ScaleToDpi(kSliceBorderPixels, picture.Dpi()));
    for (const SliceCopy& copy : copies) {
        const PixelRect& to = copy.destination;
        const PixelRect& from = copy.source;
        // A button or picture narrower than two corners gives empty or negative pieces; a
        // negative size would mirror the piece, so such pieces are left out.
        if (to.width <= 0 || to.height <= 0 || from.width <= 0 || from.height <= 0)
            continue;
        StretchBlt(dc, to.x, to.y, to.width, to.height, source.get(), from.x, from.y, from.width,
                   from.height, SRCCOPY);
    }
}

void DrawCaption(ButtonSurface& surface, const std::wstring& caption) {
    if (caption.empty())
        return;
    HDC dc = surface.Dc();
    RECT bounds{0, 0, TwipsToPixels(surface.ScaleWidth(), TwipsPerPixelX()),
                TwipsToPixels(surface.ScaleHeight(), TwipsPerPixelY())};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Translated(surface.foreColor).value_or(kBlack));
    std::optional<SelectedObject> font;
    if (surface.font && surface.font->Handle())
        font.emplace(dc, surface.font->Handle());
    // The wide call draws every character of the caption, whatever the system's code page.
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &bounds, kCaptionFormat);
}

}  // namespace

// OleTranslateColor's rules without a palette. Kept here so the first paint does not load OLE
// for them.
long ToRgb(ColorValue color) {
    switch (color >> 24) {
        case 0x00:  // RGB
        case 0x01:  // palette index, kept as it is without a palette
        case 0x02:  // palette-relative RGB
            return static_cast<long>(color);
        case 0x80: {  // system colour
            const int index = static_cast<int>(color & 0xFF);
            if (index > COLOR_MENUBAR)
                return -1;
            return static_cast<long>(GetSysColor(index));
        }
        default:
            return -1;
    }
}

ColorValue BlendColor(ColorValue colorA, ColorValue colorB, long weightA) {
    const long a = ToRgb(colorA);
    const long b = ToRgb(colorB);
    const std::int64_t weightB = 255 - static_cast<std::int64_t>(weightA);
    if (!FitsLong(weightB))
        throw std::overflow_error("BlendColor: weight out of range");
    auto channel = [](long rgb, int shift) -> std::int64_t {
        return rgb == -1 ? 255 : (rgb >> shift) & 0xFF;
    };
    std::int64_t result = 0;
    for (int shift : {0, 8, 16}) {
        const std::int64_t partA = static_cast<std::int64_t>(weightA) * channel(a, shift);
        const std::int64_t partB = weightB * channel(b, shift);
        if (!FitsLong(partA) || !FitsLong(partB)) {
            throw std::overflow_error("BlendColor: weight out of range");
        }
        // nearbyint rounds ties to even in the default rounding mode.
        const double value =
            static_cast<double>(partB) / 255.0 + static_cast<double>(partA) / 255.0;
        result += static_cast<std::int64_t>(std::nearbyint(value)) << shift;
        if (!FitsLong(result))
            throw std::overflow_error("BlendColor: weight out of range");
    }
    return static_cast<ColorValue>(static_cast<std::int32_t>(result));
}

std::array<SliceCopy, 9> NineSliceCopies(int surfaceWidth, int surfaceHeight,
                                         int pictureHimetricWidth, int pictureHimetricHeight) {
    const int tx = TwipsPerPixelX();
    const int ty = TwipsPerPixelY();
    const double bx = kSliceBorderPixels * tx;
    const double by = kSliceBorderPixels * ty;
    const double sw = static_cast<double>(surfaceWidth) * tx;
    const double sh = static_cast<double>(surfaceHeight) * ty;
    // A picture's size in twips is kept a whole number of pixels, so its corners stay unscaled.
    const double pw = std::lround(pictureHimetricWidth * kTwipsPerHimetric / tx) * tx;
    const double ph = std::lround(pictureHimetricHeight * kTwipsPerHimetric / ty) * ty;

    auto rect = [tx, ty](double x, double y, double width, double height) {
        return PixelRect{TwipsToPixels(x, tx), TwipsToPixels(y, ty), TwipsToPixels(width, tx),
                         TwipsToPixels(height, ty)};
    };
    return {{
        {rect(0, 0, bx, by), rect(0, 0, bx, by)},
        {rect(bx, 0, sw - 2 * bx, by), rect(bx, 0, pw - 2 * bx, by)},
        {rect(sw - bx, 0, bx, by), rect(pw - bx, 0, bx, by)},
        {rect(0, by, bx, sh - 2 * by), rect(0, by, bx, ph - 2 * by)},
        {rect(bx, by, sw - 2 * bx, sh - 2 * by), rect(bx, by, pw - 2 * bx, ph - 2 * by)},
        {rect(sw - bx, by, bx, sh - 2 * by), rect(pw - bx, by, bx, ph - 2 * by)},
        {rect(0, sh - by, bx, by), rect(0, ph - by, bx, by)},
        {rect(bx, sh - by, sw - 2 * bx, by), rect(bx, ph - by, pw - 2 * bx, by)},
        {rect(sw - bx, sh - by, bx, by), rect(pw - bx, ph - by, bx, by)},
    }};
}

std::array<SliceCopy, 9> NineSliceCopiesInPixels(int surfaceWidth, int surfaceHeight,
                                                 int pictureWidth, int pictureHeight,
                                                 int cornerPixels) {
    const int c = cornerPixels;
    const int sw = surfaceWidth;
    const int sh = surfaceHeight;
    const int pw = pictureWidth;
    const int ph = pictureHeight;
    return {{
        {{0, 0, c, c}, {0, 0, c, c}},
        {{c, 0, sw - 2 * c, c}, {c, 0, pw - 2 * c, c}},
        {{sw - c, 0, c, c}, {pw - c, 0, c, c}},
        {{0, c, c, sh - 2 * c}, {0, c, c, ph - 2 * c}},
        {{c, c, sw - 2 * c, sh - 2 * c}, {c, c, pw - 2 * c, ph - 2 * c}},
        {{sw - c, c, c, sh - 2 * c}, {pw - c, c, c, ph - 2 * c}},
        {{0, sh - c, c, c}, {0, ph - c, c, c}},
        {{c, sh - c, sw - 2 * c, c}, {c, ph - c, pw - 2 * c, c}},
        {{sw - c, sh - c, c, c}, {pw - c, ph - c, c, c}},
    }};
}

ButtonSurface::ButtonSurface(int width, int height) {
    Resize(width, height);
}

void ButtonSurface::Resize(int width, int height) {
    width = width > 0 ? width : 0;
    height = height > 0 ? height : 0;
    // A bitmap needs at least one pixel; an empty button still gets a device context to draw on.
    void* bits = nullptr;
    BitmapHandle bitmap = MakeTopDownBitmap(width > 0 ? width : 1, height > 0 ? height : 1, bits);
    MemoryDc dc(CreateCompatibleDC(nullptr));
    if (!bitmap || !dc)
        return;
    SelectObject(dc.get(), bitmap.get());
    dc_ = std::move(dc);
    bitmap_ = std::move(bitmap);
    bits_ = bits;
    width_ = width;
    height_ = height;
    Clear();
}

double ButtonSurface::ScaleWidth() const {
    return static_cast<double>(width_) * TwipsPerPixelX();
}
double ButtonSurface::ScaleHeight() const {
    return static_cast<double>(height_) * TwipsPerPixelY();
}

COLORREF ButtonSurface::Pixel(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_)
        return CLR_INVALID;
    GdiFlush();
    const auto* row = static_cast<const std::uint32_t*>(bits_) + static_cast<size_t>(y) * width_;
    const std::uint32_t bgra = row[x];
    return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
}

void ButtonSurface::Clear() {
    if (!dc_)
        return;
    std::optional<COLORREF> back = Translated(backColor);
    if (!back)
        return;
    BrushHandle brush(CreateSolidBrush(*back));
    if (!brush)
        return;
    RECT all{0, 0, width_, height_};
    FillRect(dc_.get(), &all, brush.get());
}

void ButtonSurface::CopyTo(HDC target) const {
    if (!dc_ || !target)
        return;
    BitBlt(target, 0, 0, width_, height_, dc_.get(), 0, 0, SRCCOPY);
}

void PaintFace(ButtonSurface& surface, const PictureRef& picture, FaceRelief relief,
               const std::wstring& caption) {
    if (!surface.Dc())
        return;
    if (picture) {
        SkipOnFailure([&] { PaintNineSlices(surface, *picture); });
    } else {
        SkipOnFailure([&] { PaintFlatFace(surface, relief); });
    }
    SkipOnFailure([&] { DrawCaption(surface, caption); });
}

}  // namespace kestrave
