// How a picture button looks: colour arithmetic, the nine-slice geometry and the painters, all
// working on a memory surface so they can be used (and checked pixel by pixel) without a window.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "font.h"
#include "handles.h"
#include "picture.h"

namespace kestrave {

// 0x00BBGGRR for an RGB colour, or 0x800000nn for the system colour with index nn.
using ColorValue = std::uint32_t;
inline constexpr ColorValue kButtonTextColor = 0x80000012;
inline constexpr ColorValue kButtonFaceColor = 0x8000000F;

// Centred across and down on one line. Word break is kept because the single-line flag overrides
// it; there is deliberately no DT_NOPREFIX, so "&" underlines the next character.
inline constexpr UINT kCaptionFormat = DT_CENTER | DT_VCENTER | DT_WORDBREAK | DT_SINGLELINE;
static_assert(kCaptionFormat == 0x35);

// Corner size of the nine-slice painting, in pixels of a picture drawn for 96 DPI; a picture
// drawn for another DPI has corners as much larger.
inline constexpr int kSliceBorderPixels = 6;

// The RGB colour of `color` (system colours through the system's table), or -1 when the system
// cannot translate it.
long ToRgb(ColorValue color);

// Per channel: weightA/255 of colorA plus (255 - weightA)/255 of colorB, rounded to the nearest
// integer with ties to even. An untranslatable colour counts 255 in every channel. Throws
// std::overflow_error when weightA makes the arithmetic leave the 32-bit signed range.
ColorValue BlendColor(ColorValue colorA, ColorValue colorB, long weightA);

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

struct SliceCopy {
    PixelRect destination;
    PixelRect source;  // measured from the picture's top-left corner
};

// The nine copies of a picture (sized in HIMETRIC, as pictures report themselves) onto a surface
// of the given pixel size, in painting order: top-left, top, top-right, left, centre, right,
// bottom-left, bottom, bottom-right. Sizes are worked out in twips and then turned into pixels.
std::array<SliceCopy, 9> NineSliceCopies(int surfaceWidth, int surfaceHeight,
                                         int pictureHimetricWidth, int pictureHimetricHeight);
// The same in pixels throughout, with corners of `cornerPixels`: what a picture drawn for
// another scale than the screen's needs (its corners are as many pixels larger).
std::array<SliceCopy, 9> NineSliceCopiesInPixels(int surfaceWidth, int surfaceHeight,
                                                 int pictureWidth, int pictureHeight,
                                                 int cornerPixels);

// Which border colour goes on the left column and top row of the flat face.
enum class FaceRelief { Raised, Sunken };

// A button's drawing surface: a 32-bit memory bitmap that the looks are painted into and that is
// then copied to the window in one piece, so the window never shows a half-painted look. The
// font and colours are the surface's own attributes, as the button's properties expose them.
class ButtonSurface {
  public:
    ButtonSurface(int width, int height);
    ButtonSurface(const ButtonSurface&) = delete;
    ButtonSurface& operator=(const ButtonSurface&) = delete;

    // A new, cleared bitmap of the given pixel size; the attributes stay.
    void Resize(int width, int height);

    HDC Dc() const { return dc_.get(); }
    int Width() const { return width_; }    // pixels
    int Height() const { return height_; }  // pixels
    // Inner size in twips.
    double ScaleWidth() const;
    double ScaleHeight() const;

    // The pixel as a COLORREF, or CLR_INVALID outside the surface.
    COLORREF Pixel(int x, int y) const;
    // Fills the surface with the back colour.
    void Clear();
    void CopyTo(HDC target) const;

    ColorValue foreColor = kButtonTextColor;
    ColorValue backColor = kButtonFaceColor;
    FontRef font;

  private:
    BitmapHandle bitmap_;
    MemoryDc dc_;
    void* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// Paints one look over the whole surface: `picture` in nine pieces or, without a picture, the
// back colour with a one-pixel border in `relief`; then `caption` on top. A step that fails is
// left out and the painting goes on.
void PaintFace(ButtonSurface& surface, const PictureRef& picture, FaceRelief relief,
               const std::wstring& caption);

}  // namespace kestrave
