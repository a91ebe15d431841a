#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <map>
#include <tuple>

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

// Weights in 1/16384ths: a pixel's sums then fit 32 bits across and 64 bits down.
constexpr int kWeightBits = 14;
constexpr std::int64_t kWholeWeight = 1 << kWeightBits;

// The weights by which each target pixel along one axis takes from the source pixels: target
// `i` takes `counts[i]` pixels from `firsts[i]` on, with the next `counts[i]` of `weights`.
struct Taps {
    std::vector<int> firsts;
    std::vector<int> counts;
    std::vector<std::int32_t> weights;
};

Taps AreaTaps(int from, int to) {
    Taps taps;
    const double step = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        const double start = i * step;
        const double end = start + step;
        const int first = static_cast<int>(std::floor(start));
        std::int64_t given = 0;
        int count = 0;
        for (int s = first; s < from && s < end; ++s, ++count) {
            const double covered = std::min(end, s + 1.0) - std::max(start, static_cast<double>(s));
            const auto weight =
                static_cast<std::int32_t>(std::lround(covered / step * kWholeWeight));
            taps.weights.push_back(weight);
            given += weight;
        }
        // Rounding must neither lighten nor darken a flat area.
        taps.weights.back() += static_cast<std::int32_t>(kWholeWeight - given);
        taps.firsts.push_back(first);
        taps.counts.push_back(count);
    }
    return taps;
}

}  // namespace

std::vector<std::uint32_t> ResamplePixels(const std::vector<std::uint32_t>& source, int width,
                                          int height, int newWidth, int newHeight) {
    if (width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0 ||
        source.size() < static_cast<size_t>(width) * height)
        return {};
    const Taps across = AreaTaps(width, newWidth);
    const Taps down = AreaTaps(height, newHeight);
    // Across first, keeping the sums unrounded, then down, rounding once at the end.
    std::vector<std::uint32_t> rows(static_cast<size_t>(newWidth) * height * 3);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* in = source.data() + static_cast<size_t>(y) * width;
        std::uint32_t* out = rows.data() + static_cast<size_t>(y) * newWidth * 3;
        size_t w = 0;
        for (int x = 0; x < newWidth; ++x) {
            std::uint32_t b = 0, g = 0, r = 0;
            const std::uint32_t* pixel = in + across.firsts[static_cast<size_t>(x)];
            for (int k = 0; k < across.counts[static_cast<size_t>(x)]; ++k, ++w) {
                const auto weight = static_cast<std::uint32_t>(across.weights[w]);
                b += (pixel[k] & 0xFF) * weight;
                g += ((pixel[k] >> 8) & 0xFF) * weight;
                r += ((pixel[k] >> 16) & 0xFF) * weight;
            }
            out[x * 3] = b;
            out[x * 3 + 1] = g;
            out[x * 3 + 2] = r;
        }
    }
    std::vector<std::uint32_t> result(static_cast<size_t>(newWidth) * newHeight);
    std::vector<std::uint64_t> sums(static_cast<size_t>(newWidth) * 3);
    size_t w = 0;
    constexpr std::uint64_t kHalf = std::uint64_t{1} << (2 * kWeightBits - 1);
    for (int y = 0; y < newHeight; ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        const int first = down.firsts[static_cast<size_t>(y)];
        for (int k = 0; k < down.counts[static_cast<size_t>(y)]; ++k, ++w) {
            const auto weight = static_cast<std::uint64_t>(down.weights[w]);
            const std::uint32_t* row = rows.data() + static_cast<size_t>(first + k) * newWidth * 3;
            for (size_t i = 0; i < sums.size(); ++i)
                sums[i] += row[i] * weight;
        }
        std::uint32_t* out = result.data() + static_cast<size_t>(y) * newWidth;
        for (int x = 0; x < newWidth; ++x) {
            std::uint32_t pixel = 0;
            for (int c = 0; c < 3; ++c) {
                const std::uint64_t value = (sums[x * 3 + c] + kHalf) >> (2 * kWeightBits);
                pixel |= static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 255)) << (8 * c);
            }
            out[x] = pixel;
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
    // Unpacking and reducing a large picture is most of a window's start at such a scale, and
    // every command button shows the same three: each is made once and shared while in use.
    // Only the window thread makes pictures.
    static std::map<std::tuple<HINSTANCE, std::wstring, int>, std::weak_ptr<const Picture>> made;
    const auto key = std::make_tuple(module, name, dpi);
    if (PictureRef shared = made[key].lock())
        return shared;
    PictureRef picture = MakeForDpi(module, name, dpi);
    made[key] = picture;
    return picture;
}

std::shared_ptr<const Picture> Picture::MakeForDpi(HINSTANCE module, const std::wstring& name,
                                                   int dpi) {
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
