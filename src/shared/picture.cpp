#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
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

// The resource `name` of `module` as a picture drawn for `dpi`, unpacked when first drawn.
PictureRef LoadResourcePicture(HINSTANCE module, const std::wstring& name,
                               const std::wstring& shownName, int dpi) {
    if (const std::optional<DeflatedBitmap> found = FindDeflatedBitmap(module, name)) {
        const DeflatedBitmap packed = *found;
        return std::make_shared<const Picture>(
            packed.width, packed.height,
            [packed] { return InflateBitmap(packed.bytes, packed.size); }, shownName, dpi, module);
    }
    BitmapHandle bitmap(static_cast<HBITMAP>(
        LoadImageW(module, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!bitmap)
        return nullptr;
    return std::make_shared<const Picture>(std::move(bitmap), shownName, dpi, module);
}

// Weights in 1/4096ths: a pixel's sums then fit 32 bits both across and down (255 * 4096 *
// 4096 and the half added for rounding stay below 2^32), which keeps the 32-bit program free
// of 64-bit arithmetic in the loops that run over every pixel of a background.
constexpr int kWeightBits = 12;
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

// ResamplePixels on pixels held elsewhere (a bitmap's own), `target` newWidth * newHeight.
void Resample(const std::uint32_t* source, int width, int height, std::uint32_t* target,
              int newWidth, int newHeight) {
    const Taps across = AreaTaps(width, newWidth);
    const Taps down = AreaTaps(height, newHeight);
    // One target row at a time: down first, into one row of unrounded sums per channel, then
    // across, rounding once at the end. The sums stay exact whatever the order, and one row
    // of them stays in the cache.
    std::vector<std::uint32_t> column(static_cast<size_t>(width) * 3);
    constexpr std::uint32_t kHalf = std::uint32_t{1} << (2 * kWeightBits - 1);
    size_t w = 0;
    for (int y = 0; y < newHeight; ++y) {
        std::fill(column.begin(), column.end(), 0);
        const int first = down.firsts[static_cast<size_t>(y)];
        for (int k = 0; k < down.counts[static_cast<size_t>(y)]; ++k, ++w) {
            const auto weight = static_cast<std::uint32_t>(down.weights[w]);
            const std::uint32_t* in = source + static_cast<size_t>(first + k) * width;
            std::uint32_t* sum = column.data();
            for (int x = 0; x < width; ++x, sum += 3) {
                const std::uint32_t pixel = in[x];
                sum[0] += (pixel & 0xFF) * weight;
                sum[1] += ((pixel >> 8) & 0xFF) * weight;
                sum[2] += ((pixel >> 16) & 0xFF) * weight;
            }
        }
        std::uint32_t* out = target + static_cast<size_t>(y) * newWidth;
        size_t v = 0;
        for (int x = 0; x < newWidth; ++x) {
            std::uint32_t b = kHalf, g = kHalf, r = kHalf;
            const std::uint32_t* sum = column.data() + across.firsts[static_cast<size_t>(x)] * 3;
            for (int k = 0; k < across.counts[static_cast<size_t>(x)]; ++k, ++v, sum += 3) {
                const auto weight = static_cast<std::uint32_t>(across.weights[v]);
                b += sum[0] * weight;
                g += sum[1] * weight;
                r += sum[2] * weight;
            }
            constexpr int kShift = 2 * kWeightBits;
            out[x] = std::min<std::uint32_t>(b >> kShift, 255) |
                     std::min<std::uint32_t>(g >> kShift, 255) << 8 |
                     std::min<std::uint32_t>(r >> kShift, 255) << 16;
        }
    }
}

}  // namespace

std::vector<std::uint32_t> ResamplePixels(const std::vector<std::uint32_t>& source, int width,
                                          int height, int newWidth, int newHeight) {
    if (width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0 ||
        source.size() < static_cast<size_t>(width) * height)
        return {};
    std::vector<std::uint32_t> result(static_cast<size_t>(newWidth) * newHeight);
    Resample(source.data(), width, height, result.data(), newWidth, newHeight);
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

Picture::Picture(int width, int height, std::function<BitmapHandle()> make, std::wstring name,
                 int dpi, HINSTANCE module)
    : make_(std::move(make)),
      name_(std::move(name)),
      width_(width),
      height_(height),
      dpi_(dpi),
      module_(module) {}

Picture::~Picture() {
    if (preparing_)
        WaitForSingleObject(preparing_->thread.get(), INFINITE);
}

HBITMAP Picture::Bitmap() const {
    if (preparing_) {
        WaitForSingleObject(preparing_->thread.get(), INFINITE);
        const std::unique_ptr<Preparing> prepared = std::move(preparing_);
        if (prepared->failed)
            std::rethrow_exception(prepared->failed);
        bitmap_ = std::move(prepared->made);
    } else if (make_) {
        // Taken out first: what it holds (a larger picture it is reduced from) goes once used.
        const std::function<BitmapHandle()> make = std::move(make_);
        make_ = nullptr;
        bitmap_ = make();
    }
    return bitmap_.get();
}

DWORD WINAPI Picture::PrepareThread(void* context) {
    auto* preparing = static_cast<Preparing*>(context);
    try {
        preparing->made = preparing->make();
    } catch (...) {
        preparing->failed = std::current_exception();
    }
    preparing->make = nullptr;
    return 0;
}

void Picture::Prepare() const {
    if (!make_ || preparing_)
        return;
    // What `make_` touches is this picture's alone (see MakeForDpi), so it may run on another
    // thread; an exception it throws is thrown again by Bitmap(), on the window thread.
    auto preparing = std::make_unique<Preparing>();
    preparing->make = std::move(make_);
    make_ = nullptr;
    preparing->thread.reset(CreateThread(nullptr, 0, PrepareThread, preparing.get(), 0, nullptr));
    if (preparing->thread)
        preparing_ = std::move(preparing);
    else
        make_ = std::move(preparing->make);  // made when first drawn, as without Prepare
}

std::shared_ptr<const Picture> Picture::FromResource(HINSTANCE module, const std::wstring& name) {
    return FromResource(module, name, kDesignDpi);
}

std::shared_ptr<const Picture> Picture::FromResource(HINSTANCE module, const std::wstring& name,
                                                     int dpi) {
    dpi = std::max(dpi, kDesignDpi);
    // Every command button shows the same three pictures, and a window asks again for its
    // pictures when its scale changes: each is made once and shared while in use. Only the
    // window thread makes pictures.
    static std::map<std::tuple<HINSTANCE, std::wstring, int>, std::weak_ptr<const Picture>> made;
    const auto key = std::make_tuple(module, name, dpi);
    if (PictureRef shared = made[key].lock())
        return shared;
    PictureRef picture = dpi == kDesignDpi ? LoadResourcePicture(module, name, name, kDesignDpi)
                                           : MakeForDpi(module, name, dpi);
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
    // Not the shared 100 % picture: the reduced one's bitmap may be made on another thread
    // (see Prepare), which must then be the only one to touch the picture it is made from.
    PictureRef drawn = LoadResourcePicture(module, name + chosen->suffix, name, chosen->dpi);
    if (!drawn)
        drawn = LoadResourcePicture(module, name, name, kDesignDpi);
    if (!drawn || drawn->Dpi() == dpi)
        return drawn;
    const int width = MulDiv(drawn->Width(), dpi, drawn->Dpi());
    const int height = MulDiv(drawn->Height(), dpi, drawn->Dpi());
    if (width <= 0 || height <= 0)
        return drawn;
    return std::make_shared<const Picture>(
        width, height, [drawn, width, height] { return drawn->ResampledBitmap(width, height); },
        name, dpi, module);
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
    BitmapHandle bitmap = ResampledBitmap(width, height);
    if (!bitmap)
        return nullptr;
    return std::make_shared<const Picture>(std::move(bitmap), name_, dpi, module_);
}

BitmapHandle Picture::ResampledBitmap(int width, int height) const {
    if (width <= 0 || height <= 0 || width_ <= 0 || height_ <= 0 || !Bitmap())
        return {};
    void* bits = nullptr;
    BitmapHandle bitmap = MakeTopDownBitmap(width, height, bits);
    if (!bitmap || !bits)
        return {};
    // The program's own pictures are 32-bit DIB sections from the top: their pixels are read
    // where they are. Any other bitmap is copied out in that form first.
    DIBSECTION section{};
    if (GetObjectW(bitmap_.get(), sizeof section, &section) == sizeof section &&
        section.dsBm.bmBits && section.dsBmih.biBitCount == 32 &&
        section.dsBmih.biCompression == BI_RGB && section.dsBmih.biHeight == -height_) {
        GdiFlush();
        Resample(static_cast<const std::uint32_t*>(section.dsBm.bmBits), width_, height_,
                 static_cast<std::uint32_t*>(bits), width, height);
        return bitmap;
    }
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width_) * height_);
    BITMAPINFO info = TopDownInfo(width_, height_);
    MemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc || GetDIBits(dc.get(), bitmap_.get(), 0, static_cast<UINT>(height_), pixels.data(),
                         &info, DIB_RGB_COLORS) != height_)
        return {};
    Resample(pixels.data(), width_, height_, static_cast<std::uint32_t*>(bits), width, height);
    return bitmap;
}

int Picture::HimetricWidth() const {
    return static_cast<int>(std::lround(width_ * 2540.0 / ScreenDpiX()));
}
int Picture::HimetricHeight() const {
    return static_cast<int>(std::lround(height_ * 2540.0 / ScreenDpiY()));
}

void Picture::Draw(HDC dc, int x, int y) const {
    if (!Bitmap())
        return;
    MemoryDc source(CreateCompatibleDC(dc));
    if (!source)
        return;
    SelectedObject selected(source.get(), bitmap_.get());
    BitBlt(dc, x, y, width_, height_, source.get(), 0, 0, SRCCOPY);
}

}  // namespace kestrave
