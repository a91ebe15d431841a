#include "picture.h"

#include <cmath>

#include "packed_bitmap.h"
#include "screen.h"

namespace kestrave {

Picture::Picture(BitmapHandle bitmap, std::wstring name)
    : bitmap_(std::move(bitmap)), name_(std::move(name)) {
    BITMAP info{};
    if (bitmap_ && GetObjectW(bitmap_.get(), sizeof info, &info)) {
        width_ = info.bmWidth;
        height_ = std::abs(info.bmHeight);
    }
}

std::shared_ptr<const Picture> Picture::FromResource(HINSTANCE module, const std::wstring& name) {
    BitmapHandle bitmap = LoadPackedBitmap(module, name);
    if (!bitmap)
        bitmap.reset(static_cast<HBITMAP>(
            LoadImageW(module, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!bitmap)
        return nullptr;
    return std::make_shared<const Picture>(std::move(bitmap), name);
}

std::shared_ptr<const Picture> Picture::FromBitmap(BitmapHandle bitmap, std::wstring name) {
    if (!bitmap)
        return nullptr;
    return std::make_shared<const Picture>(std::move(bitmap), std::move(name));
}

int Picture::HimetricWidth() const {
    return static_cast<int>(std::lround(width_ * 2540.0 / ScreenDpiX()));
}
int Picture::HimetricHeight() const {
    return static_cast<int>(std::lround(height_ * 2540.0 / ScreenDpiY()));
}

void Picture::Draw(HDC dc, int x, int y) const {
    MemoryDc source(CreateCompatibleDC(dc));
    if (!source)
        return;
    SelectedObject selected(source.get(), bitmap_.get());
    BitBlt(dc, x, y, width_, height_, source.get(), 0, 0, SRCCOPY);
}

}  // namespace kestrave
