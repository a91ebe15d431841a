// A bitmap shared by reference between the controls that show it, drawn for one DPI. A picture
// of the program's resources is unpacked when it is first drawn, not when it is made: a window
// makes the pictures of every look its buttons may take, and most of them are never shown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "handles.h"

namespace kestrave {

class Picture : public std::enable_shared_from_this<Picture> {
  public:
    // The bitmap resource `name` of `module`, deflated (see packed_bitmap.h) or a plain BITMAP,
    // or null when there is none. It is the 100 % picture.
    static std::shared_ptr<const Picture> FromResource(HINSTANCE module, const std::wstring& name);
    // The resource `name` as drawn for `dpi`: the 100 % picture up to 96 DPI; above it the
    // program carries each picture drawn again at 200 % (resource `name`_200), taken as it is
    // at 192 DPI and reduced for every DPI in between (enlarged beyond 200 %). Without a drawn
    // set the 100 % picture is resized instead. Null when there is no such picture. The same
    // picture is shared while in use.
    static std::shared_ptr<const Picture> FromResource(HINSTANCE module, const std::wstring& name,
                                                       int dpi);
    // Takes ownership of `bitmap`; `name` is how saved properties refer to the picture.
    static std::shared_ptr<const Picture> FromBitmap(BitmapHandle bitmap, std::wstring name = {});

    // Unpacked (and reduced) on the first call; null when the resource is damaged.
    HBITMAP Bitmap() const;
    // Starts unpacking the bitmap on a thread of its own, for a picture drawn soon but not at
    // once: a window's background is unpacked while the window thread makes the window and its
    // controls. Bitmap() then waits for it.
    void Prepare() const;
    const std::wstring& Name() const { return name_; }
    int Width() const { return width_; }    // pixels
    int Height() const { return height_; }  // pixels
    // The DPI the picture was drawn for.
    int Dpi() const { return dpi_; }
    // Size in HIMETRIC (1/100 mm) at the screen's resolution, whole numbers.
    int HimetricWidth() const;
    int HimetricHeight() const;

    // The same picture for `dpi`: this one when it is already drawn for it or is no resource.
    std::shared_ptr<const Picture> AtDpi(int dpi) const;
    // This picture resampled to the given size, each new pixel the average of the area of this
    // one it covers; null when the pixels cannot be read.
    std::shared_ptr<const Picture> Resampled(int width, int height, int dpi) const;

    // Copies the whole picture unscaled to (x, y) of `dc`; nothing when it has no bitmap.
    void Draw(HDC dc, int x, int y) const;

    Picture(BitmapHandle bitmap, std::wstring name, int dpi = 96, HINSTANCE module = nullptr);
    // A picture of the given size whose bitmap `make` gives when it is first asked for.
    Picture(int width, int height, std::function<BitmapHandle()> make, std::wstring name, int dpi,
            HINSTANCE module);
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

  private:
    static std::shared_ptr<const Picture> MakeForDpi(HINSTANCE module, const std::wstring& name,
                                                     int dpi);
    BitmapHandle ResampledBitmap(int width, int height) const;

    mutable BitmapHandle bitmap_;
    mutable std::function<BitmapHandle()> make_;
    // The thread Prepare started, and what it made or threw.
    struct Preparing {
        std::function<BitmapHandle()> make;
        BitmapHandle made;
        std::exception_ptr failed;
        KernelHandle thread;
    };
    static DWORD WINAPI PrepareThread(void* preparing);
    mutable std::unique_ptr<Preparing> preparing_;
    std::wstring name_;
    int width_ = 0;
    int height_ = 0;
    int dpi_ = 96;
    HINSTANCE module_ = nullptr;  // the resource's module, if it is one
};

using PictureRef = std::shared_ptr<const Picture>;

// Area-averaging resampling of 0x00RRGGBB pixels in rows from the top: every target pixel is
// the average of the source area it covers, weighted by how much of each source pixel lies in
// it. Shrinking keeps thin lines as blended lines rather than dropping them; the same size is
// an exact copy.
std::vector<std::uint32_t> ResamplePixels(const std::vector<std::uint32_t>& source, int width,
                                          int height, int newWidth, int newHeight);

}  // namespace kestrave
