// A bitmap shared by reference between the controls that show it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "handles.h"

namespace kestrave {

class Picture {
  public:
    // The bitmap resource `name` of `module`, packed (see packed_bitmap.h) or a plain BITMAP,
    // or null when it cannot be loaded.
    static std::shared_ptr<const Picture> FromResource(HINSTANCE module, const std::wstring& name);
    // Takes ownership of `bitmap`; `name` is how saved properties refer to the picture.
    static std::shared_ptr<const Picture> FromBitmap(BitmapHandle bitmap, std::wstring name = {});

    HBITMAP Bitmap() const { return bitmap_.get(); }
    const std::wstring& Name() const { return name_; }
    int Width() const { return width_; }    // pixels
    int Height() const { return height_; }  // pixels
    // Size in HIMETRIC (1/100 mm) at the screen's resolution, whole numbers.
    int HimetricWidth() const;
    int HimetricHeight() const;

    // Copies the whole picture unscaled to (x, y) of `dc`.
    void Draw(HDC dc, int x, int y) const;

    Picture(BitmapHandle bitmap, std::wstring name);

  private:
    BitmapHandle bitmap_;
    std::wstring name_;
    int width_ = 0;
    int height_ = 0;
};

using PictureRef = std::shared_ptr<const Picture>;

}  // namespace kestrave
