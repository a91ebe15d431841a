#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "packed_bitmap.h"
#include "screen.h"

namespace kestrave {
namespace {

// The DPIs the pictures are drawn at besides 96, with the suffix of their resource names.
struct DrawnScale {
    int dpi;
    const wchar_t* suffix;
};
constexpr DrawnScale kDrawnScales[] = {{192, L"_200"}};

BitmapHandle LoadBitmapResource(HINSTANCE module, const std::wstring& name) {
    BitmapHandle bitmap = LoadPackedBitmap(module, name);
    if (!bitmap)
        bitmap = LoadDeflatedBitmap(module, name);
    if (!bitmap)
        bitmap.reset(static_cast<HBITMAP>(
            LoadImageW(module, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    return bitmap;
}

BITMAPINFO TopDownInfo(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// The weights by which each target pixel along one axis takes from the source pixels.
struct Tap {
    int first;  // first source pixel
    std::vector<double> weights;
};

std::vector<Tap> AreaTaps(int from, int to) {
    std::vector<Tap> taps(static_cast<size_t>(to));
    const double step = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        const double start = i * step;
        const double end = start + step;
        Tap& tap = taps[static_cast<size_t>(i)];
        tap.first = static_cast<int>(std::floor(start));
        for (int s = tap.first; s < from && s < end; ++s) {
            const double covered = std::min(end, s + 1.0) - std::max(start, static_cast<double>(s));
            tap.weights.push_back(covered / step);
        }
    }
    return taps;
}

}  // namespace

std::vector<std::uint32_t> ResamplePixels(const std::vector<std::uint32_t>& source, int width,
                                          int height, int newWidth, int newHeight) {
    if (width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0 ||
        source.size() < static_cast<size_t>(width) * height)
        return {};
    const std::vector<Tap> across = AreaTaps(width, newWidth);
    const std::vector<Tap> down = AreaTaps(height, newHeight);
    // Across first into channels kept as doubles, then down, rounding once at the end.
    std::vector<double> rows(static_cast<size_t>(newWidth) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < newWidth; ++x) {
            const Tap& tap = across[static_cast<size_t>(x)];
            double sum[3] = {0, 0, 0};
            for (size_t k = 0; k < tap.weights.size(); ++k) {
                const std::uint32_t pixel = source[static_cast<size_t>(y) * width + tap.first + k];
                for (int c = 0; c < 3; ++c)
                    sum[c] += tap.weights[k] * ((pixel >> (8 * c)) & 0xFF);
            }
            for (int c = 0; c < 3; ++c)
                rows[(static_cast<size_t>(y) * newWidth + x) * 3 + c] = sum[c];
        }
    }
    std::vector<std::uint32_t> result(static_cast<size_t>(newWidth) * newHeight);
    for (int y = 0; y < newHeight; ++y) {
        const Tap& tap = down[static_cast<size_t>(y)];
        for (int x = 0; x < newWidth; ++x) {
            std::uint32_t pixel = 0;
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (size_t k = 0; k < tap.weights.size(); ++k)
                    sum += tap.weights[k] *
                           rows[((tap.first + k) * static_cast<size_t>(newWidth) + x) * 3 + c];
                const long value = std::clamp(std::lround(sum), 0L, 255L);
                pixel |= static_cast<std::uint32_t>(value) << (8 * c);
            }
            result[static_cast<size_t>(y) * newWidth + x] = pixel;
        }
    }
    return result;
}

Picture::Picture(BitmapHandle bitmap, std::wstring name, int dpi, HINSTANCE module)
    : bitmap_(std::move(bitmap)), name_(std::move(name)), dpi_(dpi), module_(module) {
    BITMAP info{};
    if (bitmap_ && GetObjectW(bitmap_.get(), sizeof info, &info)) {
        width_ = info.bmWidth;
        height_ = std::abs(info.bmHeight);
    }
}

std::shared_ptr<const Picture> Picture::FromResource(HINSTANCE module, const std::wstring& name) {
    BitmapHandle bitmap = LoadBitmapResource(module, name);
    if (!bitmap)
        return nullptr;
    return std::make_shared<const Picture>(std::move(bitmap), name, kDesignDpi, module);
}

std::shared_ptr<const Picture> Picture::FromResource(HINSTANCE module, const std::wstring& name,
                                                     int dpi) {
    if (dpi <= kDesignDpi)
        return FromResource(module, name);
    // The smallest set drawn at or above the DPI, else the largest.
    const DrawnScale* chosen = &kDrawnScales[std::size(kDrawnScales) - 1];
    for (const DrawnScale& scale : kDrawnScales) {
        if (scale.dpi >= dpi) {
            chosen = &scale;
            break;
        }
    }
    PictureRef drawn;
    if (BitmapHandle bitmap = LoadBitmapResource(module, name + chosen->suffix))
        drawn = std::make_shared<const Picture>(std::move(bitmap), name, chosen->dpi, module);
    else
        drawn = FromResource(module, name);
    if (!drawn || drawn->Dpi() == dpi)
        return drawn;
    const int width = MulDiv(drawn->Width(), dpi, drawn->Dpi());
    const int height = MulDiv(drawn->Height(), dpi, drawn->Dpi());
    PictureRef resized = drawn->Resampled(width, height, dpi);
    return resized ? resized : drawn;
}

std::shared_ptr<const Picture> Picture::FromBitmap(BitmapHandle bitmap, std::wstring name) {
    if (!bitmap)
        return nullptr;
    return std::make_shared<const Picture>(std::move(bitmap), std::move(name));
}

PictureRef Picture::AtDpi(int dpi) const {
    if (dpi == dpi_ || !module_)
        return shared_from_this();
    PictureRef other = FromResource(module_, name_, dpi);
    return other ? other : shared_from_this();
}

PictureRef Picture::Resampled(int width, int height, int dpi) const {
    if (width <= 0 || height <= 0 || width_ <= 0 || height_ <= 0)
        return nullptr;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width_) * height_);
    BITMAPINFO info = TopDownInfo(width_, height_);
    MemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc || GetDIBits(dc.get(), bitmap_.get(), 0, static_cast<UINT>(height_), pixels.data(),
                         &info, DIB_RGB_COLORS) != height_)
        return nullptr;
    const std::vector<std::uint32_t> resampled =
        ResamplePixels(pixels, width_, height_, width, height);
    BITMAPINFO target = TopDownInfo(width, height);
    void* bits = nullptr;
    BitmapHandle bitmap(CreateDIBSection(nullptr, &target, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits || resampled.empty())
        return nullptr;
    std::memcpy(bits, resampled.data(), resampled.size() * sizeof resampled[0]);
    return std::make_shared<const Picture>(std::move(bitmap), name_, dpi, module_);
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
